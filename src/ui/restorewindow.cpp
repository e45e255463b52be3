#include "ui/restorewindow.h"

#include <QAbstractButton>
#include <QAction>
#include <QCoreApplication>
#include <QFileDialog>

#include "app/mb.h"
#include "ui/backupwindow.h"
#include "ui/windownames.h"

TRestoreWindow::TRestoreWindow(QWidget* window) : window_(window) {}

QString TRestoreWindow::ChooseFolder(const QString& title, const QString& initialDir) {
  if (chooseFolder) return chooseFolder(title, initialDir);
  // A window title holds one line.
  QString oneLine = title;
  oneLine.replace(QLatin1Char('\r'), QLatin1Char(' '));
  if (MbUnattendedCancel(oneLine)) return {};
  return QFileDialog::getExistingDirectory(window_, oneLine, initialDir);
}

bool TRestoreWindow::PasswordDialog(QString& password) {
  if (MbUnattendedCancel(QStringLiteral("Password Dialog"))) return false;
  TPasswordDlg dlg(window_);
  if (dlg.exec() != QDialog::Accepted) return false;
  password = dlg.password();
  return true;
}

void TRestoreWindow::SetHourglass(bool on) {
  QWidget* view =
      window_ ? window_->findChild<QWidget*>(QString::fromLatin1(ctl::kArchiveView)) : nullptr;
  if (!view) return;
  if (on)
    view->setCursor(Qt::WaitCursor);
  else
    view->unsetCursor();
}

void TRestoreWindow::GaugeStart() {
  if (gaugeStart) gaugeStart();
}

void TRestoreWindow::DiscAnimation(bool on) {
  if (discAnimation) discAnimation(on);
}

void TRestoreWindow::ClearStatusBar() {
  if (clearStatusBar) clearStatusBar();
}

void TRestoreWindow::GaugeClear() {
  if (gaugeClear) gaugeClear();
}

void TRestoreWindow::ClearReportBox() {
  if (clearReportBox) clearReportBox();
}

void TRestoreWindow::StartProcessClock() {
  if (startProcessClock) startProcessClock();
}

void TRestoreWindow::ProcessMessages() {
  QCoreApplication::processEvents();
}

void TRestoreWindow::ReportLine(const QString& line) {
  if (reportLine) reportLine(line);
}

TBindings RestoreBindings(restore::TExtractController& controller) {
  using restore::TExtractPreset;
  QPointer<restore::TExtractController> c(&controller);
  auto item = [&](const char* name, const char* operation, TExtractPreset preset) {
    return OnItem(
        name, operation, [c, preset](bool) { c->ExtractButClick(preset); }, &controller);
  };
  return {
      OnButton(
          ctl::kExtractButton, "extract (TExtractController::ExtractButClick)",
          [c](bool) { c->ExtractButClick(); }, &controller),
      OnButton(
          ctl::kAbortButton, "stop extraction or test (TExtractController::BitBtn2Click)",
          [c](bool) { c->BitBtn2Click(); }, &controller),
      item(ctl::kExtractSelectedOverwriteItem, "extract selected, overwriting",
           TExtractPreset::SelectedOverwrite),
      item(ctl::kExtractSelectedNoOverwriteItem, "extract selected, not overwriting",
           TExtractPreset::SelectedNoOverwrite),
      item(ctl::kExtractAllOverwriteItem, "extract all, overwriting", TExtractPreset::AllOverwrite),
      item(ctl::kExtractAllNoOverwriteItem, "extract all, not overwriting",
           TExtractPreset::AllNoOverwrite),
  };
}

void PrepareRestoreControls(QWidget* window) {
  if (auto* b = window->findChild<QAbstractButton*>(QString::fromLatin1(ctl::kExtractButton)))
    b->setToolTip(QStringLiteral("Extract/Restore File(s) From ZIP"));
}

void BindRestoreCommands(QWidget* window, restore::TExtractController& controller) {
  PrepareRestoreControls(window);
  ApplyBindings(*window, RestoreBindings(controller));
}
