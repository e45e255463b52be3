#include "app/optionlist.h"

#include <gtest/gtest.h>

#include <QSignalSpy>

namespace {

TOptionList Radio() {
  return TOptionList("R", TOptionList::Radio, {"a", "b", "c"}, {0});
}

}  // namespace

TEST(OptionList, RadioListKeepsExactlyOneItemChecked) {
  TOptionList r("R", TOptionList::Radio, {"a", "b", "c"}, {0});
  EXPECT_EQ(r.CheckedIndex(), 0);
  // Clicking the checked item (box or text) leaves it checked and announces nothing.
  QSignalSpy spy(&r, &TOptionList::itemChanged);
  EXPECT_FALSE(r.Click(0));
  EXPECT_FALSE(r.SetChecked(0, false));
  EXPECT_TRUE(r.Checked(0));
  EXPECT_EQ(spy.count(), 0);
  // Checking another item unchecks the first; one announcement, for the new item.
  EXPECT_TRUE(r.Click(2));
  EXPECT_EQ(r.CheckedIndex(), 2);
  EXPECT_FALSE(r.Checked(0));
  ASSERT_EQ(spy.count(), 1);
  EXPECT_EQ(spy[0][0].toInt(), 2);
  // A view unchecking the checked item through the model is refused too.
  EXPECT_FALSE(r.setData(r.index(2), Qt::Unchecked, Qt::CheckStateRole));
  EXPECT_EQ(r.CheckedIndex(), 2);
  // Indexes outside the list are ignored.
  EXPECT_FALSE(r.SetChecked(7, true));
  EXPECT_FALSE(r.Click(-1));
}

TEST(OptionList, CheckListTogglesAndDisabledItemsIgnoreClicks) {
  TOptionList c("C", TOptionList::Check, {"a", "b", "c"}, {1});
  EXPECT_EQ(c.Mask(), 2);
  EXPECT_TRUE(c.Click(0));
  EXPECT_TRUE(c.Click(1));
  EXPECT_EQ(c.Mask(), 1);
  c.SetItemEnabled(0, false);
  EXPECT_FALSE(c.Click(0));
  EXPECT_TRUE(c.Checked(0)) << "a disabled item keeps its state against clicks";
  EXPECT_FALSE(c.flags(c.index(0)) & Qt::ItemIsEnabled);
  // Code may still set a disabled item.
  EXPECT_TRUE(c.SetChecked(0, false));
  c.SetMask(0b101);
  EXPECT_EQ(c.Mask(), 5);
  // A view's check through setData is a click.
  EXPECT_TRUE(c.setData(c.index(1), Qt::Checked, Qt::CheckStateRole));
  EXPECT_EQ(c.data(c.index(1), Qt::CheckStateRole).toInt(), Qt::Checked);
}

TEST(OptionList, ChangesCarryTheirOriginAndGuardsNest) {
  TOptionList a = Radio();
  TOptionList b("B", TOptionList::Check, {"x"}, {});
  QVector<ChangeOrigin> seen;
  QObject::connect(&a, &TOptionList::itemChanged, [&](int, ChangeOrigin o) { seen << o; });
  a.Click(1);
  {
    THandlersDetached outer{&a, &b};
    a.SetChecked(2, true);
    {
      THandlersDetached inner{&a};
      a.SetChecked(0, true);
    }
    EXPECT_TRUE(a.Detached()) << "the outer guard still holds";
    a.Click(1);
  }
  EXPECT_FALSE(a.Detached());
  EXPECT_FALSE(b.Detached());
  a.SetChecked(2, true);
  const QVector<ChangeOrigin> want{ChangeOrigin::User, ChangeOrigin::Code, ChangeOrigin::Code,
                                   ChangeOrigin::Code, ChangeOrigin::User};
  EXPECT_EQ(seen, want);
}

TEST(OptionList, MarkingFollowsTheDangerousItem) {
  TOptionList m("M", TOptionList::Radio, {"Copy", "Move"}, {0});
  m.SetMarkedItem(1);
  QSignalSpy spy(&m, &TOptionList::markingChanged);
  EXPECT_FALSE(m.Marking());
  EXPECT_EQ(m.DrawingOf(0), TOptionList::Standard);
  m.Click(1);
  EXPECT_TRUE(m.Marking());
  EXPECT_EQ(m.DrawingOf(1), TOptionList::Marked);
  EXPECT_EQ(m.DrawingOf(0), TOptionList::Plain);
  EXPECT_EQ(m.data(m.index(0), TOptionList::DrawingRole).toInt(), TOptionList::Plain);
  // The marking also follows changes made by code.
  {
    THandlersDetached d{&m};
    m.SetChecked(0, true);
  }
  EXPECT_FALSE(m.Marking());
  EXPECT_EQ(m.DrawingOf(1), TOptionList::Standard);
  ASSERT_EQ(spy.count(), 2);
  EXPECT_TRUE(spy[0][0].toBool());
  EXPECT_FALSE(spy[1][0].toBool());
}

TEST(OptionEdit, NumbersStayOtherTextsBecomeThePlaceholder) {
  for (const char* t : {"2000", "1.44", "650", " 4700 ", ".5", "3."})
    EXPECT_TRUE(TOptionEdit::IsNumber(t)) << t;
  for (const char* t : {"abc", "", "-5", "+5", "1e3", "1.2.3", "12abc", "inf", "1,44"})
    EXPECT_FALSE(TOptionEdit::IsNumber(t)) << t;

  EXPECT_EQ(TOptionEdit::Bytes("1.44"), 1440000);
  EXPECT_EQ(TOptionEdit::Bytes("650"), 650000000);
  EXPECT_EQ(TOptionEdit::Bytes("4700"), 4700000000LL);
  EXPECT_EQ(TOptionEdit::Bytes(".5"), 500000);
  EXPECT_EQ(TOptionEdit::Bytes("MaxSizeMb"), 0);
  EXPECT_EQ(TOptionEdit::Bytes("99999999999999"), 0);

  TOptionEdit e("E", "MaxSizeMb");
  EXPECT_EQ(e.text(), "MaxSizeMb");
  QSignalSpy focus(&e, &TOptionEdit::focusRequested);
  e.ButtonClick();
  EXPECT_EQ(e.text(), "");
  EXPECT_EQ(focus.count(), 1);
  e.SetText("abc");
  e.Leave();
  EXPECT_EQ(e.text(), "MaxSizeMb");
  e.SetText("2000");
  e.Leave();
  EXPECT_EQ(e.text(), "2000");
  e.SetText("");
  e.Leave();
  EXPECT_EQ(e.text(), "MaxSizeMb");
}
