// The main window with its subsystems joined: control names, settings and preferences, jobs
// opened and saved through the window, the explorer's ticks, the marked option item and a job
// named on the command line.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileDialog>
#include <QGroupBox>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSet>
#include <QSystemTrayIcon>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QWhatsThis>
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
#include "automation/chkupdate.h"
#include "automation/hotkey.h"
#include "platform/inifile.h"
#include "platform/programdir.h"
#include "platform/volumeservice.h"
#include "qt_scriptedhost.h"
#include "restore/archivesearch.h"
#include "restore/archiveviewcontroller.h"
#include "restore/archiveviewhosts.h"
#include "testutil.h"
#include "ui/bindings.h"
#include "ui/browserfunctions.h"
#include "ui/explorerviews.h"
#include "ui/mainform.h"
#include "ui/optionlistview.h"
#include "ui/recentmenu.h"
#include "ui/windowautomation.h"
#include "ui/windowlife.h"
#include "ui/windownames.h"

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
  bool cancelAll = false;  // every unscripted dialog is cancelled
  QString Next(const QString& what) {
    asked << what;
    if (answers.empty() && cancelAll) return {};
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

// The window's commands as the user finds them. where: a menu path from the menu bar or from a
// popup's name ("&Options/Main Program/Start", "PopupTree/Browser Functions"), or one of
// "button", "key", "timer", "tray", "popup"; caption: the item's or button's caption; control: the
// button's, timer's, icon's or view's name, or the key; handler: what the binding names.
struct Command {
  const char* where;
  const char* caption;
  const char* control;
  const char* handler;
};

const Command kCommands[] = {
    {"&File", "&New Zip", "", "TNaming::NewZipButClick"},
    {"&File/Mo&Zilla backup", "Thunderbird&&Firefox all data", "", "TNaming::NewZipButClick"},
    {"&File/Mo&Zilla backup", "Thunderbird all data", "", "TNaming::NewZipButClick"},
    {"&File/Mo&Zilla backup", "Thunderbird profile", "", "TNaming::NewZipButClick"},
    {"&File/Mo&Zilla backup", " Firefox profile", "", "TNaming::NewZipButClick"},
    {"&File", "&Restore", "", "TArchiveViewController::ZipOpenButClick"},
    {"&File", "&Open Job", "", "TJobController::OpenCbutton"},
    {"&File", "&Modify Job", "", "TJobController::ModifyJobClick"},
    {"&File", "&Save Job", "", "TJobController::SaveCbtnClick"},
    {"&File", "&Clear History", "", "TFileMenuHandler::ClearHistory"},
    {"&File", "E&xit", "", "TAppLifecycle::FormCloseQuery"},
    {"&View", "&Zip comment", "", "TRunReport::Zipcomment1Click"},
    {"&View", "&Last error", "", nullptr},  // the one item without an operation
    {"&Options", "Set Default", "", "TSettingsFiles::SetDefaultClick"},
    {"&Options", "&Burner Settings", "", "CDBurner1Click"},
    {"&Options/Main Program/Expert Mode", "Basic", "", "basic view"},
    {"&Options/Main Program/Expert Mode", "Advanced", "", "expert view"},
    {"&Options/Main Program/Start", "Start Minimised", "", "ToggleMenuPreference"},
    {"&Options/Main Program/Start", "StartUp", "", "TLogonStart::StartUpClick"},
    {"&Options/Main Program", "Minimise To Tray", "", "ToggleMenuPreference"},
    {"&Options/Main Program", "ThemeManager", "", "TAppLifecycle::ThemeManager1Click"},
    {"&Options/Backup/Restore/Clear Disk Method", "Prompt Erase Files", "", "ask before clearing"},
    {"&Options/Backup/Restore/Clear Disk Method", "No Prompt Erase Files", "",
     "clear without asking"},
    {"&Options/Backup/Restore/TemporaryDIR", "Default", "", "TSettingsFiles::TempDirChosen"},
    {"&Options/Backup/Restore/TemporaryDIR", "Select", "", "TBackupRun::SetTempDIR1Click"},
    {"&Options/Backup/Restore", "Check Space", "", "ToggleMenuPreference"},
    {"&Options/Backup/Restore/DateTimeFormat", "2003-Jan-03", "", "DateTimeFormatClick"},
    {"&Options/Backup/Restore/DateTimeFormat", "2003-01-03", "", "DateTimeFormatClick"},
    {"&Options/Backup/Restore/DateTimeFormat", "2003-Jan-03_1535", "", "DateTimeFormatClick"},
    {"&Options/Backup/Restore/DateTimeFormat", "2003-01-03_1535", "", "DateTimeFormatClick"},
    {"&Options/Backup/Restore", "FullBackupReport", "", "ToggleMenuPreference"},
    {"&Options/Backup/Restore/JobDIR", "ProgramDIR", "", "jobs in the program folder"},
    {"&Options/Backup/Restore/JobDIR", "BackupDIR", "", "jobs beside the archive"},
    {"&Options/Backup/Restore/Archive SortBy", "Filename", "", "SortBy1Click"},
    {"&Options/Backup/Restore/Archive SortBy", "FileName Descending", "", "SortBy1Click"},
    {"&Options/Backup/Restore/Archive SortBy", "Size", "", "SortBy1Click"},
    {"&Options/Backup/Restore/Archive SortBy", "Size Descending", "", "SortBy1Click"},
    {"&Options/Backup/Restore/Archive SortBy", "DateTime", "", "SortBy1Click"},
    {"&Options/Backup/Restore/Archive SortBy", "DateTime Descending", "", "SortBy1Click"},
    {"&Options/Backup/Restore", "Display Empty Dir", "", "DisplayEmptyDir1Click"},
    {"&Options/Backup/Restore", "PromptSkipOpenFiles", "", "ToggleMenuPreference"},
    {"&Options/Backup/Restore", "SchedBackup Prompt", "", "ToggleMenuPreference"},
    {"&Options/Stealth", "Enable", "", "stealth menu item"},
    {"&Options/Stealth", "StealthExclZIP", "", "stealth menu item"},
    {"&Options/Stealth", "Stealth@StartUp", "", "TLogonStart::StealthAtStartUpClick"},
    {"&Options/Stealth", "MinimizeOnLoad", "", "stealth menu item"},
    {"&Options/Stealth", "AutoRenameOnSize", "", "stealth menu item"},
    {"&Options/Stealth", "Define HotKey", "", "THotkeyDefine::DefineHotKeyClick"},
    {"&Tools", "System Restore", "", "StartSystemRestore"},
    {"&Tools", "ZIPcomment", "", "TRunReport::Zipcomment1Click"},
    {"&Tools", "ConvertZIPtoEXE", "", "TMaintenanceController::ConvertButClick"},
    {"&Tools", "ZIPtest", "", "TMaintenanceController::TestButClick"},
    {"&Tools", "ZIPfix", "", "TRepairController::fixzipbtnClick"},
    {"&Tools", "Move Blocks", "", "MoveBlocks1Click"},
    {"&Tools/EraseCDRW", "Quick", "", "EraseCDRW1Click (quick)"},
    {"&Tools/EraseCDRW", "Full", "", "EraseCDRW1Click (full)"},
    {"&Tools", "&CD/CDRW properties", "", "CDproperties1Click"},
    {"&Tools", "Copy2&Burner", "", "SFTburn1Click"},
    {"&Help", "Help", "", "TAppLifecycle::Help1Click"},
    {"&Help", "Hints", "", "TAppLifecycle::Hints1Click"},
    {"&Help/FeedBack", "Bug Report", "", "compose a bug report"},
    {"&Help/FeedBack", "Information Request", "", "compose an information request"},
    {"&Help", "&Check4Update", "", "TChkUpdate::Check"},
    {"&Help", "&About", "", "TMainform::About"},
    {"", "          For context Help, click the '?' icon, top right, then click in questioned area",
     "", "QWhatsThis::enterWhatsThisMode"},
    // The popups and the tray menu.
    {"PopupReport", "SavetoRTF File", "", "TRunReport::SaveReport1Click"},
    {"PopupReport", "WordWrap", "", "TRunReport::WordWrap1Click"},
    {"PopupReport", "Clear Comments", "", "TRunReport::ClearComments1Click"},
    {"PopupTree", "Clear Selected", "", "TExplorerTree::Clearchecks"},
    {"PopupTree", "Program DIR", "", "TExplorerTree::ProgramDir"},
    {"PopupTree", "Copy2Burner", "", "SFTburn1Click"},
    {"PopupTree/Browser Functions", "Open", "", "TBrowserFunctions::Open"},
    {"PopupTree/Browser Functions", "Show in File Manager", "",
     "TBrowserFunctions::ShowInFileManager"},
    {"PopupList/Browser Functions", "Open", "", "TBrowserFunctions::Open"},
    {"PopupList/Browser Functions", "Show in File Manager", "",
     "TBrowserFunctions::ShowInFileManager"},
    {"PopupGrid", "Tidy Grid", "", "TInclusionGrid::Tidy"},
    {"PopupGrid", "Clear Grid", "", "TInclusionGrid::Clear"},
    {"PopupArchive/Extract Selected", "OverWrite", "", "extract selected, overwriting"},
    {"PopupArchive/Extract Selected", "NoOverwrite", "", "extract selected, not overwriting"},
    {"PopupArchive/Extract All", "Overwrite", "", "extract all, overwriting"},
    {"PopupArchive/Extract All", "NoOverwrite", "", "extract all, not overwriting"},
    {"PopupArchive", "Goto First", "", "TArchiveViewController::GotoFirst1Click"},
    {"PopupArchive", "Goto Last", "", "TArchiveViewController::GotoLast1Click"},
    {"PopupArchive", "Delete Selected", "", "TMaintenanceController::DeleteButClick"},
    {"PopupArchive", "Clear Selected", "", "TArchiveViewController::ClearSelected1Click"},
    {"PopupArchive", "NameToFileSearch", "", "TNaming::NameToFilename1Click"},
    {"PopupArchive", "Get ZIP", "", "TArchiveSearch::GetZBtn1Click"},
    {"PopupArchive", "Open", "", "TArchiveViewController::Open1Click"},
    {"PopupTray", "EXIT", "", "TAppLifecycle::FormCloseQuery"},
    {"PopupTray/Help", "Help", "", "TAppLifecycle::Help1Click"},
    {"PopupTray/Help", "About", "", "TMainform::About"},
    {"PopupTray", "Restore", "", "TWindowAutomation::TrayRestore"},
    {"PopupTray", "Pause", "", "TTrayLife::PauseItem"},
    {"PopupTray", "Resume", "", "TTrayLife::ResumeItem"},
    {"popup", "", "ReportBox", "opens PopupReport"},
    {"popup", "", "ExplorerTree", "opens PopupTree"},
    {"popup", "", "ExplorerList", "opens PopupList"},
    {"popup", "", "InclusionGrid", "opens PopupGrid"},
    {"popup", "", "ArchiveView", "opens PopupArchive"},
    // The button bar, the tabs' buttons and boxes, the status bar's and the menu bar's.
    {"button", "&Restore", "ZipOpenBut", "TArchiveViewController::ZipOpenButClick"},
    {"button", "o&PenJob", "OpenCbutton", "TJobController::OpenCbutton"},
    {"button", "&SaveJob", "SaveCbtn", "TJobController::SaveCbtnClick"},
    {"button", "&NewZIP", "NewZipBut", "name a new archive (TNaming::NewZipButClick)"},
    {"button", "New&EXE", "NewEXEBut", "name a new self-extractor (TNaming::NewZipButClick)"},
    {"button", "&AddToZIP", "AddBut", "TBackupRun::AddButClick"},
    {"button", "Pause", "PauseBtn", "TBackupRun::PauseBtnClick"},
    {"button", "&WriteZIP", "WriteZbtn", "TBackupRun::WriteZbtnClick"},
    {"button", "…", "ComboEdit1Button", "TOptionEdit::ButtonClick"},
    {"button", "…", "ComboEdit2Button", "TOptionEdit::ButtonClick"},
    {"button", "Make these settings default", "MakeDefaultBtn", "TSettingsFiles::SetDefaultClick"},
    {"button", "Define", "StealthDefineBtn", "name the stealth archive (TNaming::NewZipButClick)"},
    {"button", "Start", "StealthStartBtn", "TStealth::StartStealth"},
    {"button", "&WriteZIP", "BasicWriteZbtn", "TBackupRun::WriteZbtnClick"},
    {"button", "SaveComment", "SaveCommentBtn", "TRunReport::SaveCommentClick"},
    {"button", "ReportToZIP", "ReportToZIPBtn", "TRunReport::ReportToZIP1Click"},
    {"button", "Open JOB file", "SchedOpenJobBtn",
     "the scheduler's job (TJobController::OpenCbutton)"},
    {"button", "Set", "SchedSetBtn", "TScheduler::Set"},
    {"button", "Forget", "SchedForgetBtn", "TScheduler::Forget"},
    {"button", "QuickSearch", "QuickSearchCheck", "a box preference (TSettingsFiles)"},
    {"button", "&Global", "GlobalBtn", "TArchiveSearch::Gdir1Click"},
    {"button", "&GetZIP", "GetZBtn1", "TArchiveSearch::GetZBtn1Click"},
    {"button", "F3", "GrepeatBtn", "TArchiveSearch::GrepeatClick"},
    {"button", "E&xtract", "ExtractBut", "TExtractController::ExtractButClick"},
    {"button", "Abort", "AbortBut", "TExtractController::BitBtn2Click"},
    {"button", "&Delete", "DeleteBut", "TMaintenanceController::DeleteButClick"},
    {"button", "&KillZIP", "DeleteZipBut", "TMaintenanceController::DeleteZipButClick"},
    {"button", "Large Fonts", "LargeFontsCheck", "TArchiveViewController::LargeFonts1Click"},
    {"button", "✓", "SizeCalcBtn", "TSizeCalculator::SizeCalcClick"},
    {"button", "?", "ContextHelpButton", "QWhatsThis::enterWhatsThisMode"},
    // Keys, the tray icon's click and the timers.
    {"key", "", "Esc", "TWindowLife::EscapePressed"},
    {"key", "", "F3", "TArchiveSearch::GrepeatClick"},
    {"key", "", "Shift+F1", "QWhatsThis::enterWhatsThisMode"},
    {"tray", "", "TrayIcon1", "TTrayLife::Restore"},
    {"timer", "", "Timer1", "TStealth::Tick"},
    {"timer", "", "SchedTimer", "TScheduler::SchedulerTimerTimer"},
};

std::string Name(const Command& c) {
  return std::string(c.where) + " \"" + c.caption + "\" " + c.control;
}

QMenu* MenuAt(TMainform& w, const QString& path) {
  const QStringList parts = path.split('/');
  QMenu* menu = w.popupMenu(parts[0]);
  QList<QAction*> actions = menu ? menu->actions() : w.menuBar()->actions();
  int i = menu ? 1 : 0;
  // "Backup/Restore" is one caption with a slash in it.
  for (; i < parts.size(); ++i) {
    QString caption = parts[i];
    if (caption == "Backup" && parts.value(i + 1) == "Restore") caption += "/" + parts[++i];
    menu = nullptr;
    for (QAction* a : actions)
      if (a->menu() && a->text() == caption) menu = a->menu();
    if (!menu) return nullptr;
    actions = menu->actions();
  }
  return menu;
}

// The control a command names, or null.
QObject* ControlOf(TMainform& w, const Command& c) {
  const QString where = c.where, control = c.control;
  if (where == "button") {
    auto* b = w.findChild<QAbstractButton*>(control);
    return b && b->text() == c.caption ? b : nullptr;
  }
  if (where == "timer") return w.findChild<QTimer*>(control);
  if (where == "tray") return w.trayIcon()->objectName() == control ? w.trayIcon() : nullptr;
  if (where == "popup") return w.findChild<QWidget*>(control);
  if (where == "key") return &w;
  const QList<QAction*> actions = where.isEmpty()    ? w.menuBar()->actions()
                                  : MenuAt(w, where) ? MenuAt(w, where)->actions()
                                                     : QList<QAction*>();
  QAction* found = nullptr;
  for (QAction* a : actions) {
    if (a->menu() || a->isSeparator() || a->text() != c.caption) continue;
    if (found) return nullptr;  // a second item of the same caption
    found = a;
  }
  return found;
}

// Triggers a command as the user would (a disabled control is enabled first).
void Trigger(TMainform& w, const Command& c, QObject* o) {
  const QString where = c.where;
  if (auto* a = qobject_cast<QAction*>(o)) {
    a->setEnabled(true);
    a->trigger();
  } else if (auto* b = qobject_cast<QAbstractButton*>(o)) {
    b->setEnabled(true);
    b->click();
  } else if (auto* t = qobject_cast<QTimer*>(o)) {
    QMetaObject::invokeMethod(t, "timeout");
  } else if (auto* tray = qobject_cast<QSystemTrayIcon*>(o)) {
    emit tray->activated(QSystemTrayIcon::Trigger);
  } else if (where == "key") {
    const QKeySequence key = QKeySequence::fromString(c.control);
    QTest::keyClick(w.explorerTree(), key[0].key(), key[0].keyboardModifiers());
  } else if (auto* v = qobject_cast<QWidget*>(o)) {
    emit v->customContextMenuRequested(QPoint(1, 1));
  }
}

// The mnemonic letters of captions, with the captions that share one.
QStringList SharedMnemonics(const QStringList& captions) {
  QMap<QChar, QStringList> by;
  for (const QString& text : captions) {
    for (int i = 0; i + 1 < text.size(); ++i) {
      if (text[i] != '&') continue;
      if (text[i + 1] == '&') {
        ++i;
        continue;
      }
      by[text[i + 1].toLower()] << text;
      break;
    }
  }
  QStringList shared;
  for (auto it = by.begin(); it != by.end(); ++it)
    if (it.value().size() > 1) shared << it.value().join(" + ");
  return shared;
}

void CollectActions(QMenu* menu, QList<QAction*>& out) {
  for (QAction* a : menu->actions()) {
    if (a->isSeparator()) continue;
    if (a->menu())
      CollectActions(a->menu(), out);
    else
      out << a;
  }
}

// Every command exists with its caption and reaches exactly its operation; nothing is bound that
// the list above lacks; the mnemonics of each menu and of the window's buttons are unique.
TEST_F(WiringTest, EveryCommandOfTheWindowReachesItsOperation) {
  TBindingSpy spy;
  TMainform w;
  QSet<QObject*> walked;
  for (const Command& c : kCommands) {
    QObject* o = ControlOf(w, c);
    ASSERT_TRUE(o) << "missing, or not of this caption: " << Name(c);
    walked.insert(o);
    spy.calls.clear();
    Trigger(w, c, o);
    if (!c.handler) {
      EXPECT_TRUE(spy.calls.empty()) << Name(c);
      continue;
    }
    ASSERT_EQ(spy.calls.size(), 1u) << "not bound once: " << Name(c);
    const TBindingSpy::Call& call = spy.calls.front();
    ASSERT_TRUE(call.operation.contains(c.handler))
        << Name(c) << " reaches " << call.operation.toStdString();
    if (QString(c.where) != "key") {
      ASSERT_EQ(call.control, o->objectName()) << Name(c);
    }
  }

  // Nothing is bound that the list lacks; no row of the table lacks its control; one command
  // per control.
  QSet<QString> commandControls;
  for (const Command& c : kCommands)
    if (QString(c.where) == "key") commandControls.insert(c.control);
  for (QObject* o : walked) commandControls.insert(o->objectName());
  QSet<QString> rows;
  for (const TBinding& b : w.bindings()) {
    ASSERT_TRUE(BoundControl(w, b)) << b.control.toStdString();
    if (b.kind == TBinding::State) continue;
    EXPECT_TRUE(commandControls.contains(b.control))
        << "bound, but not a command of the window: " << b.control.toStdString() << " ("
        << b.operation.toStdString() << ")";
    EXPECT_FALSE(rows.contains(b.control)) << "bound twice: " << b.control.toStdString();
    rows.insert(b.control);
    if (b.kind != TBinding::Key) {
      int count = 0;
      for (QObject* c : w.findChildren<QObject*>(b.control))
        if (!qobject_cast<QMenu*>(c)) ++count;
      EXPECT_EQ(count, 1) << "a second object shadows " << b.control.toStdString();
    }
  }
  // Every item of the menus and every push or tool button of the window is a command above (the
  // recent jobs of "&File" are the job list's own entries).
  QList<QAction*> items;
  for (QAction* a : w.menuBar()->actions())
    if (a->menu())
      CollectActions(a->menu(), items);
    else
      items << a;
  for (const char* popup :
       {"PopupReport", "PopupTree", "PopupList", "PopupGrid", "PopupArchive", "PopupTray"})
    CollectActions(w.popupMenu(popup), items);
  for (QAction* a : items)
    EXPECT_TRUE(walked.contains(a) || w.recentMenu()->Actions().contains(a))
        << "an item no command names: " << a->text().toStdString();
  for (QAbstractButton* b : w.findChildren<QAbstractButton*>()) {
    if (!qobject_cast<QPushButton*>(b) && !qobject_cast<QToolButton*>(b)) continue;
    // The parts of Qt's own widgets: the tab bars' arrows, the menu bar's extension.
    if (qobject_cast<QTabBar*>(b->parentWidget()) || b->objectName().startsWith("qt_") ||
        b->objectName().isEmpty())
      continue;
    EXPECT_TRUE(walked.contains(b))
        << "a button no command names: " << b->objectName().toStdString();
  }

  // Mnemonics: unique in every menu; the window's buttons and menu titles together share only the
  // letters their own captions double ("&Global"/"&GetZIP", and the two
  // "&WriteZIP" of one operation), and "&File" only the twelfth recent job's "&C" with "&Clear
  // History".
  for (int i = 12; i >= 1; --i)
    w.context().History->SetCurrentFile(QString("/jobs/j%1.JOB").arg(i));
  QList<QMenu*> menus = w.menuBar()->findChildren<QMenu*>();
  for (QMenu* m : w.findChildren<QMenu*>())
    if (!menus.contains(m)) menus << m;
  for (QMenu* m : menus) {
    QStringList captions;
    for (QAction* a : m->actions())
      if (!a->isSeparator()) captions << a->text();
    const QStringList shared = SharedMnemonics(captions);
    if (m->objectName() == "File1") {
      ASSERT_EQ(w.recentMenu()->Actions().size(), 12);
      EXPECT_EQ(shared.join(", ").toStdString(), "&Clear History + &C /jobs/j12.JOB");
    } else {
      EXPECT_TRUE(shared.isEmpty())
          << m->objectName().toStdString() << ": " << shared.join(", ").toStdString();
    }
  }
  QStringList captions;
  for (QAction* a : w.menuBar()->actions()) captions << a->text();
  for (QAbstractButton* b : w.findChildren<QAbstractButton*>()) captions << b->text();
  EXPECT_EQ(SharedMnemonics(captions).join(", ").toStdString(),
            "&Global + &GetZIP, &WriteZIP + &WriteZIP");

  // A row whose control is missing is reported by the table's application.
  TBindings broken = {OnButton("NoSuchButton", "nothing", [](bool) {}),
                      SwitchedBy(ctl::kSizeList, "an option list")};
  EXPECT_EQ(ApplyBindings(w, broken), QStringList{"NoSuchButton"});
  // The option lists and size edits are the models' views.
  const QStringList missing = InstallOptionViews(w.centralWidget(), *w.context().Lists);
  EXPECT_TRUE(missing.isEmpty()) << missing.join(' ').toStdString();
  EXPECT_EQ(w.findChildren<TOptionListView*>().size(), 13);
}

// The same commands with their real operations, the user backing out of every box and dialog:
// nothing crashes, leaks or reaches outside (the desktop, the file manager, the web and the hotkey
// dialog are fakes; no program is found on PATH). Disabled controls are left, as for the user.
TEST_F(WiringTest, EveryCommandRunsWithTheUserBackingOutOfEverything) {
  struct Desktop : restore::IDesktopLauncher, IDesktopShell, IUrlOpener, IHotkeyDialog {
    QStringList opened;
    bool OpenFile(const QString& path, const QString&) override { return Opened(path); }
    bool OpenUrl(const QUrl& url) override { return Opened(url.toString()); }
    bool OpenUrl(const QString& url) override { return Opened(url); }
    void ShowItems(const QList<QUrl>& items, std::function<void(bool)> done) override {
      for (const QUrl& u : items) opened << "show " + u.toString();
      done(false);
    }
    Result Run(const QString&, THotkey&) override { return Result::Cancel; }
    bool Opened(const QString& what) {
      opened << what;
      return false;
    }
  } desktop;
  FirstRunDone();
  const QByteArray path = qgetenv("PATH");
  ::mkdir((tmp_ / "nobin").c_str(), 0700);
  qputenv("PATH", QByteArray::fromStdString(tmp_ / "nobin"));
  host_.AnswerCancel(true);
  dialogs_.cancelAll = true;
  {
    auto w = Window();
    w->SetDesktopLauncher(&desktop);
    w->browserFunctions()->SetShell(&desktop);
    w->automation()->SetUrlOpener(&desktop);
    w->life()->SetHotkeyDialog(&desktop);
    // Qt's own modal dialogs (About, the burner's settings) are closed as they open.
    QStringList modals;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
      if (QWidget* m = QApplication::activeModalWidget()) {
        modals << m->objectName();
        m->close();
      }
    });
    closer.start(20);
    QStringList skipped;
    // Found first: "Hints" empties the caption of the menu bar's last item.
    QMap<const Command*, QPointer<QObject>> controls;
    for (const Command& c : kCommands) controls[&c] = ControlOf(*w, c);
    auto run = [&](const Command& c) {
      QObject* o = controls[&c];
      ASSERT_TRUE(o) << Name(c);
      auto* a = qobject_cast<QAction*>(o);
      auto* b = qobject_cast<QAbstractButton*>(o);
      if ((a && !a->isEnabled()) || (b && !b->isEnabled())) {
        skipped << QString::fromStdString(Name(c));
        return;
      }
      SCOPED_TRACE(Name(c));
      Trigger(*w, c, o);
      QTest::qWait(30);
      if (QWhatsThis::inWhatsThisMode()) QWhatsThis::leaveWhatsThisMode();
      if (QWidget* popup = QApplication::activePopupWidget()) popup->close();
    };
    // Closing the window comes last.
    for (const Command& c : kCommands)
      if (!QString(c.handler).contains("FormCloseQuery")) run(c);
    for (const Command& c : kCommands)
      if (QString(c.handler).contains("FormCloseQuery")) run(c);
    closer.stop();
    // Every dialog was closed.
    EXPECT_FALSE(modals.isEmpty());
    EXPECT_FALSE(QApplication::activeModalWidget());
    // Nothing ran outside the test's fakes; every box was answered.
    EXPECT_EQ(host_.PendingAnswers(), 0);
    // The controls a user cannot reach in a fresh window.
    EXPECT_FALSE(skipped.isEmpty());
    // "Browser Functions" of the tree: the highlighted folder opened, then shown in the file
    // manager, which is not there, so its parent folder is opened instead.
    ASSERT_FALSE(desktop.opened.isEmpty());
    const QUrl folder(desktop.opened[0]);
    EXPECT_TRUE(folder.isLocalFile()) << desktop.opened[0].toStdString();
    const qsizetype shown = desktop.opened.indexOf("show " + folder.toString());
    EXPECT_GT(shown, 0);
    EXPECT_GT(
        desktop.opened.indexOf(
            folder.adjusted(QUrl::RemoveFilename | QUrl::StripTrailingSlash).toString(), shown),
        shown);
  }
  // A name that is not UTF-8 keeps its bytes in the URL handed to the desktop.
  EXPECT_EQ(LocalFileUrl("/tmp/a b/\xff&#").toEncoded().toStdString(),
            "file:///tmp/a%20b/%FF%26%23");
  qputenv("PATH", path);
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

  // An archive read through the scan of a damaged directory is named under the archive view
  // until the window goes idle again.
  const std::string damaged = tmp_ / "damaged.zip";
  WriteFile(tmp_ / "a.txt", "hello");
  TArcZip writer;
  writer.SetZipName(damaged);
  writer.FilesList.push_back(tmp_ / "a.txt");
  ASSERT_EQ(writer.ZipFiles(), 1);
  ASSERT_TRUE(testutil::DamageCentralSignature(damaged));
  auto* note = w->findChild<QLabel*>(ctl::kArchiveNote);
  ASSERT_NE(note, nullptr);
  EXPECT_TRUE(note->isHidden());
  ASSERT_TRUE(w->context().ArchiveView->ReadZipFile(QString::fromStdString(damaged)));
  EXPECT_FALSE(note->isHidden());
  EXPECT_TRUE(note->text().startsWith("Damaged central directory (")) << note->text().toStdString();
  w->context().Options->Setstate(0);
  EXPECT_TRUE(note->isHidden());
}

