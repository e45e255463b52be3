// The window's side of extraction, archive maintenance and the archive search: the folder and
// password dialogs, the archive view's cursor, the search box, and the bindings of "E&xtract",
// the abort button and the archive view's extract items.
#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>

#include "restore/archivesearch.h"
#include "restore/extractcontroller.h"
#include "restore/maintenance.h"
#include "ui/bindings.h"

class TRestoreWindow : public restore::IRestoreHost,
                       public restore::IMaintenanceHost,
                       public restore::ISearchBoxHost {
 public:
  // window: the main window, holding the archive view ("ArchiveView").
  explicit TRestoreWindow(QWidget* window);

  // The status bar, gauge and report box belong to the run's report; the window joins them here.
  std::function<void()> gaugeStart;
  std::function<void(bool on)> discAnimation;
  std::function<void()> clearStatusBar;
  std::function<void()> gaugeClear;
  std::function<void()> clearReportBox;
  std::function<void()> startProcessClock;
  std::function<void(const QString& line)> reportLine;
  std::function<void(bool on)> trayCycling;
  // Replaces the Qt folder dialog (tests).
  std::function<QString(const QString& title, const QString& initialDir)> chooseFolder;

  QString ChooseFolder(const QString& title, const QString& initialDir) override;
  bool PasswordDialog(QString& password) override;
  void SetHourglass(bool on) override;
  void GaugeStart() override;
  void DiscAnimation(bool on) override;
  void ClearStatusBar() override;
  void GaugeClear() override;
  void ClearReportBox() override;
  void StartProcessClock() override;
  void ProcessMessages() override;
  void ReportLine(const QString& line) override;
  // Archive maintenance.
  void TrayCycling(bool on) override;
  // The search box ("ComboBox1") and the gauge of a global search.
  QString SearchText() const override;
  void SetSearchText(const QString& text) override;
  void SelectSearchText() override;
  void SetHistoryItems(const QStringList& items) override;
  void SearchProgress(int done, int total) override;

 private:
  QPointer<QWidget> window_;
};

// The bindings of "ExtractBut", "AbortBut" and the popup items "Extract Selected" > "OverWrite"
// / "NoOverwrite" and "Extract All" > "Overwrite" / "NoOverwrite" to the controller.
// The abort button also ends a running global search (alsoAbort).
TBindings RestoreBindings(restore::TExtractController& controller,
                          std::function<void()> alsoAbort = {});
// Gives "E&xtract" below window its hint.
void PrepareRestoreControls(QWidget* window);
// Both of the above, applied to the controls below window.
void BindRestoreCommands(QWidget* window, restore::TExtractController& controller);
