#include "backup/restorepoint.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QByteArray>
#include <QTimer>

#include "testutil.h"

namespace {

// PATH holds only the test's folder while it lives.
class OnlyPath {
 public:
  explicit OnlyPath(const std::string& dir) : saved_(qgetenv("PATH")) {
    qputenv("PATH", QByteArray::fromStdString(dir));
  }
  ~OnlyPath() { qputenv("PATH", saved_); }

 private:
  QByteArray saved_;
};

TEST(RestorePoint, SnapperSetsThePointOrTellsWhyNot) {
  testutil::TempDir dir;
  const std::string log = dir / "args";
  const std::string longName(70, 'n');
  struct Case {
    const char* name;
    const char* script;  // the fake snapper; nullptr: none installed
    QString point;
    bool set;
    QString message;
    bool slow = false;  // the window's timers keep running while snapper works
  };
  const QString good =
      "Restore Point docs set.\r\nSystem may be full restored from this point"
      "\r\nThen Restore the zipfile docs to complete";
  const Case cases[] = {
      {"set", "echo 42", "docs", true, good},
      {"slow snapshot", "/bin/sleep 0.5; echo 44", "docs", true, good, true},
      {"long name cut for snapper", "echo 43", QString::fromStdString(longName), true, ""},
      {"refused", "echo 'Creating snapshot failed.' >&2; exit 1", "docs", false,
       "Couldn't set System Restore point.\r\nCreating snapshot failed."},
      {"not installed", nullptr, "docs", false,
       "Couldn't set System Restore point.\r\nsnapper is not installed"},
  };
  OnlyPath path(dir.path());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ::unlink((dir / "snapper").c_str());
    ::unlink(log.c_str());
    if (c.script) {
      testutil::WriteFile(dir / "snapper", "#!/bin/sh\nfor a; do echo \"$a\"; done > " + log +
                                               "\n" + c.script + "\n");
      ::chmod((dir / "snapper").c_str(), 0755);
    }
    bool set = !c.set;
    int ticks = 0;
    QTimer alive;
    QObject::connect(&alive, &QTimer::timeout, [&ticks] { ++ticks; });
    alive.start(20);
    const QString message = SetRestorePoint(c.point, set);
    if (c.slow) {
      EXPECT_GE(ticks, 5);
    }
    EXPECT_EQ(set, c.set);
    if (!c.message.isEmpty()) {
      EXPECT_EQ(message, c.message);
    }
    if (c.script) {
      const std::string expected =
          "create\n--type\nsingle\n--cleanup-algorithm\nnumber\n--print-number\n--description\n" +
          c.point.left(63).toStdString() + "\n";
      EXPECT_EQ(testutil::ReadFile(log), expected);
    }
  }
  EXPECT_EQ(PlatformFamily(), 2);
  EXPECT_FALSE(StartSystemRestore());  // no snapper-gui on PATH
}

}  // namespace
