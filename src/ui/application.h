// The application object: an exception that escapes an event handler is shown and the program
// goes on, instead of ending the process.
#pragma once

#include <QApplication>
#include <functional>

class TApplication : public QApplication {
  Q_OBJECT
 public:
  TApplication(int& argc, char** argv) : QApplication(argc, argv) {}
  // Receives the text of an exception that reached the event loop.
  std::function<void(const QString&)> onException;

  bool notify(QObject* receiver, QEvent* event) override;
};
