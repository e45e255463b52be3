#include "app/clock.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTimer>

#include "qt_scriptedhost.h"

TEST(Delay, KeepsEventsFlowingWhileWaiting) {
  bool fired = false;
  QTimer::singleShot(10, [&] { fired = true; });
  QElapsedTimer t;
  t.start();
  Delay(60);
  EXPECT_TRUE(fired) << "timers run during Delay";
  EXPECT_GE(t.elapsed(), 55);
}

TEST(Delay, FakeClockNeverWaitsRealTime) {
  FakeClock clock;
  QDateTime before = CurrentClock().Now();
  QElapsedTimer t;
  t.start();
  Delay(60'000);
  EXPECT_LT(t.elapsed(), 1000);
  EXPECT_EQ(clock.waited(), 60'000);
  EXPECT_EQ(before.msecsTo(CurrentClock().Now()), 60'000);
}
