#include "ui/desktopopener.h"

#include <QDesktopServices>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>
#include <utility>

namespace {

IUrlOpener* g_opener = nullptr;

}  // namespace

bool TXdgUrlOpener::OpenUrl(const QString& url) {
  QStringList tools;
  if (url.startsWith(QLatin1String("mailto:"), Qt::CaseInsensitive))
    tools << QStringLiteral("xdg-email");
  tools << QStringLiteral("xdg-open");
  for (const QString& tool : tools) {
    const QString path = QStandardPaths::findExecutable(tool);
    // The tool runs on its own: the program neither waits for it nor keeps it as a child.
    if (!path.isEmpty() && QProcess::startDetached(path, {url})) return true;
  }
  return QDesktopServices::openUrl(QUrl::fromEncoded(url.toLatin1()));
}

IUrlOpener& CurrentUrlOpener() {
  static TXdgUrlOpener desktop;
  return g_opener ? *g_opener : desktop;
}

IUrlOpener* SetUrlOpener(IUrlOpener* opener) {
  return std::exchange(g_opener, opener);
}
