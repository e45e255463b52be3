// "Select Burner/Burn Speed" over an emulated writer: what "Save" stores, what "Cancel" leaves.
#include "ui/dlgsourceselect.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QTimer>
#include <functional>

#include "app/preferences.h"
#include "backup/burncommands.h"
#include "disc/discburner.h"
#include "discemu/emulateddrive.h"
#include "platform/inifile.h"
#include "platform/programdir.h"
#include "qt_scriptedhost.h"
#include "testutil.h"

TEST(DlgSourceSelect, SaveStoresTheChoiceAndCancelNothing) {
  const struct {
    const char* Name;
    std::function<void(TDlgSourceSelect&, ScriptedHost&)> Act;  // ends with Save or Cancel
    bool Saved;
    int Speed;
    bool Native;
  } rows[] = {
      {"Max stores 0",
       [](TDlgSourceSelect& d, ScriptedHost&) {
         d.findChild<QComboBox*>("cbSpeed")->setCurrentIndex(0);
         d.findChild<QPushButton*>("Save1")->click();
       },
       true, 0, true},
      {"a speed entry stores its number",
       [](TDlgSourceSelect& d, ScriptedHost&) {
         auto* speed = d.findChild<QComboBox*>("cbSpeed");
         ASSERT_GE(speed->count(), 2);
         EXPECT_EQ(speed->itemText(1), "7056X (1,058,400 KB/s)");
         speed->setCurrentIndex(1);
         d.findChild<QPushButton*>("Save1")->click();
       },
       true, 7056, true},
      {"Cancel after the speed list was built",
       [](TDlgSourceSelect& d, ScriptedHost&) {
         d.findChild<QComboBox*>("cbSpeed")->setCurrentIndex(1);
         d.findChild<QPushButton*>("CancelBtn")->click();
       },
       false, 0, true},
      {"unticking Native and answering Cancel keeps it",
       [](TDlgSourceSelect& d, ScriptedHost& boxes) {
         boxes.Answer(IDCANCEL,
                      "Keep 'Native' checked unless CDRW is not recording\r\r\nPress OK to "
                      "continue, or Cancel to discard");
         d.findChild<QCheckBox*>("Native1")->click();
         EXPECT_TRUE(d.Native());
         d.findChild<QPushButton*>("Save1")->click();
       },
       true, 2822, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Name);
    testutil::TempDir dir;
    testutil::IsolatedXdg xdg{dir.path()};
    ResetProgramDirForTest();
    ScriptedHost boxes;
    const std::string drives = dir / "drives";
    ::mkdir(drives.c_str(), 0755);
    ASSERT_TRUE(TEmulatedDrive::Create(drives + "/sr0", "CD-R", 0));
    // A drive with a speed down to 1 kB/s is probed in four steps.
    TEmuState state;
    ASSERT_TRUE(TEmuState::Load(drives + "/sr0.state", state));
    state.Speeds = {7056, 5645, 2822, 1};
    ASSERT_TRUE(state.Save(drives + "/sr0.state"));
    const std::string ini = ProgramDir() + "default.ini";
    testutil::WriteFile(ini, "[Options]\nClrDisk=0\nBurnerSpeed=2822\nBurnerDrive=/dev/sr9/\n");
    TPreferences prefs;
    prefs.Set("BurnerSpeed", 2822);
    prefs.Set("BurnerDrive", "/dev/sr9/");
    TDiscBurner burner;
    burner.SetTransport(std::make_unique<TEmulatedTransport>(drives));
    IBurnDisplay display;
    TBurnCommands burn(burner, prefs, display);
    QTimer::singleShot(0, [&] {
      auto* d = qobject_cast<TDlgSourceSelect*>(QApplication::activeModalWidget());
      ASSERT_TRUE(d);
      // The stored writer is not among the drives: the first one is chosen.
      EXPECT_EQ(d->Device().toStdString(), burner.DeviceList.at(0));
      row.Act(*d, boxes);
      if (d->isVisible()) d->reject();
    });
    EXPECT_EQ(CDBurner1Click(burn, nullptr), row.Saved);
    EXPECT_EQ(boxes.PendingAnswers(), 0);
    IniFile file(ini);
    if (!row.Saved) {
      EXPECT_EQ(testutil::ReadFile(ini),
                "[Options]\nClrDisk=0\nBurnerSpeed=2822\nBurnerDrive=/dev/sr9/\n");
      EXPECT_EQ(prefs.Int("BurnerSpeed"), 2822);
      EXPECT_EQ(prefs.Text("BurnerDrive"), "/dev/sr9/");
      continue;
    }
    EXPECT_EQ(file.ReadInteger("Options", "BurnerSpeed", -1), row.Speed);
    EXPECT_EQ(file.ReadString("Options", "BurnerDrive", ""), "/dev/sr0/");
    EXPECT_EQ(file.ReadString("Options", "Burner", ""), burner.DeviceList.at(0));
    EXPECT_EQ(file.ReadBool("Options", "Native", false), row.Native);
    EXPECT_EQ(prefs.Int("BurnerSpeed"), row.Speed);
  }
  ResetProgramDirForTest();
}
