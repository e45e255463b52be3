// The main window's layout: menus, popups, tray menu, tabs, groups, lists and their initial
// states, and the controls the logic reaches by name.
#include <gtest/gtest.h>

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTimeEdit>
#include <QTimer>
#include <QTreeView>
#include <functional>
#include <tuple>

#include "app/controlhost.h"
#include "app/inclusiongrid.h"
#include "app/mb.h"
#include "app/optionlist.h"
#include "automation/stealth.h"
#include "platform/inifile.h"
#include "platform/programdir.h"
#include "qt_scriptedhost.h"
#include "testutil.h"
#include "ui/inclusiongridview.h"
#include "ui/mainform.h"
#include "ui/optionlistview.h"

namespace {

using testutil::IsolatedXdg;
using testutil::TempDir;

// One line per item: indent, objectName, caption and the states that differ from a plain item.
void DumpMenu(const QMenu* menu, int depth, QString& out) {
  for (const QAction* a : menu->actions()) {
    out += QString(depth * 2, QLatin1Char(' '));
    if (a->isSeparator()) {
      out += QStringLiteral("-\n");
      continue;
    }
    out += a->objectName() + QStringLiteral(" \"") + a->text() + QLatin1Char('"');
    if (a->actionGroup() && a->actionGroup()->isExclusive())
      out += QStringLiteral(" radio");
    else if (a->isCheckable())
      out += QStringLiteral(" check");
    if (a->isChecked()) out += QStringLiteral(" checked");
    // (a hidden action also reads as disabled)
    if (a->isVisible() && !a->isEnabled()) out += QStringLiteral(" disabled");
    if (!a->isVisible()) out += QStringLiteral(" hidden");
    if (a->data().isValid()) out += QStringLiteral(" tag=") + a->data().toString();
    out += QLatin1Char('\n');
    if (a->menu()) DumpMenu(a->menu(), depth + 1, out);
  }
}

QString DumpBar(const QMenuBar* bar) {
  QString out;
  for (const QAction* a : bar->actions()) {
    out += a->objectName() + QStringLiteral(" \"") + a->text() + QStringLiteral("\"\n");
    if (a->menu()) DumpMenu(a->menu(), 1, out);
  }
  return out;
}

class MainformTest : public ::testing::Test {
 protected:
  MainformTest() : xdg_(tmp_.path()) {
    ResetProgramDirForTest();
    SetMbTerminating(false);
  }
  ~MainformTest() override { ResetProgramDirForTest(); }
  template <typename T>
  T* Get(const char* name) {
    T* w = form_.findChild<T*>(QString::fromLatin1(name));
    EXPECT_TRUE(w) << name;
    return w;
  }
  QStringList Items(const char* list) {
    QStringList out;
    auto* v = Get<TOptionListView>(list);
    for (int i = 0; v && i < v->optionList()->count(); ++i)
      out << (v->optionList()->Checked(i) ? QStringLiteral("*") : QString()) +
                 v->optionList()->item(i);
    return out;
  }

