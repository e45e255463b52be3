// The main window with its subsystems joined: control names, settings and preferences, jobs
// opened and saved through the window, the explorer's ticks, the marked option item and a job
// named on the command line.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSet>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <deque>
#include <thread>

#include "app/explorer.h"
#include "app/filemenuhandler.h"
#include "app/inclusiongrid.h"
#include "app/instancemanager.h"
#include "app/jobcontroller.h"
#include "app/mainwiring.h"
#include "app/mb.h"
#include "app/optionnames.h"
#include "app/optionscontroller.h"
#include "app/preferences.h"
#include "archive/arczip.h"
#include "platform/inifile.h"
#include "platform/programdir.h"
#include "qt_scriptedhost.h"
#include "testutil.h"
#include "ui/bindings.h"
#include "ui/explorerviews.h"
#include "ui/mainform.h"
#include "ui/optionlistview.h"
#include "ui/recentmenu.h"

namespace {

using testutil::IsolatedXdg;
using testutil::TempDir;
using testutil::WriteFile;

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

// Open and save dialogs answered from a queue.
struct ScriptedDialogs : IFileDialogHost {
  std::deque<QString> answers;
  QStringList asked;
  QString OpenFile(const FileDialogSpec& spec) override { return Next("open " + spec.title); }
  QString SaveFile(const FileDialogSpec& spec) override { return Next("save " + spec.fileName); }
  QString Next(const QString& what) {
    asked << what;
    if (answers.empty()) {
      ADD_FAILURE() << "unexpected dialog: " << what.toStdString();
      return {};
    }
    QString a = answers.front();
    answers.pop_front();
    return a;
  }
};

class WiringTest : public ::testing::Test {
 protected:
  WiringTest() : xdg_(tmp_.path()) {
    ResetProgramDirForTest();
    SetMbTerminating(false);
  }
  ~WiringTest() override {
    SetMbTerminating(false);
    ResetProgramDirForTest();
  }

  std::string DefaultIni() const { return ProgramDir() + "default.ini"; }
  // A default file that has been through the first run (it holds "ClrDisk").
  void FirstRunDone(const std::string& extra = "") {
    WriteFile(DefaultIni(), "[Options]\nClrDisk=0\n" + extra);
  }
  // A window created and shown as at start-up, its dialogs scripted.
  std::unique_ptr<TMainform> Window(const QStringList& args = {}, bool show = true) {
    auto w = std::make_unique<TMainform>(args);
    w->SetFileDialogHost(&dialogs_);
    w->FormCreate();
    if (show && !w->context().TerminateRequested) {
      w->show();
      QApplication::processEvents();
    }
    return w;
  }
  // data/{a/x.txt, b/y.txt, c.txt, .hid/z.txt} under the scratch folder.
  std::string MakeData() {
    const std::string data = tmp_ / "data";
    for (const char* d : {"", "/a", "/b", "/.hid"}) ::mkdir((data + d).c_str(), 0700);
    WriteFile(data + "/a/x.txt", "x");
    WriteFile(data + "/b/y.txt", "y");
    WriteFile(data + "/c.txt", "c");
    WriteFile(data + "/.hid/z.txt", "z");
    return data;
  }
  static TickState TreeState(TMainform& w, const std::string& path) {
    const QModelIndex i = w.context().Explorer->TreeModel().IndexForPath(path);
    EXPECT_TRUE(i.isValid()) << path;
    const int s = i.data(Qt::CheckStateRole).toInt();
    return s == Qt::Checked            ? TickState::Checked
           : s == Qt::PartiallyChecked ? TickState::Mixed
                                       : TickState::Unchecked;
  }

