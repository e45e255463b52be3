// The program as users and schedulers start it: a running window and later starts handing their
// jobs over, and runs without a user (a job with an ACTION), all as real processes.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <thread>

#include "jobfiles.h"
#include "logindmock.h"
#include "testutil.h"

using testutil::Quote;
using testutil::ReadFile;
using testutil::WriteFile;

namespace {

std::string ProgramPath() {
  const char* bin = std::getenv("ARCAVO_BINARY_DIR");
  return bin ? std::string(bin) + "/src/arcavo" : std::string();
}

bool WaitUntil(const std::function<bool()>& cond, int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!cond()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

struct Ended {
  int status = -1;  // -1: still running after the time allowed
  std::string out;  // standard output and error
};

class ProgramStarts : public ::testing::Test {
 protected:
  ProgramStarts() {
    std::filesystem::create_directories(home);
    WriteFile(home + "/private.txt", "the user's own file");
  }
  ~ProgramStarts() override {
    for (pid_t p : running_) {
      ::kill(p, SIGKILL);
      ::waitpid(p, nullptr, 0);
    }
  }
  void SetUp() override {
    if (!testutil::Exists(ProgramPath())) GTEST_SKIP() << "program missing";
  }

  // A snapper that always refuses stands first on PATH: no start may take a real snapshot. The
  // system bus is one with nobody on it unless a test puts its own logind there: no start may
  // power the machine down.
  std::vector<std::string> Env() const {
    const std::string bin = dir / "bin";
    if (!testutil::Exists(bin + "/snapper")) {
      std::filesystem::create_directories(bin);
      WriteFile(bin + "/snapper", "#!/bin/sh\necho 'no configuration for this test' >&2\nexit 1\n");
      ::chmod((bin + "/snapper").c_str(), 0755);
      // The desktop opener a first start calls for its help page: whether the machine has one
      // (and a browser behind it) must not change what a test sees.
      WriteFile(bin + "/xdg-open", "#!/bin/sh\necho \"$@\" >> '" + (dir / "opened") + "'\n");
      ::chmod((bin + "/xdg-open").c_str(), 0755);
    }
    // One emulated disc writer: a first run finds it instead of asking the user to set one.
    const std::string drives = dir / "drives";
    if (!testutil::Exists(drives + "/sr0.state")) {
      std::filesystem::create_directories(drives);
      WriteFile(drives + "/sr0.state", "profile=CD-R\ncapacity=359847\n");
    }
    const char* path = ::getenv("PATH");
    std::vector<std::string> env = {"QT_QPA_PLATFORM=offscreen",
                                    "HOME=" + home,
                                    "ARCAVO_REPORT_FIRST_PAINT=1",
                                    "PATH=" + bin + ":" + (path ? path : "/usr/bin:/bin"),
                                    "DBUS_SYSTEM_BUS_ADDRESS=" + systemBus,
                                    "ARCAVO_EMULATED_DRIVES=" + drives};
    // No session bus unless a test puts its own there: no start may reach the user's desktop.
    if (!sessionBus.empty()) env.push_back("DBUS_SESSION_BUS_ADDRESS=" + sessionBus);
    return env;
  }
  // A start that keeps running (the first instance); ready once its window has been painted
  // (it says so on standard error), when it takes hand-overs.
  pid_t StartWindow(std::vector<std::string> args = {}) {
    args.insert(args.begin(), ProgramPath());
    const std::string log = dir / ("first" + std::to_string(starts_++));
    const pid_t p = testutil::Spawn(args, Env(), log);
    running_.push_back(p);
    windowLogs_[p] = log;
    return p;
  }
  bool WindowReady(pid_t window) const {
    const std::string& log = windowLogs_.at(window);
    return testutil::Exists(log) && ReadFile(log).find("first-paint ") != std::string::npos;
  }
  // A start run to its end (or for timeoutMs).
  Ended Start(std::vector<std::string> args, int timeoutMs = 20000) {
    args.insert(args.begin(), ProgramPath());
    const std::string log = dir / ("start" + std::to_string(starts_++));
    const pid_t p = testutil::Spawn(args, Env(), log);
    Ended e;
    e.status = testutil::WaitExit(p, timeoutMs);
    if (e.status < 0) running_.push_back(p);
    e.out = ReadFile(log);
    return e;
  }
  int Wait(pid_t p, int timeoutMs) {
    const int st = testutil::WaitExit(p, timeoutMs);
    if (st >= 0) running_.erase(std::find(running_.begin(), running_.end(), p));
    return st;
  }
  // Every archive below the scratch folder.
  std::vector<std::string> Archives() const {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir.path())) {
      const std::string ext = e.path().extension().string();
      if (ext == ".zip" || ext == ".ZIP") out.push_back(e.path().string());
    }
    return out;
  }
  // The texts of the report files in the settings folder.
  std::string Reports() const {
    std::string all;
    for (const auto& e : std::filesystem::directory_iterator(dir / "config/arcavo"))
      if (e.path().extension() == ".txt") all += ReadFile(e.path().string());
    return all;
  }

