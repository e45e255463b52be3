#include "ui/reportview.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDateTimeEdit>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QStackedWidget>
#include <QSystemTrayIcon>
#include <QTabBar>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <algorithm>

#include "backup/reportbox.h"
#include "backup/runreport.h"
#include "ui/mainform.h"
#include "ui/windownames.h"

namespace {

QString S(const char* s) {
  return QString::fromUtf8(s);
}

// The picture as drawn for a disabled control: the second frame of an animation.
QPixmap Dimmed(const QPixmap& p) {
  return QIcon(p).pixmap(p.size(), QIcon::Disabled);
}

}  // namespace

TWindowReport::TWindowReport(TMainform& form) : QObject(&form), form_(form) {
  box_ = form.findChild<QPlainTextEdit*>(S(ctl::kReportBox));
  gauge_ = form.findChild<QProgressBar*>(S(ctl::kGauge));
  disc_ = form.findChild<QLabel*>(S(ctl::kDiscImage));
  if (box_) {
    box_->installEventFilter(this);
    // Whoever empties the box (the run clears it too) leaves it without lines.
    connect(box_->document(), &QTextDocument::contentsChanged, this, [this] {
      if (box_ && box_->document()->isEmpty()) hasLines_ = false;
    });
  }
  if (disc_) {
    discPicture_[0] = disc_->pixmap();
    discPicture_[1] = Dimmed(discPicture_[0]);
  }
  const QIcon idle = form.windowIcon();
  trayPicture_[1] = idle;
  trayPicture_[0] = QIcon(idle.pixmap(32, 32, QIcon::Disabled));
  discTimer_ = new QTimer(this);
  discTimer_->setInterval(250);
  connect(discTimer_, &QTimer::timeout, this, [this] {
    discFrame_ ^= 1;
    if (disc_) disc_->setPixmap(discPicture_[discFrame_]);
  });
  trayTimer_ = new QTimer(this);
  trayTimer_->setInterval(400);
  connect(trayTimer_, &QTimer::timeout, this, [this] {
    trayFrame_ ^= 1;
    if (QSystemTrayIcon* tray = form_.trayIcon()) tray->setIcon(trayPicture_[trayFrame_]);
  });
}

TWindowReport::~TWindowReport() {
  // The box may outlive this view (the window's own view and a test's both watch it).
  if (box_) box_->removeEventFilter(this);
}

// ---- Report box ----

void TWindowReport::Clear() {
  pending_.clear();
  scrollPending_ = false;
  if (box_) box_->clear();
  hasLines_ = false;
}

void TWindowReport::Add(const QString& text) {
  if (!box_) return;
  // The report is kept as plain lines; they go into the box together on the next turn of the
  // event loop, and only while the box can be seen: a run with the full report adds one for
  // every file it stores, mostly with nobody watching (an unattended run, the window in the
  // tray).
  if (text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n')))
    pending_ += SplitBoxLines(text, true);
  else
    pending_ << text;
  QueueFlush();
}

void TWindowReport::QueueFlush() {
  if (flushQueued_ || !box_ || !box_->isVisible()) return;
  flushQueued_ = true;
  QTimer::singleShot(0, this, [this] { Flush(); });
}

void TWindowReport::Flush() {
  flushQueued_ = false;
  if (!box_ || pending_.isEmpty()) return;
  QTextCursor c(box_->document());
  c.movePosition(QTextCursor::End);
  c.beginEditBlock();
  // Inserted as text, never as markup: a file name like "<b>" stays as it is.
  for (const QString& line : std::as_const(pending_)) {
    if (hasLines_ || !box_->document()->isEmpty()) c.insertBlock();
    c.insertText(line);
    hasLines_ = true;
  }
  c.endEditBlock();
  pending_.clear();
  if (scrollPending_) {
    scrollPending_ = false;
    ScrollToCaret();
  }
}

QStringList TWindowReport::Lines() const {
  if (!box_) return {};
  QStringList lines;
  if (hasLines_ || !box_->document()->isEmpty())
    lines = box_->toPlainText().split(QLatin1Char('\n'));
  return lines + pending_;
}

int TWindowReport::LineCount() const {
  if (!box_) return 0;
  const int inBox = hasLines_ || !box_->document()->isEmpty() ? box_->document()->blockCount() : 0;
  return inBox + static_cast<int>(pending_.size());
}

void TWindowReport::SetLines(const QStringList& lines) {
  if (!box_) return;
  pending_.clear();
  box_->setPlainText(lines.join(QLatin1Char('\n')));
  hasLines_ = !lines.isEmpty();
}

void TWindowReport::ScrollToCaret() {
  if (!box_) return;
  if (!pending_.isEmpty()) {
    scrollPending_ = true;
    return;
  }
  box_->moveCursor(QTextCursor::End);
  box_->ensureCursorVisible();
}

void TWindowReport::SetPlainText(bool) {
  // The box holds plain text from the start; nothing to switch.
}

void TWindowReport::SetWordWrap(bool on) {
  if (box_) box_->setLineWrapMode(on ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
}

void TWindowReport::SetReadOnly(bool on) {
  if (!box_) return;
  // What the user edits is the box itself.
  if (!on) Flush();
  box_->setReadOnly(on);
  if (!on) box_->setEnabled(true);
}

void TWindowReport::SetWantReturns(bool on) {
  wantReturns_ = on;
}

void TWindowReport::SetHint(const QString& hint) {
  if (box_) box_->setToolTip(hint);
}

bool TWindowReport::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Show && watched == box_.data()) QueueFlush();
  if (event->type() == QEvent::KeyPress && !wantReturns_ && watched == box_.data()) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) return true;
  }
  return QObject::eventFilter(watched, event);
}