  TempDir tmp_;
  IsolatedXdg xdg_;
  ScriptedHost host_;
  ScriptedDialogs dialogs_;
};

TEST_F(WiringTest, EveryBindingOfTheWindowHasItsControl) {
  TMainform w;
  const TBindings& table = w.bindings();
  ASSERT_FALSE(table.empty());
  QSet<QString> seen;
  for (const TBinding& b : table) {
    SCOPED_TRACE(b.control.toStdString() + ": " + b.operation.toStdString());
    // Found by its name, as the kind of control the binding needs, and the only object of that
    // name (a second would shadow the first).
    QObject* o = BoundControl(w, b);
    ASSERT_TRUE(o);
    EXPECT_EQ(o->objectName(), b.control);
    EXPECT_EQ(w.FindControl(b.control), o);
    int count = 0;
    for (QObject* c : w.findChildren<QObject*>(b.control))
      if (!qobject_cast<QMenu*>(c)) ++count;
    EXPECT_EQ(count, 1);
    if (b.kind == TBinding::Button || b.kind == TBinding::Item) {
      EXPECT_TRUE(b.handler);
      // One command per control: a second row would start two operations.
      EXPECT_FALSE(seen.contains(b.control));
      seen.insert(b.control);
    }
    if (b.kind == TBinding::Popup) {
      EXPECT_TRUE(w.popupMenu(b.popup));
      EXPECT_EQ(static_cast<QWidget*>(o)->contextMenuPolicy(), Qt::CustomContextMenu);
    }
  }
  // A row whose control is missing is reported by the table's application.
  TBindings broken = {OnButton("NoSuchButton", "nothing", [](bool) {}),
                      SwitchedBy(ctl::kSizeList, "an option list")};
  EXPECT_EQ(ApplyBindings(w, broken), QStringList{"NoSuchButton"});
  // The option lists and size edits are the models' views.
  const QStringList missing = InstallOptionViews(w.centralWidget(), *w.context().Lists);
  EXPECT_TRUE(missing.isEmpty()) << missing.join(' ').toStdString();
  EXPECT_EQ(w.findChildren<TOptionListView*>().size(), 12);
}

TEST_F(WiringTest, StartUpLoadsTheDefaultFileIntoTheWindow) {
  FirstRunDone(
      "OptCheck1=4\nOptCheck2=428\nOptCheck3=2\nOptCheck4=1\nOptCheck6=0\nComboEdit1=1.44\n"
      "Expert=1\nFullReport=1\nDateTimeFormat=2\n[SGcol0]\n1=*.DOC\n2=\n[SGcol1]\n2=*.BAK\n"
      "[SGcol2]\n1=*.PNG\n");
  auto w = Window();
  MainContext& ctx = w->context();
  EXPECT_EQ(ctx.Lists->sizeList.CheckedIndex(), 2);
  EXPECT_EQ(ctx.Lists->compressionList.CheckedIndex(), 1);
  EXPECT_EQ(ctx.Lists->modeList.CheckedIndex(), 4);
  EXPECT_EQ(ctx.Lists->basicList.CheckedIndex(), opt::kBasicUpdate);
  // 428: hidden files, empty folders, span, span without volume name, folder on disk 1.
  EXPECT_EQ(ctx.Lists->directoryList.Mask(), 428);
  EXPECT_TRUE(ctx.Lists->basicSizeList.Checked(opt::kBasicSpan));
  EXPECT_FALSE(ctx.Lists->functionsList.Checked(opt::kFnStamp));
  EXPECT_EQ(w->findChild<QLineEdit*>(ctl::kMaxSizeEdit)->text(), "1.44");
  EXPECT_EQ(ctx.Grid->Cell(TInclusionGrid::INCLUDE, 1), "*.DOC");
  // A stored column replaces the defaults: its missing rows are empty.
  EXPECT_EQ(ctx.Grid->Cell(TInclusionGrid::EXCLUDE, 1), "");
  EXPECT_EQ(ctx.Grid->Cell(TInclusionGrid::EXCLUDE, 2), "*.BAK");
  EXPECT_EQ(ctx.Grid->Cell(TInclusionGrid::NOCOMP, 1), "*.PNG");
  // Preferences show in the menus; the expert view highlights its group.
  EXPECT_TRUE(w->controls().ControlChecked(ctl::kAdvancedItem));
  EXPECT_FALSE(w->controls().ControlChecked(ctl::kBasicItem));
  EXPECT_TRUE(w->controls().ControlChecked(ctl::kFullReportItem));
  EXPECT_TRUE(w->controls().ControlChecked(ctl::kDateTimeFormatItems[2]));
  EXPECT_TRUE(w->findChild<QGroupBox*>(ctl::kAdvancedGroup)->styleSheet().contains("red"));
  // The views show the models.
  auto* sizeView = w->findChild<TOptionListView*>(ctl::kSizeList);
  EXPECT_EQ(sizeView->model()->index(2, 0).data(Qt::CheckStateRole).toInt(), Qt::Checked);
  // Hidden files ticked in the directory list: the explorer lists hidden items.
  EXPECT_TRUE(ctx.Explorer->TreeModel().ShowHidden());
}

TEST_F(WiringTest, TheStartAfterTheFirstRunKeepsTheWindowDefaults) {
  // The first paint of the first run writes the marker "ClrDisk" (and burner keys) only.
  FirstRunDone("Burner=\n");
  auto w = Window();
  MainContext& ctx = w->context();
  EXPECT_TRUE(ctx.Lists->directoryList.Checked(opt::kDirRecursion));
  EXPECT_EQ(ctx.Lists->directoryList.Mask(), ctx.Lists->directoryList.Mask() | 0x1C);
  EXPECT_TRUE(ctx.Lists->functionsList.Checked(opt::kFnStamp));
  EXPECT_EQ(w->findChild<QLineEdit*>(ctl::kMaxSizeEdit)->text(), "MaxSizeMb");
  EXPECT_EQ(ctx.Grid->Cell(TInclusionGrid::INCLUDE, 1), "*.*");
  EXPECT_EQ(ctx.Grid->Cell(TInclusionGrid::EXCLUDE, 2), "*.SWP");
  EXPECT_EQ(ctx.Grid->Cell(TInclusionGrid::NOCOMP, 6), "*.MP4");
}

TEST_F(WiringTest, APreferenceToggledInTheWindowIsWrittenAtOnceAndRestoredByAFreshWindow) {
  struct Toggle {
    const char* control;
    const char* key;
    const char* written;  // nullptr: "1" or "0" as the item is now checked
  };
  const Toggle toggles[] = {
      {ctl::kStartMinimisedItem, "StartMinimised", nullptr},
      {ctl::kDisplayEmptyDirItem, "DisplayEmptyDIR", nullptr},
      {ctl::kSchedPromptItem, "SchedBUPrompt", nullptr},
      {ctl::kStealthEnableItem, "StealthEnabled", nullptr},
      {ctl::kStealthExclZipItem, "StealthZIP", nullptr},
      {ctl::kMinimizeOnLoadItem, "StealthMinimizeOnLoad", nullptr},
      {ctl::kMinToTrayItem, "MinToTray", nullptr},
      {ctl::kPromptSkipOpenFilesItem, "PromptSkipOpenFiles", nullptr},
      {ctl::kFullReportItem, "FullReport", nullptr},
      {ctl::kCheckSpaceItem, "CheckTempSpace", nullptr},
      {ctl::kAutoRenameOnSizeItem, "StealthARen", nullptr},
      {ctl::kHintsItem, "Hints", nullptr},
      {ctl::kBackupDirItem, "CatDIR", "0"},
      {ctl::kNoPromptEraseItem, "ClrDisk", "1"},
      {ctl::kDateTimeFormatItems[3], "DateTimeFormat", "3"},
      {ctl::kSortByItems[5], "ArchiveSortBy", "5"},
      {ctl::kAdvancedItem, "Expert", nullptr},
  };
  for (const Toggle& t : toggles) {
    SCOPED_TRACE(t.control);
    FirstRunDone();
    bool after = false;
    {
      auto w = Window({}, false);
      const bool before = w->controls().ControlChecked(t.control);
      // Two stealth items ask before they are unchecked; "No" unchecks them.
      const std::string key = t.key;
      if (before && (key == "StealthZIP" || key == "StealthARen")) host_.Answer(IDNO);
      w->findChild<QAction*>(t.control)->trigger();
      EXPECT_EQ(host_.PendingAnswers(), 0);
      after = w->controls().ControlChecked(t.control);
      EXPECT_NE(after, before);
      // Written at once, and only that key.
      IniFile ini(DefaultIni());
      std::vector<std::string> keys = ini.Keys("Options");
      std::vector<std::string> expected = {"ClrDisk"};
      if (std::string(t.key) != "ClrDisk") expected.push_back(t.key);
      EXPECT_EQ(keys, expected);
      EXPECT_EQ(ini.ReadString("Options", t.key, "?"), t.written ? t.written : after ? "1" : "0");
    }
    auto fresh = Window({}, false);
    EXPECT_EQ(fresh->controls().ControlChecked(t.control), after);
  }
  // The check boxes of the archive tab likewise.
  FirstRunDone();
  {
    auto w = Window();
    w->findChild<QAbstractButton*>(ctl::kLargeFontsBox)->click();
    EXPECT_EQ(IniFile(DefaultIni()).ReadString("Options", "LargeFonts", "?"), "1");
  }
  EXPECT_TRUE(Window()->controls().ControlChecked(ctl::kLargeFontsBox));
  // The two stealth questions, and nothing else.
  EXPECT_EQ(host_.transcript().size(), 2);
}

TEST_F(WiringTest, AHandWrittenJobOpenedWithOpenJobTicksExactlyItsPaths) {
  const std::string data = MakeData();
  // The settings file's name differs in case from the job's.
  WriteFile(tmp_ / "Nightly.JOB", "ARCAVO-JOB 1\nC\tD\t" + data + "/a\nC\tF\t" + data + "/c.txt\n");
  WriteFile(tmp_ / "nightly.ini",
            "[ZIPFILE]\nFname=" + (tmp_ / "out/backup.zip") +
                "\n[Options]\nClrDisk=0\nOptCheck1=0\nOptCheck2=24\nOptCheck3=1\nOptCheck4=2\n"
                "OptCheck6=0\nComboEdit1=650\n[SGcol0]\n1=*.TXT\n[SGcol1]\n1=*.BAK\n");
  auto w = Window();
  MainContext& ctx = w->context();
  // An archive opened before: the job opening starts the engine afresh.
  ctx.ArcZip1->SetZipName(tmp_ / "opened.zip");
  ASSERT_TRUE(w->mainWindow().ArchiveLoaded());
  dialogs_.answers.push_back(Q(tmp_ / "Nightly.JOB"));
  w->findChild<QPushButton*>("OpenCbutton")->click();

  EXPECT_FALSE(w->mainWindow().ArchiveLoaded())
      << "no archive counts as loaded after a job opening";
  EXPECT_EQ(dialogs_.asked, QStringList{"open Open Job"});
  const std::vector<std::string> ticked = {data + "/a", data + "/c.txt"};
  EXPECT_EQ(ctx.Explorer->Store().TickedPaths(), ticked);
  // The window's explorer shows the ticks (make mode shows the boxes).
  EXPECT_TRUE(ctx.Explorer->TreeModel().ShowChecks());
  EXPECT_EQ(TreeState(*w, data), TickState::Mixed);
  EXPECT_EQ(TreeState(*w, data + "/a"), TickState::Checked);
  EXPECT_EQ(TreeState(*w, data + "/b"), TickState::Unchecked);
  // Lists, edits, grid and archive name from the settings file.
  EXPECT_EQ(ctx.Lists->sizeList.CheckedIndex(), 1);
  EXPECT_EQ(ctx.Lists->compressionList.CheckedIndex(), 2);
  EXPECT_EQ(ctx.Lists->directoryList.Mask(), 24);
  EXPECT_EQ(w->findChild<QLineEdit*>(ctl::kMaxSizeEdit)->text(), "650");
  EXPECT_EQ(ctx.Grid->Cell(TInclusionGrid::INCLUDE, 1), "*.TXT");
  EXPECT_EQ(ctx.Grid->Cell(TInclusionGrid::EXCLUDE, 1), "*.BAK");
  EXPECT_EQ(ctx.ZipName, Q(tmp_ / "out/backup.zip"));
  EXPECT_EQ(w->controls().ControlCaption("StatusZipFile"),
            "ZipFile: " + Q(tmp_ / "out/backup.zip"));
  // Make mode; the job joined the recent list in the "&File" menu.
  EXPECT_EQ(ctx.Options->state(), 3);
  EXPECT_EQ(ctx.History->List().value(0), Q(tmp_ / "Nightly.JOB"));
  EXPECT_EQ(IniFile(ProgramDir() + "fmhistory.ini").ReadString("RecentFiles", "File0", ""),
            tmp_ / "Nightly.JOB");
  EXPECT_TRUE(w->controls().ControlEnabled(kSaveJobControl));
  // The "&File" menu lists it; "&Clear History" empties the list and hides the separator.
  TRecentMenu* recent = w->recentMenu();
  ASSERT_EQ(recent->Actions().size(), 1);
  EXPECT_EQ(recent->Actions()[0]->text(), "&1 " + Q(tmp_ / "Nightly.JOB"));
  EXPECT_TRUE(recent->Separator()->isVisible());
  w->findChild<QAction*>("ClearHistory1")->trigger();
  EXPECT_TRUE(recent->Actions().isEmpty());
  EXPECT_FALSE(recent->Separator()->isVisible());
  EXPECT_TRUE(host_.transcript().isEmpty());
}

// A job handed over while "Save As" is open waits for the dialog: the job being saved keeps its
// own archive and selection, and the handed-over job runs once afterwards.
TEST_F(WiringTest, AJobHandedOverDuringSaveAsRunsOnlyAfterTheDialog) {
  const std::string data = MakeData();
  ::mkdir((tmp_ / "out").c_str(), 0700);
  WriteFile(tmp_ / "B.JOB", "ARCAVO-JOB 1\nC\tD\t" + data + "/b\n");
  WriteFile(tmp_ / "B.INI",
            "[ZIPFILE]\nFname=" + (tmp_ / "out/b.zip") + "\n[Options]\nClrDisk=0\nOptCheck6=0\n");
  TInstanceManager instance;
  ASSERT_EQ(instance.Guard({}), TInstanceManager::Role::First);
  ASSERT_TRUE(instance.Listen());
  TMainform w({}, &instance);  // Qt's own file dialogs
  w.FormCreate();
  w.show();
  QApplication::processEvents();
  MainContext& ctx = w.context();
  host_.AnswerDefaults(true);  // the handed-over run's closing message

  // Job A: saved once (a new file needs no dialog), then again through "Save As".
  ctx.Explorer->Store().SetChecked(data + "/a", true);
  ctx.Wiring->SetArchiveName(Q(tmp_ / "out/a.zip"));
  ctx.Jobs->SaveCbtnClick();
  ASSERT_TRUE(testutil::Exists(ProgramDir() + "a.JOB"));
  std::atomic<int> answer{-2};
  std::thread sender;
  bool dialogSeen = false, accepted = false;
  QElapsedTimer answered;
  QTimer poll;
  poll.setInterval(20);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* dlg = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (!dlg) return;
    if (!dialogSeen) {
      dialogSeen = true;
      sender = std::thread([&] {
        answer = TInstanceManager::SendFrame(instance.socketPath(),
                                             QByteArray::fromStdString(tmp_ / "B.JOB"), 5000);
      });
      return;
    }
    if (answer == -2 || accepted) return;
    // The dialog stays open a while after the answer, as a user takes time to choose.
    if (!answered.isValid()) answered.start();
    if (answered.elapsed() < 400) return;
    accepted = true;
    auto* name = dlg->findChild<QLineEdit*>("fileNameEdit");
    ASSERT_TRUE(name);
    name->setText(Q(ProgramDir() + "a2.JOB"));
    static_cast<QDialog*>(dlg)->accept();
  });
  poll.start();
  // The click is handled inside the main event loop, as in the program: the dialog's own loop is
  // then a nested one.
  QEventLoop mainLoop;
  QTimer::singleShot(0, &mainLoop, [&] {
    ctx.Jobs->SaveCbtnClick();
    mainLoop.quit();
  });
  mainLoop.exec();
  poll.stop();
  if (sender.joinable()) sender.join();
  ASSERT_TRUE(dialogSeen);
  EXPECT_EQ(answer, TInstanceManager::kAnswerAccepted) << "taken, to run after the dialog";
  EXPECT_EQ(IniFile(ProgramDir() + "a2.INI").ReadString("ZIPFILE", "Fname", ""),
            tmp_ / "out/a.zip");
  EXPECT_EQ(testutil::ReadFile(ProgramDir() + "a2.JOB"),
            testutil::ReadFile(ProgramDir() + "a.JOB"));
  EXPECT_FALSE(testutil::Exists(tmp_ / "out/b.zip")) << "nothing ran inside the dialog";

  // The window is idle again: job B runs, once.
  for (int i = 0; i < 500 && !testutil::Exists(tmp_ / "out/b.zip"); ++i) QTest::qWait(10);
  ASSERT_TRUE(testutil::Exists(tmp_ / "out/b.zip"));
  QTest::qWait(200);
  EXPECT_EQ(w.lifecycle().PendingHandOvers(), 0);
  EXPECT_EQ(QDir(Q(tmp_ / "out")).entryList({"*.zip"}), QStringList{"b.zip"});
}

