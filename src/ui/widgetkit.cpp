#include "ui/widgetkit.h"

#include <QAbstractButton>
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QStyleOptionFrame>
#include <QStyleOptionViewItem>
#include <QTabWidget>
#include <QToolButton>
#include <algorithm>

namespace ui {

namespace {

// The width a line edit needs to show text in full: the text, the edit's inner margins and its
// frame as the style draws them.
int LineEditWidthFor(const QLineEdit* edit, const QString& text) {
  QStyleOptionFrame opt;
  opt.initFrom(edit);
  opt.lineWidth = edit->hasFrame() ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth) : 0;
  const QMargins tm = edit->textMargins();
  const QMargins cm = edit->contentsMargins();
  // QLineEdit keeps 2 pixels on each side of the text, and one for the caret.
  const int w = edit->fontMetrics().horizontalAdvance(text) + 2 * 2 + 1 + tm.left() + tm.right() +
                cm.left() + cm.right();
  return edit->style()
      ->sizeFromContents(QStyle::CT_LineEdit, &opt, QSize(w, edit->sizeHint().height()), edit)
      .width();
}

}  // namespace

QWidget* OptionListSlot(QWidget* parent, const char* name, const char* hint) {
  auto* slot = new QWidget(parent);
  slot->setObjectName(S(name));
  if (*hint) slot->setToolTip(S(hint));
  return slot;
}

void FitLineEdit(QLineEdit* edit, const QStringList& texts) {
  int w = 0;
  for (const QString& t : texts) w = std::max(w, LineEditWidthFor(edit, t));
  edit->setMinimumWidth(w);
}

void FitComboBox(QComboBox* combo, const QString& text) {
  QStyleOptionComboBox opt;
  opt.initFrom(combo);
  opt.editable = true;
  opt.currentText = text;
  const int inner = combo->lineEdit() ? LineEditWidthFor(combo->lineEdit(), text)
                                      : combo->fontMetrics().horizontalAdvance(text);
  combo->setMinimumWidth(combo->style()
                             ->sizeFromContents(QStyle::CT_ComboBox, &opt,
                                                QSize(inner, combo->sizeHint().height()), combo)
                             .width());
}

QIcon ProgramIcon() {
  QPixmap pm(32, 32);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setBrush(QColor(40, 90, 170));
  p.setPen(QPen(QColor(20, 40, 90), 1.5));
  p.drawEllipse(2, 2, 28, 28);
  p.setBrush(QColor(230, 235, 245));
  p.drawEllipse(12, 12, 8, 8);
  p.setPen(QPen(QColor(250, 200, 40), 2));
  p.drawArc(6, 6, 20, 20, 30 * 16, 90 * 16);
  return QIcon(pm);
}

QAction* AddItem(QMenu* menu, const char* name, const char* caption, bool checkable, bool checked) {
  QAction* a = menu->addAction(S(caption));
  a->setObjectName(S(name));
  a->setCheckable(checkable);
  a->setChecked(checked);
  return a;
}

QMenu* AddSub(QMenu* menu, const char* name, const char* caption) {
  QMenu* m = menu->addMenu(S(caption));
  m->setObjectName(S(name));
  m->menuAction()->setObjectName(S(name));
  return m;
}

void AddRadioItems(QMenu* menu, std::initializer_list<std::pair<const char*, const char*>> items,
                   int checked) {
  auto* group = new QActionGroup(menu);
  group->setExclusive(true);
  int i = 0;
  for (const auto& [name, caption] : items) {
    QAction* a = AddItem(menu, name, caption, true, i == checked);
    a->setData(i);
    group->addAction(a);
    ++i;
  }
}

QPushButton* Button(QWidget* parent, const char* name, const char* caption, const char* hint) {
  auto* b = new QPushButton(S(caption), parent);
  b->setObjectName(S(name));
  if (*hint) b->setToolTip(S(hint));
  return b;
}

QGroupBox* Group(QWidget* parent, const char* name, const char* caption) {
  auto* g = new QGroupBox(S(caption), parent);
  g->setObjectName(S(name));
  return g;
}

QLabel* Label(QWidget* parent, const char* name, const char* text) {
  auto* l = new QLabel(S(text), parent);
  l->setObjectName(S(name));
  l->setTextFormat(Qt::PlainText);
  return l;
}

QWidget* EditWithButton(QWidget* parent, const char* name, const char* text, bool enabled) {
  auto* box = new QWidget(parent);
  auto* h = new QHBoxLayout(box);
  h->setContentsMargins(0, 0, 0, 0);
  h->setSpacing(1);
  auto* e = new QLineEdit(S(text), box);
  e->setObjectName(S(name));
  e->setEnabled(enabled);
  auto* b = new QToolButton(box);
  b->setObjectName(S(name) + QStringLiteral("Button"));
  b->setText(QStringLiteral("…"));
  b->setEnabled(enabled);
  FitLineEdit(e, {e->text()});
  h->addWidget(e, 1);
  h->addWidget(b);
  return box;
}

QString CaptionOf(const QObject* o) {
  if (auto* a = qobject_cast<const QAction*>(o)) return a->text();
  if (auto* m = qobject_cast<const QMenu*>(o)) return m->title();
  if (auto* b = qobject_cast<const QAbstractButton*>(o)) return b->text();
  if (auto* g = qobject_cast<const QGroupBox*>(o)) return g->title();
  if (auto* l = qobject_cast<const QLabel*>(o)) return l->text();
  if (auto* e = qobject_cast<const QLineEdit*>(o)) return e->text();
  if (auto* w = qobject_cast<const QWidget*>(o)) {
    if (auto* tabs = qobject_cast<QTabWidget*>(w->parentWidget() ? w->parentWidget()->parentWidget()
                                                                 : nullptr)) {
      int i = tabs->indexOf(const_cast<QWidget*>(w));
      if (i >= 0) return tabs->tabText(i);
    }
    return w->windowTitle();
  }
  return {};
}

void RedrawItemIndicator(QPainter* p, const QStyleOptionViewItem& opt,
                         QStyle::PrimitiveElement indicator, bool enabled) {
  const QWidget* w = opt.widget;
  QStyle* style = w ? w->style() : QApplication::style();
  QStyleOptionViewItem box(opt);
  box.rect = style->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &opt, w);
  p->save();
  p->setClipRect(box.rect);
  // What lies under the indicator: the item's own background, or the view's, and the selection.
  p->fillRect(box.rect, opt.backgroundBrush.style() != Qt::NoBrush
                            ? opt.backgroundBrush
                            : opt.palette.brush(QPalette::Base));
  style->drawPrimitive(QStyle::PE_PanelItemViewItem, &opt, p, w);
  box.state &=
      ~(QStyle::State_HasFocus | QStyle::State_On | QStyle::State_Off | QStyle::State_NoChange);
  if (!enabled) box.state &= ~(QStyle::State_Enabled | QStyle::State_MouseOver);
  box.state |= opt.checkState == Qt::Checked            ? QStyle::State_On
               : opt.checkState == Qt::PartiallyChecked ? QStyle::State_NoChange
                                                        : QStyle::State_Off;
  style->drawPrimitive(indicator, &box, p, w);
  p->restore();
}

}  // namespace ui
