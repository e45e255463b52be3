// The weekly scheduler ticked by hand: a fake clock, timer, tray and window. Each timer tick
// advances the clock by the timer's interval, as the real timer would.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QLocale>
#include <QStringList>
#include <QTimeZone>
#include <functional>

#include "automation/scheduler.h"
#include "automation/traylife.h"
#include "platform/inifile.h"
#include "qt_scriptedhost.h"
#include "testutil.h"

namespace {

// Monday 7 December 2026.
const QDate kMonday(2026, 12, 7);

struct FakeTimer : ISchedulerTimer {
  bool active = false;
  int interval = 60000;
  void Start(int ms) override {
    active = true;
    interval = ms;
  }
  void Stop() override { active = false; }
  bool Active() const override { return active; }
  int Interval() const override { return interval; }
};

struct FakeTray : ITrayHost {
  bool shown = false;
  bool animating = false;
  int balloons = 0;
  bool balloonUp = false;
  QString caption = QStringLiteral("Pause");
  bool visible = false;
  bool TrayShown() const override { return shown; }
  void TrayAnimation(bool on) override { animating = on; }
  void ShowBalloon(const QString& title, const QString& text, int ms) override {
    EXPECT_EQ(title, QStringLiteral("Arcavo"));
    EXPECT_EQ(text, QStringLiteral("Scheduled backup due\rClick balloon to abort"));
    EXPECT_EQ(ms, 15000);
    ++balloons;
    balloonUp = true;
  }
  void HideBalloon() override { balloonUp = false; }
  QString PauseItemCaption() const override { return caption; }
  void SetPauseItemCaption(const QString& c) override { caption = c; }
  bool PauseItemVisible() const override { return visible; }
  void SetPauseItemVisible(bool v) override { visible = v; }
  QString hint;
  int image = -1;
  bool resumeVisible = false;
  void ShowIcon(const QString& h) override {
    shown = true;
    hint = h;
  }
  void HideIcon() override { shown = false; }
  void SetIconImage(int i) override { image = i; }
  void SetHint(const QString& h) override { hint = h; }
  bool ResumeItemVisible() const override { return resumeVisible; }
  void SetResumeItemVisible(bool v) override { resumeVisible = v; }
};

struct FakeWindow : ISchedulerWindow {
  TScheduler* scheduler = nullptr;
  FakeTray* tray = nullptr;
  int days = 2;  // Monday
  QTime picker{10, 0};
  QString file = QStringLiteral("/jobs/Daily.JOB");
  QString archive = QStringLiteral("/backup/daily.zip");
  QString autoRun;
  std::function<bool()> busy = [] { return false; };
  bool idle = true;
  int minimised = 0;
  int monitorsStopped = 0;
  QString notice;
  int noticeMs = 0;
  // When each run started, and what the run saw.
  QList<QDateTime> runs;
  QStringList runFiles;
  QList<int> runStates;

  int ScheduleDays() const override { return days; }
  QTime PickerTime() const override { return picker; }
  void SetPickerTimeQuietly(const QTime& t) override { picker = t; }
  QString ScheduleFile() const override { return file; }
  bool ArchiveBusy() const override { return busy(); }
  bool WindowIdle() const override { return idle; }
  void MinimiseToTray() override {
    ++minimised;
    if (tray) tray->shown = true;
  }
  void PrepareScheduledRun() override {}
  QString ArchiveName() const override { return archive; }
  void SetAutoRunFile(const QString& f) override { autoRun = f; }
  void StopDirMonitors() override { ++monitorsStopped; }
  void OpenAutoRunJob() {
    runs << CurrentClock().Now();
    runFiles << autoRun;
    runStates << scheduler->RunState();
  }
  bool OpenAutoRunJob(const QString& note) override {
    OpenAutoRunJob();
    notes << note;
    return runsSucceed;
  }
  QStringList notes;
  bool runsSucceed = true;
  QStringList notified;
  QString trayWarning;
  void NotifyDesktop(const QString& summary, const QString& body) override {
    notified << summary + ": " + body;
  }
  void SetTrayWarning(const QString& warning) override { trayWarning = warning; }
  void ClearScheduleControls() override {}
  void ShowNoticeFor(const QString& text, int ms) override {
    notice = text;
    noticeMs = ms;
  }
};

class SchedulerTest : public ::testing::Test {
 protected:
  SchedulerTest() {
    window_.scheduler = &scheduler_;
    window_.tray = &tray_;
  }
  // "Set" at the clock's time; its first tick follows one interval later.
  void SetAt(const QTime& t, const QDate& day = kMonday) {
    clock_.Advance(clock_.Now().msecsTo(QDateTime(day, t, clock_.Now().timeZone())));
    scheduler_.Set(Ini());
  }
  // One tick of the timer: the clock moves on by the interval first.
  void Tick() {
    ASSERT_TRUE(timer_.active);
    clock_.Advance(timer_.interval);
    scheduler_.SchedulerTimerTimer();
  }
  // Ticks while the timer runs and the clock is before until.
  void RunUntil(const QDateTime& until) {
    while (timer_.active && clock_.Now() < until) Tick();
  }
  QDateTime At(int dayOffset, int h, int m) const {
    return QDateTime(kMonday.addDays(dayOffset), QTime(h, m), clock_.Now().timeZone());
  }

