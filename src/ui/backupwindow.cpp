#include "ui/backupwindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDateTimeEdit>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGuiApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

#include "app/checkstore.h"
#include "app/mb.h"
#include "backup/backuprun.h"
#include "ui/explorerviews.h"
#include "ui/windownames.h"

namespace {

QString S(const char* s) {
  return QString::fromLatin1(s);
}

// The label when an archive's password is asked for reading it.
constexpr const char* kReadLabel = "Enter the archive's password:";

}  // namespace

// ---- Password dialog -----------------------------------------------------------------------

TPasswordDlg::TPasswordDlg(QWidget* parent, bool confirm) : QDialog(parent), confirm_(confirm) {
  setObjectName(QStringLiteral("PasswordDlg"));
  setWindowTitle(QStringLiteral("Password Dialog"));
  setWindowFlag(Qt::WindowStaysOnTopHint, true);
  auto* v = new QVBoxLayout(this);
  label_ = new QLabel(S(confirm ? TPasswordCheck::kLabel : kReadLabel), this);
  password_ = new QLineEdit(this);
  password_->setObjectName(QStringLiteral("Password"));
  password_->setEchoMode(QLineEdit::Password);
  password2_ = new QLineEdit(this);
  password2_->setObjectName(QStringLiteral("password2"));
  password2_->setEchoMode(QLineEdit::Password);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  v->addWidget(label_);
  v->addWidget(password_);
  v->addWidget(password2_);
  v->addWidget(buttons);
  password2_->setVisible(confirm);
}

QString TPasswordDlg::password() const {
  return password_->text();
}

void TPasswordDlg::done(int result) {
  if (confirm_ && !TPasswordCheck::MayClose(password_->text(), password2_->text())) {
    label_->setText(S(TPasswordCheck::kMismatch));
    password_->clear();
    password2_->clear();
    password_->setFocus();
    return;
  }
  QDialog::done(result);
}

// ---- New-name dialog -----------------------------------------------------------------------

TSaveDlgWidget::TSaveDlgWidget(TSaveDlgForm& form, QWidget* parent) : QDialog(parent), form_(form) {
  setObjectName(QStringLiteral("SaveDlgForm"));
  setWindowTitle(form.Title());
  setWindowFlag(Qt::WindowStaysOnTopHint, true);
  auto* v = new QVBoxLayout(this);
  auto* model = new QFileSystemModel(this);
  model->setRootPath(QDir::rootPath());
  model->setFilter(QDir::AllDirs | QDir::Files | QDir::NoDotAndDotDot);
  model->setNameFilters({QStringLiteral("*.exe"), QStringLiteral("*.zip"), QStringLiteral("*.EXE"),
                         QStringLiteral("*.ZIP")});
  model->setNameFilterDisables(false);
  auto* tree = new QTreeView(this);
  tree->setObjectName(QStringLiteral("SaveDlgTree"));
  tree->setModel(model);
  tree->setToolTip(QStringLiteral("Dbl-click on file or directory"));
  for (int c = 1; c < model->columnCount(); ++c) tree->hideColumn(c);
  tree->header()->hide();
  // The tree opens at the proposed folder (the home folder when it is gone).
  const QString proposed = QFileInfo(form.Text()).absolutePath();
  const QModelIndex at = model->index(
      form.Text().startsWith(QLatin1Char('/')) && QFileInfo(proposed).isDir() ? proposed
                                                                              : QDir::homePath());
  tree->setCurrentIndex(at);
  tree->scrollTo(at);
  auto* label = new QLabel(S(TSaveDlgForm::kFolderLabel), this);
  label->setVisible(form.LabelVisible());
  edit_ = new QLineEdit(form.Text(), this);
  edit_->setObjectName(QStringLiteral("SaveDlgEdit"));
  edit_->setToolTip(QStringLiteral("modify your filename here"));
  edit_->setCursorPosition(static_cast<int>(edit_->text().size()));
  edit_->installEventFilter(this);
  connect(edit_, &QLineEdit::textEdited, this, [this](const QString& t) { form_.SetText(t); });
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(tree, &QTreeView::clicked, this, [this, model](const QModelIndex& i) {
    if (model->isDir(i))
      form_.FolderClicked(model->filePath(i));
    else
      form_.FileClicked(model->filePath(i));
    edit_->setText(form_.Text());
  });
  v->addWidget(tree, 1);
  // The writer's root is no folder of the file system: it is offered on a button of its own.
  if (!form.BurnerRoot().isEmpty()) {
    auto* burner = new QPushButton(
        QStringLiteral("Disc writer (") + form.BurnerRoot() + QLatin1Char(')'), this);
    burner->setObjectName(QStringLiteral("SaveDlgBurner"));
    connect(burner, &QPushButton::clicked, this, [this] {
      form_.FolderClicked(form_.BurnerRoot());
      edit_->setText(form_.Text());
    });
    v->addWidget(burner);
  }
  v->addWidget(label);
  v->addWidget(edit_);
  v->addWidget(buttons);
  // Wide enough for the proposed name at the font in use (within the screen), never narrower
  // than the usual 420 pixels.
  const QFontMetrics fm(edit_->font());
  const QMargins m = v->contentsMargins();
  int width =
      fm.horizontalAdvance(edit_->text()) + 4 * fm.averageCharWidth() + m.left() + m.right();
  if (const QScreen* s = screen()) width = qMin(width, s->availableGeometry().width() * 9 / 10);
  resize(qMax(420, width), 440);
  // Typing goes into the name at once, after the proposed folder.
  edit_->setFocus(Qt::OtherFocusReason);
}

