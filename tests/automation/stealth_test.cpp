// Stealth mode, the hotkey and the instant backup against a fake window and engine: the checks
// and texts of "Start", the monitors made for ticked paths, the countdown on the general timer,
// and the cases where a write could re-enter the engine, be skipped or miss a change.
#include "automation/stealth.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <functional>

#include "support/qt_scriptedhost.h"
#include "testutil.h"

using testutil::TempDir;

namespace {

class FakeHost : public IStealthHost {
 public:
  QString archive;
  QStringList ticked;
  bool exclZip = false;
  bool subdirs = false;
  bool busy = false;
  bool hasEntries = true;
  bool exists = true;
  bool hidden = true;
  bool ctrl = false;
  bool shift = false;
  bool timer = false;
  int timerStarts = 0;
  QStringList include;
  QVector<TStealthEngineSettings> configured;
  QVector<QStringList> writes;
  int versionFolders = 0;
  int opened = 0;
  int minimised = 0;
  bool listEnabled = true;
  bool trayStealth = false;
  // Runs inside AddFiles, as if reports arrived while the engine works.
  std::function<void()> duringWrite;
  QObject target;

  QObject* NoticeCancelTarget() override { return &target; }
  QString ArchiveName() const override { return archive; }
  QStringList TickedPaths() override { return ticked; }
  bool StealthExclZip() const override { return exclZip; }
  bool MonitorSubDirectories() const override { return subdirs; }
  bool JobRecursion() const override { return false; }
  bool MoveThenDelete() const override { return false; }
  void SetStealthListEnabled(bool e) override { listEnabled = e; }
  void SetIncludeList(const QStringList& p) override { include = p; }
  void CheckAddVersioning() override {}
  void SetAutoRunFile(const QString&) override {}
  void SetArchiveName(const QString& n) override { archive = n; }
  bool ArchiveBusy() const override { return busy; }
  bool ArchiveHasEntries() const override { return hasEntries; }
  bool ArchiveExists() const override { return exists; }
  void ConfigureEngine(const TStealthEngineSettings& s) override { configured << s; }
  void OpenArchive() override { ++opened; }
  void MakeVersionFolder() override { ++versionFolders; }
  QString AddFiles(const QStringList& files) override {
    busy = true;
    if (duringWrite) duringWrite();
    busy = false;
    writes << files;
    hasEntries = exists = true;
    return {};
  }
  bool WindowHidden() const override { return hidden; }
  void Minimise() override { ++minimised; }
  void SetTrayStealth(bool r) override { trayStealth = r; }
  void TrayAnimation(bool) override {}
  void ClearStatusBar() override {}
  void Delay(int) override {}
  void StartGeneralTimer(int) override {
    timer = true;
    ++timerStarts;
  }
  void StopGeneralTimer() override { timer = false; }
  bool GeneralTimerActive() const override { return timer; }
  bool ControlHeld() const override { return ctrl; }
  bool ShiftHeld() const override { return shift; }
};

// Ticks the general timer while it runs, at most n times; returns the ticks made.
int TickOut(TStealth& s, FakeHost& h, int n = 30) {
  int ticks = 0;
  while (h.timer && ticks < n) {
    s.Tick();
    ++ticks;
  }
  return ticks;
}

void MkDir(const std::string& p) {
  ASSERT_EQ(::mkdir(p.c_str(), 0755), 0) << p;
}

TEST(StealthTest, StartChecksTextsAndMonitors) {
  TempDir tmp;
  const QString root = QString::fromStdString(tmp.path());
  MkDir(tmp / "data");
  MkDir(tmp / "data/sub");
  MkDir(tmp / "data/bak");
  MkDir(tmp / "data2");
  QFile(root + "/data/a").open(QIODevice::WriteOnly);
  QFile(root + "/data/b").open(QIODevice::WriteOnly);
  const QString nothing = QString::fromLatin1(TStealth::kNothingDefined);

  struct Case {
    const char* name;
    QStringList ticked;
    QString archive;
    bool exclZip;
    std::optional<QString> press;  // the answer to the folder question
    QStringList texts;             // boxes shown
    int monitors;                  // 0: stealth did not start
  };
  const QString missing = root + "/new/deeper";
  const std::vector<Case> cases = {
      {"nothing ticked", {}, root + "/bak/stealth_a.zip", false, {}, {nothing}, 0},
      {"not a stealth archive",
       {root + "/data"},
       root + "/data2/plain.zip",
       false,
       {},
       {nothing},
       0},
      {"archive folder missing, Cancel",
       {root + "/data2"},
       missing + "/stealth_a.zip",
       false,
       "Cancel",
       {missing + "\r" + TStealth::kNoSuchDirectory},
       0},
      {"archive folder missing, Create",
       {root + "/data2"},
       missing + "/stealth_a.zip",
       false,
       "Create",
       {missing + "\r" + TStealth::kNoSuchDirectory},
       1},
      {"archive below a watched folder",
       {root + "/data"},
       root + "/data/bak/stealth_a.zip",
       false,
       {},
       {TStealth::kSameDirectory},
       0},
      {"the same with StealthExclZIP",
       {root + "/data"},
       root + "/data/bak/stealth_a.zip",
       true,
       {},
       {},
       1},
      {"a sibling with a longer name is not below",
       {root + "/data"},
       root + "/data2/stealth_a.zip",
       false,
       {},
       {},
       1},
      {"folder and its sub-folder: two monitors",
       {root + "/data", root + "/data/sub"},
       root + "/data2/stealth_a.zip",
       false,
       {},
       {},
       2},
      {"two files of one folder: one monitor",
       {root + "/data/a", root + "/data/b"},
       root + "/data2/stealth_a.zip",
       false,
       {},
       {},
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedHost boxes;
    if (c.press) boxes.Press(*c.press);
    boxes.AnswerDefaults(true);
    FakeHost h;
    h.ticked = c.ticked;
    h.archive = c.archive;
    h.exclZip = c.exclZip;
    TStealth s(h);
    s.StartStealth();
    EXPECT_EQ(boxes.Texts(), c.texts);
    EXPECT_EQ(s.MonitorCount(), c.monitors);
    EXPECT_EQ(s.Running(), c.monitors > 0);
    EXPECT_EQ(h.minimised, c.monitors > 0 ? 1 : 0);
    // A refusal after the list was disabled leaves it usable.
    if (!c.monitors) {
      EXPECT_TRUE(h.listEnabled);
    }
    if (c.monitors) {
      EXPECT_TRUE(h.trayStealth);
      ASSERT_FALSE(h.configured.isEmpty());
      EXPECT_TRUE(h.configured.back().archiveBitOnly);
      EXPECT_EQ(h.configured.back().excludeZip, c.exclZip);
      for (const QString& p : s.SavedList())
        EXPECT_TRUE(!QFileInfo(p).isDir()) << p.toStdString();  // folders as folder/*.*
    }
    if (c.press && *c.press == "Create") {
      EXPECT_TRUE(QFileInfo(missing).isDir());
    }
  }
  // The menu questions.
  {
    ScriptedHost boxes;
    FakeHost h;
    TStealth s(h);
    boxes.Answer(IDYES, QString::fromLatin1(TStealth::kExclZipQuestion));
    EXPECT_TRUE(s.ToggleExclZip(true));
    boxes.Answer(IDNO, QString::fromLatin1(TStealth::kAutoRenameQuestion));
    EXPECT_FALSE(s.ToggleAutoRename(true));
    EXPECT_TRUE(s.ToggleAutoRename(false));  // unchecked: no question
    EXPECT_EQ(boxes.PendingAnswers(), 0);
  }
}

TEST(StealthTest, RealFolderChangesCountDownToOnePass) {
  TempDir tmp;
  MkDir(tmp / "w");
  MkDir(tmp / "bak");
  const QString w = QString::fromStdString(tmp / "w");
  ScriptedHost boxes;
  FakeHost h;
  h.ticked = {w};
  h.archive = QString::fromStdString(tmp / "bak/stealth_a.zip");
  TStealth s(h);
  s.StartStealth();
  ASSERT_TRUE(s.Running());

  // Batches come through the Qt event loop, as in the program.
  TStealth::DeliverOnMainThread();
  auto deliverUntil = [&](const std::function<bool()>& done) {
    for (int i = 0; i < 60 && !done(); ++i) QTest::qWait(50);
  };
  // Three saves, then quiet: one pass on the sixth quiet tick.
  for (int i = 0; i < 3; ++i) {
    QFile f(w + "/doc.txt");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Append));
    f.write("x");
    f.close();
    deliverUntil([&] { return h.timer; });
    ASSERT_TRUE(h.timer) << i;
    s.Tick();  // a second passes between saves
  }
  QTest::qWait(200);
  EXPECT_EQ(s.ChangeCount(), 0);
  EXPECT_EQ(TickOut(s, h), 6);
  EXPECT_EQ(h.writes.size(), 1);

