// The backup side of the main window in one piece: the zip engine, the option lists and
// preferences, the settings files, the ticks, the inclusion grid, the recent jobs, the jobs, the
// backup run and the naming, wired to each other and to MainContext.
//
// The window owns one and supplies the screen through the host interfaces; tests and unattended
// runs use it without a window. Everything here is QtCore.
#pragma once

#include <QObject>
#include <memory>

#include "app/checkstore.h"
#include "app/filemenuhandler.h"
#include "app/inclusiongrid.h"
#include "app/optionscontroller.h"
#include "app/preferences.h"
#include "archive/arczip.h"

struct MainContext;
class IBackupDialogs;
class IBackupDisplay;
class IBackupSeams;
class IControlHost;
class IFileDialogHost;
class INamingHost;
class TBackupRun;
class TJobController;
class TNaming;
class TSettingsFiles;

class TBackupCore : public QObject {
  Q_OBJECT
 public:
  TBackupCore(MainContext& ctx, IControlHost& controls, IBackupDisplay& display,
              IBackupDialogs& dialogs, IFileDialogHost& files, INamingHost& namingHost,
              IBackupSeams& seams, QObject* parent = nullptr);
  ~TBackupCore() override;

  TArcZip ArcZip1;
  TOptionLists lists;
  TPreferences prefs;
  TInclusionGrid grid;
  TCheckStore ticks;
  TFileMenuHandler history;

  TOptionsController& options() { return *options_; }
  TSettingsFiles& settings() { return *settings_; }
  TJobController& jobs() { return *jobs_; }
  TBackupRun& run() { return *run_; }
  TNaming& naming() { return *naming_; }

 private:
  struct Glue;
  std::unique_ptr<Glue> glue_;
  std::unique_ptr<TOptionsController> options_;
  std::unique_ptr<TSettingsFiles> settings_;
  std::unique_ptr<TJobController> jobs_;
  std::unique_ptr<TBackupRun> run_;
  std::unique_ptr<TNaming> naming_;
};
