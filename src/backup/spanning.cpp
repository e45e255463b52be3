#include "backup/spanning.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>

#include "app/clock.h"
#include "app/filedialoghost.h"
#include "app/mb.h"
#include "app/optionnames.h"
#include "app/optionscontroller.h"
#include "app/pathbytes.h"
#include "app/preferences.h"
#include "archive/arczip.h"
#include "archive/zipmedia.h"
#include "backup/backuphosts.h"
#include "backup/backuprun.h"
#include "backup/removable.h"
#include "backup/udisks.h"
#include "platform/mounts.h"
#include "platform/volumeservice.h"

namespace {

const QString kArcavo = QStringLiteral("Arcavo");

QString S(const char* s) {
  return QString::fromLatin1(s);
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string FileNameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The marker of disk n for the archive zipName, in folder.
std::string MarkerName(const std::string& folder, const std::string& zipName, int n) {
  return folder + "/" + FileNameOf(VolumeBaseName(zipName)) + "Disk#" + std::to_string(n);
}

bool Below(const std::string& folder, const std::string& path) {
  return folder == "/" || path == folder ||
         (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
          path[folder.size()] == '/');
}

}  // namespace

// ---- The swap of media the disk service manages ------------------------------------------

void TDiskServiceSwap::Release(const std::string& path) {
  device_.clear();
  const TDriveFacts f = volumes_.Drive(path);
  if (!f.removable || f.device.empty() || !disks_.Manages(f.device)) return;
  const std::string mount = f.mountPoint;
  relative_ = Below(mount, path) && path.size() > mount.size() ? path.substr(mount.size()) : "";
  ::sync();
  // A refusal leaves the medium mounted: the user may still take it out after the prompt.
  disks_.Unmount(f.device);
  device_ = f.device;
}

std::string TDiskServiceSwap::Take(const std::string& path) {
  if (device_.empty()) return path;
  // The next medium arrives on the same drive under the same device name; it is waited for a
  // bounded time and mounted when the desktop has not done so.
  const int64_t until = CurrentClock().TickMs() + waitMs;
  for (;;) {
    if (disks_.Manages(device_)) {
      std::string mount = disks_.MountPoint(device_);
      if (mount.empty()) mount = disks_.Mount(device_);
      if (!mount.empty()) return mount + relative_;
    }
    if (CurrentClock().TickMs() >= until) return {};
    Delay(250);
  }
}

// ---- The handlers -------------------------------------------------------------------------

TSpanning::TSpanning(TArcZip& zip, TBackupRun& run, TOptionLists& lists, TPreferences& prefs,
                     IBackupDisplay& display, IVolumeService& volumes)
    : zip_(zip), run_(run), l_(lists), prefs_(prefs), display_(display), volumes_(volumes) {}

void TSpanning::Attach() {
  zip_.OnGetNextDisk = [this](TZipSender, int n, std::string& fname) {
    ArcZip1GetNextDisk(n, fname);
  };
  zip_.OnPrepareNextDisk = [this](TZipSender, int n) { ArcZip1PrepareNextDisk(n); };
}

void TSpanning::Detach() {
  zip_.OnGetNextDisk = nullptr;
  zip_.OnPrepareNextDisk = nullptr;
}

QString TSpanning::ZipName() const {
  return PathText(zip_.ZipName());
}

bool TSpanning::NoPromptErase() const {
  return prefs_.Int(QStringLiteral("ClrDisk")) == 1;
}

bool TSpanning::Unattended() const {
  return l_.functionsList.Checked(opt::kFnUnattended) || MbUnattended();
}

int TSpanning::GetDriveTypeEx(const QString& path) {
  return ::GetDriveTypeEx(volumes_, PathBytes(path));
}

QString TSpanning::GetVolumeName(const QString& path) {
  return PathText(::GetVolumeName(volumes_, PathBytes(path)));
}

bool TSpanning::IsRemovable(const QString& path) {
  return ::IsRemovable(volumes_, PathBytes(path));
}

void TSpanning::AnimationsRun() {
  if (display_.TrayIconShown()) display_.TrayAnimation(true);
  display_.DiscAnimation(true);
}

QString TSpanning::WriteSpanNo(int n) {
  return WriteSpanNoBeside(n, zip_.ZipName());
}

QString TSpanning::WriteSpanNoBeside(int n, const std::string& volume) {
  const std::string marker = MarkerName(FolderOf(volume), zip_.ZipName(), n);
  // A new file each time, so that it tells this run's disk from an older set's.
  ::unlink(marker.c_str());
  const int fd =
      ::open(marker.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd >= 0) {
    struct stat st {};
    if (::fstat(fd, &st) == 0)
      markers_[n] = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino),
                     static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
    ::close(fd);
  }
  return PathText(marker);
}