bool TSaveDlgWidget::eventFilter(QObject* watched, QEvent* event) {
  if (watched == edit_ && event->type() == QEvent::MouseButtonPress) {
    form_.EditClicked();
    edit_->setText(form_.Text());
  }
  return QDialog::eventFilter(watched, event);
}

void TSaveDlgWidget::accept() {
  form_.SetText(edit_->text());
  const bool ok = form_.OkClick();
  edit_->setText(form_.Text());
  if (ok) QDialog::accept();
}

// ---- The window's host ---------------------------------------------------------------------

TBackupWindowHost::TBackupWindowHost(QWidget* window) : window_(window) {}

TBackupWindowHost::~TBackupWindowHost() {
  if (busy_) QGuiApplication::restoreOverrideCursor();
}

template <class T>
T* TBackupWindowHost::Find(const char* name) const {
  return window_ ? window_->findChild<T*>(S(name)) : nullptr;
}

void TBackupWindowHost::SetArchivePanel(const QString& text) {
  if (auto* l = Find<QLabel>(rctl::kZipFilePanel)) l->setText(text);
}

void TBackupWindowHost::ClearStatusBar() {
  if (auto* l = Find<QLabel>(rctl::kProcessTimePanel)) l->setText(QStringLiteral("Process Time"));
  if (auto* l = Find<QLabel>(rctl::kActiveFilePanel))
    l->setText(QStringLiteral("ActiveFile: <none>"));
  if (auto* l = Find<QLabel>(rctl::kCountPanel)) l->setText(QStringLiteral("DIR&files count"));
  if (auto* l = Find<QLabel>(rctl::kTotalSizePanel)) l->setText(QStringLiteral("Total size (Mb)"));
  GaugeClear();
  DiscAnimation(false);
  SetBusyCursor(false);
}

void TBackupWindowHost::StatusNote(const QString& note) {
  if (auto* l = Find<QLabel>(rctl::kActiveFilePanel)) {
    l->setText(note);
    l->setToolTip(note);
  }
}

void TBackupWindowHost::DiscAnimation(bool on) {
  if (progress) progress->DiscAnimation(on);
}

bool TBackupWindowHost::TrayIconShown() const {
  return progress && progress->TrayIconShown();
}

void TBackupWindowHost::TrayAnimation(bool on) {
  if (progress && progress->TrayIconShown()) progress->TrayAnimation(on);
}

void TBackupWindowHost::TrayIcon(int picture) {
  if (progress && progress->TrayIconShown()) progress->TrayIcon(picture);
}

void TBackupWindowHost::GaugeClear() {
  if (auto* g = Find<QProgressBar>(ctl::kGauge)) {
    g->setRange(0, 100);
    g->setValue(0);
  }
}

void TBackupWindowHost::GaugeMoving() {
  if (auto* g = Find<QProgressBar>(ctl::kGauge)) g->setRange(0, 0);
}

void TBackupWindowHost::GaugePercent() {
  if (auto* g = Find<QProgressBar>(ctl::kGauge)) {
    g->setRange(0, 100);
    g->setValue(0);
  }
}

