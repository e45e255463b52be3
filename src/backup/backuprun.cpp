#include "backup/backuprun.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <cmath>
#include <cstdio>
#include <system_error>
#include <vector>

#include "app/archivename.h"
#include "app/checkstore.h"
#include "app/clock.h"
#include "app/controlhost.h"
#include "app/damagedarchive.h"
#include "app/inclusiongrid.h"
#include "app/maincontext.h"
#include "app/mb.h"
#include "app/optionnames.h"
#include "app/optionscontroller.h"
#include "app/preferences.h"
#include "app/secrettext.h"
#include "app/sourcelists.h"
#include "archive/arczip.h"
#include "archive/zipexceptions.h"
#include "archive/zipmedia.h"
#include "archive/zipsession.h"
#include "backup/appziphost.h"
#include "backup/naming.h"
#include "platform/archivelock.h"
#include "platform/programdir.h"

namespace {

QString S(const char* s) {
  return QString::fromLatin1(s);
}

const QString kArcavo = QStringLiteral("Arcavo");
constexpr int64_t kMinPartSize = 65536;
// The largest file ISO 9660 records in one extent: 4 GiB less one sector.
constexpr int64_t kMaxStagedPart = 4294965248;

QString FileNameOf(const QString& path) {
  return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QString FolderOf(const QString& path) {
  const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
  if (slash < 0) return QStringLiteral(".");
  return slash == 0 ? QStringLiteral("/") : path.left(slash);
}

}  // namespace

// ---- Small routines ------------------------------------------------------------------------

uint32_t DiskSpaceKb(const QString& path) {
  if (path.isEmpty()) return 0;
  QString probe = AbsolutePath(path);
  // The archive need not exist yet: ask the nearest folder that does.
  while (!PathExists(probe)) {
    const QString up = FolderOf(probe);
    if (up == probe) return 0;
    probe = up;
  }
  struct statvfs vfs;
  if (::statvfs(PathBytes(probe).c_str(), &vfs) != 0) return 0;
  const double bytes = static_cast<double>(vfs.f_bavail) * static_cast<double>(vfs.f_frsize);
  const double kb = std::nearbyint(bytes / 1000.0);
  return kb >= 4294967295.0 ? 4294967295u : static_cast<uint32_t>(kb);
}

int32_t FileSizeKb(const QString& path) {
  struct stat st;
  if (path.isEmpty() || ::stat(PathBytes(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  const double kb = std::nearbyint(static_cast<double>(st.st_size) / 1000.0);
  return kb >= 2147483647.0 ? 2147483647 : static_cast<int32_t>(kb);
}

QString RunResultText(const QString& errorText, int count, int leftOut) {
  const QString suffix = count == 1 ? QStringLiteral(" was") : QStringLiteral("s were");
  const QString head = !errorText.isEmpty() ? errorText + QStringLiteral("\r")
                       : leftOut > 0        ? S(runmsg::kIncomplete)
                       : count == 0         ? S(runmsg::kNothingStored)
                                            : S(runmsg::kSuccess);
  QString text = head + QString::number(count) + QStringLiteral(" file/DIR") + suffix +
                 QStringLiteral(" added");
  if (leftOut > 0)
    text += QStringLiteral("\r") + QString::number(leftOut) + QStringLiteral(" file/DIR") +
            (leftOut == 1 ? QStringLiteral(" was") : QStringLiteral("s were")) +
            S(runmsg::kLeftOut);
  return text;
}

QStringList CleanLeftovers(const QString& archive) {
  QStringList lines;
  if (archive.isEmpty()) return lines;
  const QString absolute = AbsolutePath(archive);
  const std::string folder = PathBytes(FolderOf(absolute));
  const std::string base = PathBytes(FileNameOf(absolute));
  const std::string tempPrefix = "." + base + kTempBesideInfix;
  const std::string asidePrefix = "." + base + ".previous";
  // A writer at work on the archive (the command-line tool, another user's run) holds its lock:
  // what lies beside it then is that writer's, not a leftover.
  TArchiveLock lock;
  if (lock.TryLock(ArchiveLockPath(folder + "/" + base)) == TArchiveLock::TResult::Busy)
    return lines;
  const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) return lines;
  DIR* dir = ::fdopendir(::dup(dirFd));
  if (!dir) {
    ::close(dirFd);
    return lines;
  }
  auto allOf = [](const std::string& s, size_t from, auto pred) {
    for (size_t i = from; i < s.size(); ++i)
      if (!pred(static_cast<unsigned char>(s[i]))) return false;
    return true;
  };
  struct Found {
    std::string name;
    struct timespec mtime;
  };
  std::vector<std::string> temps;
  std::vector<Found> asides;
  while (const dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    const bool temp = name.size() == tempPrefix.size() + 6 && name.rfind(tempPrefix, 0) == 0 &&
                      allOf(name, tempPrefix.size(), [](int c) { return std::isalnum(c) != 0; });
    const bool aside = !temp && name.rfind(asidePrefix, 0) == 0 &&
                       allOf(name, asidePrefix.size(), [](int c) { return std::isdigit(c) != 0; });
    if (!temp && !aside) continue;
    // Only a regular file of this user is ours to remove.
    struct stat st;
    if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
        st.st_uid != ::geteuid())
      continue;
    if (temp)
      temps.push_back(name);
    else
      asides.push_back({name, st.st_mtim});
  }
  ::closedir(dir);
  QString where = FolderOf(absolute);
  if (!where.endsWith(QLatin1Char('/'))) where += QLatin1Char('/');
  // An archive that is missing while a copy of it lies aside was being replaced when the run was
  // stopped: the newest copy is the previous archive.
  struct stat ast;
  if (!asides.empty() && ::fstatat(dirFd, base.c_str(), &ast, AT_SYMLINK_NOFOLLOW) != 0 &&
      errno == ENOENT) {
    auto newest =
        std::max_element(asides.begin(), asides.end(), [](const Found& a, const Found& b) {
          return a.mtime.tv_sec != b.mtime.tv_sec ? a.mtime.tv_sec < b.mtime.tv_sec
                                                  : a.mtime.tv_nsec < b.mtime.tv_nsec;
        });
    if (::renameat(dirFd, newest->name.c_str(), dirFd, base.c_str()) == 0) {
      ::fsync(dirFd);
      lines << S(runmsg::kAsidePutBack) + where + PathText(newest->name);
      asides.erase(newest);
    }
  }
  for (const std::string& name : temps)
    if (::unlinkat(dirFd, name.c_str(), 0) == 0)
      lines << S(runmsg::kLeftoverRemoved) + where + PathText(name);
  if (!asides.empty()) {
    // The older copies go only once the archive under its name is on the medium.
    const int archiveFd = ::openat(dirFd, base.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    const bool durable = archiveFd >= 0 && ::fsync(archiveFd) == 0 && ::fsync(dirFd) == 0;
    if (archiveFd >= 0) ::close(archiveFd);
    for (const Found& f : asides)
      if (durable && ::unlinkat(dirFd, f.name.c_str(), 0) == 0)
        lines << S(runmsg::kLeftoverRemoved) + where + PathText(f.name);
  }
  ::close(dirFd);
  return lines;
}

int64_t MaxSizeBytes(const QString& text) {
  QString whole = text.trimmed().section(QLatin1Char('.'), 0, 0);
  if (TOptionEdit::IsNumber(text)) {
    while (whole.size() > 1 && whole.startsWith(QLatin1Char('0'))) whole.remove(0, 1);
    return whole.size() > 12 ? -1 : TOptionEdit::Bytes(text);
  }
  QString digits;
  for (const QChar c : text) {
    if (c.isDigit())
      digits += c;
    else if (c != QLatin1Char('.') && c != QLatin1Char('+') && c != QLatin1Char('-'))
      break;
  }
  // Thirteen digits or more are beyond any medium, and beyond 64 bits once made bytes.
  while (digits.size() > 1 && digits.startsWith(QLatin1Char('0'))) digits.remove(0, 1);
  if (digits.size() > 12) return -1;
  bool ok = false;
  const qint64 mb = digits.toLongLong(&ok);
  return ok ? mb * 1000000 : 0;
}

// ---- The parts of an earlier split set ----------------------------------------------------

namespace {

// The parts of the split set named by zipName (base.z01, ..., base.zip) in its folder.
QStringList SplitPartsOf(const QString& zipName) {
  const QString base = PathText(VolumeBaseName(PathBytes(zipName)));
  const QFileInfo info(base);
  const QString stem = info.fileName();
  QStringList parts;
  const QDir folder = info.dir();
  for (const QString& name : folder.entryList(QDir::Files | QDir::System)) {
    if (!name.startsWith(stem + QLatin1Char('.'))) continue;
    const QString ext = name.mid(stem.size() + 1);
    bool digits = ext.size() >= 3 && ext.startsWith(QLatin1Char('z'));
    for (int i = 1; digits && i < ext.size(); ++i) digits = ext[i].isDigit();
    if (digits || ext == QLatin1String("zip")) parts << folder.filePath(name);
  }
  return parts;
}

QString AsideName(const QString& part) {
  const QFileInfo info(part);
  return info.dir().filePath(QLatin1Char('.') + info.fileName() + QStringLiteral(".previous"));
}

}  // namespace

QStringList SetSplitPartsAside(const QString& zipName) {
  QStringList aside;
  for (const QString& part : SplitPartsOf(zipName)) {
    const QString to = AsideName(part);
    if (::rename(PathBytes(part).c_str(), PathBytes(to).c_str()) == 0) aside << part;
  }
  return aside;
}

void EndSplitPartsAside(const QString& zipName, const QStringList& aside, bool complete) {
  // Whatever carries a part's name now was written by the new set.
  if (!complete)
    for (const QString& part : SplitPartsOf(zipName)) ::unlink(PathBytes(part).c_str());
  for (const QString& part : aside) {
    const std::string from = PathBytes(AsideName(part));
    if (complete)
      ::unlink(from.c_str());
    else
      ::rename(from.c_str(), PathBytes(part).c_str());
  }
}

QStringList RestoreSplitPartsAside(const QString& zipName) {
  QStringList lines;
  const QString base = PathText(VolumeBaseName(PathBytes(zipName)));
  const QFileInfo info(base);
  const QString stem = QLatin1Char('.') + info.fileName() + QLatin1Char('.');
  QStringList aside;
  for (const QString& name : info.dir().entryList(QDir::Files | QDir::Hidden | QDir::System)) {
    if (!name.startsWith(stem) || !name.endsWith(QLatin1String(".previous"))) continue;
    const QString part = info.dir().filePath(name.mid(1, name.size() - 1 - 9));
    const QString ext = part.mid(base.size() + 1);
    bool digits = ext.size() >= 3 && ext.startsWith(QLatin1Char('z'));
    for (int i = 1; digits && i < ext.size(); ++i) digits = ext[i].isDigit();
    if (digits || ext == QLatin1String("zip")) aside << part;
  }
  if (aside.size() < 2) return lines;  // one copy aside is the archive's own (CleanLeftovers)
  // The new set was complete once its last part had its name: the old one goes then; before
  // that the old set comes back whole.
  const bool complete = QFileInfo::exists(base + QStringLiteral(".zip"));
  EndSplitPartsAside(zipName, aside, complete);
  for (const QString& part : aside)
    lines << (complete ? S(runmsg::kLeftoverRemoved) + AsideName(part)
                       : S(runmsg::kAsidePutBack) + part);
  return lines;
}

// ---- The controller ------------------------------------------------------------------------

TBackupRun::TBackupRun(TArcZip& zip, TOptionLists& lists, TPreferences& prefs, TCheckStore& ticks,
                       TInclusionGrid& grid, IControlHost& controls, IBackupDisplay& display,
                       IBackupProgram& program, IBackupDialogs& dialogs, IBackupSeams& seams,
                       QObject* parent)
    : QObject(parent),
      zip_(zip),
      l_(lists),
      prefs_(prefs),
      ticks_(ticks),
      grid_(grid),
      controls_(controls),
      display_(display),
      program_(program),
      dialogs_(dialogs),
      seams_(seams) {
  if (!zip_.Host) {
    ownHost_ = std::make_unique<TAppZipHost>();
    zip_.Host = ownHost_.get();
  }
  // Hidden and system files are always found (nothing on this system is "system").
  zip_.IncludeHiddenFiles = true;
  zip_.IncludeSysFiles = true;
  setEntryPath = [this](int index, const std::string& path) { zip_.SetEntryPath(index, path); };
  makeSelfExtractor = [this](const std::string& stub, const std::string& name) {
    return WriteSelfExtractor(stub, name);
  };
}

TBackupRun::~TBackupRun() {
  if (ownHost_ && zip_.Host == ownHost_.get()) zip_.Host = nullptr;
}

void TBackupRun::SyncArchiveName() {
  const std::optional<QString> outside = program_.ArchiveName();
  if (outside && *outside != ZipName()) zip_.SetZipName(PathBytes(*outside));
}

QString TBackupRun::ZipName() const {
  return PathText(zip_.ZipName());
}

void TBackupRun::SetArchiveName(const QString& name, bool set) {
  QString value = name;
  if (!value.isEmpty() && FileExtension(value).isEmpty()) value += QStringLiteral(".zip");
  if (set) {
    zip_.SetZipName(PathBytes(value));
    program_.ArchiveNameChanged(value);
  }
  const QString shown = ZipName();
  display_.SetArchivePanel(QStringLiteral("ZipFile: ") +
                           (shown.isEmpty() ? QStringLiteral("<none>") : shown));
}

QString TBackupRun::TempPath() const {
  const QString t = prefs_.Text(QStringLiteral("TempDIR"));
  return t.isEmpty() ? QDir::tempPath() : t;
}

bool TBackupRun::CountingOnlyStop(int numFiles, int64_t totalBytes, bool& stopNow) {
  if (!sizeCalcMode_ && numFiles != 0) return false;
  stopNow = true;
  display_.GaugeClear();
  counted_ = Count{numFiles, totalBytes};
  SkippedList.clear();
  return true;
}

std::optional<TBackupRun::Count> TBackupRun::CountingRun(const QString& scratchName) {
  if (running_) return std::nullopt;
  SyncArchiveName();
  const QString saved = ZipName();
  // The engine needs a name even to count; an existing archive is never touched.
  QString name = scratchName.isEmpty() ? saved : scratchName;
  if (name.isEmpty()) name = QDir::tempPath() + QStringLiteral("/$arcavo.zip");
  counted_.reset();
  // Counting mode ends and the archive name comes back however the run ends.
  struct TBack {
    TBackupRun& run;
    const QString& saved;
    ~TBack() {
      run.sizeCalcMode_ = false;
      run.program_.RunStateChanged(run.runInProgress_, run.sizeCalcMode_);
      try {
        run.SetArchiveName(saved, true);
      } catch (...) {
        // The name is the program's; an exception leaving the run must not be replaced.
      }
    }
  } back{*this, saved};
  sizeCalcMode_ = true;
  program_.RunStateChanged(runInProgress_, sizeCalcMode_);
  SetArchiveName(name, true);
  WriteZbtnClick();
  return counted_;
}

int TBackupRun::WriteSelfExtractor(const std::string& stub, const std::string& name) {
  SFXConfig1.UserCanDisableCmdLine = true;
  SFXConfig1.UserCanChooseFiles = true;
  SFXConfig1.UserCanChangeOverwrite = true;
  SFXConfig1.AutoExtract = false;
  const std::vector<uint8_t> block = SFXConfig1.BuildConfigBlock();
  return zip_.MakeSelfExtractor(stub, name, static_cast<int>(block.size()), block.data());
}

void TBackupRun::ForgetArchiveInMemory() {
  const std::string name = zip_.ZipName();
  zip_.CloseArchive();
  zip_.SetZipName(name);
}

void TBackupRun::WriteCaption(bool running) {
  const QString button = S(bctl::kWriteButton);
  controls_.SetControlCaption(button,
                              running ? QStringLiteral("&Abort") : QStringLiteral("&Write"));
  display_.SetControlAlarm(button, running);
}

void TBackupRun::CancelZIP() {
  controls_.SetControlEnabled(S(bctl::kWriteButton), false);
  runInProgress_ = false;
  program_.RunStateChanged(runInProgress_, sizeCalcMode_);
  WriteCaption(false);
  controls_.SetControlCaption(S(ctl::kPauseButton), QStringLiteral("Pause"));
  display_.SetControlAlarm(S(ctl::kPauseButton), false);
  pauseMode_ = false;
  controls_.SetControlEnabled(S(bctl::kSizeCalcButton), true);
  seams_.AbortWrite();
  display_.GaugeClear();
  zip_.CancelOperation();
  presetKind_ = 0;
  display_.TrayAnimation(false);
}

void TBackupRun::PauseBtnClick() {
  if (!zip_.Busy()) return;
  const QString button = S(ctl::kPauseButton);
  if (pauseMode_) {
    pauseMode_ = false;
    controls_.SetControlCaption(button, QStringLiteral("Pause"));
    zip_.ResumeOperation();
    if (display_.TrayIconShown()) {
      display_.TrayAnimation(true);
      controls_.SetControlVisible(S(bctl::kTrayPauseItem), true);
      controls_.SetControlVisible(S(bctl::kTrayResumeItem), false);
    } else {
      display_.DiscAnimation(true);
    }
    return;
  }
  if (display_.TrayIconShown()) {
    display_.TrayAnimation(false);
    display_.TrayIcon(0);
    controls_.SetControlVisible(S(bctl::kTrayPauseItem), false);
    controls_.SetControlVisible(S(bctl::kTrayResumeItem), true);
  }
  display_.DiscAnimation(false);
  zip_.PauseOperation();
  pauseMode_ = true;
  controls_.SetControlCaption(button, QStringLiteral("Continue"));
  // The button blinks while the pause lasts; the click that resumes arrives inside Delay.
  while (pauseMode_) {
    controls_.SetControlCaption(button, QString());
    Delay(500);
    if (!pauseMode_) break;
    controls_.SetControlCaption(button, QStringLiteral("Continue"));
    display_.SetControlAlarm(button, true);
    Delay(500);
  }
  controls_.SetControlCaption(button, QStringLiteral("Pause"));
  display_.SetControlAlarm(button, false);
}

void TBackupRun::AddButClick() {
  SyncArchiveName();
  if (ZipName().isEmpty()) {
    MbInfo(S(runmsg::kOpenZipFirst));
    return;
  }
  addMode_ = true;
  program_.Setstate(0);
  program_.Setstate(3);
}

// ---- The existing archive ------------------------------------------------------------------

bool TBackupRun::FileExisted(const QString& name) {
  const bool wasAdd = addMode_;
  addMode_ = false;
  const bool exists = PathExists(name);
  // "Move Files Then Delete" never replaces an archive: the files it deleted after earlier runs
  // may exist nowhere else. It adds to it, as the update modes do.
  if (!exists || wasAdd || l_.modeList.Checked(opt::kModeUpdate) ||
      l_.modeList.Checked(opt::kModeRefresh) || l_.modeList.Checked(opt::kModeMove))
    return false;
  if (l_.functionsList.Checked(opt::kFnVersioning)) return false;
  if (sizeCalcMode_) return true;
  // A replaced archive stays whole under its name until the new one is renamed over it.
  if (l_.functionsList.Checked(opt::kFnUnattended)) {
    replaceExisting_ = true;
    return false;
  }
  const int answer = MbChoice(S(runmsg::kExists), kArcavo, 2, QStringLiteral("Replace|Add|Cancel"));
  if (answer == 11) {
    zip_.CloseArchive();
    replaceExisting_ = true;
    SetArchiveName(name, true);
    return false;
  }
  if (answer == 12) {
    try {
      zip_.ReadArchive();
    } catch (const EArcZipException&) {
      return true;
    } catch (const std::system_error&) {
      return true;
    }
    display_.ClearStatusBar();
    SetArchiveName(name, true);
    return false;
  }
  // Cancel, or the box closed without an answer.
  exeMode_ = false;
  display_.ClearStatusBar();
  return true;
}

void TBackupRun::StagedBurnFailed(const QString& why) {
  if (burnFailure_.isEmpty()) burnFailure_ = why;
  LastBurnError = why;
}

void TBackupRun::StagedPartKept(const QString& path) {
  keptParts_ << path;
}

int TBackupRun::LastExitStatus() const {
  if (!succeeded_) return kExitRunFailed;
  return leftOut_ > 0 ? kExitFilesLeftOut : kExitOk;
}

// ---- Temporary folder menu -----------------------------------------------------------------

void TBackupRun::TempDefault1Click() {
  zip_.TempPath = QDir::tempPath().toStdString();
  controls_.SetControlChecked(S(ctl::kTempDefaultItem), true);
  controls_.SetControlChecked(S(ctl::kTempSelectItem), false);
  prefs_.Write(QStringLiteral("TempDIR"), QString());
}

void TBackupRun::SetTempDIR1Click() {
  controls_.SetControlChecked(S(ctl::kTempSelectItem), true);
  controls_.SetControlChecked(S(ctl::kTempDefaultItem), false);
  if (prefs_.Text(QStringLiteral("TempDIR")).isEmpty()) {
    const int answer = MbChoice(
        QStringLiteral("Default Temp Dir is ") + QDir::tempPath() + QStringLiteral("\r") +
            QStringLiteral("        Change from default directory?") + QStringLiteral("\r\n") +
            QStringLiteral("Only change if you have problems with backup."),
        kArcavo, 1, QStringLiteral("Remain|Change"));
    if (answer != 12) {
      controls_.SetControlChecked(S(ctl::kTempDefaultItem), true);
      controls_.SetControlChecked(S(ctl::kTempSelectItem), false);
      return;
    }
  }
  zip_.TempPath.clear();
  const QString folder = dialogs_.BrowseFolder(QStringLiteral("Select new Temp Directory"));
  if (folder.isEmpty()) {
    controls_.SetControlChecked(S(ctl::kTempDefaultItem), true);
    controls_.SetControlChecked(S(ctl::kTempSelectItem), false);
  }
  zip_.TempPath = PathBytes(folder);
  prefs_.Write(QStringLiteral("TempDIR"), folder);
}

void TBackupRun::CheckSpace1Click() {
  const QString item = S(ctl::kCheckSpaceItem);
  controls_.SetControlChecked(item, !controls_.ControlChecked(item));
  prefs_.Write(QStringLiteral("CheckTempSpace"), controls_.ControlChecked(item));
}

void TBackupRun::PromptSkipOpenFiles1Click() {
  const QString item = S(ctl::kPromptSkipOpenFilesItem);
  controls_.SetControlChecked(item, !controls_.ControlChecked(item));
  prefs_.INIcheckedMenuItem(QStringLiteral("PromptSkipOpenFiles"), controls_, item);
}

// ---- The run -------------------------------------------------------------------------------

void TBackupRun::EndStaging() {
  cdStaging_ = false;
  THandlersDetached detached{&l_.directoryList};
  l_.directoryList.SetChecked(opt::kDirSpan, false);
  l_.directoryList.SetItemEnabled(opt::kDirSpan, true);
  seams_.ReleaseTransport();
}

void TBackupRun::StartControls() {
  if (display_.WindowHidden()) {
    display_.TrayAnimation(true);
    controls_.SetControlVisible(S(bctl::kTrayPauseItem), true);
    controls_.SetControlVisible(S(bctl::kTrayResumeItem), false);
  }
  ExcludedCount = BitNotSetCount = NoOverwriteCount = UnfilteredCount = 0;
  runInProgress_ = true;
  program_.RunStateChanged(runInProgress_, sizeCalcMode_);
  running_ = true;
  WriteCaption(true);
  controls_.SetControlEnabled(S(ctl::kPauseButton), true);
  openFilePrompt_ = true;
  controls_.SetControlEnabled(S(bctl::kSizeCalcButton), false);
  display_.SetBusyCursor(true);
  if (onRunStart) onRunStart();
}

// What one run carries from step to step.
struct TBackupRun::TRunSteps {
  bool counting = false;   // a counting-only run for the size calculator
  bool automatic = false;  // a run without the user (command line, hand-over, scheduler)
  std::vector<std::string> ticked;
  std::vector<std::string> highlighted;
  QString requested;      // the archive name the run was started with
  QStringList leftovers;  // report lines of what an interrupted run left beside the archive
  QString stopText;       // why a run that goes on to its end writes nothing
  bool restorePoint = false;
  EngineLists lists;
  QString name;  // the archive the engine writes
  bool versioned = false;
  QStringList partsAside;  // the parts of the earlier split set, set aside while this one is made
  bool finished = true;    // false once the machine is being shut down
  // The command line's "close" waits for the archive test: its box is the closing message and a
  // failed test is a failed run.
  bool closeAfterVerify = false;
  // The run's hold on the engine, from its first step to its clean-up.
  std::optional<TZipSession> session;
};

// Owns the run state once the run has taken over: a run that ends through its own steps
// releases it; any other way out (an exception of whatever type) leaves the window idle: no run
// flagged, the normal cursor, "&WriteZIP" and the size calculator usable, the status bars, tray
// and scheduler as at rest, a disc staging undone and the requested archive name back.
class TBackupRun::TRunGuard {
 public:
  TRunGuard(TBackupRun& run, const TRunSteps& steps) : r_(run), s_(steps) { r_.running_ = true; }
  ~TRunGuard() {
    if (released_) return;
    try {
      Restore();
    } catch (...) {
      // Restoring the window must not replace the exception that is leaving the run.
    }
  }
  TRunGuard(const TRunGuard&) = delete;
  TRunGuard& operator=(const TRunGuard&) = delete;
  void Release() {
    released_ = true;
    r_.running_ = false;
  }

 private:
  void Restore() {
    r_.running_ = false;
    r_.runInProgress_ = false;
    r_.pauseMode_ = false;
    r_.program_.RunStateChanged(r_.runInProgress_, r_.sizeCalcMode_);
    r_.WriteCaption(false);
    r_.display_.SetBusyCursor(false);
    r_.controls_.SetControlEnabled(S(bctl::kWriteButton), true);
    r_.controls_.SetControlEnabled(S(bctl::kSizeCalcButton), true);
    r_.display_.DiscAnimation(false);
    r_.display_.TrayAnimation(false);
    r_.display_.ClearStatusBar();
    r_.display_.StartSchedulerTimer();
    if (r_.cdStaging_) r_.EndStaging();
    if (!s_.counting && !s_.requested.isEmpty() && r_.ZipName() != s_.requested)
      r_.SetArchiveName(s_.requested, true);
  }

  TBackupRun& r_;
  const TRunSteps& s_;
  bool released_ = false;
};

void TBackupRun::WriteZbtnClick() {
  // 4. (first, whatever the selection now is) While a run is on, a click only offers to cancel
  // it; a run being cancelled, or counting, ignores further clicks.
  if (running_) {
    if (runInProgress_ && !sizeCalcMode_ &&
        MbMessage(S(runmsg::kAbortQuestion), kArcavo, false, MB_OKCANCEL) == IDOK)
      CancelZIP();
    return;
  }
  TRunSteps r;
  resultTold_ = false;
  r.counting = sizeCalcMode_;
  // The engine serves one operation at a time: while another one holds it, no run starts.
  r.session.emplace(zip_);
  if (r.session->Refused()) return;
  // Only the existing-archive question of this run decides whether it replaces the archive.
  replaceExisting_ = false;
  SyncArchiveName();
  if (!RunPreconditions(r)) return;
  if (!r.counting) {
    if (!StageDisc(r) || !TakeArchive(r)) return;
    // 14. The controls of a running backup.
    StartControls();
  }
  TRunGuard guard(*this, r);
  if (!SetUpEngine(r)) {
    guard.Release();
    return;
  }
  ExpandSelection(r);
  CallEngine(r);
  EndRun(r);
  EndRunActions(r);
  if (r.finished) CleanUp(r);
  guard.Release();
  r.session.reset();
  TellResult();
  emit runFinished(succeeded_);
}

bool TBackupRun::RunPreconditions(TRunSteps& r) {
  // 1., 2. Something to back up, and something to include. A run without the user (command
  // line, hand-over, scheduler) backs up its job's selection only: what happens to be
  // highlighted in the tree (the home folder at start) is never taken in its place.
  r.automatic = !program_.AutoRunFile().isEmpty();
  lastJob_ = r.counting ? QString() : program_.AutoRunFile();
  r.ticked = ticks_.TickedPaths();
  if (!r.automatic) r.highlighted = display_.HighlightedPaths();
  const QString refusal = SelectionPrecondition(grid_, r.ticked, r.highlighted);
  if (!refusal.isEmpty()) {
    MbMessage(refusal, kArcavo, false, MB_ICONEXCLAMATION);
    return false;
  }
  if (r.counting) {
    // 3. A counting-only run goes straight to the engine settings.
    if (targetDriveKind_ == 1) SetArchiveName(PathText(ProgramDir()) + FileNameOf(ZipName()), true);
    return true;
  }
  // 5. Stealth archives are not written by the normal run.
  if (ZipName().contains(QLatin1String("stealth_"))) {
    MbInfo(S(runmsg::kStealthName));
    return false;
  }
  // 6. Preparation.
  LastBurnError.clear();
  burnFailure_.clear();
  keptParts_.clear();
  cdStaging_ = false;
  discFound_ = false;
  r.requested = ZipName();
  targetDriveKind_ = seams_.GetDriveTypeEx(r.requested);
  return true;
}

bool TBackupRun::StageDisc(TRunSteps& r) {
  // 7.-12. A disc target is written in parts into the program folder and burnt.
  if (!(targetDriveKind_ == 1 || (targetDriveKind_ == 2 && !seams_.BurnerNative()))) return true;
  if (!seams_.BurnerConfigured()) seams_.CDBurner1Click();
  const TCDtypes disc = seams_.GetCDDetails();
  if (!disc.Ready) {
    MbInfo(S(runmsg::kCdCheckout));
    return false;
  }
  discFound_ = true;
  discFree_ = seams_.CheckCDHasSize(disc);
  if (discFree_ == 0 || discFree_ == 13) return false;
  const bool dvd = disc.TypeName.contains(QLatin1String("DVD"));
  {
    THandlersDetached detached{&l_.sizeList};
    if (!seams_.BurnerSizingAuto() && !dvd)
      l_.sizeList.SetChecked(disc.Kind == 1 ? opt::kSizeCdr650 : opt::kSizeCdrw540, true);
  }
  SetArchiveName(PathText(ProgramDir()) + FileNameOf(r.requested), true);
  // The parts are staged in the program folder: its file system needs the room.
  const uint32_t free = diskSpaceKb(PathText(ProgramDir()));
  if (prefs_.Bool(QStringLiteral("CheckTempSpace")) && free < (dvd ? 6200000u : 1200000u)) {
    MbInfo(S(runmsg::kNoTempSpace));
    SetArchiveName(r.requested, true);
    return false;
  }
  cdStaging_ = true;
  THandlersDetached detached{&l_.directoryList};
  l_.directoryList.SetChecked(opt::kDirSpan, true);
  l_.directoryList.SetItemEnabled(opt::kDirSpan, false);
  l_.directoryList.SetItemEnabled(opt::kDirDirectoryFirstDisk, false);
  l_.directoryList.SetChecked(opt::kDirDirectoryFirstDisk, false);
  return true;
}

bool TBackupRun::TakeArchive(TRunSteps& r) {
  // What an interrupted run left beside the archive goes first: a previous archive it had put
  // aside comes back under its name before the question whether that name exists.
  r.leftovers = RestoreSplitPartsAside(ZipName()) + CleanLeftovers(ZipName());
  // 13. An existing archive; a staging stopped here is undone.
  if (!l_.basicList.Checked(opt::kBasicAll) || !FileExisted(ZipName())) return true;
  for (const QString& line : r.leftovers) display_.ReportAdd(line);
  if (cdStaging_) {
    EndStaging();
    SetArchiveName(r.requested, true);
  }
  return false;
}

void TBackupRun::StopBeforeEngine(const TRunSteps& r) {
  // The run stops before the engine started: the stale cancel request is withdrawn, and the
  // button, the cursor, the archive name and the staging are as before the click.
  CancelZIP();
  zip_.PauseOperation();
  zip_.ResumeOperation();
  display_.SetBusyCursor(false);
  controls_.SetControlEnabled(S(bctl::kWriteButton), true);
  if (cdStaging_) EndStaging();
  if (!r.counting && ZipName() != r.requested) SetArchiveName(r.requested, true);
  running_ = false;
  if (r.counting) SetSizeCalcMode(false);
}

QString TBackupRun::DamagedArchiveRefusal(const TRunSteps& r) {
  // A run that splits or spans writes its set anew and keeps no entries of an existing archive.
  if (r.counting || replaceExisting_ || l_.directoryList.Checked(opt::kDirSpan) ||
      !PathExists(ZipName()))
    return {};
  const std::string name = zip_.ZipName();
  try {
    zip_.ReadArchive();
  } catch (const std::exception& e) {
    // An archive that does not read cannot be added to: the run says why, as the engine would
    // when it read it (and no question about it is asked a second time).
    zip_.SetZipName(name);
    return QString::fromLocal8Bit(e.what());
  }
  return DamagedRewriteRefusal(zip_, !r.automatic && !l_.functionsList.Checked(opt::kFnUnattended));
}

bool TBackupRun::SetUpEngine(TRunSteps& r) {
  TZipSession& session = *r.session;
  // An existing archive the run adds to is rewritten with the entries reading found: when its
  // directory is damaged, only those a scan found. Asked first; without a user, or answered No,
  // the run writes nothing and says why.
  r.stopText = DamagedArchiveRefusal(r);
  // 15. The grid's lists.
  ReadGridLists(grid_, r.lists);
  zip_.FilesList.clear();
  zip_.ExcludeList.clear();
  zip_.NoCompressList.clear();

  // 16. No password yet; "Erase Disk First" only for removable targets.
  WipeSecret(zip_.Password);
  if (seams_.GetDriveTypeEx(ZipName()) == 0) {
    THandlersDetached detached{&l_.directoryList};
    l_.directoryList.SetItemEnabled(opt::kDirErase, false);
    l_.directoryList.SetChecked(opt::kDirErase, false);
  }

  // 17. The settings of this run on top of the engine's idle ones (the session gives those
  // back afterwards, so no mode of an earlier run or a stealth pass acts here). The count
  // stops the engine before the report's part of the start-of-writing event.
  zip_.ZipAction = TZipAction::zaReplace;
  zip_.MultiZipInfo.BlockSize = 0;
  zip_.MultiZipInfo.MultiMode = TMultiMode::mmNone;
  session.Listen(
      &TArcZip::OnStartZipInfo,
      [this](TZipSender, int numFiles, int64_t totalBytes, TEndCentral&, bool& stopNow) {
        CountingOnlyStop(numFiles, totalBytes, stopNow);
      },
      TZipSession::TOrder::First);
  if (onStartZipInfo)
    session.Listen(&TArcZip::OnStartZipInfo,
                   [this](TZipSender, int numFiles, int64_t totalBytes, TEndCentral&,
                          bool& stopNow) { onStartZipInfo(numFiles, totalBytes, stopNow); });
  // In place of the program's own handler (which names the parts too, and would name them a
  // second time).
  session.Handle(&TArcZip::OnFileNameForSplitPart,
                 [this](TZipSender, std::string& fname, int part, TSplitPartType type) {
                   // The program's part names unless the hook names them: base.z01, ...,
                   // and base.zip for the last part.
                   if (onFileNameForSplitPart)
                     onFileNameForSplitPart(fname, part, static_cast<int>(type));
                   else
                     fname = ProgramPartName(fname, part, type);
                 });
  zip_.TempPath = PathBytes(TempPath());

  // 18. Encryption. A run that asked for it and got no password (Cancel, empty edits, nobody
  // there to answer) writes nothing rather than a plain archive.
  if (l_.directoryList.Checked(opt::kDirEncrypt) && !r.counting && r.stopText.isEmpty()) {
    std::optional<QString> password = dialogs_.ShowPasswordDialog();
    if (!password || password->isEmpty())
      r.stopText = S(runmsg::kNoPassword);
    else
      zip_.Password = TakeSecret(*password);
    // New entries take the job's cipher; entries an update keeps stay as they were written.
    zip_.Encryption = l_.encryptionList.Checked(opt::kEncTraditional)
                          ? TZipEncryption::zeTraditional
                          : TZipEncryption::zeAES256;
    session.Handle(&TArcZip::OnBadPassword, [this](TZipSender, int index, std::string& password) {
      if (onBadPassword) onBadPassword(index, password);
    });
  }
  if (!ApplyOptions()) {
    StopBeforeEngine(r);
    return false;
  }
  return true;
}

bool TBackupRun::ApplyOptions() {
  // 19. Mode, directory items and compression.
  switch (l_.modeList.CheckedIndex()) {
    case opt::kModeCopyClear:
      zip_.ResetArchiveBitOnZip = true;
      break;
    case opt::kModeBitSet:
      zip_.SkipIfArchiveBitNotSet = true;
      break;
    case opt::kModeBitSetClear:
      zip_.ResetArchiveBitOnZip = true;
      zip_.SkipIfArchiveBitNotSet = true;
      break;
    case opt::kModeUpdate:
      zip_.ZipAction = TZipAction::zaUpdate;
      break;
    case opt::kModeRefresh:
      zip_.ZipAction = TZipAction::zaFreshen;
      break;
    case opt::kModeMove:
      // An existing archive is added to: newer and new files go in, the others stay where they
      // are (a same-named file is never replaced by an older one and then deleted).
      zip_.Dispose = true;
      zip_.ZipAction = TZipAction::zaUpdate;
      break;
    default:
      break;
  }
  zip_.StoreVolumes = l_.directoryList.Checked(opt::kDirVolumeNames);
  if (l_.directoryList.Checked(opt::kDirHidden)) {
    zip_.IncludeHiddenFiles = true;
    zip_.IncludeSysFiles = true;
  }
  // Symbolic links are stored as links unless the job asks for the files they point to.
  zip_.FollowLinks = l_.directoryList.Checked(opt::kDirFollowLinks);
  zip_.Recurse = false;
  zip_.AddDirEntriesOnRecurse = false;
  zip_.StorePaths = false;
  if (l_.directoryList.Checked(opt::kDirRecursion)) {
    zip_.Recurse = true;
    zip_.StorePaths = true;
  }
  if (l_.directoryList.Checked(opt::kDirEmptyDirs)) {
    zip_.Recurse = true;
    zip_.AddDirEntriesOnRecurse = true;
  }
  switch (l_.compressionList.CheckedIndex()) {
    case opt::kCompLow:
      zip_.PackLevel = 5;
      break;
    case opt::kCompNone:
      zip_.PackLevel = 0;
      break;
    default:
      zip_.PackLevel = 9;
      break;
  }

  // 20. Volumes.
  if (!l_.directoryList.Checked(opt::kDirSpan)) return true;
  zip_.MultiZipInfo.MultiMode = TMultiMode::mmSpan;
  zip_.MultiZipInfo.WriteDiskLabels = !l_.directoryList.Checked(opt::kDirSpanNoVolume);
  const QString firstText = l_.firstDiskEdit.text();
  const int64_t firstFree = TOptionEdit::IsNumber(firstText) ? TOptionEdit::Bytes(firstText) : 0;
  zip_.MultiZipInfo.SaveOnFirstDisk = firstFree;
  const int64_t max = MaxSizeBytes(l_.maxSizeEdit.text());
  if (max != 0 || cdStaging_) {
    zip_.MultiZipInfo.SaveOnFirstDisk = 0;
    zip_.MultiZipInfo.MultiMode = TMultiMode::mmBlocks;
    int64_t block = max;
    if (cdStaging_ && !(max > 0 && max < discFree_ * 1000)) block = discFree_ * 1000;
    // A staged part is one file on an ISO 9660 disc, which holds files below 4 GiB.
    if (cdStaging_) block = std::min(block, kMaxStagedPart);
    zip_.MultiZipInfo.BlockSize = block;
    // A part must hold at least 64 KiB, the smallest split size the zip format allows.
    if (block < kMinPartSize) {
      MbMessage(S(runmsg::kAllocationError), kArcavo, false, MB_ICONERROR);
      return false;
    }
    zip_.MultiZipInfo.FirstBlockSize = std::max<int64_t>(kMinPartSize, block - firstFree);
  }
  if (l_.directoryList.Checked(opt::kDirDirectoryFirstDisk))
    zip_.MultiZipInfo.SaveZipInfoOnFirstDisk = true;
  return true;
}

void TBackupRun::ExpandSelection(TRunSteps& r) {
  // 21. Progress display; the scheduler waits.
  if (display_.TrayIconShown())
    display_.TrayAnimation(true);
  else
    display_.GaugeMoving();
  display_.StopSchedulerTimer();

  // 22. The selection as the engine's file list; the report box serves as scratch list.
  display_.ReportSuspend(true);
  display_.ReportClear();
  r.restorePoint = l_.functionsList.Checked(opt::kFnRestore);
  r.lists = BuildEngineLists(grid_, r.ticked, r.highlighted, r.restorePoint);
  for (const std::string& s : r.lists.sources) display_.ReportAdd(PathText(s));
  if (QCoreApplication::instance()) QCoreApplication::processEvents();
  display_.ReportSuspend(false);
  // When not one selected file or folder exists, the run says so instead of "successful".
  nothingExists_ = !r.lists.sources.empty();
  for (const std::string& source : r.lists.sources) {
    struct stat st;
    if (::lstat(source.c_str(), &st) == 0) {
      nothingExists_ = false;
      break;
    }
  }
}

void TBackupRun::CallEngine(TRunSteps& r) {
  // 24.-28. Versioning and writing; an engine failure becomes the head of the closing text.
  errorText_.clear();
  count_ = 0;
  leftOut_ = 0;
  succeeded_ = false;
  r.name = ZipName();
  const bool exe = FileExtension(r.name).toUpper() == QLatin1String(".EXE");
  if (!r.counting) {
    display_.ReportClear();
    display_.ReportAdd(QStringLiteral("Beginning Add to ") + r.name);
    if (r.automatic && !program_.AutoRunNote().isEmpty())
      display_.ReportAdd(program_.AutoRunNote());
    for (const QString& line : r.leftovers) display_.ReportAdd(line);
    if (r.stopText.isEmpty() && onNotIncluded)
      for (const std::string& path : r.lists.notIncluded) onNotIncluded(PathText(path));
  }
  if (!r.stopText.isEmpty()) {
    errorText_ = r.stopText + QStringLiteral(" ");
  } else {
    try {
      // The entries get their version folder in memory; the write below stores the change with
      // the new files in one atomic rewrite of the archive.
      if (l_.functionsList.Checked(opt::kFnVersioning) && PathExists(r.name) && !r.counting) {
        r.versioned = true;
        MakeVerDIR(zip_, CurrentClock().Now(), [this](int index, const std::string& path) {
          if (setEntryPath)
            setEntryPath(index, path);
          else
            zip_.SetEntryPath(index, path);
        });
      }
      zip_.FilesList = r.lists.files;
      zip_.ExcludeList = r.lists.exclude;
      zip_.NoCompressList = r.lists.noCompress;
      zip_.ReplaceArchive = replaceExisting_;
      runStartTick_ = CurrentClock().TickMs();
      if (onEngineStart) onEngineStart();
      display_.SetBusyCursor(false);
      if (exe && !r.counting) {
        // The message names every place the stub was looked for: an installed program whose
        // share folder lacks it says where it looked instead of failing without a reason.
        const std::string stub = sfxStub.empty() ? ResourcePath(kStubName) : sfxStub;
        struct stat st;
        if (stub.empty() || ::stat(stub.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
          throw EArcZipException(MissingStubMessage(sfxStub));
        // An existing file is replaced only when FileExisted said so ("Replace", unattended); one
        // the run keeps (Add, update, refresh, Move, versioning) is rewritten with its entries, as
        // a ".zip" is: replacing it would lose every entry the run does not store.
        SkippedList.clear();
        display_.GaugePercent();
        count_ = makeSelfExtractor ? makeSelfExtractor(stub, PathBytes(r.name))
                                   : WriteSelfExtractor(stub, PathBytes(r.name));
      } else {
        if (PathExists(r.name) && !r.counting) {
          SkippedList.clear();
          display_.GaugePercent();
        }
        // The parts of an earlier set stay whole aside until the new set is complete.
        if (zip_.MultiZipInfo.MultiMode == TMultiMode::mmBlocks && !r.counting && !cdStaging_ &&
            (replaceExisting_ || !PathExists(r.name)))
          r.partsAside = SetSplitPartsAside(r.name);
        count_ = zip_.ZipFiles();
      }
    } catch (const EArcZipException& e) {
      errorText_ = QString::fromStdString(e.what()) + QStringLiteral(" ");
    } catch (const std::system_error& e) {
      // A platform failure (a folder that cannot be written, a full disk) fails the run like an
      // engine error instead of ending the program.
      errorText_ = QString::fromLocal8Bit(e.what()) + QStringLiteral(" ");
    }
  }
  zip_.ReplaceArchive = false;
  // A part that was not burnt fails the run, whatever the engine made of the cancel.
  if (cdStaging_ && !burnFailure_.isEmpty()) errorText_ = burnFailure_ + QStringLiteral(" ");
  if (!r.partsAside.isEmpty())
    EndSplitPartsAside(r.name, r.partsAside, errorText_.isEmpty() && PathExists(r.name));
  if (!r.counting) {
    leftOut_ = r.stopText.isEmpty() && leftOutCount ? leftOutCount() : 0;
    // A staged archive is on the discs, its last part deleted once burnt.
    succeeded_ = errorText_.isEmpty() && !nothingExists_ && (cdStaging_ || PathExists(r.name));
    // Version folders given in memory belong to this run: when it wrote nothing (it failed, was
    // cancelled or had nothing to store), they are dropped, so that no later run writes them.
    if (r.versioned && (!succeeded_ || count_ == 0)) ForgetArchiveInMemory();
  }
}

void TBackupRun::EndRun(TRunSteps& r) {
  // 29., 30. The closing text.
  zip_.FilesList.clear();
  display_.DiscAnimation(false);
  if (!r.stopText.isEmpty())
    resultText_ = r.stopText;
  else if (nothingExists_ && errorText_.isEmpty() && !r.counting)
    resultText_ = S(runmsg::kNothingExists);
  else
    resultText_ = RunResultText(errorText_, count_, leftOut_);

  // 31. The requested name again (a counting-only run leaves it to the size calculator).
  if (r.counting) {
    zip_.SetZipName(std::string());
    program_.ArchiveNameChanged(QString());
  } else if (ZipName() != r.requested) {
    SetArchiveName(r.requested, true);
  }

  // 32. Controls.
  runInProgress_ = false;
  program_.RunStateChanged(runInProgress_, sizeCalcMode_);
  WriteCaption(false);
  exeMode_ = false;
  display_.SetBusyCursor(false);
  display_.TrayAnimation(false);
  if (r.counting) return;

  // 33. After a backup. Why it failed goes into the report (and so into the report file).
  if (!r.stopText.isEmpty())
    display_.ReportAdd(r.stopText);
  else if (!errorText_.isEmpty())
    display_.ReportAdd(errorText_.trimmed());
  else if (nothingExists_)
    display_.ReportAdd(S(runmsg::kNothingExists));
  for (const QString& kept : keptParts_)
    display_.ReportAdd(QStringLiteral("Not burnt to disc, kept as ") + kept);
  if (display_.ReportLineCount() == 0) display_.ReportAdd(QStringLiteral("No files missed"));
  if (l_.modeList.Checked(opt::kModeMove)) {
    THandlersDetached detached{&l_.modeList};
    l_.modeList.SetChecked(opt::kModeCopy, true);
    zip_.Dispose = false;
  }
  if (l_.functionsList.Checked(opt::kFnShutdown) && discFound_) {
    MbNoticeSpec wait;
    wait.text = S(runmsg::kFinishingEject);
    wait.withGauge = true;
    wait.gaugeMax = 10;
    MbNotice(wait);
    for (int i = 0; i < 10; ++i) {
      Delay(2000);
      MbNoticeStep(1);
    }
    // A disc left in the drive is told in the report and in the closing message.
    QString why;
    if (!seams_.OpenCD(seams_.BurnerDriveRoot(), &why)) {
      const QString line = QStringLiteral("Couldn't eject the disc: ") + why;
      display_.ReportAdd(line);
      resultText_ += QLatin1Char('\r') + line;
    }
    MbNoticeClose();
  }
}

void TBackupRun::EndRunActions(TRunSteps& r) {
  if (r.counting) return;
  const QString baseName = FileNameOf(r.requested).left(FileNameOf(r.requested).lastIndexOf('.'));
  // 34. The report file, named after the archive: a run that had no archive name writes none.
  if (!r.requested.isEmpty() && (r.automatic || l_.functionsList.Checked(opt::kFnUnattended) ||
                                 prefs_.Bool(QStringLiteral("FullReport")))) {
    if (onReportFile)
      onReportFile(r.requested);
    else
      seams_.WriteReportFile(r.requested);
  }
  // Nobody is there to answer the desktop's password question of an unattended run.
  const bool interactive = !r.automatic && !l_.functionsList.Checked(opt::kFnUnattended);
  const auto headWithShutdownFailure = [this](const QString& why) {
    resultText_ = QStringLiteral("Couldn't shut down: ") + why + QLatin1Char('\r') + resultText_;
  };
  QString shutdownFailure;
  // 35. Power down at the end. A machine that could not be hibernated is shut down instead;
  // one that cannot be powered down either goes on with the end of the run.
  if (l_.functionsList.Checked(opt::kFnShutdown)) {
    {
      THandlersDetached detached{&l_.functionsList};
      l_.functionsList.SetChecked(opt::kFnShutdown, false);
    }
    bool set = false;
    if (r.restorePoint && count_ >= 1) errorText_ = seams_.SetRestorePoint(baseName, set);
    // The run stops only when the machine is really going down; otherwise it ends as usual and
    // its closing message says why the machine is still up.
    QString why;
    if (!seams_.Hibernate(interactive, why)) {
      if (seams_.Shutdown(interactive, why))
        r.finished = false;
      else
        shutdownFailure = why;
    }
  }
  // 36. Restore point.
  if (r.finished && r.restorePoint) {
    MbNoticeText(resultText_ + QStringLiteral("\r.....Please Wait........\rCreating System "
                                              "Restore Point"),
                 kArcavo);
    Delay(1000);
    bool set = false;
    resultText_ = seams_.SetRestorePoint(baseName, set);
    MbNoticeClose();
    // A restore point that could not be set is a warning (and so a failure of an unattended
    // run, whose boxes nobody reads).
    if (set)
      MbInfo(resultText_);
    else
      MbMessage(resultText_, kArcavo, false, MB_ICONEXCLAMATION);
  }
  if (!shutdownFailure.isEmpty()) headWithShutdownFailure(shutdownFailure);
  // 37. The command line's end action, for the automatic run it started.
  const QString action = program_.ActionArg();
  if (!r.finished || !r.automatic || action.isEmpty()) return;
  if (action == QLatin1String("hibernate")) {
    // The automatic run goes on either way: after the resume, or when the machine stayed up.
    QString why;
    if (!seams_.Hibernate(false, why) && !seams_.Shutdown(false, why)) headWithShutdownFailure(why);
    Delay(500);
    if (LastBurnError.isEmpty()) MbMessage(resultText_, kArcavo, false, MB_OK);
    controls_.SetControlEnabled(S(bctl::kWriteButton), true);
    program_.SetAutoRunFile(QString());
  } else if (action == QLatin1String("shutdown")) {
    QString why;
    if (!seams_.Shutdown(false, why)) headWithShutdownFailure(why);
  } else if (action == QLatin1String("close")) {
    // The closing box is not shown once the program ends: a failure or files left out are
    // told as any box is without a user (standard error and the report file).
    if (LastExitStatus() != kExitOk && MbUnattended())
      MbMessage(resultText_, kArcavo, false, MB_ICONERROR);
    if (Verifies(r)) {
      r.closeAfterVerify = true;
      return;
    }
    CloseProgram();
  }
}

void TBackupRun::TellResult() {
  if (std::exchange(resultTold_, true)) return;
  emit runResult();
}

bool TBackupRun::Verifies(const TRunSteps& r) const {
  return l_.functionsList.Checked(opt::kFnVerify) && count_ >= 1 && !r.counting;
}

void TBackupRun::CloseProgram() {
  program_.RequestTerminate(LastExitStatus());
  // Nobody is there to answer the closing message.
  SetMbTerminating(true);
}

void TBackupRun::CleanUp(TRunSteps& r) {
  // 38. Clean-up.
  controls_.SetControlEnabled(S(bctl::kWriteButton), true);
  program_.SetAutoRunFile(QString());
  presetKind_ = 0;
  sizeCalcMode_ = false;
  program_.RunStateChanged(runInProgress_, sizeCalcMode_);
  controls_.SetControlEnabled(S(bctl::kSizeCalcButton), true);
  display_.ClearStatusBar();
  // The engine is idle again before the closing message: the archive test takes it for itself,
  // with the password the archive was written with (the session's end forgets it).
  std::string password = zip_.Password;
  r.session.reset();

  // 39. Verify, or tell. The test's own box is the closing message; a test that found bad or
  // skipped entries makes the run a failed one. Without an archive test, the message says so.
  // A counting run only measures: the size calculator shows what it found, and no box.
  if (Verifies(r)) {
    const TVerifyResult verified = seams_.VerifyArchive(ZipName(), password);
    switch (verified.outcome) {
      case TVerifyResult::Passed:
        resultText_ = verified.text;
        break;
      case TVerifyResult::Failed:
        resultText_ = verified.text;
        succeeded_ = false;
        break;
      case TVerifyResult::Unavailable:
        resultText_ += S(runmsg::kVerifyUnavailable);
        MbMessage(resultText_, kArcavo, false, MB_ICONEXCLAMATION);
        break;
    }
    if (r.closeAfterVerify) CloseProgram();
    TellResult();
  } else if (!r.counting) {
    // Told before the closing box, which may wait long for a user who is away.
    TellResult();
    MbMessage(resultText_, kArcavo, false, MB_OK);
  }

  // 40.-42.
  WipeSecret(password);
  WipeSecret(zip_.Password);
  if (cdStaging_) EndStaging();
  display_.TrayAnimation(false);
  display_.TrayIcon(1);
  controls_.SetControlVisible(S(bctl::kTrayPauseItem), false);
  controls_.SetControlVisible(S(bctl::kTrayResumeItem), false);
  display_.StartSchedulerTimer();
}