TEST_F(WiringTest, WindowModesSwitchTheRealWidgets) {
  auto w = Window();
  auto enabled = [&](const char* name) { return w->findChild<QWidget*>(name)->isEnabled(); };
  EXPECT_FALSE(enabled(ctl::kSizeCompressionGroup));
  EXPECT_FALSE(enabled(ctl::kPauseButton));
  EXPECT_FALSE(w->context().Explorer->ListModel().ShowChecks());
  w->context().Options->Setstate(3);
  for (const char* c :
       {ctl::kAddToZipButton, ctl::kSaveJobButton, ctl::kPauseButton, ctl::kSizeCompressionGroup})
    EXPECT_TRUE(enabled(c)) << c;
  EXPECT_FALSE(enabled(ctl::kArchiveView));
  EXPECT_FALSE(enabled(ctl::kExtractButton));
  EXPECT_TRUE(w->findChild<QLineEdit*>(ctl::kMaxSizeEdit)->isEnabled());
  EXPECT_TRUE(w->context().Explorer->ListModel().ShowChecks());
  w->context().Options->Setstate(1);
  EXPECT_TRUE(enabled(ctl::kExtractButton));
  EXPECT_TRUE(w->findChild<QAction*>(ctl::kZipTestItem)->isEnabled());
  w->context().Options->Setstate(0);
  EXPECT_FALSE(enabled(ctl::kSizeCompressionGroup));
  EXPECT_FALSE(w->context().Explorer->TreeModel().ShowChecks());
}

