#include "ui/mbdialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace {

QStyle::StandardPixmap IconFor(int icon) {
  switch (icon) {
    case MB_ICONERROR:
      return QStyle::SP_MessageBoxCritical;
    case MB_ICONQUESTION:
      return QStyle::SP_MessageBoxQuestion;
    case MB_ICONEXCLAMATION:
      return QStyle::SP_MessageBoxWarning;
    default:
      return QStyle::SP_MessageBoxInformation;
  }
}

constexpr Qt::WindowFlags kBoxFlags =
    Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::MSWindowsFixedSizeDialogHint;

}  // namespace

QVector<int> TMbDialog::RowSizesFor(int n) {
  QVector<int> rows;
  if (n <= 0) return rows;
  const int perRow = n == 4 ? 2 : (n >= 10 ? 4 : 3);
  for (int left = n; left > 0; left -= perRow) rows.push_back(qMin(perRow, left));
  return rows;
}

QString TMbDialog::DisplayText(const QString& text) {
  QString t = text;
  t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  // "&&" stands for one "&", as in captions; the box shows its text as plain text.
  t.replace(QLatin1String("&&"), QLatin1String("&"));
  return t;
}

TMbDialog::TMbDialog(const MbBox& box, QWidget* owner) : QDialog(owner, kBoxFlags) {
  if (box.stayOnTop) setWindowFlag(Qt::WindowStaysOnTopHint, true);
  // A box with one button has nothing to choose: the title bar's close button ends it as well.
  if (box.buttons.size() == 1) setWindowFlag(Qt::WindowCloseButtonHint, true);
  setWindowTitle(box.caption);
  setModal(true);
  const MbState& st = MbModuleState();

  auto* outer = new QVBoxLayout(this);
  const int iconSize = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
  auto* top = new QHBoxLayout;
  if (box.icon) {
    outer->setContentsMargins(iconSize / 2 + 2, iconSize / 2 + 2, iconSize / 2 + 2,
                              iconSize / 2 + 2);
    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("icon"));
    icon->setPixmap(style()->standardIcon(IconFor(box.icon), nullptr, this).pixmap(iconSize));
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addSpacing(iconSize / 2);
  } else {
    outer->setContentsMargins(18, 18, 18, 18);
  }
  textLabel_ = new QLabel(DisplayText(box.text), this);
  textLabel_->setObjectName(QStringLiteral("text"));
  textLabel_->setTextFormat(Qt::PlainText);
  textLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  top->addWidget(textLabel_, 1, Qt::AlignVCenter);
  outer->addLayout(top);

  int buttonHeight = st.buttonHeight;
  auto* rowsBox = new QVBoxLayout;
  rowSizes_ = RowSizesFor(static_cast<int>(box.buttons.size()));
  int index = 0;
  for (int rowSize : rowSizes_) {
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    for (int i = 0; i < rowSize; ++i, ++index) {
      const MbButton& b = box.buttons[index];
      auto* pb = new QPushButton(b.caption, this);
      pb->setAutoDefault(true);
      if (st.buttonWidth > 0) pb->setFixedWidth(st.buttonWidth);
      if (st.buttonHeight > 0) pb->setFixedHeight(st.buttonHeight);
      if (buttonHeight <= 0) buttonHeight = pb->sizeHint().height();
      const int result = b.result;
      connect(pb, &QPushButton::clicked, this, [this, result] { done(result); });
      if (b.cancelKind && cancelIndex_ < 0) cancelIndex_ = index;
      buttons_.push_back(pb);
      row->addWidget(pb);
    }
    row->addStretch(1);
    rowsBox->addLayout(row);
  }
  outer->addSpacing(buttonHeight / 2);
  outer->addLayout(rowsBox);
  outer->setSizeConstraint(QLayout::SetFixedSize);

  // The focus starts on the default button, so Enter presses it.
  if (!buttons_.isEmpty()) {
    QPushButton* def = buttons_.value(box.defaultButton - 1, buttons_.first());
    def->setDefault(true);
    def->setFocus(Qt::OtherFocusReason);
  }
}

QString TMbDialog::shownText() const {
  return textLabel_->text();
}

QPushButton* TMbDialog::EscapeButton() const {
  // Only a Cancel or No button, or the one button of a box that offers no choice.
  if (cancelIndex_ >= 0) return buttons_[cancelIndex_];
  return buttons_.size() == 1 ? buttons_.first() : nullptr;
}

