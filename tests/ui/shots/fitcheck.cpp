#include "fitcheck.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOption>
#include <QTabBar>

#include "ui/optionlistview.h"

namespace {

QString Name(const QWidget* w) {
  QString n = w->objectName();
  for (const QWidget* p = w->parentWidget(); n.isEmpty() && p; p = p->parentWidget())
    if (!p->objectName().isEmpty())
      n = p->objectName() + QStringLiteral(" > ") + w->metaObject()->className();
  return n.isEmpty() ? QString::fromLatin1(w->metaObject()->className()) : n;
}

QString Clipped(const QWidget* w, const QString& text, int need, int room) {
  return QStringLiteral("%1 \"%2\": needs %3 px, has %4").arg(Name(w), text).arg(need).arg(room);
}

int TextWidth(const QFont& font, const QString& text) {
  return QFontMetrics(font).size(Qt::TextShowMnemonic, text).width();
}

QFont Bold(QFont f) {
  f.setBold(true);
  return f;
}

QString LabelFits(const QLabel* l) {
  if (l->text().isEmpty()) return {};
  const QRect cr = l->contentsRect().adjusted(l->margin(), l->margin(), -l->margin(), -l->margin());
  const QFontMetrics fm(l->font());
  if (l->wordWrap()) {
    const int h = fm.boundingRect(cr, Qt::TextWordWrap, l->text()).height();
    return h <= cr.height() ? QString() : Clipped(l, l->text(), h, cr.height());
  }
  const QStringList lines = l->text().split(QLatin1Char('\n'));
  for (QString line : lines) {
    line.remove(QLatin1Char('\r'));
    const int w = fm.horizontalAdvance(line);
    if (w > cr.width()) return Clipped(l, line, w, cr.width());
  }
  // Every line of a multi-line text in the label's height.
  const int h = fm.height() + (static_cast<int>(lines.size()) - 1) * fm.lineSpacing();
  return h <= cr.height() ? QString() : Clipped(l, l->text(), h, cr.height());
}

QString ButtonFits(const QAbstractButton* b) {
  if (b->text().isEmpty()) return {};
  QStyle::SubElement element;
  QStyleOptionButton opt;
  opt.initFrom(b);
  opt.text = b->text();
  if (qobject_cast<const QPushButton*>(b))
    element = QStyle::SE_PushButtonContents;
  else if (qobject_cast<const QCheckBox*>(b))
    element = QStyle::SE_CheckBoxContents;
  else if (qobject_cast<const QRadioButton*>(b))
    element = QStyle::SE_RadioButtonContents;
  else  // tool buttons: the text within the button
    return TextWidth(b->font(), b->text()) <= b->width()
               ? QString()
               : Clipped(b, b->text(), TextWidth(b->font(), b->text()), b->width());
  const QRect r = b->style()->subElementRect(element, &opt, b);
  const int w = TextWidth(b->font(), b->text());
  return w <= r.width() ? QString() : Clipped(b, b->text(), w, r.width());
}

// Group captions are measured bold: the window highlights some of them in bold.
QString GroupFits(const QGroupBox* g) {
  if (g->title().isEmpty()) return {};
  QStyleOptionGroupBox opt;
  opt.initFrom(g);
  opt.text = g->title();
  opt.textAlignment = g->alignment();
  opt.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
  opt.lineWidth = 1;
  opt.features = g->isFlat() ? QStyleOptionFrame::Flat : QStyleOptionFrame::None;
  const QRect label =
      g->style()->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxLabel, g);
  const int w = TextWidth(Bold(g->font()), g->title());
  const int room = g->width() - label.left();
  return w <= room ? QString() : Clipped(g, g->title(), w, room);
}

QString EditFits(const QLineEdit* e) {
  const QString text = e->text().isEmpty() ? e->placeholderText() : e->text();
  if (text.isEmpty()) return {};
  QStyleOptionFrame opt;
  opt.initFrom(e);
  opt.rect = e->rect();
  opt.lineWidth = e->hasFrame() ? e->style()->pixelMetric(QStyle::PM_DefaultFrameWidth) : 0;
  const QMargins tm = e->textMargins();
  // The edit keeps 2 pixels of its own on each side of the text.
  const int room = e->style()->subElementRect(QStyle::SE_LineEditContents, &opt, e).width() -
                   tm.left() - tm.right() - 2 * 2;
  const int w = e->fontMetrics().horizontalAdvance(text);
  return w <= room ? QString() : Clipped(e, text, w, room);
}

// The shown entry of a drop-down list (an editable one is its edit's text, checked as an edit).
QString ComboFits(const QComboBox* c) {
  const QString text = c->currentText();
  if (text.isEmpty() || c->isEditable()) return {};
  QStyleOptionComboBox opt;
  opt.initFrom(c);
  opt.editable = false;
  opt.frame = c->hasFrame();
  opt.currentText = text;
  opt.subControls = QStyle::SC_All;
  const QRect field =
      c->style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, c);
  // The label is drawn one pixel inside the field on each side.
  const int room = field.width() - 2;
  const int w = c->fontMetrics().horizontalAdvance(text);
  return w <= room ? QString() : Clipped(c, text, w, room);
}

