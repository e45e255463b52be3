// Power events during a real backup run, with logind and UPower played by python3-dbusmock on a
// private bus: the sleep inhibitors are held exactly while the run writes, a sleep pauses the run
// and the resume continues it, a low battery pauses it once, and without a bus a run just works.
#include "automation/pwrsave.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include "logindmock.h"
#include "run_fixture.h"

namespace {

struct PowerProgram : FakeProgram {
  std::function<void()> changed;
  void RunStateChanged(bool, bool) override {
    if (changed) changed();
  }
};

struct PowerSeams : FakeSeams {
  std::function<void()> atPowerDown;
  bool Hibernate(bool interactive, QString& reason) override {
    if (atPowerDown) atPowerDown();
    return FakeSeams::Hibernate(interactive, reason);
  }
};

struct RunHost : IPwrSaveHost {
  TBackupRun* run = nullptr;
  TArcZip* zip = nullptr;
  bool OperationRunning() const override { return run->RunInProgress() || zip->Busy(); }
  bool BackupRunning() const override { return run->RunInProgress(); }
  bool OperationPaused() const override { return run->PauseMode(); }
  void PauseOperation() override { run->PauseBtnClick(); }
};

class PwrSaveTest : public RunFixture {
 protected:
  void Wire(TPwrSave& power) {
    run = std::make_unique<TBackupRun>(zip, lists, prefs, ticks, grid, controls, display, program_,
                                       dialogs, seams_);
    host_.run = run.get();
    host_.zip = &zip;
    program_.changed = [&power] { power.OperationChanged(); };
    zip.OnBusyChanged = [&power] { power.OperationChanged(); };
  }
  void RunInto(const std::string& name) {
    run->SetArchiveName(QString::fromStdString(out + "/" + name), true);
    RunExpecting(QString());
    zip.OnBusyChanged = nullptr;
  }

