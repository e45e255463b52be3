#include "backup/backuprun.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <cmath>
#include <cstdio>
#include <system_error>
#include <vector>

#include "app/archivename.h"
#include "app/checkstore.h"
#include "app/clock.h"
#include "app/controlhost.h"
#include "app/inclusiongrid.h"
#include "app/maincontext.h"
#include "app/mb.h"
#include "app/optionnames.h"
#include "app/optionscontroller.h"
#include "app/preferences.h"
#include "app/sourcelists.h"
#include "archive/arczip.h"
#include "archive/zipexceptions.h"
#include "backup/appziphost.h"
#include "backup/naming.h"
#include "platform/programdir.h"

namespace {

QString S(const char* s) {
  return QString::fromLatin1(s);
}

const QString kArcavo = QStringLiteral("Arcavo");

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

QString RunResultText(const QString& errorText, int count) {
  const QString suffix = count == 1 ? QStringLiteral(" was") : QStringLiteral("s were");
  const QString head = errorText.isEmpty() ? S(runmsg::kSuccess) : errorText + QStringLiteral("\r");
  return head + QString::number(count) + QStringLiteral(" file/DIR") + suffix +
         QStringLiteral(" added");
}

int64_t MaxSizeBytes(const QString& text) {
  if (TOptionEdit::IsNumber(text)) return TOptionEdit::Bytes(text);
  QString digits;
  for (const QChar c : text) {
    if (c.isDigit())
      digits += c;
    else if (c != QLatin1Char('.') && c != QLatin1Char('+') && c != QLatin1Char('-'))
      break;
  }
  bool ok = false;
  const qint64 mb = digits.toLongLong(&ok);
  return ok ? mb * 1000000 : 0;
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
  zip_.OnStartZipInfo = [this](TArcUnZip::TSender, int numFiles, int64_t totalBytes, TEndCentral&,
                               bool& stopNow) {
    if (CountingOnlyStop(numFiles, totalBytes, stopNow)) return;
    if (onStartZipInfo) onStartZipInfo(numFiles, totalBytes, stopNow);
  };
  setEntryPath = [this](int index, const std::string& path) { zip_.SetEntryPath(index, path); };
  makeSelfExtractor = [this](const std::string& stub, const std::string& name) {
    return WriteSelfExtractor(stub, name);
  };
}

TBackupRun::~TBackupRun() {
  if (ownHost_ && zip_.Host == ownHost_.get()) zip_.Host = nullptr;
  zip_.OnStartZipInfo = nullptr;
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
  sizeCalcMode_ = true;
  program_.RunStateChanged(runInProgress_, sizeCalcMode_);
  SetArchiveName(name, true);
  WriteZbtnClick();
  sizeCalcMode_ = false;
  program_.RunStateChanged(runInProgress_, sizeCalcMode_);
  SetArchiveName(saved, true);
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

// ---- The previous archive ------------------------------------------------------------------

bool TBackupRun::MoveAside(const QString& name) {
  RestoreAside(false);
  const QString folder = FolderOf(name);
  const QString base = folder +
                       (folder.endsWith(QLatin1Char('/')) ? QString() : QStringLiteral("/")) +
                       QLatin1Char('.') + FileNameOf(name) + QStringLiteral(".previous");
  QString aside = base;
  struct stat st;
  for (int n = 1; ::lstat(PathBytes(aside).c_str(), &st) == 0; ++n)
    aside = base + QString::number(n);
  if (::rename(PathBytes(name).c_str(), PathBytes(aside).c_str()) != 0) return false;
  asideFrom_ = name;
  asideTo_ = aside;
  return true;
}

void TBackupRun::RestoreAside(bool keepNew) {
  if (asideTo_.isEmpty()) return;
  const std::string to = PathBytes(asideTo_);
  if (keepNew)
    ::unlink(to.c_str());
  else
    ::rename(to.c_str(), PathBytes(asideFrom_).c_str());
  asideFrom_.clear();
  asideTo_.clear();
}

bool TBackupRun::FileExisted(const QString& name) {
  const bool wasAdd = addMode_;
  addMode_ = false;
  const bool exists = PathExists(name);
  if (!exists || wasAdd || l_.modeList.Checked(opt::kModeUpdate) ||
      l_.modeList.Checked(opt::kModeRefresh))
    return false;
  if (l_.functionsList.Checked(opt::kFnVersioning)) return false;
  if (sizeCalcMode_) return true;
  if (l_.functionsList.Checked(opt::kFnUnattended)) {
    // The old archive is kept aside until the new one is complete.
    MoveAside(name);
    return false;
  }
  const int answer = MbChoice(S(runmsg::kExists), kArcavo, 2, QStringLiteral("Replace|Add|Cancel"));
  if (answer == 11) {
    zip_.CloseArchive();
    MoveAside(name);
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
  commentText_ = QString::fromStdString(zip_.ArchiveComment());
  if (onRunStart) onRunStart();
}

void TBackupRun::WriteZbtnClick() {
  const bool counting = sizeCalcMode_;
  // 4. (first, whatever the selection now is) While a run is on, a click only offers to cancel
  // it; a run being cancelled, or counting, ignores further clicks.
  if (running_) {
    if (runInProgress_ && !counting &&
        MbMessage(S(runmsg::kAbortQuestion), kArcavo, false, MB_OKCANCEL) == IDOK)
      CancelZIP();
    return;
  }
  SyncArchiveName();

  // 1., 2. Something to back up, and something to include. A run without the user (command
  // line, hand-over, scheduler) backs up its job's selection only: what happens to be
  // highlighted in the tree (the home folder at start) is never taken in its place.
  const bool automatic = !program_.AutoRunFile().isEmpty();
  const std::vector<std::string> ticked = ticks_.TickedPaths();
  const std::vector<std::string> highlighted =
      automatic ? std::vector<std::string>{} : display_.HighlightedPaths();
  const QString refusal = SelectionPrecondition(grid_, ticked, highlighted);
  if (!refusal.isEmpty()) {
    MbMessage(refusal, kArcavo, false, MB_ICONEXCLAMATION);
    return;
  }
  QString requested;
  if (counting) {
    // 3. A counting-only run goes straight to the engine settings.
    if (targetDriveKind_ == 1) SetArchiveName(PathText(ProgramDir()) + FileNameOf(ZipName()), true);
  } else {
    // 5. Stealth archives are not written by the normal run.
    if (ZipName().contains(QLatin1String("stealth_"))) {
      MbInfo(S(runmsg::kStealthName));
      return;
    }
    // 6. Preparation.
    LastBurnError.clear();
    cdStaging_ = false;
    discFound_ = false;
    requested = ZipName();
    targetDriveKind_ = seams_.GetDriveTypeEx(requested);

    // 7.-12. A disc target is written in parts into the program folder and burnt.
    if (targetDriveKind_ == 1 || (targetDriveKind_ == 2 && !seams_.BurnerNative())) {
      if (!seams_.BurnerConfigured()) seams_.CDBurner1Click();
      const TCDtypes disc = seams_.GetCDDetails();
      if (!disc.Ready) {
        MbInfo(S(runmsg::kCdCheckout));
        return;
      }
      discFound_ = true;
      discFree_ = seams_.CheckCDHasSize(disc);
      if (discFree_ == 0 || discFree_ == 13) return;
      const bool dvd = disc.TypeName.contains(QLatin1String("DVD"));
      {
        THandlersDetached detached{&l_.sizeList};
        if (!seams_.BurnerSizingAuto() && !dvd)
          l_.sizeList.SetChecked(disc.Kind == 1 ? opt::kSizeCdr650 : opt::kSizeCdrw540, true);
      }
      SetArchiveName(PathText(ProgramDir()) + FileNameOf(requested), true);
      const uint32_t free = diskSpaceKb(TempPath());
      if (prefs_.Bool(QStringLiteral("CheckTempSpace")) && free < (dvd ? 6200000u : 1200000u)) {
        MbInfo(S(runmsg::kNoTempSpace));
        SetArchiveName(requested, true);
        return;
      }
      cdStaging_ = true;
      THandlersDetached detached{&l_.directoryList};
      l_.directoryList.SetChecked(opt::kDirSpan, true);
      l_.directoryList.SetItemEnabled(opt::kDirSpan, false);
      l_.directoryList.SetItemEnabled(opt::kDirDirectoryFirstDisk, false);
      l_.directoryList.SetChecked(opt::kDirDirectoryFirstDisk, false);
    }

    // 13. An existing archive; a staging stopped here is undone.
    if (l_.basicList.Checked(opt::kBasicAll) && FileExisted(ZipName())) {
      if (cdStaging_) {
        EndStaging();
        SetArchiveName(requested, true);
      }
      return;
    }

    // 14. The controls of a running backup.
    StartControls();
  }
  running_ = true;

  // 15. The grid's lists.
  EngineLists grid;
  ReadGridLists(grid_, grid);
  zip_.FilesList.clear();
  zip_.ExcludeList.clear();
  zip_.NoCompressList.clear();

  // 16. No password yet; "Erase Disk First" only for removable targets.
  zip_.Password.clear();
  if (seams_.GetDriveTypeEx(ZipName()) == 0) {
    THandlersDetached detached{&l_.directoryList};
    l_.directoryList.SetItemEnabled(opt::kDirErase, false);
    l_.directoryList.SetChecked(opt::kDirErase, false);
  }

  // 17. Engine settings from a clean state, so only this run's mode acts.
  zip_.ZipAction = TZipAction::zaReplace;
  zip_.SkipIfArchiveBitNotSet = false;
  zip_.ResetArchiveBitOnZip = false;
  zip_.Dispose = false;
  zip_.MultiZipInfo.SaveOnFirstDisk = 0;
  zip_.MultiZipInfo.BlockSize = 0;
  zip_.MultiZipInfo.FirstBlockSize = 0;
  // Follows "Include Directory 1st Disk" on every run.
  zip_.MultiZipInfo.SaveZipInfoOnFirstDisk = false;
  zip_.MultiZipInfo.MultiMode = TMultiMode::mmNone;
  zip_.OnFileNameForSplitPart = [this](TArcUnZip::TSender, std::string& fname, int part,
                                       TSplitPartType type) {
    if (onFileNameForSplitPart) onFileNameForSplitPart(fname, part, static_cast<int>(type));
  };
  zip_.TempPath = PathBytes(TempPath());

  // The run stops before the engine started: the stale cancel request is withdrawn, and the
  // button, the cursor, the archive name, the staging and a previous archive are as before the
  // click.
  auto stopBeforeEngine = [&] {
    CancelZIP();
    zip_.PauseOperation();
    zip_.ResumeOperation();
    RestoreAside(false);
    display_.SetBusyCursor(false);
    controls_.SetControlEnabled(S(bctl::kWriteButton), true);
    if (cdStaging_) EndStaging();
    if (!counting && ZipName() != requested) SetArchiveName(requested, true);
    running_ = false;
    if (counting) SetSizeCalcMode(false);
  };

  // 18. Encryption.
  if (l_.directoryList.Checked(opt::kDirEncrypt) && !counting) {
    zip_.Password = dialogs_.ShowPasswordDialog().toUtf8().toStdString();
    // Without a user nobody typed a password: the files that were to be encrypted are not
    // written in the clear.
    if (zip_.Password.empty() && MbUnattended()) {
      MbMessage(S(runmsg::kNoPassword), kArcavo, false, MB_ICONERROR);
      stopBeforeEngine();
      return;
    }
    zip_.OnBadPassword = [this](TArcUnZip::TSender, int index, std::string& password) {
      if (onBadPassword) onBadPassword(index, password);
    };
  }

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
      zip_.Dispose = true;
      break;
    default:
      break;
  }
  zip_.StoreVolumes = l_.directoryList.Checked(opt::kDirVolumeNames);
  if (l_.directoryList.Checked(opt::kDirHidden)) {
    zip_.IncludeHiddenFiles = true;
    zip_.IncludeSysFiles = true;
  }
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
  if (l_.directoryList.Checked(opt::kDirSpan)) {
    zip_.MultiZipInfo.MultiMode = TMultiMode::mmSpan;
    zip_.MultiZipInfo.WriteDiskLabels = !l_.directoryList.Checked(opt::kDirSpanNoVolume);
    const QString firstText = l_.firstDiskEdit.text();
    const int64_t firstFree = TOptionEdit::IsNumber(firstText) ? TOptionEdit::Bytes(firstText) : 0;
    zip_.MultiZipInfo.SaveOnFirstDisk = firstFree;
    const int64_t max = MaxSizeBytes(l_.maxSizeEdit.text());
    if (max > 0 || cdStaging_) {
      zip_.MultiZipInfo.SaveOnFirstDisk = 0;
      zip_.MultiZipInfo.MultiMode = TMultiMode::mmBlocks;
      int64_t block = max;
      if (cdStaging_ && !(max > 0 && max < discFree_ * 1000)) block = discFree_ * 1000;
      zip_.MultiZipInfo.BlockSize = block;
      if (block <= 0) {
        MbMessage(S(runmsg::kAllocationError), kArcavo, false, MB_ICONERROR);
        stopBeforeEngine();
        return;
      }
      zip_.MultiZipInfo.FirstBlockSize = block - firstFree;
    }
    if (l_.directoryList.Checked(opt::kDirDirectoryFirstDisk))
      zip_.MultiZipInfo.SaveZipInfoOnFirstDisk = true;
  }

  // 21. Progress display; the scheduler waits.
  if (display_.TrayIconShown())
    display_.TrayAnimation(true);
  else
    display_.GaugeMoving();
  display_.StopSchedulerTimer();

  // 22. The selection as the engine's file list; the report box serves as scratch list.
  display_.ReportSuspend(true);
  display_.ReportClear();
  const bool restorePoint = l_.functionsList.Checked(opt::kFnRestore);
  const EngineLists lists = BuildEngineLists(grid_, ticked, highlighted, restorePoint);
  for (const std::string& s : lists.sources) display_.ReportAdd(PathText(s));
  if (QCoreApplication::instance()) QCoreApplication::processEvents();
  display_.ReportSuspend(false);

  // 24.-28. Versioning and writing; an engine failure becomes the head of the closing text.
  errorText_.clear();
  count_ = 0;
  succeeded_ = false;
  const QString name = ZipName();
  const bool exe = FileExtension(name).toUpper() == QLatin1String(".EXE");
  bool versioned = false;
  try {
    // The entries get their version folder in memory; the write below stores the change with
    // the new files in one atomic rewrite of the archive.
    if (l_.functionsList.Checked(opt::kFnVersioning) && PathExists(name) && !counting) {
      versioned = true;
      MakeVerDIR(zip_, CurrentClock().Now(), [this](int index, const std::string& path) {
        if (setEntryPath)
          setEntryPath(index, path);
        else
          zip_.SetEntryPath(index, path);
      });
    }
    zip_.FilesList = lists.files;
    zip_.ExcludeList = lists.exclude;
    zip_.NoCompressList = lists.noCompress;
    // The previous archive, kept aside, is not part of the new one.
    if (!asideTo_.isEmpty()) zip_.ExcludeList.push_back(PathBytes(asideTo_));
    if (!counting) {
      display_.ReportClear();
      display_.ReportAdd(QStringLiteral("Beginning Add to ") + name);
    }
    runStartTick_ = CurrentClock().TickMs();
    if (onEngineStart) onEngineStart();
    display_.SetBusyCursor(false);
    if (exe && !counting) {
      const std::string stub = sfxStub.empty() ? ResourcePath("ArcSFX32.bin") : sfxStub;
      if (stub.empty()) throw EArcZipException("Self-extractor stub ArcSFX32.bin not found");
      // An existing file to be replaced was moved aside by FileExisted ("Replace", unattended).
      // One the run keeps (Add, update, refresh, changed files, versioning) is rewritten with its
      // entries, as a ".zip" is: replacing it would lose every entry the run does not store.
      SkippedList.clear();
      display_.GaugePercent();
      count_ = makeSelfExtractor ? makeSelfExtractor(stub, PathBytes(name))
                                 : WriteSelfExtractor(stub, PathBytes(name));
    } else {
      if (PathExists(name) && !counting) {
        SkippedList.clear();
        display_.GaugePercent();
      }
      count_ = zip_.ZipFiles();
    }
  } catch (const EArcZipException& e) {
    errorText_ = QString::fromStdString(e.what()) + QStringLiteral(" ");
  } catch (const std::system_error& e) {
    // A platform failure (a folder that cannot be written, a full disk) fails the run like an
    // engine error instead of ending the program.
    errorText_ = QString::fromLocal8Bit(e.what()) + QStringLiteral(" ");
  }
  if (!counting) {
    succeeded_ = errorText_.isEmpty() && PathExists(name);
    // The previous archive goes only once the new one is complete.
    RestoreAside(succeeded_);
    // Version folders given in memory belong to this run: when it wrote nothing (it failed, was
    // cancelled or had nothing to store), they are dropped, so that no later run writes them.
    if (versioned && (!succeeded_ || count_ == 0)) ForgetArchiveInMemory();
  }

  // 29., 30. The closing text.
  zip_.FilesList.clear();
  display_.DiscAnimation(false);
  resultText_ = RunResultText(errorText_, count_);

  // 31. The requested name again (a counting-only run leaves it to the size calculator).
  if (counting) {
    zip_.SetZipName(std::string());
    program_.ArchiveNameChanged(QString());
  } else if (ZipName() != requested) {
    SetArchiveName(requested, true);
  }
  const QString baseName = FileNameOf(requested).left(FileNameOf(requested).lastIndexOf('.'));

  // 32. Controls.
  runInProgress_ = false;
  program_.RunStateChanged(runInProgress_, sizeCalcMode_);
  WriteCaption(false);
  exeMode_ = false;
  display_.SetBusyCursor(false);
  display_.TrayAnimation(false);

  bool finished = true;
  if (!counting) {
    // 33. After a backup.
    if (display_.ReportLineCount() == 0) display_.ReportAdd(QStringLiteral("No files missed"));
    if (l_.modeList.Checked(opt::kModeMove)) {
      THandlersDetached detached{&l_.modeList};
      l_.modeList.SetChecked(opt::kModeCopy, true);
      zip_.Dispose = false;
    }
    const bool shutdownTicked = l_.functionsList.Checked(opt::kFnShutdown);
    if (shutdownTicked && discFound_) {
      MbNoticeSpec wait;
      wait.text = S(runmsg::kFinishingEject);
      wait.withGauge = true;
      wait.gaugeMax = 10;
      MbNotice(wait);
      for (int i = 0; i < 10; ++i) {
        Delay(2000);
        MbNoticeStep(1);
      }
      seams_.OpenCD(seams_.BurnerDriveRoot());
      MbNoticeClose();
    }
    // 34. The report file.
    if (automatic || l_.functionsList.Checked(opt::kFnUnattended) ||
        prefs_.Bool(QStringLiteral("FullReport"))) {
      if (onReportFile)
        onReportFile(requested);
      else
        seams_.WriteReportFile(requested);
    }
    // 35. Power down at the end.
    if (shutdownTicked) {
      {
        THandlersDetached detached{&l_.functionsList};
        l_.functionsList.SetChecked(opt::kFnShutdown, false);
      }
      if (restorePoint && count_ >= 1) errorText_ = seams_.SetRestorePoint(baseName);
      if (!seams_.Hibernate()) {
        seams_.Shutdown();
        finished = false;
      }
    }
    // 36. Restore point.
    if (finished && restorePoint) {
      MbNoticeText(resultText_ + QStringLiteral("\r.....Please Wait........\rCreating System "
                                                "Restore Point"),
                   kArcavo);
      Delay(1000);
      resultText_ = seams_.SetRestorePoint(baseName);
      MbNoticeClose();
      MbInfo(resultText_);
    }
    // 37. The command line's end action, for the automatic run it started.
    const QString action = program_.ActionArg();
    if (finished && automatic && !action.isEmpty()) {
      if (action == QLatin1String("hibernate")) {
        if (!seams_.Hibernate()) seams_.Shutdown();
        Delay(500);
        if (LastBurnError.isEmpty()) MbMessage(resultText_, kArcavo, false, MB_OK);
        controls_.SetControlEnabled(S(bctl::kWriteButton), true);
        program_.SetAutoRunFile(QString());
      } else if (action == QLatin1String("shutdown")) {
        seams_.Shutdown();
      } else if (action == QLatin1String("close")) {
        program_.RequestTerminate(succeeded_ ? 0 : kExitRunFailed);
        // Nobody is there to answer the closing message.
        SetMbTerminating(true);
      }
    }
  }

  if (finished) {
    // 38. Clean-up.
    controls_.SetControlEnabled(S(bctl::kWriteButton), true);
    program_.SetAutoRunFile(QString());
    presetKind_ = 0;
    sizeCalcMode_ = false;
    program_.RunStateChanged(runInProgress_, sizeCalcMode_);
    controls_.SetControlEnabled(S(bctl::kSizeCalcButton), true);
    display_.ClearStatusBar();

    // 39. Verify, or tell.
    if (l_.functionsList.Checked(opt::kFnVerify) && count_ >= 1 && !counting)
      resultText_ = seams_.VerifyArchive(ZipName());
    else
      MbMessage(resultText_, kArcavo, false, MB_OK);

    // 40.-42.
    zip_.Password.clear();
    if (cdStaging_) EndStaging();
    display_.TrayAnimation(false);
    display_.TrayIcon(1);
    controls_.SetControlVisible(S(bctl::kTrayPauseItem), false);
    controls_.SetControlVisible(S(bctl::kTrayResumeItem), false);
    display_.StartSchedulerTimer();
  }
  running_ = false;
  emit runFinished(succeeded_);
}