// A volume service that holds one folder on a removable stick.
struct OneStick : TStatVolumeService {
  std::string stick;
  TDriveFacts Drive(const std::string& path) override {
    TDriveFacts f;
    f.known = true;
    f.removable = path.rfind(stick, 0) == 0;
    return f;
  }
  bool IsRemovable(const std::string& path) override { return Drive(path).removable; }
};

// The option rules ask the window itself: whether the archive goes straight onto a removable
// disk ("SPAN (auto-size)" then offers "Erase Disk First" and keeps the volume-name choice), and
// whether a global search's results are shown ("Treeview" is then refused).
TEST_F(WiringTest, OptionRulesAskTheWindowForTheArchivesDriveAndTheSearchResults) {
  FirstRunDone("Expert=1\n");  // the advanced view: "SPAN (auto-size)" asks nothing
  OneStick volumes;
  volumes.stick = tmp_ / "stick";
  ::mkdir(volumes.stick.c_str(), 0700);
  auto w = Window();
  w->SetVolumeService(&volumes);
  TOptionLists& lists = *w->context().Lists;
  const struct {
    const char* name;
    std::string archive;
    bool erase;  // "Erase Disk First" offered
  } rows[] = {
      {"on the stick", volumes.stick + "/docs.zip", true},
      {"on a fixed disk", tmp_ / "docs.zip", false},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    w->context().ZipName = Q(r.archive);
    lists.basicSizeList.Click(opt::kBasicStandard);
    lists.basicSizeList.Click(opt::kBasicSpan);
    EXPECT_TRUE(lists.directoryList.Checked(opt::kDirSpan));
    EXPECT_EQ(lists.directoryList.ItemEnabled(opt::kDirErase), r.erase);
    EXPECT_EQ(lists.directoryList.ItemEnabled(opt::kDirSpanNoVolume), r.erase);
  }
  w->SetVolumeService(nullptr);

  // A global search over a folder holding a matching archive.
  if (testutil::HaveTool("zip")) {
    MakeData();
    ASSERT_EQ(
        testutil::Run("cd " + testutil::Quote(tmp_.path()) + " && zip -qr found.zip data").status,
        0);
    w->context().Prefs->Write("GFindDIR", Q(tmp_.path() + "/"));
    w->findChild<QComboBox*>("ComboBox1")->lineEdit()->setText("c.txt");
    w->archiveSearch()->GrepeatClick();
    ASSERT_TRUE(w->archiveSearch()->SearchResultsShown());
    lists.viewList.Click(opt::kViewTree);
    EXPECT_TRUE(lists.viewList.Checked(opt::kViewList));
  }
  EXPECT_TRUE(host_.transcript().isEmpty()) << host_.Texts().join('|').toStdString();
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
