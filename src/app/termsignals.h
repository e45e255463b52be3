// SIGTERM, SIGINT and SIGHUP (a session ending without asking, kill, Ctrl+C) become a request to
// close the window in order, delivered from the event loop.
#pragma once

#include <QObject>

class QSocketNotifier;

class TTerminationSignals : public QObject {
  Q_OBJECT
 public:
  // Installs the handlers; only one instance may exist at a time.
  explicit TTerminationSignals(QObject* parent = nullptr);
  // Restores the default handlers.
  ~TTerminationSignals() override;

 signals:
  void terminationRequested(int signal);

 private:
  void OnReadable();
  QSocketNotifier* notifier_ = nullptr;
};