bool TSpanning::HoldsMarkerOf(int n, const std::string& fname) {
  const auto it = markers_.find(n);
  if (it == markers_.end()) return false;
  struct stat st {};
  const std::string marker = MarkerName(FolderOf(fname), zip_.ZipName(), n);
  if (::lstat(marker.c_str(), &st) != 0) return false;
  const int64_t mtime = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return static_cast<uint64_t>(st.st_dev) == it->second.dev &&
         static_cast<uint64_t>(st.st_ino) == it->second.ino && mtime == it->second.mtime;
}

bool TSpanning::GetNextSpanDisk(int n, std::string& FName) {
  const bool erase = l_.directoryList.Checked(opt::kDirErase);
  const bool staging = run_.CdStaging();
  QString text =
      S(spanmsg::kInsert) + QString::number(n) + QStringLiteral("\r") + S(spanmsg::kOfSet);
  if (n > 1 && !staging && NoPromptErase() && erase)
    text += QStringLiteral("\r\n") + S(spanmsg::kErasedNoPrompt);
  text.truncate(255);
  IMediumSwap& media = swap ? *swap : defaultSwap_;
  for (;;) {
    if (!staging) media.Release(FName);
    if (MbMessage(text, kArcavo, false, MB_OKCANCEL) != IDOK) {
      FName.clear();
      zip_.CancelOperation();
      display_.GaugeClear();
      return false;
    }
    if (staging) break;
    const std::string taken = media.Take(FName);
    if (taken.empty()) continue;
    FName = taken;
    // OK without a swap: the disk just written is still in the drive. It is neither cleared nor
    // written over; nobody there to swap it ends the run.
    if (n > 1 && HoldsMarkerOf(n - 1, FName)) {
      if (MbUnattended()) {
        FName.clear();
        zip_.CancelOperation();
        display_.GaugeClear();
        return false;
      }
      continue;
    }
    break;
  }
  if (n != 1 && l_.directoryList.Checked(opt::kDirErase) && !staging) {
    clearTarget_ = FName;
    ClearFilesOnDisk();
    clearTarget_.clear();
  }
  return true;
}

bool TSpanning::ClearDisk(std::string& why) {
  const std::string target = clearTarget_.empty() ? zip_.ZipName() : clearTarget_;
  const int kind = ::GetDriveTypeEx(volumes_, target);
  if (kind != 2 && kind != 3) return true;
  // Only the folder of the archive on the removable medium itself is ever cleared.
  const TDriveFacts f = volumes_.Drive(target);
  if (!f.removable) {
    why = "not a removable medium";
    return false;
  }
  if (!f.mountPoint.empty() &&
      !Below(NormalisedPath(f.mountPoint), NormalisedPath(FolderOf(target)))) {
    why = "outside the medium";
    return false;
  }
  return DelTree(target, &why);
}