TEST_F(WiringTest, GridPopupAndMakeTheseSettingsDefault) {
  FirstRunDone();
  {
    auto w = Window();
    TInclusionGrid& grid = *w->context().Grid;
    grid.SetCell(TInclusionGrid::INCLUDE, 3, "*.odt");
    w->findChild<QAction*>("TidyGrid1")->trigger();
    EXPECT_EQ(grid.Cell(TInclusionGrid::INCLUDE, 1), "*.*");
    EXPECT_EQ(grid.Cell(TInclusionGrid::INCLUDE, 2), "*.ODT");
    EXPECT_EQ(grid.Cell(TInclusionGrid::INCLUDE, 3), "");
    w->context().Lists->compressionList.Click(opt::kCompNone);
    w->findChild<QPushButton*>("MakeDefaultBtn")->click();
  }
  {
    auto w = Window();
    EXPECT_EQ(w->context().Grid->Cell(TInclusionGrid::INCLUDE, 2), "*.ODT");
    EXPECT_EQ(w->context().Lists->compressionList.CheckedIndex(), opt::kCompNone);
    w->findChild<QAction*>("ClearGrid1")->trigger();
    EXPECT_EQ(w->context().Grid->Cell(TInclusionGrid::INCLUDE, 1), "");
    EXPECT_EQ(w->context().Grid->Cell(TInclusionGrid::NOCOMP, 1), "");
  }
  EXPECT_TRUE(host_.transcript().isEmpty());
}