  // A deletion reports nothing (only added and modified files count).
  ASSERT_TRUE(QFile::remove(w + "/doc.txt"));
  QTest::qWait(200);
  EXPECT_FALSE(h.timer);

  // "Enable" off stops and removes every monitor.
  EXPECT_FALSE(s.ToggleEnabled(true));
  EXPECT_EQ(s.MonitorCount(), 0);
  EXPECT_FALSE(s.Running());
  TDirMonitor::SetDispatcher(nullptr);
}

TEST(StealthTest, WritesAreNeverReenteredSkippedOrMissed) {
  TempDir tmp;
  MkDir(tmp / "w");
  const QString w = QString::fromStdString(tmp / "w");
  const QString zip = QString::fromStdString(tmp / "w/stealth_a.zip");
  ScriptedHost boxes;
  FakeHost h;
  h.ticked = {w};
  h.archive = zip;
  h.exclZip = true;
  TStealth s(h);
  s.StartStealth();
  ASSERT_TRUE(s.Running());

  // A new, empty archive: the first change writes at once, once, even though the write creates
  // the archive (and its temporary) in the watched folder.
  h.hasEntries = h.exists = false;
  h.duringWrite = [&] {
    s.OnChange(w + "/.stealth_a.zip.arcavo-Ab12Cd");
    s.OnChange(zip);
  };
  s.OnChange(w + "/new.txt");
  EXPECT_EQ(h.writes.size(), 1);
  EXPECT_FALSE(h.timer);
  h.duringWrite = nullptr;

  // A report arriving while the engine is busy does not write inside it: the write comes at the
  // first tick after the operation ended.
  h.hasEntries = h.exists = false;
  h.busy = true;
  s.OnChange(w + "/new2.txt");
  EXPECT_EQ(h.writes.size(), 1);
  s.Tick();
  s.Tick();
  EXPECT_EQ(h.writes.size(), 1);
  h.busy = false;
  s.Tick();
  EXPECT_EQ(h.writes.size(), 2);
  EXPECT_FALSE(h.timer);

  // A pass due while an extraction runs is skipped but counted down again, and follows it.
  s.OnChange(w + "/c.txt");
  h.busy = true;
  EXPECT_EQ(TickOut(s, h, 6), 6);
  EXPECT_EQ(h.writes.size(), 2);
  EXPECT_TRUE(h.timer);
  h.busy = false;
  EXPECT_EQ(TickOut(s, h), 6);
  EXPECT_EQ(h.writes.size(), 3);

  // A file saved during a pass gets a second pass; the archive's own changes do not.
  h.duringWrite = [&] {
    s.OnChange(zip);
    s.OnChange(w + "/saved-meanwhile.txt");
  };
  s.OnChange(w + "/d.txt");
  TickOut(s, h, 6);
  EXPECT_EQ(h.writes.size(), 4);
  EXPECT_TRUE(h.timer);
  h.duringWrite = [&] { s.OnChange(zip); };
  TickOut(s, h);
  EXPECT_EQ(h.writes.size(), 5);
  EXPECT_FALSE(h.timer);
}