void TSpanning::ClearFilesOnDisk() {
  int answer = 11;  // Erase
  for (;;) {
    if (!NoPromptErase())
      answer =
          MbChoice(S(spanmsg::kEraseQuestion), kArcavo, 1, QStringLiteral("Erase|No Erase|Skip"));
    if (answer == 11) {
      std::string why;
      if (!ClearDisk(why)) MbInfo(S(spanmsg::kUnableToClear));
    } else if (answer == 13) {
      THandlersDetached detached{&l_.directoryList};
      l_.directoryList.SetChecked(opt::kDirErase, false);
    }
    const QString target = PathText(clearTarget_.empty() ? zip_.ZipName() : clearTarget_);
    const uint32_t free = run_.diskSpaceKb(target);
    if (free > 999 || Unattended()) break;
    const int again = MbChoice(
        S(spanmsg::kOnlyFree) + QString::number(free) + QStringLiteral(" Kb free") +
            QStringLiteral("\r\n") + QStringLiteral("Possible NOT read/write: suggest replace") +
            QStringLiteral("\r\n") +
            QStringLiteral("Press OK to retry, or Skip (continues with risk)"),
        kArcavo, 1, QStringLiteral("OK|Skip"));
    if (again != 11) return;
    THandlersDetached detached{&l_.directoryList};
    l_.directoryList.SetChecked(opt::kDirErase, true);
  }
  display_.DiscAnimation(true);
  if (display_.WindowHidden()) display_.TrayAnimation(true);
}

void TSpanning::ArcZip1GetNextDisk(int NextDisk, std::string& FName) {
  display_.DiscAnimation(false);
  display_.TrayAnimation(false);
  if (run_.RunInProgress()) {
    if (!GetNextSpanDisk(NextDisk, FName)) return;
    if (zip_.MultiZipInfo.MultiMode == TMultiMode::mmSpan) WriteSpanNoBeside(NextDisk, FName);
    AnimationsRun();
    return;
  }
  ReadNextDisk(NextDisk, FName);
}

void TSpanning::ReadNextDisk(int n, std::string& FName) {
  char ext[16];
  std::snprintf(ext, sizeof ext, ".%3.3d", n);
  FName = VolumeBaseName(FName) + ext;
  const std::string zipName = zip_.ZipName();
  for (;;) {
    FileDialogSpec spec;
    spec.title = QStringLiteral("Insert disk#") + QString::number(n) +
                 QStringLiteral(" then press [F5], select & Open File");
    spec.filter = S(spanmsg::kDiskFilter);
    spec.initialDir = PathText(FolderOf(zipName));
    if (!fileDialogs || MbUnattendedCancel(spec.title)) {
      FName.clear();
      return;
    }
    const QString picked = fileDialogs->OpenFile(spec);
    if (picked.isEmpty()) {
      FName.clear();
      return;
    }
    if (QFileInfo(picked).suffix().isEmpty()) {
      MbNoticeText(S(spanmsg::kIncorrectFile), kArcavo);
      Delay(4000);
      MbNoticeClose();
      continue;
    }
    if (SkipDiskTest != 12 && !DiskTestPasses(n, PathBytes(picked))) continue;
    FName = PathBytes(picked);
    AnimationsRun();
    return;
  }
}

bool TSpanning::DiskTestPasses(int n, const std::string& picked) {
  // The markers are looked for beside the picked file (the medium's mount point may change with
  // its label), whatever the case of their names.
  const QDir folder(PathText(FolderOf(picked)));
  const QString base =
      PathText(FileNameOf(VolumeBaseName(zip_.ZipName()))) + QStringLiteral("disk#");
  bool any = false;
  bool mine = false;
  for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
    if (!name.startsWith(base, Qt::CaseInsensitive)) continue;
    any = true;
    if (name.mid(base.size()) == QString::number(n)) mine = true;
  }
  SkipDiskTest = any ? 0 : 1;
  if (!any || mine) return true;
  SkipDiskTest = MbChoice(
      S(spanmsg::kWrongDisk) + QString::number(n) + QStringLiteral("\r") + S(spanmsg::kSkipTest),
      kArcavo, 1, QStringLiteral("Retry|Skip"));
  return SkipDiskTest != 11;
}

