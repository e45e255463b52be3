// Stealth mode through the whole window (offscreen, private XDG folders): a stealth job over a
// temporary tree, real folder monitors, the general timer, the window's engine and unzip's view
// of the archive it writes; the instant backup handed over through the hand-over entry; the
// "Stealth" menu's items and their saved marks. The general timer and Delay run twenty times
// faster than in the program; times are counted in the timer's ticks (one second each).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAction>
#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <optional>

#include "app/explorer.h"
#include "app/maincontext.h"
#include "app/mb.h"
#include "app/pathbytes.h"
#include "archive/arczip.h"
#include "archive/zipsession.h"
#include "automation/stealth.h"
#include "platform/inifile.h"
#include "platform/programdir.h"
#include "qt_scriptedhost.h"
#include "testutil.h"
#include "ui/mainform.h"
#include "ui/windowstealth.h"
#include "windowtest.h"

namespace {

using testutil::IsolatedXdg;
using testutil::Quote;
using testutil::TempDir;
using testutil::WriteFile;

constexpr int kSpeedUp = 20;
constexpr int kTickMs = 1000 / kSpeedUp;

class StealthWindowTest : public WindowTestBase {
 protected:
  QString Q(const std::string& name) const { return QString::fromStdString(tmp_ / name); }
  void MkDir(const std::string& name) { ASSERT_EQ(::mkdir((tmp_ / name).c_str(), 0755), 0); }
  // Appends a line and closes the file, as an editor's save does.
  void Save(const std::string& name) {
    FILE* f = std::fopen((tmp_ / name).c_str(), "a");
    ASSERT_TRUE(f);
    std::fputs("saved\n", f);
    std::fclose(f);
  }
  // Turns the event loop until done() or until that many ticks have gone by.
  bool WaitTicks(const std::function<bool()>& done, int ticks) {
    for (int waited = 0; waited < ticks * kTickMs && !done(); waited += 5) QTest::qWait(5);
    return done();
  }
  static std::string Listing(const QString& archive) {
    return testutil::Run("unzip -Z1 " + Quote(PathBytes(archive))).out;
  }
  static std::string Setting(const char* key) {
    return IniFile(ProgramDir() + "default.ini").ReadString("Options", key, "<none>");
  }

