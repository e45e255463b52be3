// Jobs: opening a job (NAME.JOB, then NAME.INI), saving one, "&Modify Job", and the window's
// reaction to a file chosen from the recent-job list.
#pragma once

#include <QObject>
#include <QString>

class IControlHost;
class IFileDialogHost;
class IJobSettings;
class IJobWindow;
class TCheckStore;
class TFileMenuHandler;

// The name of the "&SaveJob" button for the control host.
inline const char kSaveJobControl[] = "SaveCbtn";

// Who asked for a job to be opened.
enum class JobSender {
  Dialog,         // "o&PenJob" (button or menu)
  RecentList,     // a file chosen from the recent-job list (in the handler's slot)
  ExplorerList,   // a double-click on a job file in the explorer list
  AutoRun,        // the command line, the hand-over or the scheduler's run (AutoRunFile)
  SchedulerOpen,  // the scheduler's "Open JOB file" button
};

class TJobController : public QObject {
  Q_OBJECT
 public:
  TJobController(TCheckStore& store, TFileMenuHandler& history, IJobSettings& settings,
                 IJobWindow& window, IFileDialogHost& dialogs, IControlHost& controls,
                 QObject* parent = nullptr);

  // Opens a job. file is the explorer list's file for JobSender::ExplorerList.
  void OpenCbutton(JobSender sender, const QString& file = QString());
  // "&SaveJob" / "&Save Job".
  void SaveCbtnClick();
  // "&Modify Job".
  void ModifyJobClick();
  // The window's reaction to the recent-job handler's OnNewFormCaption.
  void FileMenuNewFormCaption(const QString& file);
  // A double-click on a file in the explorer list: a job file is loaded into the tree and
  // opened, an archive is opened in the archive view.
  void ExplorerListFileActivated(const QString& file);

  // The job file last opened ("" when none).
  QString JobFile() const { return jobFile_; }
  // Why a job could not run without the user ("" when it can): the file is missing or not a
  // job, it ticks nothing, or its settings file names no archive. Changes nothing.
  QString AutoRunRefusal(const QString& job) const;
  // The job files a save would propose and the name it cuts from the archive name.
  QString ProposedJobFile() const;

 private:
  void NameArchive(const QString& jobFile);
  void SizeRename();
  bool Stealth() const;

  TCheckStore& store_;
  TFileMenuHandler& history_;
  IJobSettings& settings_;
  IJobWindow& window_;
  IFileDialogHost& dialogs_;
  IControlHost& controls_;
  bool opening_ = false;
  QString jobFile_;
};

// The settings file beside a job file: same folder and base name, extension ".INI" in any case;
// "" when there is none.
QString JobSettingsFile(const QString& jobFile);
// True when the extension of a file name (any case) is one of exts (".JOB", ".CAT", ...).
bool HasExtension(const QString& file, const QStringList& exts);
// The message for a file that is not a job.
QString NotAJobMessage(const QString& file, const std::string& why);
