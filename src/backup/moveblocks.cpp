#include "backup/moveblocks.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cmath>

#include "app/clock.h"
#include "app/mb.h"
#include "app/pathbytes.h"
#include "backup/backuphosts.h"
#include "backup/backuprun.h"
#include "backup/burncommands.h"

namespace {

QString S(const char* text) {
  return QString::fromUtf8(text);
}

QString WithSlash(QString folder) {
  if (!folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
  return folder;
}

// The set's base name: that of its first numbered part, else of its last part.
QString SetBaseName(const QDir& folder) {
  for (const char* pattern : {"*.z01", "*.zip"}) {
    const QStringList found = folder.entryList({S(pattern)}, QDir::Files, QDir::Name);
    if (!found.isEmpty()) return QFileInfo(found.first()).completeBaseName();
  }
  return {};
}

bool Flush(const QString& path) {
  const int fd = ::open(PathBytes(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

}  // namespace

QString SizeInMb(int64_t bytes) {
  const double mb = static_cast<double>(bytes) / 1e6;
  if (mb >= 999.5) return QString::number(std::llround(mb));
  return QString::number(mb, 'g', 3);
}

bool MoveFile(const QString& from, const QString& to) {
  if (::rename(PathBytes(from).c_str(), PathBytes(to).c_str()) == 0) return true;
  if (errno != EXDEV) return false;
  QFile::remove(to);
  if (!QFile::copy(from, to)) return false;
  if (!Flush(to)) {
    QFile::remove(to);
    return false;
  }
  return QFile::remove(from);
}

TMoveBlocks::TMoveBlocks(TBurnCommands& burn, IBackupDialogs& dialogs, IBackupDisplay& display)
    : burn_(burn), dialogs_(dialogs), display_(display) {}

void TMoveBlocks::MoveBlocks1Click() {
  if (burn_.RefusedWhileBusy()) return;
  const QString source = dialogs_.BrowseFolder(S(movemsg::kSourceTitle));
  if (source.isEmpty()) return;
  const QString destination = dialogs_.BrowseFolder(S(movemsg::kDestinationTitle));
  if (destination.isEmpty()) return;
  const QString from = WithSlash(source);
  const QString to = WithSlash(destination);
  const QDir folder(from);
  // Only the set's own files: another archive in the folder is never taken for one of its parts.
  const QString base = SetBaseName(folder);
  if (base.isEmpty()) {
    display_.ClearStatusBar();
    return;
  }
  const QString config = base + QStringLiteral(".zfc");
  if (QFileInfo::exists(from + config)) WriteBlock(from, to, config);

  QStringList notMoved;
  for (int n = 1;; ++n) {
    QString name = base + QStringLiteral(".z%1").arg(n, 2, 10, QLatin1Char('0'));
    const bool last = !QFileInfo::exists(from + name);
    if (last) name = base + QStringLiteral(".zip");
    if (!QFileInfo::exists(from + name)) break;
    const QString text =
        S(movemsg::kInsert) + SizeInMb(QFileInfo(from + name).size()) + QStringLiteral("Mb free");
    if (MbMessage(text, QStringLiteral("Arcavo"), false, MB_OKCANCEL | MB_ICONQUESTION) != IDOK)
      break;
    Delay(200);
    if (!WriteBlock(from, to, name)) notMoved << name;
    // The last part ends the set, whether it went or not.
    if (last) break;
  }
  display_.ClearStatusBar();
  if (!notMoved.isEmpty())
    MbInfo(S(movemsg::kNotMoved) + QStringLiteral("\r") + notMoved.join(QStringLiteral("\r")));
}

bool TMoveBlocks::WriteBlock(const QString& source, const QString& destination,
                             const QString& name) {
  const int kind = driveKind ? driveKind(destination) : 0;
  const bool disc = kind == 1 || (kind == 2 && !burn_.Settings().native);
  if (disc) {
    if (QFileInfo(name).suffix().toLower() == QLatin1String("zfc")) {
      PendingConfig = name;
      return false;
    }
    QStringList list;
    if (!PendingConfig.isEmpty()) list << source + PendingConfig;
    list << source + name;
    if (!burn_.Configured() && burnerSettings) burnerSettings();
    const TCDtypes details = burn_.GetCDDetails(destination);
    if (!details.Ready) {
      MbInfo(S(runmsg::kCdCheckout));
      return false;
    }
    const int64_t free = burn_.CheckCDHasSize(details);
    bool burnt = false;
    if (free != 0 && free != 13) burnt = burn_.BurnFiles(list);
    burn_.ReleaseTransport();
    if (!burnt) return false;
    for (const QString& file : list) QFile::remove(file);
    PendingConfig.clear();
    return true;
  }
  const uint32_t free = diskSpaceKb ? diskSpaceKb(destination) : DiskSpaceKb(destination);
  if (free == 0) return false;
  MbNoticeSpec notice;
  notice.text = S(movemsg::kMoving);
  MbNotice(notice);
  const bool moved = MoveFile(source + name, destination + name);
  MbNoticeClose();
  return moved;
}
