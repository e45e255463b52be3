#include "ui/restorewindow.h"

#include <QAbstractButton>
#include <QAction>
#include <QCoreApplication>
#include <QFileDialog>

#include "app/mb.h"
#include "ui/backupwindow.h"

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
  QWidget* view = window_ ? window_->findChild<QWidget*>(QStringLiteral("ArchiveView")) : nullptr;
  if (!view) return;
  if (on)
    view->setCursor(Qt::WaitCursor);
  else
    view->unsetCursor();
}

void TRestoreWindow::GaugeStart() {
  if (gaugeStart) gaugeStart();
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

void BindRestoreCommands(QWidget* window, restore::TExtractController& controller) {
  using restore::TExtractPreset;
  QPointer<restore::TExtractController> c(&controller);
  auto onButton = [&](const char* name, std::function<void()> fn) {
    if (auto* b = window->findChild<QAbstractButton*>(QString::fromLatin1(name)))
      QObject::connect(b, &QAbstractButton::clicked, &controller, fn);
  };
  auto onItem = [&](const char* name, TExtractPreset preset) {
    if (auto* a = window->findChild<QAction*>(QString::fromLatin1(name)))
      QObject::connect(a, &QAction::triggered, &controller,
                       [c, preset] { c->ExtractButClick(preset); });
  };
  onButton("ExtractBut", [c] { c->ExtractButClick(); });
  onButton("AbortBut", [c] { c->BitBtn2Click(); });
  onItem("ExtractSelectedOverWrite1", TExtractPreset::SelectedOverwrite);
  onItem("ExtractSelectedNoOverwrite1", TExtractPreset::SelectedNoOverwrite);
  onItem("ExtractAllOverwrite1", TExtractPreset::AllOverwrite);
  onItem("ExtractAllNoOverwrite1", TExtractPreset::AllNoOverwrite);
  if (auto* b = window->findChild<QAbstractButton*>(QStringLiteral("ExtractBut")))
    b->setToolTip(QStringLiteral("Extract/Restore File(s) From ZIP"));
}