void TSpanning::ArcZip1PrepareNextDisk(int DiskNum) {
  (void)DiskNum;
  display_.DiscAnimation(false);
  if (display_.WindowHidden()) {
    display_.TrayAnimation(false);
    display_.TrayIcon(1);
    display_.TrayAnimation(true);
  }
  display_.DiscAnimation(true);
}

bool TSpanning::BurnPart(const std::string& part) {
  if (FileSizeKb(PathText(part)) == 0) {
    zip_.CancelOperation();
    display_.TrayAnimation(false);
    display_.TrayIcon(1);
    if (burnFailed) burnFailed(QStringLiteral("The staged part is empty: nothing burnt"));
    return false;
  }
  const QString marker = WriteSpanNo(LastPartNumber);
  Delay(500);
  const bool burnt = burnFiles && burnFiles({PathText(part), marker});
  if (!burnt && !burnFiles && burnFailed)
    burnFailed(QStringLiteral("Burning to disc is not available in this version."));
  QFile::remove(marker);
  if (burnt) {
    QFile::remove(PathText(part));
    return true;
  }
  // Aside under a name no later staging takes: "docs.zip" of disc 2 becomes
  // "docs.notburnt2.zip" (a number more when that is taken).
  const QString staged = PathText(part);
  const qsizetype dot = staged.lastIndexOf(QLatin1Char('.'));
  const QString stem = dot > staged.lastIndexOf(QLatin1Char('/')) ? staged.left(dot) : staged;
  QString kept = stem + QStringLiteral(".notburnt%1.zip").arg(LastPartNumber);
  for (int n = 2; QFileInfo::exists(kept); ++n)
    kept = stem + QStringLiteral(".notburnt%1-%2.zip").arg(LastPartNumber).arg(n);
  if (!QFile::rename(staged, kept)) kept = staged;
  if (partKept) partKept(kept);
  return false;
}

void TSpanning::ArcZip1FileNameForSplitPart(std::string& FName, int PartNum, int SplitType) {
  display_.DiscAnimation(true);
  display_.TrayAnimation(false);
  const auto type = static_cast<TSplitPartType>(SplitType);
  if (!run_.CdStaging()) {
    FName = ProgramPartName(FName, PartNum, type);
    AnimationsRun();
    return;
  }
  FName += ".zip";
  if (type == TSplitPartType::LastPart) {
    LastPartNumber = PartNum;
    return;
  }
  if (PartNum > 1 && !BurnPart(FName)) {
    auto handler = std::move(zip_.OnFileNameForSplitPart);
    zip_.OnFileNameForSplitPart = nullptr;
    zip_.CancelOperation();
    display_.GaugeClear();
    display_.TrayAnimation(false);
    QFile::remove(PathText(FName));
    zip_.OnFileNameForSplitPart = std::move(handler);
    // The engine stops here: no part is written under a name nobody burns.
    FName.clear();
    return;
  }
  LastPartNumber = PartNum;
  display_.DiscAnimation(false);
  if (!(l_.functionsList.Checked(opt::kFnUnattended) && PartNum == 1)) {
    if (!GetNextSpanDisk(PartNum, FName)) {
      display_.TrayAnimation(false);
      return;
    }
  }
  const QString max = l_.maxSizeEdit.text();
  const bool wholeNumber =
      TOptionEdit::IsNumber(max) && !max.contains(QLatin1Char('.')) && TOptionEdit::Bytes(max) != 0;
  if (PartNum > 2 && l_.sizeList.Checked(opt::kSizeAutomatic) && !wholeNumber && nextDiscFree) {
    const int64_t free = nextDiscFree();
    if (free == 0 || free == 13) {
      // No disc, or the user gave up: no part size to write the next part with.
      zip_.CancelOperation();
      FName.clear();
      return;
    }
    if (free > 0) zip_.MultiZipInfo.BlockSize = free * 1000;
  }
  AnimationsRun();
}
