// The desktop is told when backups nobody watches go wrong: a notification
// (org.freedesktop.Notifications on the session bus) for a run from the command line, the
// scheduler or stealth mode that failed or left files out, with the run's one-line result and an
// action that opens its report. A good run is told only when the user asked for it
// ("NotifySuccess"). Without a session bus or a notification service nothing is shown and
// nothing waits.
#pragma once

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QString>
#include <functional>
#include <optional>

struct MainContext;
struct TAutomaticRunEnd;

// What a notification says.
struct TNotice {
  QString summary;
  QString body;
  bool critical = false;
};

// The notice for the end of an automatic run, or none: a good run only with notifySuccess. The
// body is the result on one line; reportNamed adds the report file to it (for a program that
// ends, whose notification cannot offer to open the report).
std::optional<TNotice> RunEndNotice(const TAutomaticRunEnd& end, bool notifySuccess,
                                    bool reportNamed);

class TDesktopNotifier : public QObject {
  Q_OBJECT
 public:
  explicit TDesktopNotifier(QDBusConnection bus, QObject* parent = nullptr);
  ~TDesktopNotifier() override;

  // Shows the notice; with a file, the notification's action opens it (OnOpen). Returns the
  // notification's id, 0 when the desktop shows none.
  uint Notify(const TNotice& notice, const QString& file = QString());
  // The action of a notification about file was chosen.
  std::function<void(const QString& file)> OnOpen;
  // Notifications the desktop accepted.
  int Sent() const { return sent_; }

 private slots:
  void ActionInvoked(uint id, const QString& action);
  void NotificationClosed(uint id, uint reason);

 private:
  QDBusConnection bus_;
  QHash<uint, QString> files_;  // the report of each notification still shown
  int sent_ = 0;
};

// The program's notifications: told by MainContext::OnAutomaticRunEnd, and offered as
// MainContext::NotifyDesktop to whoever has something to tell (a backup gone stale).
class TRunNotices {
 public:
  TRunNotices(MainContext& ctx, QDBusConnection bus);
  ~TRunNotices();
  TRunNotices(const TRunNotices&) = delete;
  TRunNotices& operator=(const TRunNotices&) = delete;

  TDesktopNotifier& notifier() { return notifier_; }

 private:
  void RunEnded(const TAutomaticRunEnd& end);

  MainContext& ctx_;
  TDesktopNotifier notifier_;
};