TEST_F(WiringTest, TriStateTicksMakeTheRoundTripThroughSaveJobAndAFreshWindow) {
  const std::string data = MakeData();
  const std::vector<std::string> expected = {data + "/.hid", data + "/a", data + "/c.txt"};
  QString savedJob;
  {
    auto w = Window();
    MainContext& ctx = w->context();
    ctx.Options->Setstate(3);
    TExplorerTree* tree = w->explorerTree();
    ASSERT_TRUE(tree->BrowseTo(Q(data)));
    tree->setFocus();
    QTest::keyClick(tree, Qt::Key_Space);  // tick "data"
    ASSERT_TRUE(tree->BrowseTo(Q(data + "/b")));
    QTest::keyClick(tree, Qt::Key_Space);  // untick "b" below it
    EXPECT_EQ(TreeState(*w, data), TickState::Mixed);
    EXPECT_EQ(ctx.Explorer->Store().TickedPaths(), expected);

    THandlersDetached detached{&ctx.Lists->functionsList};
    ctx.Lists->functionsList.SetChecked(opt::kFnStamp, false);
    ctx.Wiring->SetArchiveName(Q(tmp_ / "out/photos"));
    EXPECT_EQ(ctx.ZipName, Q(tmp_ / "out/photos.zip"));
    // No job of that name yet: written without a dialog (ProgramDIR mode).
    w->findChild<QPushButton*>(kSaveJobControl)->click();
    savedJob = Q(ProgramDir() + "photos.JOB");
    EXPECT_TRUE(testutil::Exists(ProgramDir() + "photos.JOB"));
    EXPECT_TRUE(testutil::Exists(ProgramDir() + "photos.INI"));
    EXPECT_TRUE(dialogs_.asked.isEmpty());
  }

  auto w = Window();
  MainContext& ctx = w->context();
  // The tester walks every loaded folder on each change: the tree shows the scratch folder only.
  ctx.Explorer->TreeModel().SetRoots({tmp_.path()});
  QAbstractItemModelTester tester(&ctx.Explorer->TreeModel(),
                                  QAbstractItemModelTester::FailureReportingMode::Fatal);
  dialogs_.answers.push_back(savedJob);
  w->findChild<QAction*>("OpenJob1")->trigger();
  EXPECT_EQ(ctx.Explorer->Store().TickedPaths(), expected);
  EXPECT_EQ(TreeState(*w, data), TickState::Mixed);
  EXPECT_EQ(TreeState(*w, data + "/a"), TickState::Checked);
  EXPECT_EQ(TreeState(*w, data + "/b"), TickState::Unchecked);
  EXPECT_EQ(ctx.ZipName, Q(tmp_ / "out/photos.zip"));
  // The list shows the folder's items with the same ticks.
  ExplorerListModel& list = ctx.Explorer->ListModel();
  list.SetFolder(data);
  for (int r = 0; r < list.rowCount(); ++r) {
    const QModelIndex i = list.index(r, 0);
    const bool b = i.data().toString() == "b";
    EXPECT_EQ(i.data(Qt::CheckStateRole).toInt(), b ? Qt::Unchecked : Qt::Checked)
        << i.data().toString().toStdString();
  }
  EXPECT_TRUE(host_.transcript().isEmpty());
}