  ScriptedHost host_;
};

TEST_F(StealthWindowTest, ChangesCountDownToPassesTheArchiveShows) {
  if (!testutil::HaveTool("unzip")) GTEST_SKIP() << "unzip missing";
  for (const char* dir : {"w", "w/sub", "p1", "p1/sub", "p2", "out"}) MkDir(dir);
  // Passes take the sub-folders of the ticked folder, as the job selects them ("Full
  // Directories"), also while "Monitor Sub Directories" is off.
  WriteFile(tmp_ / "w/sub/old.txt", "old");
  WriteFile(tmp_ / "p1/a.txt", "a");
  WriteFile(tmp_ / "p1/sub/deep.txt", "deep");
  WriteFile(tmp_ / "p2/b.txt", "b");
  // The archive sits in the watched folder ("StealthExclZIP" is checked): its own writes must
  // start nothing.
  const QString archive = Q("w/stealth_docs.zip");

  TMainform form;
  form.FormCreate();
  MainContext& ctx = form.context();
  TWindowStealth& window = *form.stealth();
  TStealth& stealth = window.logic();
  window.speedUp = kSpeedUp;
  QTimer& timer = *form.generalTimer();
  // Writes that stored files (a pass that finds nothing changed leaves the archive alone), and
  // the ticks, looked at after the countdown's own handler ran: the tick that began the last
  // countdown (the first after a report) and the tick of the last write.
  int writes = 0, ticks = 0, countFrom = 0, writeTick = 0, seenWrites = 0;
  QObject::connect(&timer, &QTimer::timeout, [&] {
    ++ticks;
    if (stealth.ChangeCount() == 1) countFrom = ticks;
    if (writes != seenWrites) writeTick = ticks;
    seenWrites = writes;
  });
  auto idleComplete = ctx.ArcZip1->OnZipComplete;
  ctx.ArcZip1->OnZipComplete = [&writes, idleComplete](TZipSender sender, int count) {
    if (count > 0) ++writes;
    if (idleComplete) idleComplete(sender, count);
  };

  ctx.Explorer->Store().SetChecked(tmp_ / "w", true);
  ctx.ZipName = archive;
  form.findChild<QPushButton*>(QStringLiteral("StealthStartBtn"))->click();
  EXPECT_TRUE(host_.Texts().isEmpty()) << host_.Texts().join('|').toStdString();
  ASSERT_TRUE(stealth.Running());
  EXPECT_EQ(stealth.MonitorCount(), 1);

  struct Step {
    const char* name;
    std::function<void()> act;
    int writes;  // archive writes after the step
    std::vector<std::string> listed;
  };
  int lastSaveTick = 0;
  const std::vector<Step> steps = {
      {"the first change of an empty archive writes it at once, once",
       [&] {
         // Saved whole under a temporary name and renamed into place: one report.
         WriteFile(tmp_ / "first.tmp", "first\n");
         ASSERT_EQ(std::rename((tmp_ / "first.tmp").c_str(), (tmp_ / "w/first.txt").c_str()), 0);
         ASSERT_TRUE(WaitTicks([&] { return writes == 1; }, 40));
         EXPECT_EQ(ticks, 0);
         // The archive's own creation beside the file counts nothing down.
         WaitTicks([] { return false; }, 10);
         EXPECT_FALSE(timer.isActive());
       },
       1,
       {"w/first.txt", "w/sub/old.txt"}},
      {"three saves within two seconds: one pass five to seven seconds after the last",
       [&] {
         for (int i = 0; i < 3; ++i) {
           if (i) QTest::qWait(kTickMs / 2);
           Save("w/doc.txt");
           lastSaveTick = ticks;
         }
         ASSERT_TRUE(WaitTicks([&] { return writes == 2; }, 40));
         // Five to six seconds after the last report (the sixth quiet tick), however late the
         // system delivered it.
         EXPECT_EQ(writeTick - countFrom, 5);
         EXPECT_GE(writeTick - lastSaveTick, 6);
         WaitTicks([] { return false; }, 10);
       },
       2,
       {"w/doc.txt"}},
      {"a deletion starts no countdown",
       [&] {
         ASSERT_EQ(std::remove((tmp_ / "w/first.txt").c_str()), 0);
         QTest::qWait(300);
         EXPECT_FALSE(timer.isActive());
       },
       2,
       {}},
      {"a pass due during an extraction follows it",
       [&] {
         Save("w/during.txt");
         ASSERT_TRUE(WaitTicks([&] { return timer.isActive(); }, 40));
         TArcZip& zip = *ctx.ArcZip1;
         {
           TZipSession session(zip);
           ASSERT_TRUE(session);
           bool held = false;
           session.Listen(&TUnZipEvents::OnStartUnZip, [&](TZipSender, int, std::string&, bool&) {
             if (held) return;
             held = true;
             // Twice the countdown while the entry is being extracted.
             const int from = ticks;
             WaitTicks([&] { return ticks - from >= 12; }, 40);
             EXPECT_EQ(writes, 2);
           });
           zip.SetDestDir(tmp_ / "out");
           zip.RecreateDirs = true;
           zip.OverwriteMode = TUZOverwriteMode::Always;
           zip.DoAll = true;
           EXPECT_GT(zip.Extract(), 0);
           EXPECT_TRUE(held);
         }
         ASSERT_TRUE(WaitTicks([&] { return writes == 3; }, 20));
       },
       3,
       {"w/during.txt"}},
      {"two hand-overs within six seconds: one instant write with both",
       [&] {
         // No key held: the folders are taken with their sub-folders.
         window.modifiers = [] { return Qt::KeyboardModifiers(); };
         EXPECT_TRUE(form.lifecycle().HandOver({Q("p1"), {}}).accepted);
         EXPECT_FALSE(stealth.Running());
         WaitTicks([] { return false; }, 2);
         EXPECT_TRUE(form.lifecycle().HandOver({Q("p2"), {}}).accepted);
         const int handedOver = ticks;
         ASSERT_TRUE(WaitTicks([&] { return writes == 4; }, 40));
         EXPECT_EQ(writeTick - handedOver, 6);
         EXPECT_FALSE(stealth.InstantFlag());
         EXPECT_FALSE(host_.noticeOpen());
         EXPECT_TRUE(stealth.Running());  // the monitors watch again
         WaitTicks([] { return false; }, 10);
       },
       4,
       {"p1/a.txt", "p1/sub/deep.txt", "p2/b.txt"}},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    step.act();
    EXPECT_EQ(writes, step.writes);
    const std::string listing = Listing(archive);
    for (const std::string& name : step.listed)
      EXPECT_NE(listing.find(tmp_.path().substr(1) + "/" + name + "\n"), std::string::npos)
          << name << " not in\n"
          << listing;
    EXPECT_EQ(listing.find("stealth_docs.zip"), std::string::npos) << listing;
    if (HasFailure()) break;
  }
  EXPECT_EQ(testutil::Run("unzip -tq " + Quote(PathBytes(archive))).status, 0);
}

// The "Stealth" menu's items keep their marks in the default settings; "Enable" off ends the
// monitoring, and the two items that ask keep their mark on "Yes".
TEST_F(StealthWindowTest, MenuItemsAskSaveAndStop) {
  MkDir("w");
  TMainform form;
  form.FormCreate();
  form.context().Explorer->Store().SetChecked(tmp_ / "w", true);
  form.context().ZipName = Q("bak/stealth_a.zip");
  host_.Press(QStringLiteral("Create"));
  form.mainWindow().StartStealth();
  ASSERT_EQ(form.stealth()->logic().MonitorCount(), 1);

  struct Case {
    const char* item;
    const char* key;
    std::optional<int> answer;  // the question's answer, when one is asked
    bool checked;               // the mark afterwards
    const char* saved;          // the value in the default settings afterwards
  };
  const Case cases[] = {
      {"StealthExclZIP1", "StealthZIP", IDYES, true, "<none>"},
      {"StealthExclZIP1", "StealthZIP", IDNO, false, "0"},
      {"StealthExclZIP1", "StealthZIP", std::nullopt, true, "1"},
      {"AutoRenameOnSize1", "StealthARen", IDNO, false, "0"},
      {"MinimizeOnLoad1", "StealthMinimizeOnLoad", std::nullopt, false, "0"},
      {"StealthEnable1", "StealthEnabled", std::nullopt, false, "0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.item);
    if (c.answer) host_.Answer(*c.answer);
    auto* item = qobject_cast<QAction*>(form.FindControl(QString::fromLatin1(c.item)));
    ASSERT_TRUE(item);
    item->trigger();
    EXPECT_EQ(host_.PendingAnswers(), 0);
    EXPECT_EQ(item->isChecked(), c.checked);
    EXPECT_EQ(Setting(c.key), c.saved);
  }
  EXPECT_EQ(form.stealth()->logic().MonitorCount(), 0);
  EXPECT_FALSE(form.stealth()->logic().Running());
}

}  // namespace
