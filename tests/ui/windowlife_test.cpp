// The window's life in the background (offscreen): the hotkey dialog's names, "Define HotKey"
// with its three buttons against "default.ini" and the grab, the log-on start seen again after a
// restart, minimising without a tray, and Escape during an extraction.
#include "ui/windowlife.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include "app/mb.h"
#include "archive/arczip.h"
#include "automation/logonstart.h"
#include "automation/traylife.h"
#include "backup/backupcore.h"
#include "backup/burncommands.h"
#include "disc/discburner.h"
#include "discemu/emulateddrive.h"
#include "platform/inifile.h"
#include "platform/programdir.h"
#include "qt_scriptedhost.h"
#include "restore/archivesearch.h"
#include "restore/archiveviewcontroller.h"
#include "restore/extractcontroller.h"
#include "testutil.h"
#include "ui/hotkeydialog.h"
#include "ui/mainform.h"
#include "ui/restorewindow.h"

namespace {

using testutil::TempDir;

struct KeyCase {
  const char* name;
  Qt::Key key;
  Qt::KeyboardModifiers modifiers;
  QString shown;
  bool valid;
};

TEST(HotkeyDialog, NamesEachCombinationAndAllowsSetOnlyWithAModifier) {
  const std::vector<KeyCase> cases = {
      {"ctrl alt F5", Qt::Key_F5, Qt::ControlModifier | Qt::AltModifier, "CTRL+ALT+F5", true},
      {"F5 alone", Qt::Key_F5, Qt::NoModifier, "F5", false},
      {"keypad 0", Qt::Key_0, Qt::ControlModifier | Qt::KeypadModifier, "CTRL+NUMPAD 0", true},
      {"win shift letter", Qt::Key_S, Qt::MetaModifier | Qt::ShiftModifier, "WINKEY+SHIFT+S", true},
      {"typed letter", Qt::Key_A, Qt::NoModifier, "A", false},
      {"punctuation", Qt::Key_BracketLeft, Qt::ControlModifier, "CTRL+[", true},
      {"modifier alone", Qt::Key_Control, Qt::ControlModifier, "CTRL+", false},
      {"tab stays in the edit", Qt::Key_Tab, Qt::AltModifier, "ALT+TAB", true},
  };
  TFrmHotkey dialog(QStringLiteral("CTRL+ALT+F9"));
  dialog.show();
  QApplication::processEvents();
  EXPECT_EQ(dialog.windowTitle(), "Hotkey Define");
  EXPECT_EQ(dialog.edit()->text(), "CTRL+ALT+F9");
  EXPECT_EQ(dialog.edit()->cursorPosition(), 11);
  EXPECT_FALSE(dialog.setButton()->isEnabled());
  for (const KeyCase& c : cases) {
    SCOPED_TRACE(c.name);
    QTest::keyClick(dialog.edit(), c.key, c.modifiers);
    EXPECT_EQ(dialog.edit()->text(), c.shown);
    EXPECT_EQ(dialog.setButton()->isEnabled(), c.valid);
  }
}

// Grabs without a desktop: records what is held.
struct FakeGrab : IHotkeyGrab {
  bool available = true;
  int modifiers = 0;
  int key = 0;
  int grabs = 0;
  bool Available() const override { return available; }
  bool Grab(int m, int k) override {
    ++grabs;
    modifiers = m, key = k;
    return true;
  }
  void Release() override { modifiers = key = 0; }
};

class WindowLifeTest : public ::testing::Test {
 protected:
  WindowLifeTest() : xdg_(tmp_.path()) {
    ResetProgramDirForTest();
    SetMbTerminating(false);
    ini_ = ProgramDir() + "default.ini";
  }
  ~WindowLifeTest() override { ResetProgramDirForTest(); }

  std::unique_ptr<TMainform> Window() {
    auto w = std::make_unique<TMainform>();
    w->life()->SetHotkeyGrab(&grab_);
    w->FormCreate();
    return w;
  }
  // Runs "Define HotKey"; act works the dialog once it is up.
  void DefineHotKey(TMainform& w, const std::function<void(TFrmHotkey&)>& act) {
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<TFrmHotkey*>(QApplication::activeModalWidget());
      ASSERT_TRUE(dialog);
      act(*dialog);
    });
    qobject_cast<QAction*>(w.FindControl(QStringLiteral("DefineHotKey1")))->trigger();
  }

  TempDir tmp_;
  testutil::IsolatedXdg xdg_;
  ScriptedHost host_;
  FakeGrab grab_;
  std::string ini_;
};