  QString Ini() const { return QString::fromStdString(dir_ / "default.ini"); }

  testutil::TempDir dir_;
  ScriptedHost host_;
  FakeClock clock_{QDateTime(kMonday, QTime(0, 0))};
  FakeTimer timer_;
  FakeTray tray_;
  FakeWindow window_;
  TScheduler scheduler_{timer_, tray_, window_};
};

TEST_F(SchedulerTest, WeekdaysCountFromSundayAndOnlyJobFilesRun) {
  EXPECT_EQ(SchedulerWeekday(kMonday.addDays(-1)), 1);
  EXPECT_EQ(SchedulerWeekday(kMonday), 2);
  EXPECT_EQ(SchedulerWeekday(kMonday.addDays(5)), 7);
  for (const char* f : {"a.job", "a.CAT", "/x/b.JOB"}) EXPECT_TRUE(ScheduleFileRunnable(f)) << f;
  for (const char* f : {"JOB Filename", "a.jo", "a.c", "a.ini", "a.job.zip"})
    EXPECT_FALSE(ScheduleFileRunnable(f)) << f;
}

// On screen: 09:59 examines Monday, 10:00 makes the run due, the next tick asks once.
TEST_F(SchedulerTest, OnScreenTheQuestionDecides) {
  for (const bool yes : {true, false}) {
    SCOPED_TRACE(yes ? "Yes" : "No");
    ScriptedHost host;
    FakeClock clock(QDateTime(kMonday, QTime(9, 58)));
    FakeTimer timer;
    FakeTray tray;
    FakeWindow window;
    TScheduler s(timer, tray, window);
    window.scheduler = &s;
    window.tray = &tray;
    s.Set(Ini());
    clock.Advance(timer.interval);
    s.SchedulerTimerTimer();  // 09:59
    EXPECT_EQ(s.Stage(), 1);
    clock.Advance(timer.interval);
    s.SchedulerTimerTimer();  // 10:00
    EXPECT_EQ(s.Stage(), 2);
    EXPECT_EQ(timer.interval, 10000);
    EXPECT_TRUE(timer.active);
    host.Answer(yes ? IDYES : IDNO,
                QStringLiteral("     Scheduled backup due\rClick YES if you want to proceed"));
    clock.Advance(timer.interval);
    s.SchedulerTimerTimer();
    ASSERT_EQ(host.transcript().size(), 1);
    EXPECT_EQ(host.transcript()[0].caption, QStringLiteral("Arcavo"));
    EXPECT_EQ(host.transcript()[0].icon, MB_ICONQUESTION);
    EXPECT_EQ(s.Stage(), 0);
    if (yes) {
      EXPECT_EQ(window.minimised, 1);
      ASSERT_EQ(window.runs.size(), 1);
      EXPECT_EQ(window.runFiles, QStringList{window.file});
      EXPECT_EQ(window.runStates, QList<int>{2});
      EXPECT_TRUE(window.autoRun.isEmpty());
      EXPECT_EQ(s.RunState(), 0);
      EXPECT_TRUE(timer.active);
      EXPECT_EQ(timer.interval, 60000);
    } else {
      EXPECT_EQ(window.minimised, 0);
      EXPECT_TRUE(window.runs.isEmpty());
      EXPECT_FALSE(timer.active);
    }
    // Nothing more that day (and nothing asked again).
    while (timer.active && clock.Now() < QDateTime(kMonday, QTime(23, 0))) {
      clock.Advance(timer.interval);
      s.SchedulerTimerTimer();
    }
    EXPECT_EQ(window.runs.size(), yes ? 1 : 0);
    EXPECT_EQ(host.transcript().size(), 1);
  }
}

// The window's side of the tray life, recording what it was asked.
struct FakeTrayWindow : ITrayWindow {
  bool minToTray = true;
  bool trayAvailable = true;
  bool hidden = false;
  bool restoreOpen = false;
  QString archive = QStringLiteral("/backup/STEALTH_docs.zip");
  bool running = false;
  bool paused = false;
  bool monitors = true;
  bool watching = false;
  int registered = 0;
  QStringList calls;
  bool MinimiseToTrayChecked() const override { return minToTray; }
  bool TrayAvailable() const override { return trayAvailable; }
  void HideWindow() override { hidden = true; }
  void ShowWindow() override { hidden = false; }
  QString TrayTitle() const override { return QStringLiteral("Arcavo V100"); }
  bool ArchiveOpenForRestore() const override { return restoreOpen; }
  QString ArchiveName() const override { return archive; }
  bool OperationRunning() const override { return running; }
  bool OperationPaused() const override { return paused; }
  bool MonitorsExist() const override { return monitors; }
  void MonitorsStopStart(bool start) override { watching = start; }
  void RegisterApp() override { ++registered; }
  void UNRegisterApp() override { --registered; }
  void StopDiscAnimation() override { calls << "disc still"; }
  void PauseOperation() override {
    paused = !paused;
    calls << (paused ? "pause" : "continue");
  }
};

// In the tray the first due tick shows the balloon, the next one runs, unless the user steps in.
TEST_F(SchedulerTest, InTheTrayTheBalloonWarnsAndTheUserCanCancel) {
  enum Step { Nothing, ClickBalloon, ClickTrayWhilePostponed, ModalBoxOpen, PausedFromTray };
  // The tray menu's "Abort" during the countdown: the due run is cancelled, and nothing else
  // happens (no backup starts); the schedule stays for the next week.
  enum Abort { NoAbort, AbortCountdown, AbortAfterBalloon, AbortPostponed };
  struct Row {
    const char* name;
    Step step;
    int runs;
    Abort abort = NoAbort;
  };
  const Row rows[] = {
      {"nothing", Nothing, 1},
      {"balloon click", ClickBalloon, 0},
      {"tray click while postponed", ClickTrayWhilePostponed, 0},
      {"a box open at the due time", ModalBoxOpen, 1},
      {"paused from the tray", PausedFromTray, 0},
      {"Abort in the countdown", Nothing, 0, AbortCountdown},
      {"Abort after the balloon click", ClickBalloon, 0, AbortAfterBalloon},
      {"Abort while postponed", ClickTrayWhilePostponed, 0, AbortPostponed},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FakeClock clock(QDateTime(kMonday, QTime(9, 58)));
    FakeTimer timer;
    FakeTray tray;
    tray.shown = true;
    FakeWindow window;
    TScheduler s(timer, tray, window);
    window.scheduler = &s;
    FakeTrayWindow trayWindow;
    trayWindow.monitors = false;
    TTrayLife life(tray, trayWindow, s);
    auto abort = [&] {
      tray.caption = QStringLiteral("&Abort");  // as the toolkit shows it
      life.PauseItem();
      EXPECT_TRUE(trayWindow.calls.isEmpty()) << trayWindow.calls.join(',').toStdString();
      EXPECT_EQ(tray.caption, QStringLiteral("Pause"));
      EXPECT_FALSE(tray.animating || tray.balloonUp);
      EXPECT_EQ(window.notice, QStringLiteral("Scheduled backup cancelled"));
      EXPECT_EQ(s.Stage(), 0);
      EXPECT_EQ(s.RunState(), 0);
      EXPECT_TRUE(timer.active);
      EXPECT_EQ(timer.interval, 60000);
    };
    auto tick = [&] {
      clock.Advance(timer.interval);
      s.SchedulerTimerTimer();
    };
    s.Set(Ini());
    tick();  // 09:59
    tick();  // 10:00: due
    EXPECT_TRUE(tray.animating);
    if (row.step == ModalBoxOpen) {
      window.idle = false;
      for (int i = 0; i < 5; ++i) tick();
      EXPECT_EQ(tray.balloons, 0);
      EXPECT_TRUE(timer.active);
      window.idle = true;
    }
    bool busy = row.step == ClickTrayWhilePostponed;
    window.busy = [&busy] { return busy; };
    if (row.step == PausedFromTray) s.SetTrayMark(1);
    tick();
    if (row.step == PausedFromTray) {
      // The due run is dropped without a balloon; the scheduler waits for the next day.
      EXPECT_EQ(tray.balloons, 0);
      EXPECT_TRUE(window.runs.isEmpty());
      EXPECT_EQ(s.TrayMark(), 0);
      EXPECT_EQ(s.Stage(), 0);
      EXPECT_EQ(timer.interval, 60000);
      EXPECT_TRUE(timer.active);
      continue;
    }
    EXPECT_EQ(tray.balloons, 1);
    EXPECT_EQ(tray.caption, QStringLiteral("Abort"));
    EXPECT_EQ(s.TrayMark(), 2);
    EXPECT_TRUE(window.runs.isEmpty());
    if (row.abort == AbortCountdown) {
      abort();
    } else if (row.step == ClickBalloon) {
      s.BalloonClicked();
      EXPECT_FALSE(timer.active);
      EXPECT_FALSE(tray.balloonUp);
      EXPECT_FALSE(tray.animating);
      EXPECT_EQ(s.Stage(), 2);
      if (row.abort == AbortAfterBalloon) abort();
    } else {
      tick();
    }
    if (row.abort == AbortPostponed) {
      EXPECT_EQ(s.RunState(), 1);
      abort();
      EXPECT_FALSE(tray.visible);  // as before the postponement
      busy = false;
    } else if (row.step == ClickTrayWhilePostponed) {
      EXPECT_EQ(s.RunState(), 1);
      EXPECT_TRUE(tray.visible);
      EXPECT_TRUE(s.TrayClicked());
      EXPECT_EQ(window.notice, QStringLiteral("Scheduled backup cancelled"));
      EXPECT_EQ(window.noticeMs, 4000);
      EXPECT_EQ(s.RunState(), 0);
      EXPECT_EQ(s.Stage(), 0);
      EXPECT_FALSE(timer.active);
      EXPECT_EQ(tray.caption, QStringLiteral("Pause"));
      busy = false;
    } else {
      EXPECT_FALSE(s.TrayClicked());
    }
    while (timer.active && clock.Now() < QDateTime(kMonday.addDays(1), QTime(9, 0))) tick();
    EXPECT_EQ(window.runs.size(), row.runs);
    EXPECT_EQ(tray.balloons, 1);
    if (row.runs) {
      EXPECT_EQ(tray.caption, QStringLiteral("Pause"));
      EXPECT_FALSE(tray.visible);  // as before the run
    }
    if (row.abort) {
      while (timer.active && clock.Now() < QDateTime(kMonday.addDays(7), QTime(10, 30))) tick();
      EXPECT_EQ(window.runs.size(), 1);  // next Monday
    }
  }
}

// A run due while an archive operation runs moves on by ten minutes, across the hour and
// midnight, and still happens exactly once (also after "Yes" on screen).
TEST_F(SchedulerTest, APostponedRunHappensOnceTenMinutesLater) {
  struct Row {
    const char* name;
    QTime picker;
    QTime busyUntil;  // on the Monday
    bool onScreen;
    QDateTime expected;
  };
  const Row rows[] = {
      {"tray, across the hour", QTime(10, 55), QTime(11, 0), false,
       QDateTime(kMonday, QTime(11, 5))},
      {"on screen after Yes", QTime(10, 55), QTime(11, 0), true, QDateTime(kMonday, QTime(11, 5))},
      {"tray, across midnight", QTime(23, 55), QTime(23, 59), false,
       QDateTime(kMonday.addDays(1), QTime(0, 5))},
      {"busy for 25 minutes", QTime(10, 0), QTime(10, 25), false,
       QDateTime(kMonday, QTime(10, 30))},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ScriptedHost host;
    FakeClock clock(QDateTime(kMonday, row.picker.addSecs(-120)));
    FakeTimer timer;
    FakeTray tray;
    tray.shown = !row.onScreen;
    FakeWindow window;
    window.picker = row.picker;
    window.busy = [&] { return clock.Now() < QDateTime(kMonday, row.busyUntil); };
    TScheduler s(timer, tray, window);
    window.scheduler = &s;
    window.tray = &tray;
    if (row.onScreen) host.Answer(IDYES);
    s.Set(Ini());
    while (timer.active && clock.Now() < QDateTime(kMonday.addDays(2), QTime(12, 0))) {
      clock.Advance(timer.interval);
      s.SchedulerTimerTimer();
    }
    ASSERT_EQ(window.runs.size(), 1);
    // The run starts within the first ticks of the postponed minute.
    EXPECT_GE(window.runs[0], row.expected);
    EXPECT_LT(window.runs[0], row.expected.addSecs(30));
    EXPECT_EQ(window.picker, QTime(row.expected.time().hour(), row.expected.time().minute()));
    EXPECT_EQ(host.transcript().size(), row.onScreen ? 1 : 0);
  }
}

// Started on a ticked Monday after the set hour: no run that day, none on Tuesday (not ticked),
// the next on the following Monday; a change of the controls lets today be examined again.
TEST_F(SchedulerTest, RunsOnlyOnTickedDays) {
  tray_.shown = true;
  SetAt(QTime(11, 0));
  RunUntil(At(7, 9, 0));
  EXPECT_TRUE(window_.runs.isEmpty());
  RunUntil(At(7, 10, 30));
  ASSERT_EQ(window_.runs.size(), 1);
  EXPECT_EQ(window_.runs[0].date(), kMonday.addDays(7));
  EXPECT_LT(window_.runs[0], At(7, 10, 1));

  // After today's run, a new time set the same day runs again at that time.
  window_.picker = QTime(15, 0);
  scheduler_.ControlsChanged();
  RunUntil(At(7, 16, 0));
  ASSERT_EQ(window_.runs.size(), 2);
  EXPECT_EQ(window_.runs[1].time().hour(), 15);
  // A job file the scheduler does not run stops the ticks from doing anything.
  window_.file = QStringLiteral("JOB Filename");
  scheduler_.ControlsChanged();
  RunUntil(At(14, 16, 0));
  EXPECT_EQ(window_.runs.size(), 2);
}

// Whether a start or a wake-up catches a run up, and for which time: only the latest time of the
// schedule that passed since the last one counts. And when a schedule without a good run is stale.
TEST(SchedulerCatchUp, TheLatestMissedTimeRunsOnceAndOldBackupsGoStale) {
  const auto at = [](int day, int h, int m) {
    return QDateTime(kMonday.addDays(day), QTime(h, m), QTimeZone::utc());
  };
  struct Row {
    const char* name;
    QDateTime lastRun;
    int days;
    bool runMissed;
    QDateTime now;
    QDateTime expected;  // invalid: no catch-up
  };
  const int mon = 2, wed = 8, sat = 64;
  const Row rows[] = {
      {"missed this morning", at(-7, 10, 0), mon, true, at(0, 12, 0), at(0, 10, 0)},
      {"not yet today", at(-7, 10, 0), mon, true, at(0, 9, 59), {}},
      {"the minute itself", at(-7, 10, 0), mon, true, at(0, 10, 0), at(0, 10, 0)},
      {"run already", at(0, 10, 0), mon, true, at(0, 12, 0), {}},
      {"two missed, the latest runs", at(-7, 10, 0), mon | wed, true, at(4, 8, 0), at(2, 10, 0)},
      {"weeks away, once", at(-21, 10, 0), mon, true, at(3, 8, 0), at(0, 10, 0)},
      {"over the weekend", at(-9, 10, 0), sat, true, at(0, 8, 0), at(-2, 10, 0)},
      {"set after the time", at(0, 10, 30), mon, true, at(0, 12, 0), {}},
      {"catching up off", at(-7, 10, 0), mon, false, at(0, 12, 0), {}},
      {"no day ticked", at(-7, 10, 0), 0, true, at(0, 12, 0), {}},
      {"no last run kept", {}, mon, true, at(0, 12, 0), {}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(MissedRun(r.lastRun, {r.days, QTime(10, 0), r.runMissed}, r.now), r.expected);
  }

  const std::pair<int, int> intervals[] = {{mon, 7}, {62, 3}, {127, 1}, {mon | 16, 4}, {0, 0}};
  for (const auto& [days, interval] : intervals) EXPECT_EQ(ScheduleIntervalDays(days), interval);
  // Default limit: twice the interval (14 days for one day a week); or the user's.
  EXPECT_FALSE(ScheduleStale(at(0, 10, 0), mon, 0, at(14, 10, 0)));
  EXPECT_TRUE(ScheduleStale(at(0, 10, 0), mon, 0, at(14, 10, 1)));
  EXPECT_TRUE(ScheduleStale(at(0, 10, 0), mon, 3, at(3, 10, 1)));
  EXPECT_FALSE(ScheduleStale({}, mon, 3, at(30, 0, 0)));
}

// A Monday 10:00 backup under a clock in Berlin (the state is kept in UTC): the machine was off
// at 10:00, the next start runs it once, a minute later, not again at the set hour's ticks nor at
// a later start; a sleep over the next Monday's time is caught up after the wake-up. A schedule
// whose runs then fail goes stale: the tray says so and the desktop is told once.
TEST(SchedulerCatchUp, AMissedRunRunsOnceAtTheNextStartNotTwice) {
  testutil::TempDir dir;
  const QString ini = QString::fromStdString(dir / "default.ini");
  const QTimeZone berlin("Europe/Berlin");
  ASSERT_TRUE(berlin.isValid());
  const auto at = [&](int day, int h, int m) {
    return QDateTime(kMonday.addDays(day), QTime(h, m), berlin);
  };
  ScriptedHost host;
  FakeClock clock(at(-1, 20, 0));
  FakeTray tray;
  tray.shown = true;
  FakeWindow window;
  window.tray = &tray;
  // One start of the program: its scheduler loads the stored schedule and ticks until `until`.
  const auto start = [&](const QDateTime& from, const QDateTime& until) {
    clock.Advance(clock.Now().msecsTo(from));
    FakeTimer timer;
    TScheduler s(timer, tray, window);
    window.scheduler = &s;
    timer.Start(TScheduler::kWaitMs);
    s.Loaded(ini);
    while (timer.active && clock.Now() < until) {
      clock.Advance(timer.interval);
      s.SchedulerTimerTimer();
    }
    window.scheduler = nullptr;
  };
  {
    FakeTimer timer;
    TScheduler s(timer, tray, window);
    window.scheduler = &s;
    s.Set(ini);  // Sunday evening; then the machine is off
    window.scheduler = nullptr;
  }
  start(at(0, 10, 20), at(0, 12, 0));
  ASSERT_EQ(window.runs.size(), 1);
  EXPECT_GE(window.runs[0], at(0, 10, 20).addMSecs(TScheduler::kCatchUpDelayMs));
  EXPECT_LT(window.runs[0], at(0, 10, 23));
  EXPECT_TRUE(window.notes[0].startsWith("Catch-up of the scheduled backup of "))
      << window.notes[0].toStdString();
  const IniFile kept(ini.toStdString());
  EXPECT_EQ(kept.ReadString("Scheduled", "lastdue", ""), "2026-12-07T09:00:00.000Z");
  EXPECT_EQ(kept.ReadString("Scheduled", "lastgood", "").back(), 'Z');
  EXPECT_EQ(kept.ReadString("Scheduled", "days", ""), "2");

  // A later start the same day, ticking into Tuesday: nothing more.
  start(at(0, 13, 0), at(1, 12, 0));
  EXPECT_EQ(window.runs.size(), 1);

  // Asleep over the next Monday's time: the wake-up catches it up, once.
  {
    FakeTimer timer;
    TScheduler s(timer, tray, window);
    window.scheduler = &s;
    timer.Start(TScheduler::kWaitMs);
    s.Loaded(ini);
    clock.Advance(clock.Now().msecsTo(at(7, 11, 30)));
    s.Resumed();
    while (clock.Now() < at(7, 13, 0)) {
      clock.Advance(timer.interval);
      s.SchedulerTimerTimer();
    }
    ASSERT_EQ(window.runs.size(), 2);
    EXPECT_LT(window.runs[1], at(7, 11, 33));
    EXPECT_FALSE(window.notes[1].isEmpty());
    EXPECT_TRUE(window.trayWarning.isEmpty());

    // The runs fail from now on: two weeks after the last good one the schedule is stale.
    window.runsSucceed = false;
    while (clock.Now() < at(23, 12, 0)) {
      clock.Advance(timer.interval);
      s.SchedulerTimerTimer();
    }
    EXPECT_EQ(window.runs.size(), 4);
    window.scheduler = nullptr;
  }
  const QString warning =
      "No backup of Daily since " + QLocale().toString(kMonday.addDays(7), QLocale::ShortFormat);
  EXPECT_EQ(window.trayWarning, warning);
  EXPECT_EQ(window.notified, QStringList{"Arcavo: " + warning});
  // Told once, also across a restart.
  start(at(23, 13, 0), at(23, 14, 0));
  EXPECT_EQ(window.notified.size(), 1);
  EXPECT_EQ(window.trayWarning, warning);
}

TEST_F(SchedulerTest, TrayLifeFollowsTheWindowAndTheStealthArchive) {
  FakeTrayWindow w;
  TTrayLife life(tray_, w, scheduler_);

  // To the tray with a stealth archive: the verb registered, the monitors watch.
  EXPECT_TRUE(life.GoToTray());
  EXPECT_TRUE(tray_.shown && w.hidden);
  EXPECT_EQ(tray_.hint, "Arcavo V100");
  EXPECT_EQ(life.TrayStealth(), 1);
  EXPECT_EQ(w.registered, 1);
  EXPECT_TRUE(w.watching);
  EXPECT_TRUE(tray_.visible);
  EXPECT_FALSE(tray_.resumeVisible);
  // "Pause" stops the monitors and marks the tray; "Resume" starts them again.
  life.PauseItem();
  EXPECT_FALSE(w.watching);
  EXPECT_EQ(scheduler_.TrayMark(), 1);
  EXPECT_TRUE(tray_.resumeVisible);
  life.ResumeItem();
  EXPECT_TRUE(w.watching);
  EXPECT_EQ(tray_.image, 1);
  EXPECT_EQ(scheduler_.TrayMark(), 0);
  // Restoring stops them, removes the verb and hides the icon; minimising again restarts them.
  life.Restore();
  EXPECT_FALSE(w.watching);
  EXPECT_FALSE(tray_.shown || w.hidden);
  EXPECT_EQ(w.registered, 0);
  EXPECT_FALSE(life.Away());
  life.GoToTray();
  EXPECT_TRUE(w.watching);
  life.Restore();

  // Without a tray the window stays minimised, with the same bookkeeping.
  w.trayAvailable = false;
  EXPECT_FALSE(life.GoToTray());
  EXPECT_FALSE(tray_.shown || w.hidden);
  EXPECT_TRUE(w.watching && life.Away());
  life.Restore();
  EXPECT_FALSE(w.watching);
  w.trayAvailable = true;

  // An archive open for restore, or another archive, is no stealth in the tray.
  w.restoreOpen = true;
  life.GoToTray();
  EXPECT_EQ(life.TrayStealth(), 0);
  EXPECT_FALSE(w.watching);
  life.Restore();
  w.restoreOpen = false;

  // A paused operation: the icon stands still and the tray offers "Resume".
  w.running = true;
  w.paused = true;
  life.GoToTray();
  EXPECT_FALSE(tray_.animating);
  EXPECT_EQ(tray_.image, 1);
  EXPECT_FALSE(tray_.visible);
  EXPECT_TRUE(tray_.resumeVisible);
  life.ResumeItem();
  EXPECT_FALSE(w.paused);
  life.PauseItem();
  EXPECT_TRUE(w.paused);
  life.ResumeItem();
  // Restoring while it runs leaves the status bar's disc picture turning.
  w.calls.clear();
  life.Restore();
  EXPECT_FALSE(w.calls.contains("disc still"));
}

}  // namespace