  TempDir tmp_;
  IsolatedXdg xdg_;
  ScriptedHost host_;
  TMainform form_;
};

TEST_F(MainformTest, MainMenuCaptionsOrderAndInitialStates) {
  const QString expected = QStringLiteral(R"(File1 "&File"
  NewZip1 "&New Zip"
  MoZillabackup1 "Mo&Zilla backup"
    MozAllData1 "Thunderbird&&Firefox all data" tag=1
    ThunderbirdAllData1 "Thunderbird all data" tag=2
    ThunderbirdProfile1 "Thunderbird profile" tag=3
    FirefoxProfile1 " Firefox profile" tag=4
  Restore1 "&Restore"
  OpenJob1 "&Open Job"
  ModifyJob1 "&Modify Job"
  SaveJob1 "&Save Job"
  ClearHistory1 "&Clear History"
  Exit1 "E&xit"
  -
View1 "&View"
  Zipcomment1 "&Zip comment"
  LastError1 "&Last error"
Options1 "&Options"
  SetDefault1 "Set Default"
  BurnerSettings1 "&Burner Settings"
  MainProgram1 "Main Program"
    ExpertMode1 "Expert Mode"
      Basic1 "Basic" radio checked tag=0
      Advanced1 "Advanced" radio tag=1
    Start1 "Start"
      StartMinimised1 "Start Minimised" check
      StartUp1 "StartUp" check
    MinimiseToTray1 "Minimise To Tray" check
    ThemeManager1 "ThemeManager" check checked
  BackupRestore1 "Backup/Restore"
    ClearDiskMethod1 "Clear Disk Method"
      PromptEraseFiles1 "Prompt Erase Files" radio checked tag=0
      NoPromptEraseFiles1 "No Prompt Erase Files" radio tag=1
    TemporaryDIR1 "TemporaryDIR"
      TempDefault1 "Default" radio checked tag=0
      SetTempDIR1 "Select" radio tag=1
    CheckSpace1 "Check Space" check checked
    DateTimeFormat1 "DateTimeFormat"
      MonDate1 "2003-Jan-03" radio checked tag=0
      NumDate1 "2003-01-03" radio tag=1
      MonDateTime1 "2003-Jan-03_1535" radio tag=2
      NumDateTime1 "2003-01-03_1535" radio tag=3
    FullReport1 "FullBackupReport" check checked
    JobDIR1 "JobDIR"
      ProgramDIR1 "ProgramDIR" radio checked tag=0
      BackupDIR1 "BackupDIR" radio tag=1
    ArchiveSortBy1 "Archive SortBy"
      SortByFilename1 "Filename" radio checked tag=0
      SortByFilenameDesc1 "FileName Descending" radio tag=1
      SortBySize1 "Size" radio tag=2
      SortBySizeDesc1 "Size Descending" radio tag=3
      SortByDateTime1 "DateTime" radio tag=4
      SortByDateTimeDesc1 "DateTime Descending" radio tag=5
    DisplayEmptyDir1 "Display Empty Dir" check checked
    PromptSkipOpenFiles1 "PromptSkipOpenFiles" check checked
    SchedBackupPrompt1 "SchedBackup Prompt" check checked
  Stealth1 "Stealth"
    StealthEnable1 "Enable" check checked
    StealthExclZIP1 "StealthExclZIP" check checked
    StealthAtStartUp1 "Stealth@StartUp" check
    MinimizeOnLoad1 "MinimizeOnLoad" check checked
    AutoRenameOnSize1 "AutoRenameOnSize" check checked
    DefineHotKey1 "Define HotKey"
Tools1 "&Tools"
  SystemRestore1 "System Restore"
  ZIPcomment1 "ZIPcomment"
  ConvertZIPtoEXE1 "ConvertZIPtoEXE" disabled
  ZIPtest1 "ZIPtest" disabled
  ZIPfix1 "ZIPfix"
  MoveBlocks1 "Move Blocks"
  EraseCDRW1 "EraseCDRW"
    Quick1 "Quick"
    Full1 "Full"
  CDproperties1 "&CD/CDRW properties"
  Burn1 "Copy2&Burner"
Help1 "&Help"
  HelpContents1 "Help"
  Hints1 "Hints" check checked
  FeedBack1 "FeedBack"
    BugReport1 "Bug Report"
    InformationRequest1 "Information Request"
  Check4Update1 "&Check4Update"
  About1 "&About"
ContextHelp1 "          For context Help, click the '?' icon, top right, then click in questioned area"
)");
  EXPECT_EQ(DumpBar(form_.menuBar()).toStdString(), expected.toStdString());
}

TEST_F(MainformTest, PopupAndTrayMenus) {
  auto dump = [&](const char* name) {
    QString out;
    QMenu* m = form_.popupMenu(QString::fromLatin1(name));
    EXPECT_TRUE(m) << name;
    if (m) DumpMenu(m, 0, out);
    return out.toStdString();
  };
  EXPECT_EQ(dump("PopupReport"),
            "SaveReport1 \"SavetoRTF File\"\nWordWrap1 \"WordWrap\" check checked\n"
            "ClearComments1 \"Clear Comments\"\n");
  EXPECT_EQ(dump("PopupTree"),
            "TreeClearSelected1 \"Clear Selected\"\nTreeProgramDIR1 \"Program DIR\"\n"
            "SFTburn1 \"Copy2Burner\"\n-\nBrowserFunctions1 \"Browser Functions\"\n"
            "  TreeBrowserOpen1 \"Open\"\n  TreeShowInFileManager1 \"Show in File Manager\"\n");
  EXPECT_EQ(dump("PopupList"),
            "BrowserFunctions2 \"Browser Functions\"\n  ListBrowserOpen1 \"Open\"\n"
            "  ListShowInFileManager1 \"Show in File Manager\"\n");
  EXPECT_EQ(dump("PopupGrid"), "TidyGrid1 \"Tidy Grid\"\nClearGrid1 \"Clear Grid\"\n");
  EXPECT_EQ(dump("PopupArchive"),
            "ExtractSelected1 \"Extract Selected\"\n"
            "  ExtractSelectedOverWrite1 \"OverWrite\"\n"
            "  ExtractSelectedNoOverwrite1 \"NoOverwrite\"\n"
            "ExtractAll1 \"Extract All\"\n"
            "  ExtractAllOverwrite1 \"Overwrite\"\n"
            "  ExtractAllNoOverwrite1 \"NoOverwrite\"\n"
            "GotoFirst1 \"Goto First\"\nGotoLast1 \"Goto Last\"\n-\n"
            "DeleteSelected1 \"Delete Selected\"\nClearSelected1 \"Clear Selected\"\n"
            "NameToFilename1 \"NameToFileSearch\"\nGetZIP1 \"Get ZIP\" hidden\nOpen1 \"Open\"\n");
  EXPECT_EQ(dump("PopupTray"),
            "TrayExit1 \"EXIT\"\nTrayHelp1 \"Help\"\n  TrayHelpContents1 \"Help\"\n"
            "  TrayAbout1 \"About\"\nTrayRestore1 \"Restore\"\nTrayPause1 \"Pause\" hidden\n"
            "TrayResume1 \"Resume\" hidden\n");
  EXPECT_EQ(form_.trayIcon()->contextMenu(), form_.popupMenu("PopupTray"));
  EXPECT_FALSE(form_.trayIcon()->isVisible());
  // The popups belong to their controls.
  for (const char* w :
       {"ReportBox", "ExplorerTree", "ExplorerList", "InclusionGrid", "ArchiveView"})
    EXPECT_EQ(Get<QWidget>(w)->contextMenuPolicy(), Qt::CustomContextMenu) << w;
}

TEST_F(MainformTest, TabsGroupsAndOptionListsWithTheirDefaults) {
  auto* pages = Get<QTabWidget>("PageControl1");
  ASSERT_EQ(pages->count(), 3);
  EXPECT_EQ(pages->tabText(0), "Browser");
  EXPECT_EQ(pages->tabText(1), "Make");
  EXPECT_EQ(pages->tabText(2), "Archive");
  auto* inner = Get<QTabWidget>("PageControl2");
  EXPECT_EQ(inner->tabText(0), "ZIP");
  EXPECT_EQ(inner->tabText(1), "Report /ZIP Comment && Scheduler");

  const std::pair<const char*, const char*> groups[] = {
      {"GroupAdvanced", "Advanced"},
      {"GroupSizeCompression", "Size && Compression"},
      {"GroupAddSettings", "Add Settings"},
      {"GroupDateRange", "Date Range"},
      {"GroupSecurity", "Security && Directory Settings"},
      {"GroupOtherFunctions", "Other Functions"},
      {"GroupInclusionGrid", "Inclusion Grid"},
      {"GroupStealth", "Stealth/Instant Backup"},
      {"GroupBasic", "Basic"},
      {"GroupReport", "Report/ZIP comment"},
      {"GroupScheduler", "Scheduler"},
      {"GroupFileSearch", "File Search"},
      {"GroupViews", "Views and Expedite"},
      {"GroupExtractMethod", "Extract Method"}};
  for (const auto& [name, title] : groups) EXPECT_EQ(Get<QGroupBox>(name)->title(), title);

  EXPECT_EQ(Items("SizeList"),
            (QStringList{"*Automatic", "CDR 650Mb", "Floppy 1.44Mb", "CDRW 540Mb", "DVD-R 4.7Gb"}));
  EXPECT_EQ(Items("CompressionList"), (QStringList{"*Max", "Low", "None"}));
  EXPECT_EQ(
      Items("ModeList"),
      (QStringList{"*Copy", "Copy then Clear Bit", "Copy Bit Set", "Copy Bit Set then Clear Bit",
                   "Update Newer & New (AddToZIP)", "Refresh Existing Files (AddToZIP)",
                   "Move Files Then Delete (caution!)"}));
  EXPECT_EQ(Items("DirectoryList"),
            (QStringList{"Encrypt ZIP (password required)", "Use Volume Names (caution!)",
                         "*Include System & Hidden Files", "*Full Directories (recursion)",
                         "*Save Empty Directories", "Span Disks (use multiple disks)",
                         "Erase Disk First", "*Span No Volume Name", "*Include Directory 1st Disk",
                         "Follow Symbolic Links"}));
  EXPECT_EQ(Items("FunctionsList"),
            (QStringList{"*DateTimeStamp", "Add Versioning", "Unattended backup",
                         "O/C shut down PC", "Verify backup", "Set System Restore Point"}));
  EXPECT_EQ(Items("StealthList"), (QStringList{"*DateTimeStamp", "Monitor Sub Directories"}));
  EXPECT_EQ(Items("BasicList"), (QStringList{"*All Selected Files", "Changed/New (partial)",
                                             "Refresh Existing ZIP", "Update Existing ZIP"}));
  EXPECT_EQ(Items("BasicStampList"), QStringList{"*DateTimeStamp"});
  EXPECT_EQ(Items("BasicSizeList"), (QStringList{"*Standard", "SPAN (auto-size)"}));
  EXPECT_EQ(Items("CheckListBox11"), (QStringList{"*Listview", "ListviewDIR", "Treeview"}));
  EXPECT_EQ(Items("ExtractOptionsList"),
            (QStringList{"*Expand Directories", "Overwrite files", "Extract ALL files",
                         "Versioned DIRs", "Links as stored"}));
  EXPECT_EQ(Items("ExtractModeList"),
            (QStringList{"*Extract", "Extract Update", "Extract Freshen"}));
  EXPECT_TRUE(
      Get<TOptionListView>("CompressionList")->toolTip().startsWith("    Maximum (standard)"));

  EXPECT_EQ(Get<QLineEdit>("ComboEdit1")->text(), "MaxSizeMb");
  EXPECT_FALSE(Get<QLineEdit>("ComboEdit1")->isEnabled());
  EXPECT_EQ(Get<QLineEdit>("ComboEdit2")->text(), "Disk#1Free");
  EXPECT_TRUE(Get<QLineEdit>("ComboEdit2")->isEnabled());
  EXPECT_TRUE(Get<QRadioButton>("DateFilterNone")->isChecked());
  EXPECT_EQ(Get<QRadioButton>("DateFilterBefore")->text(), "All before");
  EXPECT_EQ(Get<QRadioButton>("DateFilterAfter")->text(), "All after");
  // "All before" and "All after" compare date-times: the picker carries a time of day.
  auto* picker = Get<QDateTimeEdit>("DateFilterPicker");
  EXPECT_TRUE(picker->displayedSections() & QDateTimeEdit::HourSection);
  EXPECT_TRUE(picker->displayedSections() & QDateTimeEdit::MinuteSection);
  picker->setDateTime(QDateTime(QDate(2006, 5, 4), QTime(19, 59)));
  EXPECT_EQ(picker->dateTime(), QDateTime(QDate(2006, 5, 4), QTime(19, 59)));
}

TEST_F(MainformTest, RadioListsKeepExactlyOneItemChecked) {
  TOptionList* list = Get<TOptionListView>("SizeList")->optionList();
  list->Click(2);
  EXPECT_EQ(Items("SizeList"),
            (QStringList{"Automatic", "CDR 650Mb", "*Floppy 1.44Mb", "CDRW 540Mb", "DVD-R 4.7Gb"}));
  list->Click(2);
  EXPECT_TRUE(list->Checked(2));
}

TEST_F(MainformTest, ButtonsLabelsGridAndStatusBars) {
  const std::tuple<const char*, const char*, const char*> bar[] = {
      {"ZipOpenBut", "&Restore", "Open Archive/ZIP file"},
      {"OpenCbutton", "o&PenJob", "Restore previous job settings"},
      {"SaveCbtn", "&SaveJob", "Save this job  to file"},
      {"NewZipBut", "&NewZIP", "Create New ZIP"},
      {"NewEXEBut", "New&EXE", "Create New EXE"},
      {"AddBut", "&AddToZIP", "Add File(s) to ZIP"},
      {"PauseBtn", "Pause", "Pause/Resume "},
      {"WriteZbtn", "&WriteZIP", "Begin ZIP to file"}};
  form_.layout()->activate();
  form_.centralWidget()->layout()->activate();
  Get<QWidget>("ButtonBar")->layout()->activate();
  QWidget* prev = nullptr;
  for (const auto& [name, caption, hint] : bar) {
    auto* b = Get<QPushButton>(name);
    EXPECT_EQ(b->text(), caption);
    EXPECT_EQ(b->toolTip(), hint);
    if (prev) {
      EXPECT_LT(prev->x(), b->x()) << name;  // left to right
    }
    prev = b;
  }
  EXPECT_EQ(Get<QLabel>("Zip64Label")->text(), "ZIP64");
  EXPECT_EQ(Get<QLabel>("Zip64Label")->toolTip(),
            "Indicates this ZIP is not Winzip compatible  (4Gb or >65535 files)");

  const std::pair<const char*, const char*> buttons[] = {
      {"MakeDefaultBtn", "Make these settings default"},
      {"StealthDefineBtn", "Define"},
      {"StealthStartBtn", "Start"},
      {"BasicWriteZbtn", "&WriteZIP"},
      {"SaveCommentBtn", "SaveComment"},
      {"ReportToZIPBtn", "ReportToZIP"},
      {"SchedOpenJobBtn", "Open JOB file"},
      {"SchedSetBtn", "Set"},
      {"SchedForgetBtn", "Forget"},
      {"GlobalBtn", "&Global"},
      {"GetZBtn1", "&GetZIP"},
      {"GrepeatBtn", "F3"},
      {"ExtractBut", "E&xtract"},
      {"DeleteBut", "&Delete"},
      {"DeleteZipBut", "&KillZIP"}};
  for (const auto& [name, caption] : buttons) EXPECT_EQ(Get<QPushButton>(name)->text(), caption);
  EXPECT_EQ(Get<QPushButton>("StealthDefineBtn")->toolTip(), "Define Stealth file");
  EXPECT_EQ(Get<QPushButton>("StealthStartBtn")->toolTip(), "Start Stealth mode");
  EXPECT_FALSE(Get<QPushButton>("DeleteZipBut")->isEnabled());
  EXPECT_FALSE(Get<QPushButton>("GetZBtn1")->isEnabled());
  EXPECT_FALSE(Get<QPushButton>("SchedSetBtn")->isEnabled());
  EXPECT_TRUE(Get<QCheckBox>("QuickSearchCheck")->isChecked());
  EXPECT_FALSE(Get<QCheckBox>("LargeFontsCheck")->isChecked());
  EXPECT_EQ(Get<QComboBox>("ComboBox1")->currentText(), "File(wildcard*.*)");

  const char* days[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                        "Thursday", "Friday", "Saturday"};
  for (const char* d : days)
    EXPECT_EQ(Get<QCheckBox>((std::string("Sched") + d).c_str())->text(), d);
  EXPECT_EQ(Get<QLabel>("SchedLabelDays")->text(), "Run on which days?");
  EXPECT_EQ(Get<QLabel>("SchedLabelTime")->text(), "At what time?");
  EXPECT_EQ(Get<QLabel>("SchedLabelJob")->text(),
            "[Open JOB file] above to get desired JOB Filename");
  EXPECT_EQ(Get<QLabel>("SchedLabelSteps")->text(),
            "Have a predefined JOB ready, then step through the items below\r\nsequentially, "
            "top to bottom. To clear schedule, click [Forget]");
  EXPECT_EQ(Get<QLineEdit>("SchedJobFile")->text(), "JOB Filename");
  EXPECT_EQ(Get<QLineEdit>("SchedJobFile")->toolTip(), "This must be a peviously saved JOB file!");

  QAbstractItemModel* grid = Get<TInclusionGridView>("InclusionGrid")->model();
  EXPECT_EQ(grid->columnCount(), 3);
  EXPECT_EQ(grid->rowCount(), 19);
  EXPECT_EQ(grid->headerData(0, Qt::Horizontal), "Include");
  EXPECT_EQ(grid->headerData(1, Qt::Horizontal), "Exclude");
  EXPECT_EQ(grid->headerData(2, Qt::Horizontal), "NoComp");
  EXPECT_EQ(Get<QWidget>("InclusionGrid")->toolTip(),
            "Inclusion specifications for Archive\r\n    Click cell to add/change");

  QAbstractItemModel* view = Get<QTreeView>("ArchiveView")->model();
  QStringList cols;
  for (int i = 0; i < view->columnCount(); ++i)
    cols << view->headerData(i, Qt::Horizontal).toString();
  EXPECT_EQ(cols, (QStringList{"FileName", "Pathname", "Size", "Type", "Date/Time", "Disk#", "#"}));
  EXPECT_EQ(Get<QWidget>("ExplorerTree")->toolTip(), "Single-Click directory to select");
  EXPECT_EQ(Get<QWidget>("ExplorerList")->toolTip(),
            "Double-Click ZIP to Open, Single-Click directory to select");
  EXPECT_FALSE(Get<QWidget>("ExplorerTree")->isEnabled());  // until start-up has run

  EXPECT_EQ(Get<QLineEdit>("SizeCalcEdit")->text(), "FILE Size calc");
  EXPECT_EQ(Get<QLineEdit>("SizeCalcEdit")->toolTip(), "Selected files size");
  EXPECT_EQ(Get<QLabel>("StatusProcessTime")->text(), "Process Time");
  EXPECT_EQ(Get<QLabel>("StatusZipFile")->text(), "ZipFile: <none>");
  EXPECT_EQ(Get<QLabel>("StatusActiveFile")->text(), "ActiveFile: <none>");
  EXPECT_EQ(Get<QLabel>("StatusCount")->text(), "DIR&files count");
  EXPECT_EQ(Get<QLabel>("StatusTotalSize")->text(), "Total size (Kb)");
  EXPECT_EQ(Get<QStatusBar>("StatusBar1")->toolTip(),
            "ZIP Filesize Calculator on left check button.");
  EXPECT_EQ(Get<QStatusBar>("StatusBar2")->toolTip(),
            "ZIP Filesize Calculator on left check button.");
  EXPECT_GT(Get<QStatusBar>("StatusBar2")->y(), Get<QStatusBar>("StatusBar1")->y());

  auto* timer1 = form_.findChild<QTimer*>("Timer1");
  auto* sched = form_.findChild<QTimer*>("SchedTimer");
  ASSERT_TRUE(timer1 && sched);
  EXPECT_FALSE(timer1->isActive());
  EXPECT_FALSE(sched->isActive());
  EXPECT_EQ(sched->interval(), 60000);
  // The client area below the menu: the usual 792 x 526, or more where the content needs it.
  EXPECT_GE(form_.centralWidget()->height(), 526);
  EXPECT_GE(form_.centralWidget()->width(), 792);
  EXPECT_GE(form_.centralWidget()->width(), form_.centralWidget()->minimumSizeHint().width());
}

TEST_F(MainformTest, WindowCreationFillsTheDefaults) {
  form_.FormCreate();
  EXPECT_FALSE(form_.context().TerminateRequested);
  EXPECT_EQ(form_.windowTitle(), "Arcavo V" + QString(ARCAVO_VERSION).remove('.'));
  EXPECT_TRUE(Get<QWidget>("ExplorerTree")->isEnabled());
  EXPECT_EQ(Get<QTabWidget>("PageControl1")->currentIndex(), 0);
  EXPECT_EQ(Get<QTimeEdit>("SchedTime")->displayFormat(), "HH:mm");
  TInclusionGrid* grid = Get<TInclusionGridView>("InclusionGrid")->Grid();
  auto cell = [&](int row, int col) { return grid->Cell(col, row); };
  EXPECT_EQ(cell(1, 0), "*.*");
  EXPECT_EQ(cell(2, 0), "");
  EXPECT_EQ(cell(1, 1), "*.TMP");
  EXPECT_EQ(cell(2, 1), "*.SWP");
  QStringList nocomp;
  for (int r = 1; r <= 7; ++r) nocomp << cell(r, 2);
  EXPECT_EQ(nocomp, (QStringList{"*.JPG", "*.GIF", "*.JPG", "*.MP3", "*.OGG", "*.MP4", ""}));
}

TEST_F(MainformTest, ControlsAreReachedByNameOnly) {
  IControlHost& c = form_.controls();
  c.SetControlEnabled("ZIPtest1", true);
  EXPECT_TRUE(c.ControlEnabled("ZIPtest1"));
  // A caption names no control: "&KillZIP" stays disabled until it is asked for by its name.
  c.SetControlEnabled("&KillZIP", true);
  EXPECT_FALSE(Get<QPushButton>("DeleteZipBut")->isEnabled());
  EXPECT_EQ(form_.FindControl("&KillZIP"), nullptr);
  c.SetControlEnabled("DeleteZipBut", true);
  EXPECT_TRUE(Get<QPushButton>("DeleteZipBut")->isEnabled());
  c.SetControlVisible("GetZIP1", true);
  EXPECT_TRUE(c.ControlVisible("GetZIP1"));
  c.SetControlChecked("MinimiseToTray1", true);
  EXPECT_TRUE(c.ControlChecked("MinimiseToTray1"));
  c.SetControlCaption("TrayPause1", "Abort");
  EXPECT_EQ(c.ControlCaption("TrayPause1"), "Abort");
  c.SetControlCaption("TabArchive", "Archive*");
  EXPECT_EQ(Get<QTabWidget>("PageControl1")->tabText(2), "Archive*");
  EXPECT_EQ(c.ControlCaption("GroupBasic"), "Basic");
  EXPECT_FALSE(c.ControlEnabled("NoSuchControl"));
  EXPECT_FALSE(c.ControlChecked("Basic"));  // the caption of "Basic1"
}

// A feature this version does not have tells the user so, and one that cannot start says why;
// nothing looks done.
TEST_F(MainformTest, FeaturesThatCannotRunSaySoInsteadOfDoingNothing) {
  const QString nothingDefined = QString::fromLatin1(TStealth::kNothingDefined);
  const std::tuple<QString, int, std::function<void()>> cases[] = {
      {nothingDefined, MB_ICONINFORMATION, [&] { Get<QPushButton>("StealthStartBtn")->click(); }},
      {nothingDefined, MB_ICONINFORMATION, [&] { form_.mainWindow().StartStealth(); }},
      // A job saved onto the disc with no writer set is said to be on no disc.
      {"Job not saved to disc: no disc writer is set", MB_ICONEXCLAMATION,
       [&] {
         form_.mainWindow().BurnFiles({"a.INI", "a.JOB"});
       }},
  };
  for (const auto& [text, icon, act] : cases) {
    host_.Answer(IDOK, text);
    act();
    EXPECT_EQ(host_.PendingAnswers(), 0) << text.toStdString();
    ASSERT_FALSE(host_.transcript().isEmpty());
    EXPECT_EQ(host_.transcript().back().icon, icon) << text.toStdString();
  }
  EXPECT_EQ(host_.transcript().size(), 3);
}

TEST_F(MainformTest, HintsOffEmptiesTheLastMenuItemAndSwallowsHints) {
  QAction* hints = form_.findChild<QAction*>("Hints1");
  hints->trigger();
  EXPECT_FALSE(hints->isChecked());
  EXPECT_FALSE(form_.hintsShown());
  EXPECT_EQ(form_.controls().ControlCaption("ContextHelp1"), "");
  EXPECT_EQ(IniFile(tmp_ / "config/arcavo/default.ini").ReadString("Options", "Hints", ""), "0");
  hints->trigger();
  EXPECT_TRUE(hints->isChecked());
  EXPECT_TRUE(form_.hintsShown());
  EXPECT_EQ(form_.controls().ControlCaption("ContextHelp1"), "");
}

TEST_F(MainformTest, HintsAndThemesSwitchedOffAreOffFromTheStart) {
  testutil::WriteFile(ProgramDir() + "default.ini", "[Options]\nClrDisk=0\nHints=0\nThemes=0\n");
  form_.FormCreate();
  EXPECT_FALSE(form_.controls().ControlChecked("Hints1"));
  EXPECT_FALSE(form_.hintsShown());
  EXPECT_EQ(form_.controls().ControlCaption("ContextHelp1"), "");
  EXPECT_FALSE(form_.controls().ControlChecked("ThemeManager1"));
  EXPECT_EQ(QApplication::style()->name(), "windows") << "the plain style, as the menu item sets";
  EXPECT_FALSE(form_.isVisible()) << "not shown before its time";
}

TEST_F(MainformTest, ShowPaintAndCloseWithNothingRunning) {
  form_.FormCreate();
  host_.AnswerDefaults(true);  // the first-run notices, whatever this machine's drives are
  form_.show();
  QApplication::processEvents();
  for (int i = 0; i < 20 && form_.context().FirstPaint; ++i) {
    QTest::qWait(10);
  }
  EXPECT_FALSE(form_.context().FirstShow);
  EXPECT_FALSE(form_.context().FirstPaint);
  // The first run has been recorded.
  EXPECT_TRUE(IniFile(tmp_ / "config/arcavo/default.ini").ValueExists("Options", "ClrDisk"));
  EXPECT_TRUE(form_.close());
  EXPECT_FALSE(form_.isVisible());
  EXPECT_TRUE(form_.lifecycle().closeSequenceDone());
}

}  // namespace