TEST(StealthTest, InstantBackupCollectsAndCancels) {
  TempDir tmp;
  MkDir(tmp / "p1");
  MkDir(tmp / "p2");
  const QString p1 = QString::fromStdString(tmp / "p1"), p2 = QString::fromStdString(tmp / "p2");
  ScriptedHost boxes;
  FakeHost h;
  h.archive = QString::fromStdString(tmp / "stealth_i.zip");
  TStealth s(h);

  // Two hand-overs within the countdown: one write holding both.
  s.AddInstantPath(p1);
  s.Tick();
  s.Tick();
  s.AddInstantPath(p2);
  EXPECT_EQ(TickOut(s, h), 6);
  ASSERT_EQ(h.writes.size(), 1);
  EXPECT_EQ(h.writes[0], QStringList({p1 + "/*.*", p2 + "/*.*"}));
  EXPECT_FALSE(s.InstantFlag());
  // No key held: the folders were written with their sub-folders all the same.
  EXPECT_TRUE(h.configured[h.configured.size() - 2].recurse);
  EXPECT_TRUE(h.configured.back().archiveBitOnly);  // stealth settings restored
  EXPECT_FALSE(boxes.noticeOpen());

  // Ctrl held: the notice says the sub-folders go too; no Shift: sources are kept.
  h.ctrl = true;
  s.AddInstantPath(p1);
  h.ctrl = false;
  EXPECT_TRUE(boxes.noticeOpen());
  EXPECT_EQ(boxes.lastNotice().text, QStringLiteral("CTRLkey=Subdirectories"));
  EXPECT_EQ(boxes.lastNotice().caption, QStringLiteral("Instant Backup"));
  EXPECT_EQ(boxes.lastNotice().cancelTarget.data(), &h.target);
  // Cancel: the clean-up runs, the collected path waits for the next instant backup.
  s.IMgrTriggerCleanUp();
  h.StopGeneralTimer();
  EXPECT_EQ(h.writes.size(), 1);
  EXPECT_TRUE(s.InstantFlag());
  s.AddInstantPath(p2);
  TickOut(s, h);
  ASSERT_EQ(h.writes.size(), 2);
  EXPECT_EQ(h.writes[1], QStringList({p1 + "/*.*", p2 + "/*.*"}));
  EXPECT_FALSE(h.configured[h.configured.size() - 2].deleteSources);

  // Due while another operation holds the engine: counted down again, written after it.
  s.AddInstantPath(p1);
  h.busy = true;
  EXPECT_EQ(TickOut(s, h, 12), 12);
  EXPECT_EQ(h.writes.size(), 2);
  EXPECT_TRUE(s.InstantFlag());
  h.busy = false;
  TickOut(s, h);
  ASSERT_EQ(h.writes.size(), 3);
  EXPECT_EQ(h.writes[2], QStringList({p1 + "/*.*"}));
}

}  // namespace
