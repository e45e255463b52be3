#include "backup/xwinreboot.h"

#include <gtest/gtest.h>

#include <vector>

#include "logindmock.h"
#include "testutil.h"

namespace {

const QString kSleepsAndResumes = QStringLiteral(
    "self.EmitSignal('org.freedesktop.login1.Manager', 'PrepareForSleep', 'b', [True])\n"
    "self.EmitSignal('org.freedesktop.login1.Manager', 'PrepareForSleep', 'b', [False])");
const QString kRefuses = QStringLiteral(
    "raise dbus.exceptions.DBusException('refused by test', "
    "name='org.freedesktop.login1.Refused')");

struct RebootCase {
  const char* name;
  TRebootOperation op;
  bool interactive;
  QString canAnswer;  // what logind's CanX answers
  QString code;       // the operation's own behaviour in the mock
  bool ok;
  std::string called;  // the logged call expected, "" for none after the check
  std::string reason;  // part of the reason of a failure
};

TEST(XWinReboot, DoesEachOperationOnlyWhenLogindAllowsIt) {
  if (!HaveLogindMock()) GTEST_SKIP() << "python3-dbusmock or dbus-daemon missing";
  testutil::TempDir scratch;
  LogindMock logind(scratch.path());
  ASSERT_TRUE(logind.ready()) << testutil::ReadFile(scratch / "mock.out");

  const std::vector<RebootCase> cases = {
      {"hibernate, back after resume", roHibernate, false, "yes", kSleepsAndResumes, true,
       "Hibernate False", ""},
      {"hibernate by hand may authenticate", roHibernate, true, "challenge", kSleepsAndResumes,
       true, "Hibernate True", ""},
      {"unattended never asks", roHibernate, false, "challenge", kSleepsAndResumes, false, "",
       "challenge"},
      {"not supported", roHibernate, true, "na", kSleepsAndResumes, false, "", "na"},
      {"refused hibernation", roHibernate, false, "yes", kRefuses, false, "Hibernate False",
       "refused by test"},
      {"never went to sleep", roHibernate, false, "yes", "", false, "Hibernate False",
       "did not go to sleep"},
      {"suspend", roSuspend, false, "yes", kSleepsAndResumes, true, "Suspend False", ""},
      {"shut down powers off", roShutDown, false, "yes", "", true, "PowerOff False", ""},
      {"refused shutdown", roShutDown, false, "yes", kRefuses, false, "PowerOff False",
       "refused by test"},
      {"reboot", roReboot, true, "yes", "", true, "Reboot True", ""},
      {"log off", roLogOff, false, "", "", true, "TerminateSession", ""},
  };
  const char* methods[] = {"Hibernate", "Suspend", "PowerOff", "Reboot", "TerminateSession"};
  const char* cans[] = {"CanHibernate", "CanSuspend", "CanPowerOff", "CanReboot", nullptr};
  const TRebootOperation ops[] = {roHibernate, roSuspend, roShutDown, roReboot, roLogOff};
  for (const RebootCase& c : cases) {
    SCOPED_TRACE(c.name);
    for (int i = 0; i < 5; ++i) {
      if (ops[i] != c.op) continue;
      const QString in = ops[i] == roLogOff ? "s" : "b";
      ASSERT_TRUE(logind.SetMethod(methods[i], in, "", c.code));
      if (cans[i]) {
        ASSERT_TRUE(logind.SetMethod(cans[i], "", "s", "ret = '" + c.canAnswer + "'"));
      }
    }
    const size_t before = logind.Log().size();
    TXWinReboot reboot(logind.Bus());
    reboot.Operation = c.op;
    reboot.Interactive = c.interactive;
    reboot.SleepStartLimitMs = 1500;
    reboot.ResumeLimitMs = 1500;
    EXPECT_EQ(reboot.Execute(), c.ok) << reboot.Reason().toStdString();
    const std::string calls = logind.Log().substr(before);
    if (c.called.empty()) {
      for (const char* m : methods) EXPECT_EQ(calls.find(std::string(" ") + m), std::string::npos);
    } else {
      EXPECT_NE(calls.find(c.called), std::string::npos) << calls;
    }
    if (c.ok)
      EXPECT_TRUE(reboot.Reason().isEmpty());
    else
      EXPECT_NE(reboot.Reason().toStdString().find(c.reason), std::string::npos)
          << reboot.Reason().toStdString();
  }

  // A bus without logind: nothing to call.
  auto r = testutil::Run("dbus-daemon --session --fork --print-address=1 --print-pid=1");
  ASSERT_EQ(r.status, 0);
  const size_t nl = r.out.find('\n');
  {
    TXWinReboot reboot(
        QDBusConnection::connectToBus(QString::fromStdString(r.out.substr(0, nl)), "no-logind"));
    reboot.Operation = roShutDown;
    EXPECT_FALSE(reboot.Execute());
    EXPECT_EQ(reboot.Reason(), "logind not available");
  }
  QDBusConnection::disconnectFromBus("no-logind");
  ::kill(std::stoi(r.out.substr(nl + 1)), SIGTERM);
}

}  // namespace