  testutil::TempDir dir;
  testutil::IsolatedXdg xdg{dir.path()};
  std::string home = dir / "home";
  HandWrittenJob job{dir.path()};
  std::string systemBus = "unix:path=" + (dir / "no-system-bus");
  std::string sessionBus;

  std::map<pid_t, std::string> windowLogs_;  // standard output and error of each window

 private:
  std::vector<pid_t> running_;
  int starts_ = 0;
};

}  // namespace

// A job that cannot run is refused by the running window with its reason; it never backs up
// what the window happens to show (the home folder at start).
TEST_F(ProgramStarts, AHandedOverJobThatCannotRunIsRefusedAndNothingIsBackedUp) {
  // "--help" prints the usage and ends, as a desktop program does; no window starts.
  Ended e = Start({"--help"});
  EXPECT_EQ(e.status, 0) << e.out;
  EXPECT_NE(e.out.find("Usage: arcavo [FILE [ACTION]]"), std::string::npos) << e.out;
  // The hotkey backup asked for from outside: with no window to hand it to, a failure.
  e = Start({"--stealth-now"});
  EXPECT_EQ(e.status, 1) << e.out;
  EXPECT_NE(e.out.find("no running instance"), std::string::npos) << e.out;
  EXPECT_FALSE(testutil::Exists(dir / "config/arcavo/default.ini")) << "no window was started";

  const pid_t window = StartWindow();
  ASSERT_TRUE(WaitUntil([&] { return WindowReady(window); }, 20000));
  e = Start({"--stealth-now"});
  EXPECT_EQ(e.status, 0) << e.out;

  const std::string ghost = dir / "Ghost.JOB";
  e = Start({ghost});
  EXPECT_EQ(e.status, 1) << e.out;
  EXPECT_NE(e.out.find("File '" + ghost + "' does not exist"), std::string::npos) << e.out;

  WriteFile(dir / "header.JOB", "ARCAVO-JOB 1\n");
  e = Start({dir / "header.JOB"});
  EXPECT_EQ(e.status, 1) << e.out;
  EXPECT_NE(e.out.find("No files checked/selected!"), std::string::npos) << e.out;

  WriteFile(dir / "junk.JOB", "not a job\n");
  e = Start({dir / "junk.JOB"});
  EXPECT_EQ(e.status, 1) << e.out;
  EXPECT_NE(e.out.find("is not a job file"), std::string::npos) << e.out;

  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_TRUE(Archives().empty()) << Archives().front();
  EXPECT_EQ(testutil::WaitExit(window, 0), -1) << "the window goes on";
}

