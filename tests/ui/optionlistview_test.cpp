#include "ui/optionlistview.h"

#include <gtest/gtest.h>

#include <QGroupBox>
#include <QImage>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/optionlist.h"
#include "app/optionscontroller.h"

namespace {

TOptionList ModeList() {
  return TOptionList("ModeList", TOptionList::Radio, {"Copy", "Copy then Clear Bit", "Move Files"},
                     {0});
}

QImage Shot(TOptionListView& view) {
  return view.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Pixels of the item's row, right of its text, where only the background shows.
QColor BackgroundOf(TOptionListView& view, const QImage& img, int row) {
  const QRect r = view.visualRect(view.model()->index(row, 0));
  return img.pixelColor(r.right() - 3, r.center().y());
}

// Pixels in the row that differ clearly from its background (text and box).
int InkIn(TOptionListView& view, const QImage& img, int row, bool (*ink)(QColor)) {
  const QRect r = view.visualRect(view.model()->index(row, 0)) & img.rect();
  int n = 0;
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x)
      if (ink(img.pixelColor(x, y))) ++n;
  return n;
}

// Pixels of the row's text (right of its box) that differ clearly from the row's background.
int TextInk(TOptionListView& view, const QImage& img, int row) {
  const QRect r = view.visualRect(view.model()->index(row, 0)) & img.rect();
  const QColor back = BackgroundOf(view, img, row);
  int n = 0;
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left() + 24; x <= r.right(); ++x) {
      const QColor c = img.pixelColor(x, y);
      if (std::abs(c.red() - back.red()) + std::abs(c.green() - back.green()) +
              std::abs(c.blue() - back.blue()) >
          200)
        ++n;
    }
  return n;
}

bool Red(QColor c) {
  return c.red() > 180 && c.green() < 90 && c.blue() < 90;
}

bool Dark(QColor c) {
  return c.lightness() < 110;
}

}  // namespace

TEST(OptionListView, MarkedItemIsDrawnBoldRedOnAqua) {
  TOptionList list = ModeList();
  list.SetMarkedItem(2);
  TOptionListView view(&list);
  view.resize(260, 120);
  view.show();
  EXPECT_EQ(view.objectName(), "ModeList");

  QImage before = Shot(view);
  const QColor base = view.palette().color(QPalette::Base);
  EXPECT_EQ(BackgroundOf(view, before, 2), base) << "standard drawing before the marking";
  EXPECT_EQ(InkIn(view, before, 2, Red), 0);
  const int normalInk = TextInk(view, before, 2);

  list.Click(2);
  QImage marked = Shot(view);
  EXPECT_EQ(BackgroundOf(view, marked, 2), QColor(0, 255, 255));
  EXPECT_GT(InkIn(view, marked, 2, Red), 20) << "red text";
  EXPECT_GT(TextInk(view, marked, 2), normalInk * 11 / 10) << "bold text covers more pixels";
  EXPECT_EQ(BackgroundOf(view, marked, 0), view.palette().color(QPalette::Button));
  EXPECT_EQ(InkIn(view, marked, 0, Red), 0);
  EXPECT_GT(InkIn(view, marked, 0, Dark), 20) << "other items in black";

  // Choosing "Copy" again returns to standard drawing.
  view.setCurrentIndex(list.index(0));
  list.Click(0);
  QImage after = Shot(view);
  EXPECT_EQ(BackgroundOf(view, after, 2), base);
  EXPECT_EQ(InkIn(view, after, 2, Red), 0);
}