void TMbDialog::reject() {
  if (QPushButton* b = EscapeButton()) b->click();
}

void TMbDialog::closeEvent(QCloseEvent* event) {
  event->ignore();
  if (buttons_.size() == 1) buttons_.first()->click();
}

void TMbDialog::paintEvent(QPaintEvent* event) {
  QDialog::paintEvent(event);
  // A lowered bevel 3 pixels inside the client edge.
  QPainter p(this);
  QRect r = rect().adjusted(3, 3, -4, -4);
  p.setPen(palette().color(QPalette::Dark));
  p.drawLine(r.topLeft(), r.topRight());
  p.drawLine(r.topLeft(), r.bottomLeft());
  p.setPen(palette().color(QPalette::Light));
  p.drawLine(r.bottomLeft(), r.bottomRight());
  p.drawLine(r.topRight(), r.bottomRight());
}

TMbNoticeWindow::TMbNoticeWindow(const MbNoticeSpec& spec, QWidget* owner)
    : QDialog(owner, kBoxFlags), target_(spec.cancelTarget) {
  if (spec.stayOnTop) setWindowFlag(Qt::WindowStaysOnTopHint, true);
  setWindowTitle(spec.caption);
  setModal(false);
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(20, 20, 20, 20);
  if (!spec.picture.isEmpty()) {
    auto* pic = new QLabel(this);
    pic->setPixmap(QPixmap(spec.picture));
    outer->addWidget(pic);
  }
  auto* text = new QLabel(TMbDialog::DisplayText(spec.text), this);
  text->setObjectName(QStringLiteral("text"));
  text->setTextFormat(Qt::PlainText);
  outer->addWidget(text);
  const MbState& st = MbModuleState();
  if (spec.withGauge) {
    gauge_ = new QProgressBar(this);
    gauge_->setRange(spec.gaugeMin, spec.gaugeMax);
    gauge_->setValue(spec.gaugeMin);
    gauge_->setFixedHeight(st.gaugeHeight > 0 ? st.gaugeHeight : 20);
    if (st.gaugeWidth > 0) gauge_->setFixedWidth(st.gaugeWidth);
    outer->addWidget(gauge_);
  }
  if (spec.withCancel) {
    cancel_ = new QPushButton(QStringLiteral("&Cancel"), this);
    outer->addWidget(cancel_, 0, Qt::AlignHCenter);
    connect(cancel_, &QPushButton::clicked, this, [this] {
      if (target_)
        QCoreApplication::postEvent(target_, new QEvent(QEvent::Type(kNoticeCancelEventType)));
    });
  }
  adjustSize();
  if (spec.width > 0)
    setFixedWidth(spec.width);
  else
    setFixedWidth(sizeHint().width() + 40);
  if (spec.height > 0) setFixedHeight(spec.height);
}

void TMbNoticeWindow::Step(int n) {
  if (gauge_) gauge_->setValue(gauge_->value() + n);
}

void TMbNoticeWindow::closeEvent(QCloseEvent* event) {
  event->ignore();
}

void QtMbHost::BringToFront() {
  QWidget* w = main_ ? main_.data() : QApplication::activeWindow();
  if (!w) return;
  if (w->isMinimized()) w->showNormal();
  if (!w->isVisible()) w->show();
  w->raise();
  w->activateWindow();
}

int QtMbHost::ShowBox(const MbBox& box) {
  if (box.bringToFront) BringToFront();
  QWidget* owner = QApplication::activeWindow();
  if (!owner) owner = main_;
  if (box.beep) QApplication::beep();
  TMbDialog dlg(box, owner);
  dlg.raise();
  return dlg.exec();
}

QString QtMbHost::ActiveCaption() {
  QWidget* w = QApplication::activeWindow();
  return w ? w->windowTitle() : QString();
}

void QtMbHost::OpenNotice(const MbNoticeSpec& spec) {
  if (notice_) notice_->deleteLater();
  notice_ = new TMbNoticeWindow(
      spec, QApplication::activeWindow() ? QApplication::activeWindow() : main_.data());
  notice_->setAttribute(Qt::WA_DeleteOnClose, false);
  notice_->show();
  notice_->raise();
}

void QtMbHost::StepNotice(int n) {
  if (notice_) notice_->Step(n);
}

void QtMbHost::CloseNotice() {
  if (notice_) {
    notice_->hide();
    notice_->deleteLater();
    notice_ = nullptr;
  }
}
