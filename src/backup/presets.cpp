#include "backup/presets.h"

#include <QFileInfo>

namespace {

QString FirstExisting(const QString& home, std::initializer_list<const char*> places) {
  for (const char* place : places) {
    const QString path = home + QLatin1Char('/') + QLatin1String(place);
    if (QFileInfo(path).isDir()) return path;
  }
  return home + QLatin1Char('/') + QLatin1String(*places.begin());
}

bool Below(const QString& below, const char* folder) {
  return below.contains(QLatin1String(folder), Qt::CaseInsensitive);
}

}  // namespace

TMozillaFolders MozillaFolders(const QString& home) {
  TMozillaFolders f;
  f.firefox = FirstExisting(home, {".mozilla/firefox", "snap/firefox/common/.mozilla/firefox",
                                   ".var/app/org.mozilla.firefox/.mozilla/firefox"});
  f.thunderbird = FirstExisting(home, {".thunderbird", "snap/thunderbird/common/.thunderbird",
                                       ".var/app/org.mozilla.Thunderbird/.thunderbird"});
  f.found = QFileInfo(f.firefox).isDir() || QFileInfo(f.thunderbird).isDir();
  return f;
}

QStringList PresetFolders(int kind, const TMozillaFolders& folders) {
  switch (kind) {
    case 1:
      return {folders.firefox, folders.thunderbird};
    case 2:
    case 3:
      return {folders.thunderbird};
    case 4:
      return {folders.firefox};
    default:
      return {};
  }
}

bool PresetLeavesOut(int kind, const QString& below) {
  const bool mail = Below(below, "/mail");
  const bool news = Below(below, "/news");
  const bool cache = Below(below, "/cache");
  switch (kind) {
    case 1:
    case 2:
      return mail || news || cache;
    case 3:
      return mail || news;
    case 4:
      return cache;
    default:
      return false;
  }
}

QString PathBelow(const QString& path, const QStringList& folders) {
  for (const QString& folder : folders) {
    if (folder.isEmpty()) continue;
    const QString withSlash =
        folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    if (path.startsWith(withSlash)) return path.mid(withSlash.size() - 1);
  }
  return path;
}

QString MozillaNotFoundText() {
  return QStringLiteral(
      "Mozilla directory cannot be found\rplease report to support\rmanual directory selection "
      "only");
}

QString PresetHintText() {
  return QStringLiteral("Verify your backup settings on 'Make' tab, then click [WriteZIP]");
}