  PowerProgram program_;
  PowerSeams seams_;
  RunHost host_;
};

// What logind holds now, as "what:mode" per inhibitor.
QStringList Inhibitors(QDBusConnection bus) {
  const QDBusMessage r =
      bus.call(QDBusMessage::createMethodCall("org.freedesktop.login1", "/org/freedesktop/login1",
                                              "org.freedesktop.login1.Manager", "ListInhibitors"));
  QStringList held;
  const QDBusArgument arg = r.arguments().value(0).value<QDBusArgument>();
  arg.beginArray();
  while (!arg.atEnd()) {
    QString what, who, why, mode;
    uint uid = 0, pid = 0;
    arg.beginStructure();
    arg >> what >> who >> why >> mode >> uid >> pid;
    arg.endStructure();
    held << what + ":" + mode;
  }
  arg.endArray();
  held.sort();
  return held;
}

// logind drops an inhibitor when it sees its descriptor closed, a moment after the close.
QStringList InhibitorsSettled(QDBusConnection bus, const QStringList& expected) {
  QStringList held = Inhibitors(bus);
  for (QDeadlineTimer end(3000); held != expected && !end.hasExpired(); held = Inhibitors(bus))
    QThread::msleep(50);
  return held;
}

bool Call(QDBusConnection bus, const QString& service, const QString& path, const QString& method,
          const QVariantList& args) {
  QDBusMessage m =
      QDBusMessage::createMethodCall(service, path, "org.freedesktop.DBus.Mock", method);
  m.setArguments(args);
  return bus.call(m).type() == QDBusMessage::ReplyMessage;
}

bool PrepareForSleep(QDBusConnection bus, bool start) {
  return Call(bus, "org.freedesktop.login1", "/org/freedesktop/login1", "EmitSignal",
              {"org.freedesktop.login1.Manager", "PrepareForSleep", "b",
               QVariantList{QVariant::fromValue(QDBusVariant(start))}});
}

bool SetWarningLevel(QDBusConnection bus, uint level) {
  QVariantMap props{{"WarningLevel", QVariant::fromValue(QDBusVariant(level))}};
  return Call(
      bus, "org.freedesktop.UPower", "/org/freedesktop/UPower", "SetDeviceProperties",
      {QVariant::fromValue(QDBusObjectPath("/org/freedesktop/UPower/devices/DisplayDevice")),
       props});
}

// Turns the event loop until done() or the time is up.
bool WaitFor(const std::function<bool()>& done, int ms = 5000) {
  for (QDeadlineTimer end(ms); !done() && !end.hasExpired();)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  return done();
}

TEST_F(PwrSaveTest, InhibitsSleepWhileWritingAndPausesForSleepAndLowBattery) {
  if (!HaveLogindMock()) GTEST_SKIP() << "python3-dbusmock or dbus-daemon missing";
  LogindMock logind(dir.path());
  ASSERT_TRUE(logind.ready()) << testutil::ReadFile(dir / "mock.out");
  const pid_t upower =
      testutil::Spawn({"/usr/bin/python3", "-m", "dbusmock", "--system", "--template", "upower"},
                      {"DBUS_SYSTEM_BUS_ADDRESS=" + logind.address()}, dir / "upower.out");
  QDBusConnection bus = logind.Bus();
  ASSERT_TRUE(WaitFor([&] {
    return bus.interface()->isServiceRegistered("org.freedesktop.UPower").value();
  })) << testutil::ReadFile(dir / "upower.out");

  TPwrSave power(host_, bus);
  Wire(power);
  EXPECT_EQ(Inhibitors(bus), QStringList());

  // A sleep in the middle of the run: paused ("Continue") with the delay given back, continued
  // after the resume with a new delay taken.
  const QStringList both = {"sleep:block", "sleep:delay"};
  QStringList whileWriting, whileAsleep, afterResume, atPowerDown;
  bool paused = false;
  int files = 0;
  zip.OnEndZip = [&](TZipSender, const std::string&, int32_t, int32_t, int32_t) {
    if (++files != 1) return;
    whileWriting = Inhibitors(bus);
    QTimer::singleShot(300, [&] {
      paused = run->PauseMode() && controls.ControlCaption("PauseBtn") != "Pause";
      whileAsleep = InhibitorsSettled(bus, {"sleep:block"});
      PrepareForSleep(bus, false);
    });
    ASSERT_TRUE(PrepareForSleep(bus, true));
    WaitFor([&] { return paused && !run->PauseMode(); });
    afterResume = Inhibitors(bus);
  };
  lists.functionsList.SetChecked(opt::kFnShutdown, true);
  seams_.atPowerDown = [&] { atPowerDown = InhibitorsSettled(bus, {}); };
  RunInto("sleep.zip");
  EXPECT_EQ(whileWriting, both);
  EXPECT_TRUE(paused);
  EXPECT_EQ(whileAsleep, QStringList{"sleep:block"});
  EXPECT_EQ(afterResume, both);
  EXPECT_EQ(atPowerDown, QStringList());
  EXPECT_TRUE(run->LastRunSucceeded()) << run->ResultText().toStdString();
  EXPECT_EQ(power.Pauses(), 1);
  if (testutil::HaveTool("unzip")) {
    const auto t = testutil::Run("unzip -t " + testutil::Quote(out + "/sleep.zip"));
    EXPECT_EQ(t.status, 0) << t.out;
  }

  // The battery turning low pauses once; worse still does not pause again.
  files = 0;
  int lowPauses = -1;
  zip.OnEndZip = [&](TZipSender, const std::string&, int32_t, int32_t, int32_t) {
    if (++files != 1) return;
    QTimer::singleShot(300, [&] {
      paused = run->PauseMode();
      SetWarningLevel(bus, 4);
      QTimer::singleShot(300, [&] {
        lowPauses = power.Pauses();
        if (run->PauseMode()) run->PauseBtnClick();  // the user continues
      });
    });
    paused = false;
    ASSERT_TRUE(SetWarningLevel(bus, 3));
    WaitFor([&] { return lowPauses >= 0 && !run->PauseMode(); });
  };
  RunInto("battery.zip");
  EXPECT_TRUE(paused);
  EXPECT_EQ(lowPauses, 2);
  EXPECT_EQ(power.Pauses(), 2);
  EXPECT_TRUE(run->LastRunSucceeded()) << run->ResultText().toStdString();
  EXPECT_EQ(InhibitorsSettled(bus, {}), QStringList());
  zip.OnEndZip = nullptr;
  ::kill(upower, SIGTERM);
  testutil::WaitExit(upower, 5000);
}

TEST_F(PwrSaveTest, WithoutABusARunStillWorks) {
  TPwrSave power(host_, QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent"),
                                                      QStringLiteral("no-bus")));
  Wire(power);
  RunInto("nobus.zip");
  EXPECT_TRUE(run->LastRunSucceeded()) << run->ResultText().toStdString();
  EXPECT_FALSE(power.Blocking() || power.Delaying());
  QDBusConnection::disconnectFromBus(QStringLiteral("no-bus"));
}

}  // namespace