TEST_F(WiringTest, TheMarkedItemIsDrawnBoldRedOnAquaInTheWindow) {
  auto w = Window();
  w->findChild<QTabWidget*>("PageControl1")->setCurrentIndex(1);
  auto* view = w->findChild<TOptionListView*>(ctl::kModeList);
  ASSERT_TRUE(view);
  QApplication::processEvents();
  // The user ticks "Move Files Then Delete (caution!)".
  const QRect moveRect = view->visualRect(view->model()->index(opt::kModeMove, 0));
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, moveRect.center());
  ASSERT_TRUE(w->context().Lists->modeList.Checked(opt::kModeMove));

  const QImage image = view->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
  auto count = [&](const QRect& r, const QColor& c) {
    int n = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
      for (int x = r.left(); x <= r.right(); ++x)
        if (image.pixelColor(x, y) == c) ++n;
    return n;
  };
  const QColor aqua(0, 255, 255), red(255, 0, 0);
  // Every item of the list shows in full.
  EXPECT_TRUE(view->viewport()->rect().contains(moveRect))
      << moveRect.y() << "+" << moveRect.height() << " in " << view->viewport()->height();
  // Aqua fills the item's background and red text is drawn on it.
  EXPECT_GT(count(moveRect, aqua), moveRect.width() * moveRect.height() / 3);
  EXPECT_GT(count(moveRect, red), 10);
  // The other items are plain.
  const QRect copyRect = view->visualRect(view->model()->index(opt::kModeCopy, 0));
  EXPECT_EQ(count(copyRect, aqua), 0);
  EXPECT_EQ(count(copyRect, red), 0);
  EXPECT_EQ(view->model()->index(opt::kModeMove, 0).data(TOptionList::DrawingRole).toInt(),
            TOptionList::Marked);
}