// The later start's status says what the running window did: refused while an archive operation
// runs, "did not answer" from a stopped window (which then does not run it after all), taken
// otherwise, with the ACTION passed on.
TEST_F(ProgramStarts, TheLaterStartsStatusSaysWhatHappened) {
  // A first instance busy with a long backup (a large sparse file) from its command line.
  WriteFile(job.data + "/big.bin", "");
  ASSERT_EQ(::truncate((job.data + "/big.bin").c_str(), 1'500'000'000), 0);
  const pid_t busy = StartWindow({job.job, "close"});
  // The engine writes into a hidden temporary file beside the archive.
  ASSERT_TRUE(WaitUntil(
      [&] {
        for (const auto& e : std::filesystem::directory_iterator(job.folder))
          if (e.path().filename().string().rfind(".docs.zip.", 0) == 0) return true;
        return false;
      },
      20000));
  WriteFile(dir / "other.JOB", "ARCAVO-JOB 1\nC\tD\t" + job.data + "/notes\n");
  Ended e = Start({dir / "other.JOB"});
  EXPECT_EQ(e.status, 1) << e.out;
  EXPECT_NE(e.out.find("archive operation is running"), std::string::npos) << e.out;
  EXPECT_EQ(Wait(busy, 120000), 0);
  std::filesystem::remove(job.data + "/big.bin");
  std::filesystem::remove(job.archive);

  // A stopped window does not answer within the wait; the job it reads later is not run.
  const pid_t window = StartWindow();
  ASSERT_TRUE(WaitUntil([&] { return WindowReady(window); }, 20000));
  ::kill(window, SIGSTOP);
  e = Start({job.job});
  ::kill(window, SIGCONT);
  EXPECT_EQ(e.status, 1) << e.out;
  EXPECT_NE(e.out.find("did not answer"), std::string::npos) << e.out;
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_FALSE(testutil::Exists(job.archive));

  // Taken: status 0, the job runs once, and its ACTION ("close") ends the window afterwards.
  e = Start({job.job, "close"});
  EXPECT_EQ(e.status, 0) << e.out;
  EXPECT_EQ(Wait(window, 60000), 0) << ReadFile(windowLogs_.at(window));
  EXPECT_EQ(Archives(), std::vector<std::string>{job.archive});
  EXPECT_EQ(testutil::Run("unzip -tq " + Quote(job.archive)).status, 0);
}

// A job with an ACTION runs without a user: whatever box it meets, the process ends by itself
// within seconds with the text on standard error and in the report file, and a failure status;
// the next start then finds no instance left in the way.
TEST_F(ProgramStarts, UnattendedStartsEndByThemselves) {
  WriteFile(dir / "junk.JOB", "not a job\n");
  WriteFile(dir / "header.JOB", "ARCAVO-JOB 1\n");
  WriteFile(dir / "noname.JOB", "ARCAVO-JOB 1\nC\tD\t" + job.data + "\n");
  WriteFile(dir / "noname.INI", "[ZIPFILE]\nFname=\n[Options]\nClrDisk=0\n");
  WriteFile(dir / "secret.JOB", "ARCAVO-JOB 1\nC\tD\t" + job.data + "\n");
  WriteFile(dir / "secret.INI",
            "[ZIPFILE]\nFname=" + (dir / "secret.zip") + "\n[Options]\nClrDisk=0\nOptCheck2=25\n");
  WriteFile(dir / "noinclude.JOB", "ARCAVO-JOB 1\nC\tD\t" + job.data + "\n");
  WriteFile(dir / "noinclude.INI", "[ZIPFILE]\nFname=" + (dir / "noinclude.zip") +
                                       "\n[Options]\nClrDisk=0\n[SGcol0]\n1=\n");
  // "Set System Restore Point": the archive is written, the restore point cannot be set here.
  WriteFile(dir / "restore.JOB", "ARCAVO-JOB 1\nC\tD\t" + job.data + "\n");
  WriteFile(dir / "restore.INI", "[ZIPFILE]\nFname=" + (dir / "out/restore.zip") +
                                     "\n[Options]\nClrDisk=0\nOptCheck6=32\n");
  std::filesystem::create_directories(dir / "out");
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string text;
  };
  const Case cases[] = {
      {{dir / "nonexistent.JOB", "close"}, 2, "File '" + (dir / "nonexistent.JOB") + "' does not"},
      {{dir / "junk.JOB", "close"}, 1, "is not a job file"},
      {{dir / "header.JOB", "shutdown"}, 1, "No files checked/selected!"},
      {{job.job, "reboot"}, 2, "'REBOOT' invalid option"},
      // Settings that name no archive stop the job: nothing is written with default settings.
      {{dir / "noname.JOB", "close"}, 1, "Incorrect path"},
      // The password prompt is answered with Cancel: nothing is written in the clear.
      {{dir / "secret.JOB", "close"}, 1, "Password Dialog"},
      {{dir / "noinclude.JOB", "close"}, 1, "No files to INCLUDE"},
      {{dir / "restore.JOB", "close"}, 1, "Couldn't set System Restore point."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    const auto t0 = std::chrono::steady_clock::now();
    const Ended e = Start(c.args, 10000);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
            .count();
    EXPECT_EQ(e.status, c.status) << e.out;
    EXPECT_LT(ms, 5000);
    EXPECT_NE(e.out.find(c.text), std::string::npos) << e.out;
    EXPECT_NE(Reports().find(c.text), std::string::npos) << Reports();
  }
  // Only the job that got as far as writing wrote its archive.
  EXPECT_EQ(Archives(), std::vector<std::string>{dir / "out/restore.zip"});
  std::filesystem::remove(dir / "out/restore.zip");

  // No process is left holding the instance: the next job runs as a first instance.
  const Ended e = Start({job.job, "close"});
  EXPECT_EQ(e.status, 0) << e.out;
  EXPECT_EQ(Archives(), std::vector<std::string>{job.archive});
  EXPECT_NE(Reports().find("Files&DIRs successfully Archived"), std::string::npos);
}

// A run nobody watches tells the desktop (a notification daemon played by python3-dbusmock)
// once when it fails or leaves files out, naming its result and report; a good run tells nothing.
TEST_F(ProgramStarts, AnUnattendedRunThatGoesWrongIsToldOnTheDesktopOnce) {
  if (!HaveDbusMock()) GTEST_SKIP() << "python3-dbusmock or dbus-daemon missing";
  const std::string log = dir / "notify.log";
  DbusMockBus desktop(dir.path(), {"--system", "--template", "notification_daemon", "-l", log},
                      "org.freedesktop.Notifications", "notify-test");
  ASSERT_TRUE(desktop.ready()) << ReadFile(dir / "mock.out");
  sessionBus = desktop.address();
  const auto notices = [&] {
    std::vector<std::string> calls;
    std::istringstream in(testutil::Exists(log) ? ReadFile(log) : std::string());
    for (std::string line; std::getline(in, line);)
      if (line.find(" Notify ") != std::string::npos) calls.push_back(line);
    return calls;
  };
  std::filesystem::create_directories(dir / "out");
  WriteFile(dir / "gone.JOB",
            "ARCAVO-JOB 1\nC\tD\t" + job.data + "\nC\tD\t" + (dir / "gone") + "\n");
  WriteFile(dir / "gone.INI",
            "[ZIPFILE]\nFname=" + (dir / "out/gone.zip") + "\n[Options]\nClrDisk=0\n");
  WriteFile(dir / "noinclude.JOB", "ARCAVO-JOB 1\nC\tD\t" + job.data + "\n");
  WriteFile(dir / "noinclude.INI", "[ZIPFILE]\nFname=" + (dir / "out/noinclude.zip") +
                                       "\n[Options]\nClrDisk=0\n[SGcol0]\n1=\n");
  struct Case {
    std::string job;
    int status;
    std::string summary;  // "" for none
    std::string body;
  };
  const Case cases[] = {
      {job.job, 0, "", ""},
      {dir / "gone.JOB", 3, "Backup of gone incomplete", "1 file/DIR was left out"},
      {dir / "noinclude.JOB", 1, "Backup of noinclude failed", "No files to INCLUDE"},
  };
  size_t told = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.job);
    const Ended e = Start({c.job, "close"});
    EXPECT_EQ(e.status, c.status) << e.out;
    const std::vector<std::string> calls = notices();
    ASSERT_EQ(calls.size(), told + (c.summary.empty() ? 0 : 1)) << ReadFile(log);
    if (c.summary.empty()) continue;
    const std::string& call = calls.back();
    EXPECT_NE(call.find("\"Arcavo\""), std::string::npos) << call;
    EXPECT_NE(call.find(c.summary), std::string::npos) << call;
    EXPECT_NE(call.find(c.body), std::string::npos) << call;
    // The program has ended: the notice names the report instead of offering to open it.
    EXPECT_NE(call.find("Report: " + (dir / "config/arcavo/")), std::string::npos) << call;
    told = calls.size();
  }
}

