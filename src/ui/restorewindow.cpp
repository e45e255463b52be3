#include "ui/restorewindow.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QProgressBar>
#include <QSignalBlocker>

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
  // The archive's password, typed once.
  TPasswordDlg dlg(window_, false);
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

void TRestoreWindow::TrayCycling(bool on) {
  if (trayCycling) trayCycling(on);
}

namespace {
QComboBox* SearchBox(QWidget* window) {
  return window ? window->findChild<QComboBox*>(QString::fromLatin1(ctl::kSearchBox)) : nullptr;
}
}  // namespace

QString TRestoreWindow::SearchText() const {
  const QComboBox* box = SearchBox(window_);
  return box ? box->currentText() : QString();
}

void TRestoreWindow::SetSearchText(const QString& text) {
  QComboBox* box = SearchBox(window_);
  if (!box) return;
  box->setEditText(text);
  if (box->lineEdit()) box->lineEdit()->end(false);
}

void TRestoreWindow::SelectSearchText() {
  QComboBox* box = SearchBox(window_);
  if (box && box->lineEdit()) box->lineEdit()->selectAll();
}

void TRestoreWindow::SetHistoryItems(const QStringList& items) {
  QComboBox* box = SearchBox(window_);
  if (!box) return;
  // The text being typed stays; the list changes under it.
  const QString text = box->currentText();
  const QSignalBlocker quiet(box);
  box->clear();
  box->addItems(items);
  box->setEditText(text);
}

void TRestoreWindow::SearchProgress(int done, int total) {
  auto* gauge =
      window_ ? window_->findChild<QProgressBar*>(QString::fromLatin1(ctl::kGauge)) : nullptr;
  if (!gauge) return;
  gauge->setRange(0, std::max(1, total));
  gauge->setValue(std::min(done, std::max(1, total)));
}

TBindings RestoreBindings(restore::TExtractController& controller,
                          std::function<void()> alsoAbort) {
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
          ctl::kAbortButton,
          "stop extraction, test or global search (TExtractController::BitBtn2Click)",
          [c, alsoAbort](bool) {
            c->BitBtn2Click();
            if (alsoAbort) alsoAbort();
          },
          &controller),
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