void TBackupWindowHost::SetBusyCursor(bool busy) {
  if (busy == busy_ || !QGuiApplication::instance()) return;
  busy_ = busy;
  if (busy)
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  else
    QGuiApplication::restoreOverrideCursor();
}

void TBackupWindowHost::SetControlAlarm(const QString& control, bool on) {
  if (!window_) return;
  if (auto* b = window_->findChild<QAbstractButton*>(control))
    b->setStyleSheet(on ? QStringLiteral("color: red; font-weight: bold;") : QString());
}

bool TBackupWindowHost::WindowHidden() const {
  return !window_ || !window_->isVisible();
}

void TBackupWindowHost::ReportClear() {
  if (reportBox)
    reportBox->Clear();
  else if (auto* r = Find<QPlainTextEdit>(ctl::kReportBox))
    r->clear();
}

void TBackupWindowHost::ReportAdd(const QString& line) {
  if (reportBox) {
    reportBox->Add(line);
    reportBox->ScrollToCaret();
    return;
  }
  auto* r = Find<QPlainTextEdit>(ctl::kReportBox);
  if (!r) return;
  // Inserted as text, never as markup: an archive named "<b>x.zip" is shown as it is named.
  QTextCursor c(r->document());
  c.movePosition(QTextCursor::End);
  if (!r->document()->isEmpty()) c.insertBlock();
  c.insertText(line);
  r->setTextCursor(c);
  r->ensureCursorVisible();
}

int TBackupWindowHost::ReportLineCount() const {
  if (reportBox) return static_cast<int>(reportBox->Lines().size());
  auto* r = Find<QPlainTextEdit>(ctl::kReportBox);
  if (!r || r->document()->isEmpty()) return 0;
  return r->document()->blockCount();
}

void TBackupWindowHost::ReportSuspend(bool on) {
  if (auto* r = Find<QPlainTextEdit>(ctl::kReportBox)) r->setUpdatesEnabled(!on);
}

std::vector<std::string> TBackupWindowHost::HighlightedPaths() const {
  auto* tree = Find<TExplorerTree>(ctl::kExplorerTree);
  return tree ? tree->Highlighted() : std::vector<std::string>{};
}

void TBackupWindowHost::ResetDateFilter() {
  if (auto* none = Find<QRadioButton>(ctl::kDateFilterNone)) none->setChecked(true);
  if (auto* picker = Find<QDateTimeEdit>(ctl::kDateFilterPicker))
    picker->setDateTime(QDateTime::currentDateTime());
}

QString TBackupWindowHost::FocusedTreePath() const {
  auto* tree = Find<TExplorerTree>(ctl::kExplorerTree);
  return tree ? tree->CurrentFolder() : QString();
}

void TBackupWindowHost::BrowseTreeTo(const QStringList& folders) {
  auto* tree = Find<TExplorerTree>(ctl::kExplorerTree);
  if (!tree) return;
  // A folder that does not exist (the other program's, for a two-program preset) is not in the
  // tree: the tree stays where it was.
  for (const QString& folder : folders) tree->BrowseTo(folder);
}

void TBackupWindowHost::StopSchedulerTimer() {
  if (auto* t = Find<QTimer>(ctl::kSchedulerTimer)) {
    schedulerWasRunning_ = schedulerWasRunning_ || t->isActive();
    t->stop();
  }
}

void TBackupWindowHost::StartSchedulerTimer() {
  if (auto* t = Find<QTimer>(ctl::kSchedulerTimer); t && schedulerWasRunning_) t->start();
  schedulerWasRunning_ = false;
}

std::optional<QString> TBackupWindowHost::ShowPasswordDialog() {
  // Without a user the dialog is answered with Cancel.
  if (MbUnattendedCancel(QStringLiteral("Password Dialog"))) return std::nullopt;
  TPasswordDlg dlg(window_);
  if (dlg.exec() != QDialog::Accepted) return std::nullopt;
  return dlg.password();
}

QString TBackupWindowHost::BrowseFolder(const QString& title) {
  if (MbUnattendedCancel(title)) return {};
  return QFileDialog::getExistingDirectory(window_, title);
}

std::optional<QString> TBackupWindowHost::ShowSaveDialog(TSaveDlgForm& form) {
  if (MbUnattendedCancel(form.Title())) return std::nullopt;
  TSaveDlgWidget dlg(form, window_);
  if (dlg.exec() != QDialog::Accepted) return std::nullopt;
  return form.Text();
}
