// The window's side of extraction: the folder and password dialogs, the archive view's cursor,
// and the bindings of "E&xtract", the abort button and the archive view's extract items.
#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>

#include "restore/extractcontroller.h"
#include "ui/bindings.h"

class TRestoreWindow : public restore::IRestoreHost {
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

 private:
  QPointer<QWidget> window_;
};

// The bindings of "ExtractBut", "AbortBut" and the popup items "Extract Selected" > "OverWrite"
// / "NoOverwrite" and "Extract All" > "Overwrite" / "NoOverwrite" to the controller.
TBindings RestoreBindings(restore::TExtractController& controller);
// Gives "E&xtract" below window its hint.
void PrepareRestoreControls(QWidget* window);
// Both of the above, applied to the controls below window.
void BindRestoreCommands(QWidget* window, restore::TExtractController& controller);