// A tab caption wider than its text area is drawn shortened with "…".
QString TabsFit(const QTabBar* bar) {
  for (int i = 0; i < bar->count(); ++i) {
    QStyleOptionTab opt;
    opt.initFrom(bar);
    opt.rect = bar->tabRect(i);
    opt.text = bar->tabText(i);
    opt.shape = bar->shape();
    opt.icon = bar->tabIcon(i);
    opt.iconSize = bar->iconSize();
    opt.documentMode = bar->documentMode();
    const QRect r = bar->style()->subElementRect(QStyle::SE_TabBarTabText, &opt, bar);
    const int w = TextWidth(bar->font(), opt.text);
    if (w > r.width()) return Clipped(bar, opt.text, w, r.width());
  }
  return {};
}

// A column caption wider than its section (beside the sort arrow) is drawn shortened with "…".
QString HeaderFits(const QHeaderView* h) {
  if (!h->model()) return {};
  for (int s = 0; s < h->count(); ++s) {
    if (h->isSectionHidden(s) || h->sectionSize(s) == 0) continue;
    const QString text = h->model()->headerData(s, h->orientation()).toString();
    if (text.isEmpty()) continue;
    QStyleOptionHeader opt;
    opt.initFrom(h);
    if (h->orientation() == Qt::Horizontal) {
      opt.state |= QStyle::State_Horizontal;
      opt.rect = QRect(0, 0, h->sectionSize(s), h->height());
    } else {
      opt.rect = QRect(0, 0, h->width(), h->sectionSize(s));
    }
    opt.orientation = h->orientation();
    opt.section = s;
    opt.text = text;
    opt.textAlignment = h->defaultAlignment();
    if (h->isSortIndicatorShown() && h->sortIndicatorSection() == s)
      opt.sortIndicator = h->sortIndicatorOrder() == Qt::AscendingOrder
                              ? QStyleOptionHeader::SortDown
                              : QStyleOptionHeader::SortUp;
    const QRect label = h->style()->subElementRect(QStyle::SE_HeaderLabel, &opt, h);
    const int w = h->fontMetrics().horizontalAdvance(text);
    if (w > label.width()) return Clipped(h, text, w, label.width());
  }
  return {};
}

// Every item lies inside the list's viewport, and its text (in bold, as the marked item is
// drawn) fits the text area the style gives it beside its check box.
QString OptionItemsFit(const TOptionListView* v) {
  const QRect viewport = v->viewport()->rect();
  const int margin = v->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, v) + 1;
  for (int r = 0; r < v->model()->rowCount(); ++r) {
    const QModelIndex i = v->model()->index(r, 0);
    const QString text = i.data().toString();
    const QRect rect = v->visualRect(i);
    if (!viewport.contains(rect))
      return QStringLiteral("%1 item \"%2\": row %3+%4 outside a viewport of %5x%6")
          .arg(Name(v), text)
          .arg(rect.y())
          .arg(rect.height())
          .arg(viewport.width())
          .arg(viewport.height());
    QStyleOptionViewItem opt;
    opt.initFrom(v);
    opt.rect = rect;
    opt.font = Bold(v->font());
    opt.fontMetrics = QFontMetrics(opt.font);
    opt.features = QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
    opt.checkState = Qt::Checked;
    opt.text = text;
    opt.index = i;
    opt.displayAlignment = Qt::AlignLeft | Qt::AlignVCenter;
    const QRect textRect = v->style()->subElementRect(QStyle::SE_ItemViewItemText, &opt, v);
    const int w = opt.fontMetrics.horizontalAdvance(text);
    const int room = textRect.width() - 2 * margin;
    if (w > room) return Clipped(v, text, w, room);
  }
  return {};
}

QString Fits(const QWidget* w) {
  if (auto* l = qobject_cast<const QLabel*>(w)) return LabelFits(l);
  if (auto* b = qobject_cast<const QAbstractButton*>(w)) return ButtonFits(b);
  if (auto* g = qobject_cast<const QGroupBox*>(w)) return GroupFits(g);
  if (auto* e = qobject_cast<const QLineEdit*>(w)) return EditFits(e);
  if (auto* c = qobject_cast<const QComboBox*>(w)) return ComboFits(c);
  if (auto* t = qobject_cast<const QTabBar*>(w)) return TabsFit(t);
  if (auto* h = qobject_cast<const QHeaderView*>(w)) return HeaderFits(h);
  if (auto* v = qobject_cast<const TOptionListView*>(w)) return OptionItemsFit(v);
  return {};
}

}  // namespace

QStringList ClippedTexts(const QWidget* window, bool firstOnly) {
  QStringList faults;
  for (const QWidget* w : window->findChildren<QWidget*>()) {
    if (!w->isVisible()) continue;
    const QString fault = Fits(w);
    if (fault.isEmpty()) continue;
    faults << fault;
    if (firstOnly) break;
  }
  return faults;
}
