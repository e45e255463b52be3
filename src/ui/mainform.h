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
#include "app/lifecycle.h"
#include "app/maincontext.h"
#include "app/startupseams.h"

class QAction;
class QFileSystemModel;
class QMenu;
class QSessionManager;
class QSystemTrayIcon;
class QTimer;
class TInstanceManager;
class TBackupCore;
class TBackupWindowHost;
class IBackupSeams;

class TMainform : public QMainWindow, public IControlHost, public IStartupSeams {
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
  // Closes without asking (a termination signal); a running operation is cancelled first.
  void CloseWithoutQuestion();
  // The session manager asks whether the session may end.
  void CommitDataRequest(QSessionManager& manager);

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
  void EnableExplorer() override;
  void FillGridDefaults() override;
  void ActivateExplorerTree() override;
  void ActivateExplorerList() override;
  void ExpandTreeToStart() override;
  void EnableArchiveView(bool on) override;
  void PrepareArchiveView() override;
  void SetArchiveName(const QString& name) override;
  void Setstate(int mode) override;
  void INIfileIO(const QString& file) override;
  void OpenCbutton() override;
  bool ArchiveBusy() const override;
  bool OperationPaused() const override;
  void ResumeOperation() override;
  void CancelOperation() override;
  // The backup side of the window: engine, options, jobs, run and naming.
  TBackupCore& backup() { return *backup_; }
  void SetTrayEnabled(bool on) override;
  void StopGeneralTimer() override;
  void StopSchedulerTimer() override;

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
  QWidget* BuildButtonBar();
  void BuildStatusBars(QWidget* host, class QVBoxLayout* layout);
  void BindOwnCommands();
  void BindBackupCommands();
  void About();

  MainContext ctx_;
  std::unique_ptr<TAppLifecycle> lifecycle_;
  std::unique_ptr<TBackupWindowHost> backupHost_;
  std::unique_ptr<IBackupSeams> backupSeams_;
  std::unique_ptr<TBackupCore> backup_;
  TInstanceManager* instance_ = nullptr;
  QList<QMenu*> popups_;
  QSystemTrayIcon* trayIcon_ = nullptr;
  QTimer* timer1_ = nullptr;
  QTimer* schedTimer_ = nullptr;
  QFileSystemModel* treeModel_ = nullptr;
  QFileSystemModel* listModel_ = nullptr;
  QString startFolder_;
  bool hintsShown_ = true;
  bool firstPaintQueued_ = false;
  bool closeWithoutQuestion_ = false;
};
