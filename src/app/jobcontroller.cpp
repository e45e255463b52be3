#include "app/jobcontroller.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>
#include <optional>
#include <system_error>

#include "app/archivename.h"
#include "app/checkstore.h"
#include "app/clock.h"
#include "app/commandline.h"
#include "app/controlhost.h"
#include "app/filedialoghost.h"
#include "app/filemenuhandler.h"
#include "app/jobhosts.h"
#include "app/mb.h"
#include "app/sourcelists.h"
#include "platform/inifile.h"
#include "platform/programdir.h"

namespace {

const QStringList kJobExts{QStringLiteral(".JOB"), QStringLiteral(".CAT")};

QString ProgramDirText() {
  return PathText(ProgramDir());
}

// The path without the extension of its file-name part.
QString WithoutExtension(const QString& path) {
  return path.left(path.size() - FileExtension(path).size());
}

QString FolderOf(const QString& path) {
  const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
  if (slash < 0) return {};
  return slash == 0 ? QStringLiteral("/") : path.left(slash);
}

QString FileNameOf(const QString& path) {
  return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

// Marks a job opening as running for as long as it lives.
struct ReentranceGuard {
  bool& flag;
  explicit ReentranceGuard(bool& f) : flag(f) { flag = true; }
  ~ReentranceGuard() { flag = false; }
  ReentranceGuard(const ReentranceGuard&) = delete;
  ReentranceGuard& operator=(const ReentranceGuard&) = delete;
};

void ReportWriteFailure(const QString& file, const std::exception& e) {
  MbMessage(QStringLiteral("Cannot write ") + file + QStringLiteral("\r") +
                QString::fromLocal8Bit(e.what()),
            QStringLiteral("Arcavo"), false, MB_OK + MB_ICONEXCLAMATION);
}

}  // namespace

bool HasExtension(const QString& file, const QStringList& exts) {
  const QString ext = FileExtension(file);
  for (const QString& e : exts) {
    if (ext.compare(e, Qt::CaseInsensitive) == 0) return true;
  }
  return false;
}

QString NotAJobMessage(const QString& file, const std::string& why) {
  return file + QStringLiteral("\ris not a job file (") + QString::fromStdString(why) +
         QStringLiteral(")");
}

QString JobSettingsFile(const QString& jobFile) {
  const QString base = WithoutExtension(jobFile);
  const QString exact = base + QStringLiteral(".INI");
  if (PathIsFile(exact)) return exact;
  // Any case of the extension and of the name, as a settings file copied from another system
  // may be named job.ini or JOB.Ini. The folder is read as bytes, so names that are not UTF-8
  // are found too.
  const QString folder = FolderOf(jobFile);
  const QString wanted = FileNameOf(base) + QStringLiteral(".INI");
  QString found;
  QStringList names;
  if (DIR* d = ::opendir(PathBytes(folder.isEmpty() ? QStringLiteral(".") : folder).c_str())) {
    while (const dirent* e = ::readdir(d)) names << PathText(e->d_name);
    ::closedir(d);
  }
  names.sort();
  for (const QString& n : names) {
    if (n.compare(wanted, Qt::CaseInsensitive) != 0) continue;
    if (!PathIsFile(folder.isEmpty() ? n : folder + QLatin1Char('/') + n)) continue;
    // The same base name in its own case wins over another case of it.
    const QString candidate = folder.isEmpty() ? n : folder + QLatin1Char('/') + n;
    if (found.isEmpty() || FileNameOf(WithoutExtension(candidate)) == FileNameOf(base)) {
      found = candidate;
    }
  }
  return found;
}

TJobController::TJobController(TCheckStore& store, TFileMenuHandler& history,
                               IJobSettings& settings, IJobWindow& window, IFileDialogHost& dialogs,
                               IControlHost& controls, QObject* parent)
    : QObject(parent),
      store_(store),
      history_(history),
      settings_(settings),
      window_(window),
      dialogs_(dialogs),
      controls_(controls) {}

QString TJobController::AutoRunRefusal(const QString& job) const {
  if (!PathIsFile(job)) return MissingFileMessage(job);
  std::vector<JobEntry> entries;
  std::string why;
  if (!ReadJobFile(PathBytes(job), entries, &why)) return NotAJobMessage(job, why);
  if (JobTickedPaths(entries).empty()) return kNoFilesCheckedText;
  const QString ini = JobSettingsFile(job);
  if (!ini.isEmpty() && IniFile(PathBytes(ini)).ReadString("ZIPFILE", "Fname", "").empty())
    return QStringLiteral("Incorrect path");
  return {};
}

bool TJobController::Stealth() const {
  return window_.ArchiveName().toUpper().contains(QLatin1String("STEALTH_"));
}

void TJobController::OpenCbutton(JobSender sender, const QString& file) {
  if (opening_) return;
  // Held while the job is chosen and loaded; a backup run started at the end may open the next
  // job itself once it is done.
  std::optional<ReentranceGuard> guard(std::in_place, opening_);

  // 1. Start from a clean state.
  const QString startFolder = window_.ExplorerCurrentFolder();
  window_.SetArchiveName(QString());
  controls_.SetControlEnabled(QString::fromLatin1(kSaveJobControl), false);
  window_.PrepareJobOpening();

  // 2. The job file.
  QString job;
  if (sender == JobSender::ExplorerList) {
    job = file;  // the list has loaded its ticks already; the path is kept as given
  } else {
    if (sender != JobSender::SchedulerOpen) {
      window_.Setstate(0);
      store_.Clear();
    }
    const QString dialogFolder =
        settings_.ProgramDirMode() || startFolder.isEmpty() ? ProgramDirText() : startFolder;
    const bool interactive = window_.AutoRunFile().isEmpty() || sender == JobSender::SchedulerOpen;
    if (interactive) {
      FileDialogSpec spec;
      spec.title = QStringLiteral("Open Job");
      spec.filter = QStringLiteral("Job Files (*.job)|*.JOB;*.CAT");
      spec.initialDir = dialogFolder;
      if (sender == JobSender::RecentList) {
        job = history_.FileChangedCaption;
      } else if (window_.CtrlHeld()) {
        job = dialogs_.OpenFile(spec);
      } else {
        history_.DialogSpec = spec;
        history_.Tag = 1;
        job = history_.Execute();
        history_.Tag = 0;
      }
      if (job.isEmpty()) return;
    } else {
      job = window_.AutoRunFile();
    }
    if (!PathExists(job) && !job.contains(QLatin1Char('/'))) job = ProgramDirText() + job;
    if (sender == JobSender::SchedulerOpen) {
      window_.SetSchedulerJobFile(job);
      return;
    }
    // A run without the user needs its job: without one it would back up nothing chosen.
    if (!interactive && !PathIsFile(job)) {
      MbInfo(MissingFileMessage(job));
      window_.TerminateApplication();
      return;
    }

    // 3. The ticks.
    window_.Setstate(3);
    if (PathIsFile(job)) {
      std::string why;
      if (!store_.LoadJobFile(PathBytes(job), &why)) {
        MbMessage(NotAJobMessage(job, why), QStringLiteral("Arcavo"), false,
                  MB_OK + MB_ICONEXCLAMATION);
        // An unattended run of something that is not a job must not back up nothing.
        if (!window_.AutoRunFile().isEmpty()) window_.TerminateApplication();
        return;
      }
    }
    window_.RefreshExplorer();
  }
  jobFile_ = job;

  // 4. The settings beside the job. Settings that name no archive stop an automatic run here:
  // nothing is written with what the window happens to hold.
  const QString ini = JobSettingsFile(job);
  if (!ini.isEmpty() && !settings_.LoadSettings(ini) && !window_.AutoRunFile().isEmpty()) return;

  // 5. The archive name, 6. a too-big archive renamed.
  NameArchive(job);
  SizeRename();

  guard.reset();

  // 7. An automatic run goes on by itself.
  if (!window_.AutoRunFile().isEmpty()) {
    if (!Stealth()) {
      settings_.SetUnattended(true);
      window_.RunBackup();
    } else {
      window_.SetAutoRunFile(QString());
      window_.StartStealth();
    }
  } else {
    window_.Setstate(3);
    if (settings_.MinimizeOnLoad() && Stealth()) window_.StartStealth();
  }
}

void TJobController::NameArchive(const QString& jobFile) {
  const QString archive = window_.ArchiveName();
  // Without an archive from the settings the archive is named after the job file. The
  // extension keeps its case: on Linux docs.zip and docs.ZIP are different files.
  const QString source = archive.isEmpty() ? jobFile : archive;
  const QString ext = archive.isEmpty() ? QString() : FileExtension(archive);
  QString name;
  if (settings_.DateTimeStampChecked()) {
    name = EXTNdatetime(1, source, settings_.DateTimeFormat(), CurrentClock().Now()) + ext;
  } else {
    name = WithoutExtension(source) + ext;
  }
  window_.SetArchiveName(name);
}

void TJobController::SizeRename() {
  const QString archive = window_.ArchiveName();
  if (archive.isEmpty()) return;
  const QStorageInfo volume(FolderOf(archive));
  if (!volume.isValid() || volume.bytesAvailable() < 0) return;
  bool ok = false;
  const qint64 limitKb = settings_.MaxSizeText().toLongLong(&ok) * 1000;
  const bool scheduled = window_.ScheduledRunInProgress();
  if (!(settings_.AutoRenameOnSize() || scheduled ||
        (ok && limitKb > 0 && !settings_.SpanDisks()))) {
    return;
  }
  struct stat st;
  const bool isFile = ::stat(PathBytes(archive).c_str(), &st) == 0 && S_ISREG(st.st_mode);
  const qint64 sizeKb = isFile ? static_cast<qint64>(st.st_size) / 1000 : 0;
  bool tooBig = false;
  if (Stealth() || scheduled) {
    window_.ShowZipTab();
    tooBig = sizeKb > 20000;
  }
  if ((ok && limitKb > 0 && sizeKb >= limitKb) || tooBig) {
    const QString renamed =
        EXTNdatetime(1, archive, settings_.DateTimeFormat(), CurrentClock().Now()) +
        QStringLiteral(".ZIP");
    if (!PathExists(renamed)) std::rename(PathBytes(archive).c_str(), PathBytes(renamed).c_str());
  }
}

QString TJobController::ProposedJobFile() const {
  const QString base = EXTNdatetime(0, window_.ArchiveName(), 0, CurrentClock().Now());
  if (settings_.ProgramDirMode()) return ProgramDirText() + FileNameOf(base) + ".JOB";
  return base + QStringLiteral(".JOB");
}

void TJobController::SaveCbtnClick() {
  if (store_.TickedPaths().empty()) {
    MbInfo(QStringLiteral("No Files Selected"));
    return;
  }
  if (window_.ArchiveName().isEmpty()) {
    MbInfo(QStringLiteral("No ZIPname (select [NewZIP] or [AddZip])"));
    return;
  }
  const QString proposed = ProposedJobFile();
  QString chosen = proposed;
  if (PathExists(proposed)) {
    FileDialogSpec spec;
    spec.filter = QStringLiteral("Job files|*.job|Catalog files|*.cat");
    spec.fileName = proposed;
    spec.initialDir = FolderOf(proposed);
    chosen = dialogs_.SaveFile(spec);
    if (chosen.isEmpty()) return;
    if (HasLineBreak(chosen)) {
      MbMessage(QString::fromUtf8(kLineBreakInName), QStringLiteral("Arcavo"), false,
                MB_OK + MB_ICONEXCLAMATION);
      return;
    }
  }
  const QString name = WithoutExtension(chosen);
  const QString iniFile = name + QStringLiteral(".INI");
  const QString jobFile = name + QStringLiteral(".JOB");
  if (!window_.IsBurnerRoot(FolderOf(name)) || settings_.ProgramDirMode()) {
    try {
      settings_.WriteSettings(iniFile);
      store_.SaveJobFile(PathBytes(jobFile));
    } catch (const std::exception& e) {
      ReportWriteFailure(jobFile, e);
    }
    return;
  }
  // Saving straight onto the disc: both files are staged in the temporary folder, burned as one
  // session and removed again.
  QString temp = window_.TempFolder();
  if (!temp.endsWith(QLatin1Char('/'))) temp += QLatin1Char('/');
  const QString tempIni = temp + FileNameOf(iniFile);
  const QString tempJob = temp + FileNameOf(jobFile);
  try {
    settings_.WriteSettings(tempIni);
    store_.SaveJobFile(PathBytes(tempJob));
    window_.BurnFiles({tempIni, tempJob});
  } catch (const std::exception& e) {
    ReportWriteFailure(tempJob, e);
  }
  QFile::remove(tempIni);
  QFile::remove(tempJob);
}

void TJobController::ModifyJobClick() {
  // Without a job there is nothing to modify: said, not silently ignored.
  if (window_.ArchiveName().isEmpty()) {
    MbInfo(QStringLiteral("Open a job first, then modify it"));
    return;
  }
  window_.ModifyJobNaming();
  settings_.ReapplyDirectoryRules();
  if (settings_.BasicView()) MbInfo(QStringLiteral("Modify settings, then click [SaveJob]"));
}

void TJobController::FileMenuNewFormCaption(const QString& file) {
  history_.FileChangedCaption = file;
  if (history_.Tag == 1) {
    history_.Tag = 0;
    return;
  }
  if (window_.WindowVisible()) {
    const QString ext = FileExtension(file).toUpper();
    const bool part = ext.size() >= 2 && ext[1] >= QLatin1Char('0') && ext[1] <= QLatin1Char('9');
    if (ext == QLatin1String(".ZIP") || part) {
      window_.OpenArchive(file);
    } else if (HasExtension(file, kJobExts)) {
      OpenCbutton(JobSender::RecentList);
    }
  }
  history_.Tag = 0;
}

void TJobController::ExplorerListFileActivated(const QString& file) {
  if (HasExtension(file, kJobExts)) {
    window_.Setstate(3);
    std::string why;
    if (!store_.LoadJobFile(PathBytes(file), &why)) {
      MbMessage(NotAJobMessage(file, why), QStringLiteral("Arcavo"), false,
                MB_OK + MB_ICONEXCLAMATION);
      return;
    }
    window_.RefreshExplorer();
    OpenCbutton(JobSender::ExplorerList, file);
  } else if (HasExtension(file, {QStringLiteral(".ZIP")})) {
    window_.OpenArchive(file);
  }
}
