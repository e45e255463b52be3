// The main window shows every text in full: captions of labels, buttons and group boxes, the
// texts of edits and every option-list item, on every tab, at the test font, with "Large Fonts"
// and with a larger application font.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOption>
#include <QTabWidget>
#include <QToolButton>

#include "app/mb.h"
#include "platform/programdir.h"
#include "testutil.h"
#include "ui/mainform.h"
#include "ui/optionlistview.h"

namespace {

using testutil::IsolatedXdg;
using testutil::TempDir;
using testutil::WriteFile;

QString Name(const QWidget* w) {
  QString n = w->objectName();
  for (const QWidget* p = w->parentWidget(); n.isEmpty() && p; p = p->parentWidget())
    if (!p->objectName().isEmpty())
      n = p->objectName() + QStringLiteral(" > ") + w->metaObject()->className();
  return n;
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
  for (QString line : l->text().split(QLatin1Char('\n'))) {
    line.remove(QLatin1Char('\r'));
    const int w = fm.horizontalAdvance(line);
    if (w > cr.width()) return Clipped(l, line, w, cr.width());
  }
  return fm.height() <= cr.height() ? QString() : Clipped(l, l->text(), fm.height(), cr.height());
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

// The first text of a visible control that does not show in full, or empty.
QString FirstClipped(const QWidget* window) {
  for (const QWidget* w : window->findChildren<QWidget*>()) {
    if (!w->isVisible()) continue;
    QString fault;
    if (auto* l = qobject_cast<const QLabel*>(w))
      fault = LabelFits(l);
    else if (auto* b = qobject_cast<const QAbstractButton*>(w))
      fault = ButtonFits(b);
    else if (auto* g = qobject_cast<const QGroupBox*>(w))
      fault = GroupFits(g);
    else if (auto* e = qobject_cast<const QLineEdit*>(w))
      fault = EditFits(e);
    else if (auto* v = qobject_cast<const TOptionListView*>(w))
      fault = OptionItemsFit(v);
    if (!fault.isEmpty()) return fault;
  }
  return {};
}

class LayoutTest : public ::testing::Test {
 protected:
  LayoutTest() : xdg_(tmp_.path()) {
    ResetProgramDirForTest();
    SetMbTerminating(false);
    WriteFile(ProgramDir() + "default.ini", "[Options]\nClrDisk=0\nExpert=1\n");
  }
  ~LayoutTest() override { ResetProgramDirForTest(); }

  // Walks every tab and inner tab of a shown window; fails naming the first clipped text.
  static void ExpectEveryTextFits(TMainform& w, const char* when) {
    auto* pages = w.findChild<QTabWidget*>(QStringLiteral("PageControl1"));
    auto* inner = w.findChild<QTabWidget*>(QStringLiteral("PageControl2"));
    ASSERT_TRUE(pages && inner);
    for (int page = 0; page < pages->count(); ++page) {
      pages->setCurrentIndex(page);
      const int inners = page == pages->indexOf(inner->parentWidget()) ? inner->count() : 1;
      for (int sub = 0; sub < inners; ++sub) {
        if (inners > 1) inner->setCurrentIndex(sub);
        QApplication::processEvents();
        EXPECT_EQ(FirstClipped(&w).toStdString(), "")
            << when << ", tab " << pages->tabText(page).toStdString()
            << (inners > 1 ? " / " + inner->tabText(sub).toStdString() : std::string());
      }
    }
  }

  TempDir tmp_;
  IsolatedXdg xdg_;
};

TEST_F(LayoutTest, EveryTextOfEveryTabShowsInFull) {
  {
    TMainform w;
    w.FormCreate();
    w.show();
    QApplication::processEvents();
    ExpectEveryTextFits(w, "test font");
    // The window is no larger than its content needs beyond its usual size.
    EXPECT_GE(w.width(), w.minimumSizeHint().width());
    auto* large = w.findChild<QCheckBox*>(QStringLiteral("LargeFontsCheck"));
    ASSERT_TRUE(large);
    w.findChild<QTabWidget*>(QStringLiteral("PageControl1"))->setCurrentIndex(2);
    QApplication::processEvents();
    large->click();
    ASSERT_TRUE(large->isChecked());
    ExpectEveryTextFits(w, "Large Fonts");
    w.CloseWithoutQuestion();
  }
  // No fixed geometry holds text: a much larger application font still fits everywhere.
  const QFont saved = QApplication::font();
  QFont big = saved;
  big.setPointSize(14);
  QApplication::setFont(big);
  {
    TMainform w;
    w.FormCreate();
    w.show();
    QApplication::processEvents();
    ExpectEveryTextFits(w, "14 pt application font");
    w.CloseWithoutQuestion();
  }
  QApplication::setFont(saved);
}

}  // namespace