TEST(OptionListView, ClickOnTextOrBoxIsOneClickAndRadioItemStaysChecked) {
  TOptionList list = ModeList();
  TOptionListView view(&list);
  view.resize(260, 120);
  view.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  const QRect r1 = view.visualRect(list.index(1));
  QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, QPoint(r1.left() + 60, r1.center().y()));
  EXPECT_EQ(list.CheckedIndex(), 1);
  // The text of the checked item: it stays checked.
  QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, QPoint(r1.left() + 60, r1.center().y()));
  EXPECT_EQ(list.CheckedIndex(), 1);
  // The box of a check list item toggles exactly once.
  TOptionList check("C", TOptionList::Check, {"a", "b"}, {});
  TOptionListView cv(&check);
  cv.resize(200, 80);
  cv.show();
  const QRect c0 = cv.visualRect(check.index(0));
  QTest::mouseClick(cv.viewport(), Qt::LeftButton, {}, QPoint(c0.left() + 8, c0.center().y()));
  EXPECT_TRUE(check.Checked(0));
  QTest::mouseClick(cv.viewport(), Qt::LeftButton, {}, QPoint(c0.left() + 80, c0.center().y()));
  EXPECT_FALSE(check.Checked(0));
  // Space toggles the current item.
  cv.setCurrentIndex(check.index(0));
  QTest::keyClick(&cv, Qt::Key_Space);
  EXPECT_TRUE(check.Checked(0));
  // A disabled item ignores clicks.
  check.SetItemEnabled(1, false);
  const QRect c1 = cv.visualRect(check.index(1));
  QTest::mouseClick(cv.viewport(), Qt::LeftButton, {}, QPoint(c1.left() + 80, c1.center().y()));
  EXPECT_FALSE(check.Checked(1));
}

TEST(OptionListView, ReplacesAPlaceholderWidgetInItsLayout) {
  QWidget form;
  auto* layout = new QVBoxLayout(&form);
  auto* old = new QWidget;
  old->setObjectName("ModeList");
  old->setToolTip("hint");
  layout->addWidget(old);
  TOptionList list = ModeList();
  TOptionListView* view = ReplaceWithOptionListView(old, &list);
  EXPECT_EQ(layout->indexOf(view), 0);
  EXPECT_EQ(view->toolTip(), "hint");
  EXPECT_EQ(form.findChildren<QWidget*>("ModeList").size(), 1);
}

TEST(OptionListView, EditBindingChecksTextOnEnterAndButtonClears) {
  TOptionEdit model("MaxSizeEdit", "MaxSizeMb");
  model.SetEnabled(false);
  QWidget form;
  auto* edit = new QLineEdit(&form);
  auto* button = new QToolButton(&form);
  BindOptionEdit(edit, button, &model);
  EXPECT_EQ(edit->text(), "MaxSizeMb");
  EXPECT_FALSE(edit->isEnabled());
  EXPECT_FALSE(button->isEnabled());
  model.SetEnabled(true);
  EXPECT_TRUE(edit->isEnabled());
  form.show();
  button->click();
  EXPECT_EQ(edit->text(), "");
  QTest::keyClicks(edit, "abc");
  EXPECT_EQ(model.text(), "abc");
  QTest::keyClick(edit, Qt::Key_Return);
  EXPECT_EQ(model.text(), "MaxSizeMb");
  EXPECT_EQ(edit->text(), "MaxSizeMb");
  edit->clear();
  QTest::keyClicks(edit, "2000");
  QTest::keyClick(edit, Qt::Key_Return);
  EXPECT_EQ(edit->text(), "2000");
}

TEST(OptionListView, InstallsEveryListAndEditByName) {
  QWidget form;
  auto* layout = new QVBoxLayout(&form);
  TOptionLists lists;
  for (const char* name : {ctl::kSizeList, ctl::kModeList, ctl::kDirectoryList}) {
    auto* w = new QWidget;
    w->setObjectName(name);
    layout->addWidget(w);
  }
  auto* edit = new QLineEdit(&form);
  edit->setObjectName(ctl::kMaxSizeEdit);
  auto* button = new QToolButton(&form);
  button->setObjectName(QString(ctl::kMaxSizeEdit) + "Button");
  const QStringList missing = InstallOptionViews(&form, lists);
  EXPECT_TRUE(qobject_cast<TOptionListView*>(form.findChild<QWidget*>(ctl::kModeList)));
  EXPECT_EQ(form.findChild<TOptionListView*>(ctl::kSizeList)->optionList(), &lists.sizeList);
  EXPECT_TRUE(missing.contains(ctl::kFunctionsList));
  EXPECT_TRUE(missing.contains(ctl::kFirstDiskEdit));
  EXPECT_FALSE(missing.contains(ctl::kMaxSizeEdit));
  EXPECT_FALSE(edit->isEnabled()) << "disabled until make mode";
  lists.sizeList.Click(opt::kSizeDvd);
  EXPECT_EQ(edit->text(), "MaxSizeMb") << "no rules without a controller";
  lists.maxSizeEdit.SetText("4700");
  EXPECT_EQ(edit->text(), "4700");
}
