// The main window: the tabs "Browser", "Make" and "Archive", the button bar, two status bars,
// the main menu, the popup menus, the tray menu and the two timers.
//
// The window builds its pages through the tab builders (tabbuilders.h), answers the
// subsystems' host interfaces through small adapters (windowhosts.h, windowcontrols.h) and
// binds every command control to its operation through one table (bindings()). Every widget,
// menu and menu item carries its control name as objectName; the logic reaches controls by that
// name only.
#pragma once

#include <QMainWindow>
#include <QStringList>
#include <memory>

#include "app/controlhost.h"
#include "app/lifecycle.h"
#include "app/maincontext.h"
#include "app/mainwiring.h"
#include "ui/bindings.h"

class QComboBox;
class QMenu;
class QSessionManager;
class QSystemTrayIcon;
class QTimer;
class IBackupSeams;
class IFileDialogHost;
class IVolumeService;
class TArchiveWindow;
class TBackupCore;
class TBackupWindowHost;
class TBrowserFunctions;
class TDesktopForwarder;
class TDialogForwarder;
class TExplorerList;
class TExplorerTree;
class TInclusionGridView;
class TInstanceManager;
class TQtFileDialogHost;
class TRecentMenu;
class TRestoreWindow;
class TSearchResultsForwarder;
class TWindowControls;
class TWindowMain;
class TWindowModes;
class TWindowReport;
class TWindowScheduler;
class TWindowStartup;
class TWindowStealth;
class TWindowAutomation;
class TWindowLife;
namespace restore {
class IDesktopLauncher;
class TArchiveSearch;
class TArchiveViewController;
class TExtractController;
class TRepairController;
class TMaintenanceController;
}  // namespace restore

class TMainform : public QMainWindow {
  Q_OBJECT
 public:
  // The status bar's word when a check box is clicked before an archive is named.
  static constexpr const char* kNameArchiveFirst =
      "To tick folders and files, first name the archive: NewZIP (Ctrl+N)";
  // args: the command-line arguments after the program name. The widgets are built here;
  // FormCreate() then runs window creation.
  explicit TMainform(const QStringList& args = {}, TInstanceManager* instance = nullptr,
                     QWidget* parent = nullptr);
  ~TMainform() override;

  void FormCreate();

  MainContext& context() { return ctx_; }
  TAppLifecycle& lifecycle() { return *lifecycle_; }
  // The window's controls by name, and the window as the subsystems see it.
  IControlHost& controls();
  IMainWindow& mainWindow();
  // The control of that name (objectName); null when none.
  QObject* FindControl(const QString& name) const;
  // Every binding of a control, menu item or popup to its operation, as applied.
  const TBindings& bindings() const { return bindings_; }
  // The menus that are not part of the menu bar.
  QMenu* popupMenu(const QString& name) const;
  QSystemTrayIcon* trayIcon() const { return trayIcon_; }
  QTimer* generalTimer() const { return timer1_; }
  QTimer* schedulerTimer() const { return schedTimer_; }
  // The scheduler and the update check with their controls.
  TWindowAutomation* automation() const { return automation_.get(); }
  // Stealth mode, the hotkey backup and the instant backup with the window's side of them.
  TWindowStealth* stealth() const { return stealth_.get(); }
  // The tray, the start at log-on, the hotkey, the window's keys and the power events.
  TWindowLife* life() const { return life_.get(); }
  // The file dialogs as the subsystems reach them.
  IFileDialogHost& fileDialogs();
  // "Browser Functions" of the explorer's popups (its desktop can be replaced by tests).
  TBrowserFunctions* browserFunctions() const { return browser_.get(); }
  // The stealth side as the tray and the hotkey reach it: the hotkey backup (inTray: the window
  // sits in the tray; trayStealth: the tray stealth flag), and the folder monitors.
  void HotkeyBackup(bool inTray, bool trayStealth);
  int StealthMonitorCount() const;
  void StealthMonitorsStopStart(bool start);
  TWindowReport* reportView() const { return report_; }
  bool hintsShown() const;
  TExplorerTree* explorerTree() const { return tree_; }
  TExplorerList* explorerList() const { return list_; }
  TInclusionGridView* gridView() const { return gridView_; }
  TRecentMenu* recentMenu() const { return recentMenu_; }
  // The backup run and the naming (null while the window is being built).
  TBackupCore* backup() const { return backup_.get(); }
  // The file dialogs (Qt's by default; tests answer them from a script). Null restores Qt's.
  void SetFileDialogHost(IFileDialogHost* host);
  // Opens files of "Open" with the desktop (by default through Qt). Null restores Qt's.
  void SetDesktopLauncher(restore::IDesktopLauncher* launcher);
  // The drives and media the window asks about (the system's by default). Null restores it.
  void SetVolumeService(IVolumeService* volumes) { volumes_ = volumes; }
  IVolumeService* volumeService() const { return volumes_; }
  // Closes without asking (a termination signal); a running operation is cancelled first.
  void CloseWithoutQuestion();
  // The session manager asks whether the session may end.
  void CommitDataRequest(QSessionManager& manager);
  restore::TExtractController* extractController() const { return extract_.get(); }
  // The screen side of extraction (its folder dialog can be answered by tests).
  TRestoreWindow* restoreWindow() const { return restoreHost_.get(); }
  // Archive maintenance and the archive search (null while the window is being built).
  restore::TMaintenanceController* maintenance() const { return maintenance_.get(); }
  restore::TArchiveSearch* archiveSearch() const { return search_.get(); }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // The main menu, one builder per menu.
  void BuildMenus();
  void BuildFileMenu(QMenu* file);
  void BuildOptionsMenu(QMenu* options);
  void BuildBackupRestoreMenu(QMenu* backupRestore);
  void BuildToolsMenu(QMenu* tools);
  void BuildHelpMenu(QMenu* help);
  void BuildPopups();
  // The pages, the button bar and the status bars.
  void BuildClientArea();
  // The archive view's controller (into the context) and then the view widget on page.
  QWidget* BuildArchiveView(QWidget* page);
  // The report's view, the extraction and then the table of bindings, applied.
  void Wire();
  void WireExtract();
  // The rows of the table, by the part of the program they start.
  TBindings WindowBindings();
  TBindings JobAndSettingsBindings();
  TBindings PreferenceBindings();
  TBindings BackupBindings();
  TBindings ArchiveBindings();
  TBindings StateBindings();
  // The disc-writing menu items (windowburn.cpp).
  TBindings BurnBindings();
  // The connections that are not a control's command: the explorer list's double click, the
  // view mode and "Large Fonts" following the settings, the search box.
  void ConnectSignals();
  void ConnectSearchBox();
  void About();
  // "FeedBack" > "Bug Report" (bugReport) and "Information Request".
  void FeedBack(bool bugReport);