// ---- Progress ----

void TWindowReport::SetGaugeMoving(bool moving) {
  if (!gauge_) return;
  if (moving)
    gauge_->setRange(0, 0);
  else if (gauge_->maximum() == 0)
    gauge_->setRange(0, 100);
}

void TWindowReport::SetGaugePosition(int percent) {
  if (!gauge_) return;
  if (gauge_->maximum() == 0) gauge_->setRange(0, 100);
  gauge_->setValue(std::clamp(percent, 0, 100));
}

void TWindowReport::DiscAnimation(bool on) {
  if (on) {
    if (!discTimer_->isActive()) discTimer_->start();
    return;
  }
  discTimer_->stop();
  discFrame_ = 0;
  if (disc_) disc_->setPixmap(discPicture_[0]);
}

void TWindowReport::SetNormalCursor() {
  while (QApplication::overrideCursor()) QApplication::restoreOverrideCursor();
}

bool TWindowReport::TrayIconShown() const {
  const QSystemTrayIcon* tray = form_.trayIcon();
  return tray && tray->isVisible();
}

void TWindowReport::TrayAnimation(bool on) {
  if (on) {
    if (!trayTimer_->isActive()) trayTimer_->start();
  } else {
    trayTimer_->stop();
  }
}

void TWindowReport::TrayIcon(int picture) {
  if (QSystemTrayIcon* tray = form_.trayIcon()) tray->setIcon(trayPicture_[picture == 0 ? 0 : 1]);
}

void TWindowReport::SetTrayHint(const QString& hint) {
  if (QSystemTrayIcon* tray = form_.trayIcon()) tray->setToolTip(hint);
}

bool TWindowReport::WindowHidden() const {
  return !form_.isVisible();
}

void TWindowReport::ShowReportPage() {
  // Every tab page on the way up from the report page becomes the current one.
  QWidget* page = form_.findChild<QWidget*>(S(ctl::kReportPage));
  for (QWidget* w = page; w && w != &form_; w = w->parentWidget()) {
    auto* stack = qobject_cast<QStackedWidget*>(w->parentWidget());
    auto* tabs = stack ? qobject_cast<QTabWidget*>(stack->parentWidget()) : nullptr;
    if (tabs) tabs->setCurrentWidget(w);
  }
}

void TWindowReport::SetControlAlarm(const QString& control, bool on) {
  if (auto* w = qobject_cast<QWidget*>(form_.FindControl(control)))
    w->setStyleSheet(on ? QStringLiteral("color: red; font-weight: bold;") : QString());
}

void TWindowReport::SetTabHighlight(bool inner, int index, bool on) {
  auto* pages = form_.findChild<QTabWidget*>(S(inner ? ctl::kMakePages : ctl::kPages));
  if (!pages) return;
  QTabBar* bar = pages->tabBar();
  // The highlight colour on the caption; an invalid colour returns to the style's own.
  bar->setTabTextColor(index, on ? bar->palette().color(QPalette::Highlight) : QColor());
}

QDateTime TWindowReport::DatePickerValue() const {
  if (auto* p = form_.findChild<QDateTimeEdit*>(S(ctl::kDateFilterPicker))) return p->dateTime();
  return {};
}

// ---- Commands ----

TBindings ReportBindings(TRunReport& report) {
  TRunReport* r = &report;
  // Checkable items have toggled themselves already; the handlers set the marks.
  return {
      OnItem(ctl::kSaveReportItem, "save the report (TRunReport::SaveReport1Click)",
             [r](bool) { r->SaveReport1Click(); }),
      OnItem(rctl::kWordWrapItem, "word wrap (TRunReport::WordWrap1Click)",
             [r](bool) { r->WordWrap1Click(); }),
      OnItem(ctl::kClearCommentsItem, "clear comments (TRunReport::ClearComments1Click)",
             [r](bool) { r->ClearComments1Click(); }),
      OnItem(ctl::kViewCommentItem, "show the comment (TRunReport::Zipcomment1Click)",
             [r](bool) { r->Zipcomment1Click(true); }),
      OnItem(ctl::kToolsCommentItem, "show the comment (TRunReport::Zipcomment1Click)",
             [r](bool) { r->Zipcomment1Click(false); }),
      OnButton(rctl::kSaveCommentButton, "save the comment (TRunReport::SaveCommentClick)",
               [r](bool) { r->SaveCommentClick(); }),
      OnButton(rctl::kReportToZipButton, "report into the archive (TRunReport::ReportToZIP1Click)",
               [r](bool) { r->ReportToZIP1Click(); }),
  };
}

void PrepareReportControls(TMainform& form, TRunReport& report) {
  if (auto* wrap = form.findChild<QAction*>(S(rctl::kWordWrapItem))) {
    wrap->setCheckable(true);
    wrap->setChecked(report.WordWrap());
  }
}