TEST_F(WindowLifeTest, DefineHotKeySetsCancelKeepsAndForgetDrops) {
  testutil::WriteFile(
      ini_, "[Options]\nClrDisk=0\nHotKeyNames=CTRL+ALT+F5\nHotKeyFunc#=3\nHotKeyVK#=116\n");
  auto w = Window();
  // Loading the default file took the hotkey.
  EXPECT_EQ(grab_.modifiers, 3);
  EXPECT_EQ(grab_.key, 116);
  const std::string before = testutil::ReadFile(ini_);

  // Cancel, even after a combination was pressed, changes nothing.
  DefineHotKey(*w, [](TFrmHotkey& d) {
    EXPECT_EQ(d.edit()->text(), "CTRL+ALT+F5");
    QTest::keyClick(d.edit(), Qt::Key_F7, Qt::ShiftModifier);
    d.cancelButton()->click();
  });
  EXPECT_EQ(testutil::ReadFile(ini_), before);
  EXPECT_EQ(grab_.key, 116);

  // Set: the new combination is grabbed and stored.
  DefineHotKey(*w, [](TFrmHotkey& d) {
    QTest::keyClick(d.edit(), Qt::Key_F6, Qt::ControlModifier | Qt::ShiftModifier);
    d.setButton()->click();
  });
  EXPECT_EQ(grab_.modifiers, 6);
  EXPECT_EQ(grab_.key, 117);
  IniFile ini(ini_);
  EXPECT_EQ(ini.ReadString("Options", "HotKeyNames", ""), "CTRL+SHIFT+F6");
  EXPECT_EQ(ini.ReadInteger("Options", "HotKeyFunc#", -1), 6);
  EXPECT_EQ(ini.ReadInteger("Options", "HotKeyVK#", -1), 117);

  // Forget: no name, 0 and 0, nothing grabbed.
  DefineHotKey(*w, [](TFrmHotkey& d) { d.forgetButton()->click(); });
  IniFile after(ini_);
  EXPECT_EQ(after.ReadString("Options", "HotKeyNames", "<none>"), "");
  EXPECT_EQ(after.ReadInteger("Options", "HotKeyFunc#", -1), 0);
  EXPECT_EQ(after.ReadInteger("Options", "HotKeyVK#", -1), 0);
  EXPECT_EQ(grab_.key, 0);
  const int grabs = grab_.grabs;
  w.reset();
  // The next start takes no hotkey.
  auto again = Window();
  EXPECT_EQ(grab_.grabs, grabs);

  // Where no program may take keys, the item says how to bind them to the desktop instead.
  grab_.available = false;
  host_.Answer(IDOK, QString::fromLatin1(THotkeyDefine::kNoGrab));
  qobject_cast<QAction*>(again->FindControl(QStringLiteral("DefineHotKey1")))->trigger();
  EXPECT_EQ(host_.PendingAnswers(), 0);
}

TEST_F(WindowLifeTest, LogonStartIsSeenAgainAfterARestart) {
  testutil::WriteFile(ini_, "[Options]\nClrDisk=0\n");
  ASSERT_EQ(RunOnStartup(0, TLogonStart::kEntryName, {"/usr/bin/arcavo", "/j/stealth_a.JOB"}), 0);
  {
    auto w = Window();
    EXPECT_TRUE(w->controls().ControlChecked(QStringLiteral("StealthAtStartUp1")));
    EXPECT_FALSE(w->controls().ControlChecked(QStringLiteral("StartUp1")));
    // Unchecking deletes the entry.
    qobject_cast<QAction*>(w->FindControl(QStringLiteral("StealthAtStartUp1")))->trigger();
    EXPECT_FALSE(w->controls().ControlChecked(QStringLiteral("StealthAtStartUp1")));
  }
  EXPECT_EQ(RunOnStartup(2, TLogonStart::kEntryName), 0);
  ASSERT_EQ(RunOnStartup(0, TLogonStart::kEntryName, {"/usr/bin/arcavo"}), 0);
  auto w = Window();
  EXPECT_TRUE(w->controls().ControlChecked(QStringLiteral("StartUp1")));
  EXPECT_FALSE(w->controls().ControlChecked(QStringLiteral("StealthAtStartUp1")));
}

TEST_F(WindowLifeTest, WithoutATrayMinimisingKeepsTheWindowReachable) {
  testutil::WriteFile(ini_, "[Options]\nClrDisk=0\nMinToTray=1\n");
  auto w = Window();
  w->show();
  QApplication::processEvents();
  ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
  w->context().ZipName = QString::fromStdString(tmp_ / "STEALTH_docs.zip");
  w->showMinimized();
  QApplication::processEvents();
  // Minimised, not hidden: the taskbar still has it; the tray bookkeeping is done.
  EXPECT_TRUE(w->isVisible());
  EXPECT_TRUE(w->life()->tray().Away());
  EXPECT_EQ(w->life()->tray().TrayStealth(), 1);
  EXPECT_FALSE(w->trayIcon()->isVisible());
  // Brought back from the taskbar: as the icon's click.
  w->showNormal();
  QApplication::processEvents();
  EXPECT_FALSE(w->life()->tray().Away());
  EXPECT_TRUE(w->isVisible());
}