  // The adapters the subsystems talk to: declared before the context, so they outlive the
  // subsystems that hold them.
  std::unique_ptr<TWindowControls> controls_;
  std::unique_ptr<TWindowStartup> startup_;
  std::unique_ptr<TWindowMain> main_;
  std::unique_ptr<TWindowModes> modes_;
  std::unique_ptr<TWindowScheduler> scheduler_;
  std::unique_ptr<TArchiveWindow> archiveWindow_;
  std::unique_ptr<TSearchResultsForwarder> searchResults_;
  std::unique_ptr<TDialogForwarder> dialogs_;
  std::unique_ptr<TDesktopForwarder> desktop_;
  std::unique_ptr<restore::IDesktopLauncher> qtDesktop_;
  std::unique_ptr<TQtFileDialogHost> qtDialogs_;
  MainContext ctx_;
  std::unique_ptr<TAppLifecycle> lifecycle_;
  TInstanceManager* instance_ = nullptr;
  QList<QMenu*> popups_;
  QSystemTrayIcon* trayIcon_ = nullptr;
  QTimer* timer1_ = nullptr;
  QTimer* schedTimer_ = nullptr;
  // The backup run and the naming with their screen side.
  std::unique_ptr<TBackupWindowHost> backupHost_;
  std::unique_ptr<IBackupSeams> backupSeams_;
  IVolumeService* volumes_ = nullptr;
  std::unique_ptr<TBackupCore> backup_;
  TWindowReport* report_ = nullptr;
  std::unique_ptr<TWindowAutomation> automation_;
  // (Over the engine and the tray host above, so declared after them.)
  std::unique_ptr<TWindowStealth> stealth_;
  std::unique_ptr<TWindowLife> life_;
  std::unique_ptr<TBrowserFunctions> browser_;
  // Extraction (over backup_'s engine, so declared after it).
  std::unique_ptr<TRestoreWindow> restoreHost_;
  std::unique_ptr<restore::TExtractController> extract_;
  // "ZIPfix" (over the same engine).
  std::unique_ptr<restore::TRepairController> repair_;
  std::unique_ptr<restore::TMaintenanceController> maintenance_;
  std::unique_ptr<restore::TArchiveSearch> search_;
  TBindings bindings_;
  TExplorerTree* tree_ = nullptr;
  TExplorerList* list_ = nullptr;
  TInclusionGridView* gridView_ = nullptr;
  TRecentMenu* recentMenu_ = nullptr;
  QComboBox* searchBox_ = nullptr;
  bool firstPaintQueued_ = false;
  bool closeWithoutQuestion_ = false;
};