TEST_F(WiringTest, AJobNamedOnTheCommandLineIsOpenedAndRunOnce) {
  const std::string data = MakeData();
  const std::string job = tmp_ / "cmd.job";
  WriteFile(job, "ARCAVO-JOB 1\nC\tD\t" + data + "/b\n");
  WriteFile(tmp_ / "cmd.INI",
            "[ZIPFILE]\nFname=" + (tmp_ / "out/cmd.zip") + "\n[Options]\nClrDisk=0\nOptCheck6=0\n");
  auto w = std::make_unique<TMainform>(QStringList{Q(job)});
  w->SetFileDialogHost(&dialogs_);
  MainContext& ctx = w->context();
  int runs = 0;
  ctx.WriteZbtnClick = [&] { ++runs; };
  w->FormCreate();
  EXPECT_FALSE(ctx.TerminateRequested);
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(ctx.Explorer->Store().TickedPaths(), std::vector<std::string>{data + "/b"});
  EXPECT_TRUE(ctx.Lists->functionsList.Checked(opt::kFnUnattended));
  EXPECT_EQ(ctx.ZipName, Q(tmp_ / "out/cmd.zip"));
  // A change after the opening shows whether the first show opens the job a second time.
  ctx.Explorer->Store().SetChecked(data + "/b/y.txt", false);

  w->show();
  QApplication::processEvents();
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(ctx.Explorer->Store().State(data + "/b/y.txt"), TickState::Unchecked);
  // The first show puts the job at the top of the recent list, without opening it.
  EXPECT_EQ(ctx.History->List().value(0), Q(job));
  EXPECT_TRUE(dialogs_.asked.isEmpty());

  // The same job handed over by a later start is opened and run again, once (from the event
  // loop, once the window is idle).
  ctx.AutoRunFile.clear();
  EXPECT_TRUE(w->lifecycle().HandOver({Q(job), {}}).accepted);
  for (int i = 0; i < 100 && runs < 2; ++i) QTest::qWait(10);
  EXPECT_EQ(runs, 2);
  EXPECT_EQ(ctx.Explorer->Store().State(data + "/b/y.txt"), TickState::Checked);
  EXPECT_TRUE(host_.transcript().isEmpty());
}

}  // namespace
