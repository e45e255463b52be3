// The screen side of the backup run and the naming: status bars, gauge, cursor, report box and
// the highlighted explorer items of the main window, the password dialog, the new-name dialog
// and a folder browser.
#pragma once

#include <QDialog>
#include <QPointer>
#include <functional>

#include "backup/backuphosts.h"
#include "backup/naming.h"
#include "backup/reporthosts.h"

class QLabel;
class QLineEdit;

// "Password Dialog": two masked edits that must agree before the dialog closes (also by Cancel).
// For reading an archive (confirm false) the password is typed once: a typing error shows as a
// wrong password, where a new archive's would lock its files away.
class TPasswordDlg : public QDialog {
  Q_OBJECT
 public:
  explicit TPasswordDlg(QWidget* parent = nullptr, bool confirm = true);
  QString password() const;
  void done(int result) override;

 private:
  QLabel* label_;
  QLineEdit* password_;
  QLineEdit* password2_;
  bool confirm_;
};

// The new-name dialog over TSaveDlgForm: folders and archives of the file system, the edit, OK
// and Cancel.
class TSaveDlgWidget : public QDialog {
  Q_OBJECT
 public:
  TSaveDlgWidget(TSaveDlgForm& form, QWidget* parent = nullptr);
  void accept() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  TSaveDlgForm& form_;
  QLineEdit* edit_;
};

class TBackupWindowHost : public IBackupDisplay, public IBackupDialogs, public INamingHost {
 public:
  // window: the main window whose widgets (by objectName) are shown and changed.
  explicit TBackupWindowHost(QWidget* window);
  ~TBackupWindowHost() override;

  // IBackupDisplay
  void SetArchivePanel(const QString& text) override;
  void ClearStatusBar() override;
  void GaugeClear() override;
  void GaugeMoving() override;
  void GaugePercent() override;
  void SetBusyCursor(bool busy) override;
  void SetControlAlarm(const QString& control, bool on) override;
  bool WindowHidden() const override;
  void ReportClear() override;
  void ReportAdd(const QString& line) override;
  int ReportLineCount() const override;
  void ReportSuspend(bool on) override;
  std::vector<std::string> HighlightedPaths() const override;
  // The disc picture and the tray icon, drawn by the report's view of the window.
  void DiscAnimation(bool on) override;
  bool TrayIconShown() const override;
  void TrayAnimation(bool on) override;
  void TrayIcon(int picture) override;
  // The window's scheduler timer ("SchedTimer") rests while a run is on.
  void StopSchedulerTimer() override;
  void StartSchedulerTimer() override;

  // Where the disc picture and the tray icon are drawn (null: nowhere).
  IProgressHost* progress = nullptr;
  // The report box as the report handlers keep it: the run's lines join theirs in order (null:
  // the run writes into the box itself).
  IReportBox* reportBox = nullptr;

  // IBackupDialogs
  std::optional<QString> ShowPasswordDialog() override;
  QString BrowseFolder(const QString& title) override;

  // INamingHost
  std::optional<QString> ShowSaveDialog(TSaveDlgForm& form) override;
  void StatusNote(const QString& note) override;
  QString FocusedTreePath() const override;
  void BrowseTreeTo(const QStringList& folders) override;
  void ResetDateFilter() override;
  void ClearDirMonitors() override {
    if (clearDirMonitors) clearDirMonitors();
  }
  // Removes the directory monitors (stealth mode's).
  std::function<void()> clearDirMonitors;

 private:
  template <class T>
  T* Find(const char* name) const;

  QPointer<QWidget> window_;
  bool busy_ = false;
  bool schedulerWasRunning_ = false;
};
