// The main window: the tabs "Browser", "Make" and "Archive", the button bar, two status bars,
// the main menu, the popup menus, the tray menu and the two timers.
//
// Every widget, menu and menu item carries its control name as objectName; IControlHost finds
// controls by that name (or, failing that, by their caption) so the logic can enable, show,
// check and caption them without knowing the widgets.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <memory>

#include "app/controlhost.h"
#include "app/filedialoghost.h"
#include "app/lifecycle.h"
#include "app/maincontext.h"
#include "app/mainwiring.h"
#include "app/optionhosts.h"
#include "app/startupseams.h"
#include "restore/archiveviewhosts.h"

class QAction;
class QMenu;
class QSessionManager;
class QSystemTrayIcon;
class QTimer;
class TExplorerList;
class TExplorerTree;
class TInclusionGridView;
class TInstanceManager;
class IBackupSeams;
class TBackupCore;
class TBackupWindowHost;
class TQtFileDialogHost;
class TRecentMenu;
class TRestoreWindow;
namespace restore {
class ISearchResultsView;
class TArchiveViewController;
class TExtractController;
}  // namespace restore

class TMainform : public QMainWindow,
                  public IControlHost,
                  public IStartupSeams,
                  public IMainWindow,
                  public IWindowModeHost,
                  public ISchedulerControls,
                  public IFileDialogHost,
                  public restore::IArchiveWindow,
                  public restore::ISearchResultsView {
  Q_OBJECT
 public:
  // args: the command-line arguments after the program name. The widgets are built here;
  // FormCreate() then runs window creation.
  explicit TMainform(const QStringList& args = {}, TInstanceManager* instance = nullptr,
                     QWidget* parent = nullptr);
  ~TMainform() override;

  void FormCreate();

  MainContext& context() { return ctx_; }
  TAppLifecycle& lifecycle() { return *lifecycle_; }
  // The menus that are not part of the menu bar.
  QMenu* popupMenu(const QString& name) const;
  QSystemTrayIcon* trayIcon() const { return trayIcon_; }
  bool hintsShown() const { return hintsShown_; }
  TExplorerTree* explorerTree() const { return tree_; }
  TExplorerList* explorerList() const { return list_; }
  TInclusionGridView* gridView() const { return gridView_; }
  TRecentMenu* recentMenu() const { return recentMenu_; }
  // The file dialogs (Qt's by default; tests answer them from a script). Null restores Qt's.
  void SetFileDialogHost(IFileDialogHost* host);
  // Opens files of "Open" with the desktop (by default through Qt). Null restores Qt's.
  void SetDesktopLauncher(restore::IDesktopLauncher* launcher);
  // Closes without asking (a termination signal); a running operation is cancelled first.
  void CloseWithoutQuestion();
  // The session manager asks whether the session may end.
  void CommitDataRequest(QSessionManager& manager);
  // Extraction over the window's engine and option lists, once the archive view is built: binds
  // "E&xtract", the abort button and the archive view's extract items.
  void WireExtract(restore::TArchiveViewController& view, restore::ISearchResultsView& search);
  restore::TExtractController* extractController() const { return extract_.get(); }

  // IControlHost
  void SetControlEnabled(const QString& name, bool enabled) override;
  void SetControlVisible(const QString& name, bool visible) override;
  void SetControlChecked(const QString& name, bool checked) override;
  void SetControlCaption(const QString& name, const QString& caption) override;
  bool ControlEnabled(const QString& name) const override;
  bool ControlVisible(const QString& name) const override;
  bool ControlChecked(const QString& name) const override;
  QString ControlCaption(const QString& name) const override;
  // The control of that name (objectName first, then caption); null when none.
  QObject* FindControl(const QString& name) const;

  // IStartupSeams: the window's part.
  int ScreenWidth() const override;
  void Maximise() override;
  bool WindowVisible() const override { return isVisible(); }
  void ShowWindow() override { show(); }
  void SetWindowCaption(const QString& caption) override { setWindowTitle(caption); }
  void ShowBrowserTab() override;
  void SetTimePickerFormat(const QString& format) override;
  void OpenHelp(int context) override;
  void SetStartFolder(const QString& folder) override { startFolder_ = folder; }
  void HideToTrayMinimised() override;
  void SetHintsShown(bool on) override { hintsShown_ = on; }
  void SetThemesReleased(bool released) override;
  bool WindowIdle() const override;
  QString JobRefusal(const QString& job) override;
  void EnableExplorer() override;
  void FillGridDefaults() override;
  void ActivateExplorerTree() override;
  void ActivateExplorerList() override;
  void ExpandTreeToStart() override;
  void EnableArchiveView(bool on) override;
  void PrepareArchiveView() override;
  void SetArchiveName(const QString& name) override;
  void SetTrayEnabled(bool on) override;
  void StopGeneralTimer() override;
  void StopSchedulerTimer() override;
  // IStartupSeams: option lists, settings, jobs, recent jobs, explorer.
  void Setstate(int mode) override;
  void INIfileIO(const QString& file) override;
  void INIcheckedMenuItem(const QString& key, bool checked) override;
  void OpenCbutton() override;
  void ClearRecentSlot() override;
  void LoadRecentList() override;
  void OpenRecent(const QString& file) override;
  void LinkListToTree() override;

  // IMainWindow
  QString ExplorerCurrentFolder() const override;
  bool CtrlHeld() const override;
  void ShowZipTab() override;
  void ShowSizeCount(const QString& count, const QString& total) override;
  void GaugeClear() override;
  bool ExeMode() const override;
  void SetAddToArchive(bool on) override;
  void ModifyJobNaming() override;
  // IStartupSeams: the archive engine of the run.
  bool ArchiveBusy() const override;
  bool OperationPaused() const override;
  void ResumeOperation() override;
  void CancelOperation() override;

  // IWindowModeHost
  void ShowExplorerCheckBoxes(bool show) override;
  void ClearArchiveSearchResults() override {}
  void ResetGlobalSearchFlag() override {}
  void ClearArchiveView() override;
  void ClearStatusBar() override;
  void ResetTrayStealthFlag() override {}
  void SetTrayIconStatic() override {}
  void SetZip64Highlighted(bool on) override;
  void SetGroupCaptionHighlighted(const QString& group, bool on) override;

  // ISchedulerControls
  void SetScheduleDays(int days) override;
  void SetScheduleTime(const QString& time) override;
  void SetScheduleFile(const QString& file) override;
  QString ScheduleFile() const override;
  void StartSchedulerTimer() override;

  // IFileDialogHost: passed on to the current dialog host.
  QString OpenFile(const FileDialogSpec& spec) override;
  QString SaveFile(const FileDialogSpec& spec) override;

  // IMainWindow: the archive.
  bool ArchiveLoaded() const override;
  void OpenArchive(const QString& file) override;

  // restore::IArchiveWindow (Setstate, SetArchiveName, SetZip64Highlighted and CtrlHeld above)
  void Clearchecks() override;
  void GaugeStart() override;
  void GaugeStop() override;
  void SetCommentText(const QString& comment) override;
  void ResetSearchBox() override;
  void ShowArchivePage() override;
  void FlashArchiveTab() override;
  void ShowZipspecs(const QString& name, int countLessOne, uint64_t totalSize) override;
  bool ProcessMessages() override;
  QString ExplorerSelectedFolder() const override;
  QString TakePickedRecentFile() override;
  QString RecentFileOpen(const FileDialogSpec& spec) override;
  void RecordRecentFile(const QString& file) override;
  void OpenJob(const QString& file) override;

  // restore::ISearchResultsView: the archive search fills the view later; until then the view
  // never shows results.
  bool SearchResultsShown() const override { return false; }
  bool ResultEntry(int, QString&, int&) const override { return false; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildMenus();
  void BuildPopups();
  QWidget* BuildBrowserTab();
  QWidget* BuildMakeTab();
  QWidget* BuildZipTab();
  QWidget* BuildReportTab();
  QWidget* BuildArchiveTab();
  // The archive view's controller (into the context) and then the view widget.
  QWidget* BuildArchiveView(QWidget* page);
  // The archive view's commands, the explorer list's double click and the archive preferences.
  void BindArchiveCommands();
  QWidget* BuildButtonBar();
  void BuildStatusBars(QWidget* host, class QVBoxLayout* layout);
  void BindOwnCommands();
  // Buttons and menu items of the option lists, settings, jobs, grid and recent jobs.
  void BindCommands();
  // "&WriteZIP", "Pause", "&AddToZIP", the naming commands and the temporary folder.
  void BindBackupCommands();
  void About();

  // Forwards "Open" to the current launcher (Qt's unless a test replaced it).
  struct DesktopForwarder : restore::IDesktopLauncher {
    restore::IDesktopLauncher* target = nullptr;
    bool OpenFile(const QString& path, const QString& dir) override {
      return target->OpenFile(path, dir);
    }
  };
  std::unique_ptr<restore::IDesktopLauncher> qtDesktop_;
  DesktopForwarder desktop_;
  MainContext ctx_;
  std::unique_ptr<TAppLifecycle> lifecycle_;
  TInstanceManager* instance_ = nullptr;
  QList<QMenu*> popups_;
  QSystemTrayIcon* trayIcon_ = nullptr;
  QTimer* timer1_ = nullptr;
  QTimer* schedTimer_ = nullptr;
  std::unique_ptr<TQtFileDialogHost> qtDialogs_;
  // The backup run and the naming with their screen side.
  std::unique_ptr<TBackupWindowHost> backupHost_;
  std::unique_ptr<IBackupSeams> backupSeams_;
  std::unique_ptr<TBackupCore> backup_;
  // Extraction (over backup_'s engine, so declared after it).
  std::unique_ptr<TRestoreWindow> restoreHost_;
  std::unique_ptr<restore::TExtractController> extract_;
  IFileDialogHost* dialogs_ = nullptr;
  TExplorerTree* tree_ = nullptr;
  TExplorerList* list_ = nullptr;
  TInclusionGridView* gridView_ = nullptr;
  TRecentMenu* recentMenu_ = nullptr;
  QString startFolder_;
  bool hintsShown_ = true;
  bool firstPaintQueued_ = false;
  bool closeWithoutQuestion_ = false;
  int tabFlashes_ = 0;
};
