#include "backup/restorepoint.h"

#include <QEventLoop>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

namespace {

// Snapper works through its daemon, which may have to take the snapshot of a large volume first.
constexpr int kSnapperTimeoutMs = 300000;

// Waits for p to end, at most ms milliseconds, while the event loop turns: the window stays
// alive during a long snapshot. True when it ended.
bool WaitForEnd(QProcess& p, int ms) {
  if (p.state() == QProcess::NotRunning) return true;
  QEventLoop loop;
  QObject::connect(&p, &QProcess::finished, &loop, &QEventLoop::quit);
  QTimer limit;
  limit.setSingleShot(true);
  QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
  limit.start(ms);
  if (p.state() != QProcess::NotRunning) loop.exec();
  return p.state() == QProcess::NotRunning;
}

QString Couldnt(const QString& why) {
  return QStringLiteral("Couldn't set System Restore point.\r\n") + why;
}

}  // namespace

int PlatformFamily() {
  return 2;
}

QString SetRestorePoint(const QString& name, bool& set) {
  set = false;
  const QString snapper = QStandardPaths::findExecutable(QStringLiteral("snapper"));
  if (snapper.isEmpty()) return Couldnt(QStringLiteral("snapper is not installed"));
  QProcess p;
  p.start(snapper,
          {QStringLiteral("create"), QStringLiteral("--type"), QStringLiteral("single"),
           QStringLiteral("--cleanup-algorithm"), QStringLiteral("number"),
           QStringLiteral("--print-number"), QStringLiteral("--description"), name.left(63)});
  if (!p.waitForStarted()) return Couldnt(p.errorString());
  p.closeWriteChannel();
  if (!WaitForEnd(p, kSnapperTimeoutMs)) {
    p.kill();
    p.waitForFinished();
    return Couldnt(QStringLiteral("snapper did not finish"));
  }
  if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
    QString why = QString::fromLocal8Bit(p.readAllStandardError()).trimmed();
    if (why.isEmpty()) why = QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
    if (why.isEmpty()) why = QStringLiteral("snapper failed with status %1").arg(p.exitCode());
    return Couldnt(why);
  }
  set = true;
  return QStringLiteral("Restore Point ") + name + QStringLiteral(" set.") +
         QStringLiteral("\r\n") + QStringLiteral("System may be full restored from this point") +
         QStringLiteral("\r\n") + QStringLiteral("Then Restore the zipfile ") + name +
         QStringLiteral(" to complete");
}

bool StartSystemRestore() {
  const QString gui = QStandardPaths::findExecutable(QStringLiteral("snapper-gui"));
  return !gui.isEmpty() && QProcess::startDetached(gui, {});
}

QString SystemRestoreUnavailableText() {
  return QStringLiteral(
      "    Unable start System Restore\r\n(snapper-gui, from the package of that name, is not "
      "installed)");
}