// A settings folder that cannot be made ends the start with its reason.
TEST_F(ProgramStarts, AnUnusableSettingsFolderEndsTheStart) {
  const std::string cmd = "XDG_CONFIG_HOME=/dev/null/x QT_QPA_PLATFORM=offscreen timeout 20 " +
                          Quote(ProgramPath()) + " 2>&1";
  const auto r = testutil::Run(cmd);
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("cannot create the settings folder /dev/null/x/arcavo/"), std::string::npos)
      << r.out;
}

// Names that are not UTF-8 name their files: the job on the command line, its settings file and
// the archive it names keep their bytes.
TEST_F(ProgramStarts, NamesThatAreNotUtf8AreKept) {
  const std::string cafe = dir / "caf\xe9";
  WriteFile(cafe + ".JOB", "ARCAVO-JOB 1\nC\tD\t" + job.data + "/notes\n");
  WriteFile(cafe + ".INI",
            "[ZIPFILE]\nFname=" + cafe + ".zip\n[Options]\nClrDisk=0\nOptCheck6=0\n");
  const Ended e = Start({cafe + ".JOB", "close"});
  EXPECT_EQ(e.status, 0) << e.out;
  EXPECT_EQ(Archives(), std::vector<std::string>{cafe + ".zip"});
}

// The power actions of an unattended run go to logind once the archive is written, with no
// inhibitor of the program's left to hold them up: ACTION "hibernate" runs on after the resume
// (or after a shutdown logind accepted instead), ACTION "shutdown" powers off, a refusal heads
// the closing text, and "O/C shut down PC" with "Set System Restore Point" sets a restore point
// before hibernating and another after the resume.
TEST_F(ProgramStarts, PowerActionsGoToLogindOnceTheRunHasEnded) {
  if (!HaveLogindMock()) GTEST_SKIP() << "python3-dbusmock or dbus-daemon missing";
  std::filesystem::create_directories(dir / "logind");
  LogindMock logind(dir / "logind");
  ASSERT_TRUE(logind.ready()) << ReadFile(dir / "logind/mock.out");
  ASSERT_FALSE(logind.address().empty());
  systemBus = logind.address();

  // Every power call and every snapshot is noted in one file, in order; a power call with the
  // number of inhibitors logind holds at that moment.
  const std::string calls = dir / "calls.log";
  const auto noted = [&](const char* method) {
    return QString::fromStdString("open('" + calls + "', 'a').write('" + method +
                                  " %s inhibitors=%d\\n' % (bool(args[0]), "
                                  "len(globals().get('inhibitors', []))))\n");
  };
  const QString sleeps =
      "self.EmitSignal('org.freedesktop.login1.Manager', 'PrepareForSleep', 'b', [True])\n"
      "self.EmitSignal('org.freedesktop.login1.Manager', 'PrepareForSleep', 'b', [False])";
  const QString refuses =
      "raise dbus.exceptions.DBusException('refused by test', "
      "name='org.freedesktop.login1.Refused')";
  WriteFile(dir / "power.JOB", "ARCAVO-JOB 1\nC\tD\t" + job.data + "\n");
  // Functions: "O/C shut down PC" (8) and "Set System Restore Point" (32).
  WriteFile(dir / "power.INI", "[ZIPFILE]\nFname=" + (dir / "out/power.zip") +
                                   "\n[Options]\nClrDisk=0\nOptCheck6=40\n");
  std::filesystem::create_directories(dir / "out");
  Env();  // the refusing snapper, replaced by one that takes snapshots for the last case
  const std::string snapper = dir / "bin/snapper";

  struct Case {
    const char* name;
    std::vector<std::string> args;
    QString hibernate, powerOff;  // the mock's behaviour
    std::string calls;            // noted, in order
    std::string text;             // begins a box told on standard error and in the report file
    int status;                   // -1: still running (the window goes on after the run)
  };
  // A box's text as told without a user: trimmed, a line break as " / ".
  const std::string ok = "Backup successful / 4 file/DIRs were added";
  const std::vector<Case> cases = {
      {"hibernate, back after the resume",
       {job.job, "hibernate"},
       sleeps,
       "",
       "Hibernate False inhibitors=0\n",
       ok,
       -1},
      {"hibernation refused, shut down instead",
       {job.job, "hibernate"},
       refuses,
       "",
       "Hibernate False inhibitors=0\nPowerOff False inhibitors=0\n",
       ok,
       -1},
      {"both refused",
       {job.job, "hibernate"},
       refuses,
       refuses,
       "Hibernate False inhibitors=0\nPowerOff False inhibitors=0\n",
       "Couldn't shut down: refused by test",
       -1},
      {"shutdown", {job.job, "shutdown"}, sleeps, "", "PowerOff False inhibitors=0\n", ok, -1},
      {"shutdown refused",
       {job.job, "shutdown"},
       sleeps,
       refuses,
       "PowerOff False inhibitors=0\n",
       "Couldn't shut down: refused by test",
       -1},
      {"restore points around the hibernation",
       {dir / "power.JOB", "close"},
       sleeps,
       "",
       "snapper power\nHibernate False inhibitors=0\nsnapper power\n",
       "Restore Point power set.",
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.status == 0) {
      WriteFile(snapper, "#!/bin/sh\nfor a; do last=$a; done\necho \"snapper $last\" >>" +
                             Quote(calls) + "\necho 7\n");
    }
    ASSERT_TRUE(logind.SetMethod("Hibernate", "b", "", noted("Hibernate") + c.hibernate));
    ASSERT_TRUE(logind.SetMethod("PowerOff", "b", "", noted("PowerOff") + c.powerOff));
    WriteFile(calls, "");
    std::filesystem::create_directories(dir / "config/arcavo");
    for (const auto& e : std::filesystem::directory_iterator(dir / "config/arcavo"))
      if (e.path().extension() == ".txt") std::filesystem::remove(e.path());

    std::vector<std::string> args = c.args;
    args.insert(args.begin(), ProgramPath());
    const std::string log = dir / "power.out";
    WriteFile(log, "");
    const pid_t p = testutil::Spawn(args, Env(), log);
    // A program that ends does so after its run; one that goes on does so after its closing
    // text, and is then ended by a termination signal, as the system's shutdown would.
    int status = -1;
    const bool told = WaitUntil(
        [&] {
          if (status < 0) status = testutil::WaitExit(p, 0);
          return status >= 0 ||
                 (c.status < 0 && ReadFile(log).find("arcavo: " + c.text) != std::string::npos);
        },
        30000);
    if (status < 0) std::this_thread::sleep_for(std::chrono::milliseconds(300));
    if (status < 0) status = testutil::WaitExit(p, 0);
    const bool running = status < 0;
    if (running) {
      ::kill(p, SIGTERM);
      EXPECT_EQ(testutil::WaitExit(p, 10000), 128 + SIGTERM);
    }
    const std::string out = ReadFile(log);
    EXPECT_TRUE(told) << out;
    EXPECT_EQ(running ? -1 : status, c.status) << out;
    EXPECT_NE(out.find("arcavo: " + c.text), std::string::npos) << out;
    EXPECT_NE(Reports().find(c.text), std::string::npos) << Reports();
    EXPECT_EQ(ReadFile(calls), c.calls);
  }
}
