#include "automation/stealth.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <cstring>

#include "app/mb.h"
#include "archive/arczip.h"

namespace {

QString Folder(const QString& path) {
  QFileInfo info(path);
  return info.isDir() ? QDir::cleanPath(path) : QDir::cleanPath(info.absolutePath());
}

QString FolderOfFile(const QString& path) {
  const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
  if (slash < 0) return {};
  return slash == 0 ? QStringLiteral("/") : path.left(slash);
}

QString AllFiles(const QString& folder) {
  return (folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/')) +
         QStringLiteral("*.*");
}

bool AskYes(const char* text) {
  return MbMessage(QString::fromLatin1(text), QString(), false, MB_YESNO + MB_ICONQUESTION) ==
         IDYES;
}

}  // namespace

TStealth::TStealth(IStealthHost& host) : host_(host) {}

void TStealth::DeliverOnMainThread() {
  TDirMonitor::SetDispatcher([](std::function<void()> call) {
    if (QCoreApplication* app = QCoreApplication::instance())
      QMetaObject::invokeMethod(app, std::move(call), Qt::QueuedConnection);
  });
}

TStealth::~TStealth() {
  FreeDirMonitors();
}

bool TStealth::PathContains(const QString& path, const QString& folder) {
  const QString p = QDir::cleanPath(path), f = QDir::cleanPath(folder);
  if (p.isEmpty() || f.isEmpty()) return false;
  if (p == f) return true;
  const QString prefix = p.endsWith(QLatin1Char('/')) ? p : p + QLatin1Char('/');
  return f.startsWith(prefix);
}

void TStealth::StealthExcludes(TStealthEngineSettings& s) const {
  s.excludeZip = host_.StealthExclZip();
}

bool TStealth::Recursion() const {
  return host_.JobRecursion() || host_.MonitorSubDirectories();
}

void TStealth::StartStealth() {
  QStringList ticked = host_.TickedPaths();
  if (ticked.isEmpty() || !host_.ArchiveName().toUpper().contains(QStringLiteral("STEALTH"))) {
    MbInfo(QString::fromLatin1(kNothingDefined));
    return;
  }
  // The engine's lists are emptied and the exclude lists built from the grid.
  host_.SetStealthListEnabled(false);
  TStealthEngineSettings settings;
  settings.archiveBitOnly = true;
  settings.recurse = Recursion();
  StealthExcludes(settings);
  host_.ConfigureEngine(settings);
  host_.SetIncludeList({});
  saved_.clear();
  // A refusal below leaves the list usable again.
  auto refuse = [&] { host_.SetStealthListEnabled(true); };

  const QString archiveFolder = FolderOfFile(host_.ArchiveName());
  if (!archiveFolder.isEmpty() && !QFileInfo(archiveFolder).isDir()) {
    if (MbChoice(archiveFolder + QStringLiteral("\r") + QString::fromLatin1(kNoSuchDirectory),
                 QString(), 2, QStringLiteral("Create|Cancel")) != 11) {
      refuse();
      return;
    }
    if (!QDir().mkpath(archiveFolder)) {
      const int err = errno;
      MbInfo(archiveFolder + QStringLiteral("\r") +
             QString::fromLocal8Bit(std::strerror(err ? err : EACCES)));
      refuse();
      return;
    }
  }

  bool containsArchive = false;
  for (const QString& p : ticked) {
    // The folder a ticked path is watched through holds the archive (or is above it).
    if (!archiveFolder.isEmpty() && PathContains(Folder(p), archiveFolder)) {
      containsArchive = true;
      break;
    }
    if (!QFileInfo(p).exists() && !p.contains(QLatin1Char('/')))
      MbInfo(p + QStringLiteral("\r") + QString::fromLatin1(kFileMissing));
  }
  if (containsArchive && !host_.StealthExclZip()) {
    MbInfo(QString::fromLatin1(kSameDirectory));
    saved_.clear();
    refuse();
    return;
  }

  QStringList include, list;
  for (qsizetype i = ticked.size() - 1; i >= 0; --i) {
    QString p = ticked[i];
    CreateMonitor(p);
    if (QFileInfo(p).isDir()) {
      p = AllFiles(p);
      include << p;
    }
    list << p;
  }
  host_.SetIncludeList(include);
  if (host_.ArchiveExists()) host_.OpenArchive();
  host_.CheckAddVersioning();
  saved_ = list;

  host_.Minimise();
  DirMonArrayStopStart(true);
}

void TStealth::CreateMonitor(const QString& path) {
  const QString folder = Folder(path);
  for (const auto& m : monitors_)
    if (QString::fromStdString(m->Directory) == folder) return;
  auto m = std::make_unique<TDirMonitor>();
  m->Directory = folder.toStdString();
  m->FilterNotification = nfFILE_NAME | nfSIZE | nfLAST_WRITE;
  m->FilterAction = ActionBit(TFileAction::faADDED) | ActionBit(TFileAction::faMODIFIED);
  m->WatchSubtree = host_.MonitorSubDirectories();
  m->OnChange = [this](TDirMonitor&, TFileAction, const std::string& changed) {
    OnChange(QString::fromStdString(changed));
  };
  monitors_.push_back(std::move(m));
}

void TStealth::DirMonArrayStopStart(bool start) {
  if (start) {
    host_.SetTrayStealth(true);
    if (monitors_.empty()) return;
    running_ = true;
    for (auto& m : monitors_) {
      try {
        m->SetActive(true);
      } catch (const TDirMonitorError& e) {
        // A folder that cannot be watched stops stealth mode as a whole: a pass that silently
        // skipped it would look like a working backup.
        MbInfo(QString::fromStdString(e.what()));
        DirMonArrayStopStart(false);
        return;
      }
    }
    return;
  }
  if (host_.WindowHidden()) {
    host_.SetTrayStealth(false);
    host_.TrayAnimation(false);
  }
  for (auto& m : monitors_) m->SetActive(false);
  running_ = false;
}

void TStealth::FreeDirMonitors() {
  for (auto& m : monitors_) m->SetActive(false);
  monitors_.clear();
  running_ = false;
}

bool TStealth::OwnFile(const QString& path) const {
  const QString archive = QDir::cleanPath(host_.ArchiveName());
  if (archive.isEmpty()) return false;
  const QString p = QDir::cleanPath(path);
  if (p == archive) return true;
  // The temporary the engine writes beside the archive before renaming it into place.
  const QString temp = FolderOfFile(archive) + QStringLiteral("/.") +
                       archive.mid(archive.lastIndexOf(QLatin1Char('/')) + 1) +
                       QString::fromLatin1(kTempBesideInfix);
  return p.startsWith(temp);
}

void TStealth::ArmCountdown() {
  count_ = 0;
  if (!host_.GeneralTimerActive()) host_.StartGeneralTimer(kTickMs);
}

void TStealth::OnChange(const QString& path) {
  if (OwnFile(path)) return;
  if (inPass_) {
    // Stored by this pass or not, it gets a pass of its own after this one.
    changedInPass_ = true;
    return;
  }
  if (host_.ArchiveHasEntries() && !firstWriteDue_) {
    ArmCountdown();
    return;
  }
  // A new, empty stealth archive is written at once, but never while the engine is busy (this
  // report may arrive from inside a running operation): then the write waits for it to end.
  if (writing_ || host_.ArchiveBusy()) {
    firstWriteDue_ = true;
    ArmCountdown();
    return;
  }
  WriteFirst();
}

void TStealth::WriteFirst() {
  firstWriteDue_ = false;
  writing_ = true;
  const QString error = host_.AddFiles(saved_);
  writing_ = false;
  ++passes_;
  if (!error.isEmpty()) MbInfo(error);
}

void TStealth::Tick() {
  if (firstWriteDue_) {
    if (writing_ || host_.ArchiveBusy()) return;  // the timer keeps ticking until it has ended
    if (!host_.ArchiveHasEntries()) {
      host_.StopGeneralTimer();
      WriteFirst();
      return;
    }
    firstWriteDue_ = false;  // written meanwhile: what changed counts down as usual
  }
  if (count_ < kQuietTicks) {
    ++count_;
    return;
  }
  host_.StopGeneralTimer();
  if (running_) {
    // The watches stay: what changes during the pass starts a new countdown after it.
    StealthNow();
    if (changedInPass_) {
      changedInPass_ = false;
      ArmCountdown();
    }
  } else if (instantFlag_) {
    MbNoticeClose();
    WriteInstantBackup();
  }
}

void TStealth::StealthNow() {
  if (inPass_) return;
  if (host_.ArchiveBusy()) {
    // Skipped, not forgotten: the countdown starts again and the pass follows the operation.
    ArmCountdown();
    return;
  }
  inPass_ = true;
  host_.TrayAnimation(true);
  QString error;
  if (!saved_.isEmpty() && host_.ArchiveExists()) {
    host_.MakeVersionFolder();
    error = host_.AddFiles(saved_);
    ++passes_;
  }
  host_.Delay(1000);
  host_.TrayAnimation(false);
  inPass_ = false;
  if (!error.isEmpty()) MbInfo(error);
}

void TStealth::HotkeyBackup(bool inTray, bool trayStealth) {
  if (host_.ArchiveBusy() || !host_.ArchiveName().contains(QStringLiteral("stealth_")) || !inTray)
    return;
  const QStringList ticked = host_.TickedPaths();
  if (ticked.isEmpty()) return;
  if (!trayStealth && saved_.isEmpty()) {
    // Prepared as for stealth mode, without monitors.
    TStealthEngineSettings settings;
    settings.recurse = Recursion();
    StealthExcludes(settings);
    host_.ConfigureEngine(settings);
    for (const QString& p : ticked) saved_ << (QFileInfo(p).isDir() ? AllFiles(p) : p);
    if (host_.ArchiveExists()) host_.OpenArchive();
  }
  // Monitors keep watching during the pass; what they report meanwhile is counted down after.
  StealthNow();
  host_.ClearStatusBar();
  if (changedInPass_) {
    changedInPass_ = false;
    if (running_) ArmCountdown();
  }
}

void TStealth::AddInstantPath(const QString& path) {
  if (!instantFlag_) {
    instantFlag_ = true;
    host_.TrayAnimation(false);
    TStealthEngineSettings settings;
    settings.archiveBitOnly = false;
    settings.recurse = true;
    settings.noExcludes = true;
    host_.ConfigureEngine(settings);
    instantArchive_ = host_.ArchiveName();
  }
  // Also when a cancelled collection goes on: the clean-up started the monitors again.
  if (running_) {
    instantWasRunning_ = true;
    DirMonArrayStopStart(false);
  }
  if (!host_.GeneralTimerActive()) {
    QString note;
    instantDelete_ = host_.ShiftHeld();
    if (host_.ControlHeld()) note += QStringLiteral("CTRLkey=Subdirectories");
    if (instantDelete_) note += QStringLiteral("\r   SHFTkey=deletion   ");
    if (!note.isEmpty()) {
      MbNoticeSpec notice;
      notice.text = note;
      notice.caption = QStringLiteral("Instant Backup");
      notice.withCancel = true;
      notice.cancelTarget = host_.NoticeCancelTarget();
      MbNotice(notice);
    }
    host_.StartGeneralTimer(kTickMs);
  }
  instant_ << (QFileInfo(path).isDir() ? AllFiles(path) : path);
  if (host_.ArchiveExists()) host_.MakeVersionFolder();
  count_ = 0;
}

void TStealth::WriteInstantBackup() {
  if (!instantFlag_) return;
  if (host_.ArchiveBusy()) {
    // The engine is not free: the collection waits for another countdown instead of failing
    // (and being forgotten) now.
    ArmCountdown();
    return;
  }
  host_.StopGeneralTimer();
  host_.TrayAnimation(true);
  TStealthEngineSettings settings;
  settings.archiveBitOnly = false;
  // A handed-over folder is taken with its sub-folders, whatever keys were held.
  settings.recurse = true;
  settings.deleteSources = instantDelete_;
  settings.noExcludes = true;
  host_.ConfigureEngine(settings);
  const QString error = host_.AddFiles(instant_);
  if (!error.isEmpty()) MbInfo(error);
  instantDelete_ = false;
  instantFlag_ = false;
  IMgrTriggerCleanUp();
  host_.SetArchiveName(instantArchive_);
  instant_.clear();
  host_.SetAutoRunFile(QString());
}

void TStealth::IMgrTriggerCleanUp() {
  host_.TrayAnimation(false);
  TStealthEngineSettings settings;
  settings.archiveBitOnly = true;
  settings.recurse = Recursion();
  settings.deleteSources = host_.MoveThenDelete();
  StealthExcludes(settings);
  host_.ConfigureEngine(settings);
  if (instantWasRunning_) {
    instantWasRunning_ = false;
    DirMonArrayStopStart(true);
  }
}

bool TStealth::ToggleEnabled(bool checked) {
  if (checked) FreeDirMonitors();
  return !checked;
}

bool TStealth::ToggleExclZip(bool checked) {
  if (checked && AskYes(kExclZipQuestion)) return true;
  return !checked;
}

bool TStealth::ToggleAutoRename(bool checked) {
  if (checked && AskYes(kAutoRenameQuestion)) return true;
  return !checked;
}
