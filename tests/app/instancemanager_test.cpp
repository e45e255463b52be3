// Single instance and hand-over, with real processes (the guard helper and the program itself).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <thread>

#include "app/instancemanager.h"
#include "app/pathbytes.h"
#include "testutil.h"

namespace {

using testutil::IsolatedXdg;
using testutil::Spawn;
using testutil::TempDir;
using testutil::WaitExit;

// The build folder: this test runs from <build>/tests/app/.
std::string BinaryDir() {
  if (const char* b = std::getenv("ARCAVO_BINARY_DIR"); b && *b) return b;
  char buf[4096];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  std::string exe(buf, n > 0 ? static_cast<size_t>(n) : 0);
  for (int i = 0; i < 3 && !exe.empty(); ++i) exe.erase(exe.rfind('/'));
  return exe;
}

std::string Helper() {
  return BinaryDir() + "/tests/app/instance_helper";
}

bool WaitFor(const std::function<bool()>& cond, int timeoutMs) {
  QElapsedTimer t;
  t.start();
  while (!cond()) {
    if (t.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

class InstanceTest : public ::testing::Test {
 protected:
  InstanceTest() : xdg_(tmp_.path()) {
    out_ = tmp_ / "out";
    QDir().mkpath(QString::fromStdString(out_));
  }
  ~InstanceTest() override {
    for (pid_t p : started_) {
      ::kill(p, SIGKILL);
      ::waitpid(p, nullptr, 0);
    }
  }

  pid_t StartHelper(std::vector<std::string> extra = {}) {
    std::vector<std::string> args{Helper(), out_};
    args.insert(args.end(), extra.begin(), extra.end());
    pid_t p = Spawn(args);
    started_.push_back(p);
    return p;
  }
  // Runs a later start to its end and returns its exit status.
  int RunHelper(std::vector<std::string> extra, int timeoutMs = 8000) {
    pid_t p = StartHelper(std::move(extra));
    int st = WaitExit(p, timeoutMs);
    if (st >= 0) started_.erase(std::find(started_.begin(), started_.end(), p));
    return st;
  }
  QStringList ReadyPids() const {
    return QDir(QString::fromStdString(out_)).entryList({QStringLiteral("ready.*")});
  }
  QStringList Received() const {
    QFile f(QString::fromStdString(out_ + "/received"));
    if (!f.open(QIODevice::ReadOnly)) return {};
    QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
    lines.removeLast();
    return lines;
  }
  bool WaitReceived(int n) {
    return WaitFor([&] { return Received().size() >= n; }, 3000);
  }
  pid_t StartFirst() {
    pid_t p = StartHelper();
    EXPECT_TRUE(WaitFor([&] { return ReadyPids().size() == 1; }, 5000));
    return p;
  }

  TempDir tmp_;
  IsolatedXdg xdg_;
  std::string out_;
  std::vector<pid_t> started_;
};

TEST_F(InstanceTest, SecondStartHandsItsArgumentOverAndEndsAtOnce) {
  StartFirst();
  QElapsedTimer t;
  t.start();
  EXPECT_EQ(RunHelper({"/some/folder with blanks/job.JOB"}), 0);
  EXPECT_LT(t.elapsed(), 2000);
  ASSERT_TRUE(WaitReceived(1));
  EXPECT_EQ(Received(), QStringList{QStringLiteral("/some/folder with blanks/job.JOB")});

  // Without an argument the hand-over carries an empty path.
  EXPECT_EQ(RunHelper({}), 0);
  ASSERT_TRUE(WaitReceived(2));
  EXPECT_EQ(Received().at(1), QString());
  EXPECT_EQ(ReadyPids().size(), 1);
  // The ACTION travels with the path; a refusal ends the later start with status 1.
  EXPECT_EQ(RunHelper({"/jobs/refuse.JOB", "close"}), 1);
  ASSERT_TRUE(WaitReceived(3));
  EXPECT_EQ(Received().at(2), QStringLiteral("/jobs/refuse.JOB\tclose"));

  // The folder holding the lock and socket is private.
  struct stat st;
  ASSERT_EQ(::stat((tmp_ / "runtime/arcavo").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(InstanceTest, FiveConcurrentSecondStartsGiveFiveReceipts) {
  StartFirst();
  std::vector<pid_t> seconds;
  for (int i = 0; i < 5; ++i) seconds.push_back(StartHelper({"/p/" + std::to_string(i)}));
  for (pid_t p : seconds) {
    EXPECT_EQ(WaitExit(p, 8000), 0);
    started_.erase(std::find(started_.begin(), started_.end(), p));
  }
  ASSERT_TRUE(WaitReceived(5));
  QStringList got = Received();
  got.sort();
  EXPECT_EQ(got, (QStringList{"/p/0", "/p/1", "/p/2", "/p/3", "/p/4"}));
}

TEST_F(InstanceTest, AfterTheFirstIsKilledANewStartBecomesFirst) {
  pid_t first = StartFirst();
  ::kill(first, SIGKILL);
  ::waitpid(first, nullptr, 0);
  started_.erase(std::find(started_.begin(), started_.end(), first));
  QFile::remove(QString::fromStdString(out_ + "/ready." + std::to_string(first)));

  StartHelper();
  ASSERT_TRUE(WaitFor([&] { return ReadyPids().size() == 1; }, 5000));
  EXPECT_EQ(RunHelper({"/after/kill"}), 0);
  ASSERT_TRUE(WaitReceived(1));
  EXPECT_EQ(Received(), QStringList{QStringLiteral("/after/kill")});
}

TEST_F(InstanceTest, TwoSimultaneousColdStartsGiveExactlyOneFirst) {
  pid_t a = StartHelper({"/from/a"});
  pid_t b = StartHelper({"/from/b"});
  ASSERT_TRUE(WaitFor([&] { return ReadyPids().size() >= 1; }, 5000));
  // One of them hands over and ends with 0; the other stays as the first instance.
  QElapsedTimer t;
  t.start();
  int ended = 0;
  pid_t endedPid = 0;
  while (t.elapsed() < 6000 && !ended) {
    for (pid_t p : {a, b}) {
      int st = 0;
      if (::waitpid(p, &st, WNOHANG) == p) {
        ended = 1;
        endedPid = p;
        EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_EQ(ended, 1);
  started_.erase(std::find(started_.begin(), started_.end(), endedPid));
  EXPECT_EQ(ReadyPids().size(), 1);
  ASSERT_TRUE(WaitReceived(1));
  EXPECT_EQ(Received(),
            QStringList{endedPid == a ? QStringLiteral("/from/a") : QStringLiteral("/from/b")});
}

TEST_F(InstanceTest, TheProgramItselfHandsOverToARunningInstance) {
  StartFirst();
  const std::string arcavo = BinaryDir() + "/src/arcavo";
  ASSERT_TRUE(testutil::Exists(arcavo));
  pid_t p = Spawn({arcavo, "/handed/by/arcavo"});
  started_.push_back(p);
  EXPECT_EQ(WaitExit(p, 5000), 0);
  started_.pop_back();
  ASSERT_TRUE(WaitReceived(1));
  EXPECT_EQ(Received(), QStringList{QStringLiteral("/handed/by/arcavo")});

  // A relative name reaches the running instance as the file the sender meant.
  auto r = testutil::Run("cd " + testutil::Quote(tmp_.path()) + " && timeout 10 " +
                         testutil::Quote(arcavo) + " jobs/Weekly.JOB");
  EXPECT_EQ(r.status, 0) << r.out;
  ASSERT_TRUE(WaitReceived(2));
  EXPECT_EQ(Received().at(1), QString::fromStdString(tmp_ / "jobs/Weekly.JOB"));
}

TEST_F(InstanceTest, TheProgramRunsAsFirstInstanceAndEndsInOrderOnSigterm) {
  const std::string arcavo = BinaryDir() + "/src/arcavo";
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // One emulated disc writer: the first run finds it instead of asking the user to set one.
  const std::string drives = tmp_ / "drives";
  ::mkdir(drives.c_str(), 0755);
  testutil::WriteFile(drives + "/sr0.state", "profile=CD-R\ncapacity=359847\n");
  ::setenv("ARCAVO_EMULATED_DRIVES", drives.c_str(), 1);
  pid_t p = Spawn({arcavo});
  ::unsetenv("ARCAVO_EMULATED_DRIVES");
  started_.push_back(p);
  const std::string ini = tmp_ / "config/arcavo/default.ini";
  // Up and painted: the first run has been recorded.
  ASSERT_TRUE(WaitFor([&] { return testutil::Exists(ini); }, 10000));
  // The helper hands over to the program, which answers after deciding: a path that is not a
  // job (and no stealth archive to add it to) is not taken.
  EXPECT_EQ(RunHelper({"/to/the/program"}), 1);
  ::kill(p, SIGTERM);
  EXPECT_EQ(WaitExit(p, 5000), 128 + SIGTERM);
  started_.pop_back();
  // The lock went with it: the next start is the first instance.
  StartHelper();
  EXPECT_TRUE(WaitFor([&] { return ReadyPids().size() == 1; }, 5000));
}

// In one process: the first instance serves from the event loop while a client thread sends.
class InProcessInstanceTest : public ::testing::Test {
 protected:
  InProcessInstanceTest() : xdg_(tmp_.path()) {}
  // Runs fn on a thread while the event loop turns; returns fn's result.
  int OnClientThread(const std::function<int()>& fn) {
    std::atomic<bool> done{false};
    int result = -2;
    std::thread th([&] {
      result = fn();
      done = true;
    });
    WaitFor([&] { return done.load(); }, 10000);
    th.join();
    return result;
  }
  TempDir tmp_;
  IsolatedXdg xdg_;
};

TEST_F(InProcessInstanceTest, MalformedFramesAreIgnoredAndLaterFramesStillServed) {
  TInstanceManager first;
  ASSERT_EQ(first.Guard("ignored"), TInstanceManager::Role::First);
  ASSERT_TRUE(first.Listen());
  QStringList got;
  first.SetReceiver([&](const THandOver& h) {
    got << h.path;
    return THandOverAnswer{};
  });
  const QString sock = first.socketPath();

  // An oversized length: dropped without an answer.
  int answer = OnClientThread([&] {
    QByteArray big(TInstanceManager::kMaxFrame + 1, 'x');
    return TInstanceManager::SendFrame(sock, big, 2000);
  });
  EXPECT_EQ(answer, -1);
  // A frame with a second NUL (one separates the path from the ACTION): dropped as well.
  answer = OnClientThread(
      [&] { return TInstanceManager::SendFrame(sock, QByteArray("a\0b\0c", 5), 2000); });
  EXPECT_EQ(answer, -1);
  // A well-formed frame right after is answered with 1 and delivered.
  answer = OnClientThread([&] { return TInstanceManager::SendFrame(sock, "/ok/path", 2000); });
  EXPECT_EQ(answer, 1);
  ASSERT_TRUE(WaitFor([&] { return got.size() == 1; }, 2000));
  EXPECT_EQ(got, QStringList{QStringLiteral("/ok/path")});

  // After the close sequence releases the guard, a new start becomes the first instance.
  first.Release();
  TInstanceManager next;
  EXPECT_EQ(next.Guard("x"), TInstanceManager::Role::First);
}

TEST_F(InProcessInstanceTest, TheSenderGetsTheReceiversDecision) {
  TInstanceManager first;
  ASSERT_EQ(first.Guard({}), TInstanceManager::Role::First);
  ASSERT_TRUE(first.Listen());
  const QString sock = first.socketPath();
  QVector<THandOver> got;
  auto receiver = [&](const THandOver& h) -> THandOverAnswer {
    got << h;
    if (h.path.contains(QStringLiteral("busy")))
      return {false, QStringLiteral("an operation runs")};
    return {};
  };

  // A frame that arrives before the receiver waits for it: its sender gets the answer then.
  QTimer::singleShot(300, [&] { first.SetReceiver(receiver); });
  EXPECT_EQ(OnClientThread([&] { return TInstanceManager::SendFrame(sock, "/early", 3000); }), 1);
  ASSERT_EQ(got.size(), 1);
  EXPECT_EQ(got[0].path, QStringLiteral("/early"));
  EXPECT_TRUE(got[0].action.isEmpty());

  // The ACTION travels with the path; the name's bytes arrive as they were (not UTF-8 here).
  const QByteArray raw("/jobs/caf\xe9.JOB");
  EXPECT_EQ(OnClientThread([&] {
              return TInstanceManager::SendFrame(sock, HandOverPayload(raw, "close"), 2000);
            }),
            1);
  ASSERT_EQ(got.size(), 2);
  EXPECT_EQ(PathBytes(got[1].path), raw.toStdString());
  EXPECT_EQ(got[1].action, QStringLiteral("close"));

  // A refusal comes back with its reason.
  QString reason;
  EXPECT_EQ(OnClientThread(
                [&] { return TInstanceManager::SendFrame(sock, "/jobs/busy.JOB", 2000, &reason); }),
            TInstanceManager::kAnswerRefused);
  EXPECT_EQ(reason, QStringLiteral("an operation runs"));

  // A sender that has gone before its frame was read (it gave up waiting) is not acted on.
  const int before = got.size();
  OnClientThread([&] {
    QLocalSocket s;
    s.connectToServer(sock);
    if (!s.waitForConnected(2000)) return -1;
    const QByteArray payload("/gone.JOB");
    const quint32 n = static_cast<quint32>(payload.size());
    const char head[4] = {0, 0, 0, static_cast<char>(n)};
    s.write(head, 4);
    s.write(payload);
    s.waitForBytesWritten(2000);
    s.abort();
    return 0;
  });
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < 500) QCoreApplication::processEvents();
  EXPECT_EQ(got.size(), before);
}

TEST_F(InProcessInstanceTest, ALockHeldWithoutAnswerIsAFailureAfterTheWait) {
  // Someone holds the lock but never listens: the later start gives up after its wait.
  TInstanceManager holder;
  ASSERT_EQ(holder.Guard({}), TInstanceManager::Role::First);
  TInstanceManager later;
  QElapsedTimer t;
  t.start();
  EXPECT_EQ(later.Guard("/x"), TInstanceManager::Role::Failed);
  EXPECT_GE(t.elapsed(), TInstanceManager::kConnectTimeoutMs - 100);
  EXPECT_FALSE(later.error().isEmpty());
}

TEST(HandOverArgument, RelativeNamesBecomeAbsoluteAgainstTheSendersFolder) {
  char cwd[4096];
  ASSERT_TRUE(::getcwd(cwd, sizeof cwd));
  EXPECT_EQ(HandOverArgument("jobs/a.JOB"), QByteArray(cwd) + "/jobs/a.JOB");
  EXPECT_EQ(HandOverArgument("./b.zip"), QByteArray(cwd) + "/b.zip");
  EXPECT_EQ(HandOverArgument("/abs/c.job"), QByteArray("/abs/c.job"));
  EXPECT_EQ(HandOverArgument(""), QByteArray());
}

TEST(InstanceFolder, AStartWithoutTheVariableFindsTheSessionsFolder) {
  TempDir tmp;
  const char* old = std::getenv("XDG_RUNTIME_DIR");
  std::string saved = old ? old : "";
  const std::string root = tmp / "run/user";
  const std::string session = root + "/" + std::to_string(::getuid());
  TInstanceManager::SetUserRuntimeRootForTest(QString::fromStdString(root));

  // No session folder: a missing or unset variable gives the private folder under /tmp.
  ::setenv("XDG_RUNTIME_DIR", "/nonexistent/run", 1);
  const QString missing = TInstanceManager::RuntimeFolder();
  ::unsetenv("XDG_RUNTIME_DIR");
  const QString fallback = TInstanceManager::RuntimeFolder();
  EXPECT_EQ(missing, fallback);
  EXPECT_EQ(fallback, QStringLiteral("/tmp/arcavo-") + QString::number(::getuid()));
  struct stat st;
  ASSERT_EQ(::lstat(fallback.toLocal8Bit().constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(st.st_uid, ::getuid());

  // With the session's runtime folder, a start from the desktop (variable set to it) and one
  // from cron (variable unset) meet in the same folder.
  std::filesystem::create_directories(session);
  ::chmod(session.c_str(), 0700);
  ::setenv("XDG_RUNTIME_DIR", session.c_str(), 1);
  const QString desktop = TInstanceManager::RuntimeFolder();
  ::unsetenv("XDG_RUNTIME_DIR");
  const QString cron = TInstanceManager::RuntimeFolder();
  EXPECT_EQ(desktop, QString::fromStdString(session + "/arcavo"));
  EXPECT_EQ(cron, desktop);

  TInstanceManager::SetUserRuntimeRootForTest({});
  if (old) ::setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
}

}  // namespace
