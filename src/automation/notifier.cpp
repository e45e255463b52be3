#include "automation/notifier.h"

#include <QDBusMessage>
#include <QDBusReply>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>
#include <QVariantMap>

#include "app/maincontext.h"
#include "app/preferences.h"

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kOpenAction = QStringLiteral("default");
// A desktop whose service does not answer must not hold a run's end up for long.
constexpr int kCallTimeoutMs = 3000;

// A result of several lines ("\r" and "\n" as the run writes them) on one line.
QString OneLine(const QString& text) {
  QStringList parts;
  for (const QString& line : text.split(QRegularExpression(QStringLiteral("[\r\n]+")))) {
    const QString t = line.simplified();
    if (!t.isEmpty()) parts << t;
  }
  return parts.join(QStringLiteral(" / "));
}

}  // namespace

std::optional<TNotice> RunEndNotice(const TAutomaticRunEnd& end, bool notifySuccess,
                                    bool reportNamed) {
  if (end.status == kExitOk && !notifySuccess) return std::nullopt;
  QString job = QFileInfo(end.job).completeBaseName();
  if (job.isEmpty()) job = end.job;
  TNotice n;
  switch (end.status) {
    case kExitOk:
      n.summary = QStringLiteral("Backup of %1 done").arg(job);
      break;
    case kExitFilesLeftOut:
      n.summary = QStringLiteral("Backup of %1 incomplete").arg(job);
      break;
    default:
      n.summary = QStringLiteral("Backup of %1 failed").arg(job);
      n.critical = true;
      break;
  }
  n.body = OneLine(end.result);
  if (reportNamed && !end.report.isEmpty())
    n.body += (n.body.isEmpty() ? QString() : QStringLiteral(" / ")) + QStringLiteral("Report: ") +
              end.report;
  return n;
}

TDesktopNotifier::TDesktopNotifier(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {
  if (!bus_.isConnected()) return;
  bus_.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
               SLOT(ActionInvoked(uint, QString)));
  bus_.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
               SLOT(NotificationClosed(uint, uint)));
}

TDesktopNotifier::~TDesktopNotifier() {
  if (!bus_.isConnected()) return;
  bus_.disconnect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                  SLOT(ActionInvoked(uint, QString)));
  bus_.disconnect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                  SLOT(NotificationClosed(uint, uint)));
}

uint TDesktopNotifier::Notify(const TNotice& notice, const QString& file) {
  if (!bus_.isConnected()) return 0;
  QDBusMessage call =
      QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
  QStringList actions;
  if (!file.isEmpty()) actions << kOpenAction << QStringLiteral("Open report");
  QVariantMap hints;
  hints.insert(QStringLiteral("urgency"), QVariant::fromValue(uchar(notice.critical ? 2 : 1)));
  hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("arcavo"));
  // Servers may read the body as markup: names with "<" or "&" stay as they are.
  call.setArguments({QStringLiteral("Arcavo"), uint(0), QStringLiteral("arcavo"), notice.summary,
                     notice.body.toHtmlEscaped(), actions, hints, int(-1)});
  // Waited for: a program that ends right after its run still gets its notification out.
  const QDBusReply<uint> reply = bus_.call(call, QDBus::Block, kCallTimeoutMs);
  if (!reply.isValid()) return 0;
  ++sent_;
  if (!file.isEmpty()) files_.insert(reply.value(), file);
  return reply.value();
}

void TDesktopNotifier::ActionInvoked(uint id, const QString& action) {
  const auto it = files_.constFind(id);
  if (it == files_.constEnd() || action != kOpenAction) return;
  if (OnOpen) OnOpen(*it);
}

void TDesktopNotifier::NotificationClosed(uint id, uint /*reason*/) {
  files_.remove(id);
}

TRunNotices::TRunNotices(MainContext& ctx, QDBusConnection bus)
    : ctx_(ctx), notifier_(std::move(bus)) {
  ctx_.OnAutomaticRunEnd = [this](const TAutomaticRunEnd& end) { RunEnded(end); };
  ctx_.NotifyDesktop = [this](const QString& summary, const QString& body) {
    notifier_.Notify({summary, body, false});
  };
}

TRunNotices::~TRunNotices() {
  ctx_.OnAutomaticRunEnd = nullptr;
  ctx_.NotifyDesktop = nullptr;
}

void TRunNotices::RunEnded(const TAutomaticRunEnd& end) {
  const bool notifySuccess = ctx_.Prefs && ctx_.Prefs->Bool(QStringLiteral("NotifySuccess"));
  // A program that ends with its run cannot open the report later: the notice names it.
  const bool ending = ctx_.TerminateRequested;
  const std::optional<TNotice> notice = RunEndNotice(end, notifySuccess, ending);
  if (!notice) return;
  const bool openable = !ending && !end.report.isEmpty() && QFileInfo::exists(end.report);
  notifier_.Notify(*notice, openable ? end.report : QString());
}