namespace {

// The window closed from inside a long operation: the close waits until the operation has
// returned, then the close sequence runs and the window goes.
TEST_F(MainformTest, ClosingDuringALongOperationClosesAfterItHasUnwound) {
  form_.FormCreate();
  MainContext& ctx = form_.context();
  host_.Answer(IDOK, QStringLiteral("CANCEL ZIP in progress? (OK cancels)"));
  form_.show();
  ctx.RunInProgress = true;
  bool closeResult = true;
  QTimer::singleShot(30, &form_, [&] { closeResult = form_.close(); });
  QStringList* work = ctx.WorkList1.get();
  for (int i = 0; i < 100; ++i) {
    work->append(QString::number(i));  // the operation still uses the window's state
    QTest::qWait(2);
  }
  EXPECT_FALSE(closeResult);
  EXPECT_TRUE(form_.isVisible());
  EXPECT_TRUE(ctx.SizeCalcMode);
  ctx.RunInProgress = false;  // the operation has returned
  for (int i = 0; i < 100 && form_.isVisible(); ++i) QTest::qWait(10);
  EXPECT_FALSE(form_.isVisible());
  EXPECT_TRUE(form_.lifecycle().closeSequenceDone());
  EXPECT_FALSE(ctx.WorkList1);
}

}  // namespace