TEST_F(WindowLifeTest, EscapeAsksBeforeCancellingAnExtractionOrABurnAndIsIgnoredWhenIdle) {
  if (!testutil::HaveTool("python3")) GTEST_SKIP() << "python3 missing";
  testutil::WriteFile(ini_, "[Options]\nClrDisk=0\n");
  auto w = Window();
  w->show();
  QApplication::processEvents();
  // Idle: Escape asks nothing (the scripted host fails on any box).
  QTest::keyClick(w.get(), Qt::Key_Escape);

  const std::string zip = tmp_ / "t.zip";
  ASSERT_EQ(testutil::Run("python3 -c \"import zipfile; z = zipfile.ZipFile('" + zip +
                          "', 'w')\nfor i in range(20): z.writestr('f%02d.txt' % i, 'a' * 50000)\n"
                          "z.close()\"")
                .status,
            0);
  ASSERT_TRUE(w->context().ArchiveView->ReadZipFile(QString::fromStdString(zip)));
  w->restoreWindow()->chooseFolder = [&](const QString&, const QString&) {
    return QString::fromStdString(tmp_ / "out");
  };
  TArcZip& engine = *w->context().ArcZip1;
  int ended = 0;
  auto standing = engine.OnEndUnZip;
  engine.OnEndUnZip = [&](TZipSender s, int index, const std::string& name) {
    if (standing) standing(s, index, name);
    // The first file is out: Escape, as the user presses it while the extraction runs.
    if (++ended == 1) QTest::keyClick(w.get(), Qt::Key_Escape);
  };
  host_.Answer(IDYES, QString::fromLatin1(TWindowLife::kAbortQuestion));
  host_.AnswerDefaults(true);
  w->extractController()->ExtractButClick(restore::TExtractPreset::AllOverwrite);
  engine.OnEndUnZip = standing;
  EXPECT_GE(ended, 1);
  EXPECT_LT(ended, 20);
  ASSERT_GE(host_.transcript().size(), 1);
  EXPECT_EQ(host_.transcript()[0].text, QString::fromLatin1(TWindowLife::kAbortQuestion));
  EXPECT_EQ(host_.transcript()[0].icon, MB_ICONQUESTION);

  // A burn from the menu, outside a backup: Escape asks, then stops the writer, and the burn
  // tells that it was stopped.
  host_.AnswerDefaults(false);
  TBurnCommands& burn = w->backup()->burn();
  TBurnerSettings writer;
  ASSERT_TRUE(burn.ScanForWriter(writer));
  ASSERT_TRUE(burn.SaveChoice(writer.burner, QStringLiteral("Max"), false, true, true));
  ASSERT_TRUE(burn.EnsureTransport() && burn.SelectStored());
  auto* drives = dynamic_cast<TEmulatedTransport*>(burn.Burner().Transport());
  ASSERT_NE(drives, nullptr);
  // Every write finds the drive still busy: the burn runs until it is stopped.
  drives->DriveByNode("sr0")->InjectSense(0x2A, 2, 0x04, 0x08, 20);
  QTimer escape;
  escape.setInterval(10);
  QObject::connect(&escape, &QTimer::timeout, [&] {
    if (!burn.Burner().Writing()) return;
    escape.stop();
    QTest::keyClick(w.get(), Qt::Key_Escape);
  });
  escape.start();
  host_.Answer(IDYES, QString::fromLatin1(TWindowLife::kAbortQuestion));
  host_.Press(QStringLiteral("CANCEL"),
              QStringLiteral("OPERATION ABORTED BY USER\r Action: ERASE or RETRY(Replace disk)?"));
  testutil::WriteFile(tmp_ / "b.txt", "b");
  EXPECT_FALSE(burn.BurnFiles({QString::fromStdString(tmp_ / "b.txt")}));
  EXPECT_FALSE(escape.isActive());
  EXPECT_EQ(host_.PendingAnswers(), 0);
  burn.ReleaseTransport();

  // F3 repeats the last archive search on the "Archive" tab only (none was made yet: it says so).
  host_.AnswerDefaults(false);
  auto* pages = w->findChild<QTabWidget*>(QStringLiteral("PageControl1"));
  pages->setCurrentIndex(0);
  QTest::keyClick(w.get(), Qt::Key_F3);
  pages->setCurrentIndex(2);
  host_.Answer(IDOK, QString::fromLatin1(restore::searchmsg::kFirstClick));
  QTest::keyClick(w.get(), Qt::Key_F3);
  EXPECT_EQ(host_.PendingAnswers(), 0);
}

}  // namespace
