// The main window: its menus, its pages put together, its adapters, and the table that binds
// every command control to its operation.
#include "ui/mainform.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QScreen>
#include <QScrollArea>
#include <QSessionManager>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>
#include <QWhatsThis>

#include "app/explorer.h"
#include "app/filemenuhandler.h"
#include "app/inclusiongrid.h"
#include "app/instancemanager.h"
#include "app/jobcontroller.h"
#include "app/mainwiring.h"
#include "app/mb.h"
#include "app/optionscontroller.h"
#include "app/settingsfiles.h"
#include "app/sizecalculator.h"
#include "backup/backupcore.h"
#include "backup/backuprun.h"
#include "backup/burncommands.h"
#include "backup/naming.h"
#include "backup/restorepoint.h"
#include "backup/spanning.h"
#include "restore/archivesearch.h"
#include "restore/archiveviewcontroller.h"
#include "restore/extractcontroller.h"
#include "restore/maintenance.h"
#include "restore/repaircontroller.h"
#include "ui/aboutdialog.h"
#include "ui/archiveview.h"
#include "ui/backupwindow.h"
#include "ui/browserfunctions.h"
#include "ui/contexthelp.h"
#include "ui/explorerviews.h"
#include "ui/filedialogs.h"
#include "ui/optionlistview.h"
#include "ui/recentmenu.h"
#include "ui/reportview.h"
#include "ui/restorewindow.h"
#include "ui/tabbuilders.h"
#include "ui/widgetkit.h"
#include "ui/windowautomation.h"
#include "ui/windowcontrols.h"
#include "ui/windowhosts.h"
#include "ui/windowlife.h"
#include "ui/windownames.h"
#include "ui/windowstealth.h"

using ui::AddItem;
using ui::AddRadioItems;
using ui::AddSub;
using ui::S;

namespace {

// Client area of the window.
constexpr int kClientWidth = 792;
constexpr int kClientHeight = 526;
// Room left around the window for the window manager's frame and title bar, per side.
constexpr int kFrameAllowance = 16;

QMenu* AddMenu(QMenuBar* bar, const char* name, const char* caption) {
  QMenu* m = bar->addMenu(S(caption));
  m->setObjectName(S(name));
  m->menuAction()->setObjectName(S(name));
  return m;
}

}  // namespace

TMainform::TMainform(const QStringList& args, TInstanceManager* instance, QWidget* parent)
    : QMainWindow(parent),
      controls_(std::make_unique<TWindowControls>(*this)),
      startup_(std::make_unique<TWindowStartup>(*this)),
      main_(std::make_unique<TWindowMain>(*this)),
      modes_(std::make_unique<TWindowModes>(*this)),
      scheduler_(std::make_unique<TWindowScheduler>(*this)),
      archiveWindow_(std::make_unique<TArchiveWindow>(*this, *startup_, *modes_)),
      searchResults_(std::make_unique<TSearchResultsForwarder>()),
      dialogs_(std::make_unique<TDialogForwarder>()),
      desktop_(std::make_unique<TDesktopForwarder>()),
      instance_(instance) {
  setObjectName(QStringLiteral("Mainform"));
  ctx_.CmdArgs = args;
  lifecycle_ = std::make_unique<TAppLifecycle>(ctx_, *startup_, *controls_);
  lifecycle_->SetInstanceManager(instance);
  lifecycle_->SetProgramPath(QApplication::applicationFilePath());
  qtDialogs_ = std::make_unique<TQtFileDialogHost>(this);
  dialogs_->target = qtDialogs_.get();
  // The subsystems first: the views below show their models.
  WireSubsystems(ctx_, *controls_, *startup_, *main_, *modes_, *scheduler_, *dialogs_);
  backupHost_ = std::make_unique<TBackupWindowHost>(this);
  backupSeams_ = std::make_unique<TWindowBackupSeams>(*this);
  backup_ = std::make_unique<TBackupCore>(ctx_, *controls_, *backupHost_, *backupHost_,
                                          *backupHost_, *backupSeams_);
  backup_->spanning().fileDialogs = dialogs_.get();

  setWindowIcon(ui::ProgramIcon());
  setWindowTitle(QStringLiteral("Arcavo V") + TAppLifecycle::VersionDigitsOf(S(ARCAVO_VERSION)));
  setWindowFlag(Qt::WindowContextHelpButtonHint, true);
  setWindowFlag(Qt::WindowMaximizeButtonHint, false);

  BuildMenus();
  BuildClientArea();
  BuildPopups();

  // The option lists' views replace the placeholder lists; the size edits are bound.
  const QStringList missing = InstallOptionViews(centralWidget(), *ctx_.Lists);
  if (!missing.isEmpty())
    qWarning("option lists without a view: %s", qPrintable(missing.join(' ')));
  recentMenu_ = new TRecentMenu(ctx_.History.get(), findChild<QMenu*>(S(ctl::kFileMenu)));
  // The basic or expert view of the preference (the default file may change it at start-up).
  ctx_.Options->ApplyExpertView();

  timer1_ = new QTimer(this);
  timer1_->setObjectName(S(ctl::kGeneralTimer));
  timer1_->setInterval(1000);
  schedTimer_ = new QTimer(this);
  schedTimer_->setObjectName(S(ctl::kSchedulerTimer));
  schedTimer_->setInterval(60000);

  trayIcon_ = new QSystemTrayIcon(ui::ProgramIcon(), this);
  trayIcon_->setObjectName(S(ctl::kTrayIcon));
  trayIcon_->setContextMenu(popupMenu(S(ctl::kTrayPopup)));
  automation_ = std::make_unique<TWindowAutomation>(*this, *startup_);
  stealth_ = std::make_unique<TWindowStealth>(*this, *startup_);
  // A new archive named ("&NewZIP", "Define") ends the monitoring of the old one.
  backupHost_->clearDirMonitors = [this] { stealth_->logic().FreeDirMonitors(); };
  life_ = std::make_unique<TWindowLife>(*this, *startup_);
  browser_ = std::make_unique<TBrowserFunctions>(*this);

  Wire();
  qApp->installEventFilter(this);

  // Context help ("?" or Shift+F1, then a click on a control): its hint and its help section.
  ApplyContextHelp(*this);

  // The window starts at its usual client size, or larger when its content needs more room (a
  // larger font); it never shrinks below what its content needs. It starts centred.
  const int menuHeight = menuBar()->sizeHint().height();
  // The option views replaced their placeholders inside tabs that were never shown, and the
  // layouts there still hold the sizes they cached before: drop every cached size, so the first
  // size of the window already fits every tab.
  for (QWidget* w : findChildren<QWidget*>()) w->updateGeometry();
  for (QLayout* l : findChildren<QLayout*>()) l->invalidate();
  QSize least = findChild<QWidget*>(QStringLiteral("ClientContent"))->minimumSizeHint();
  least.rheight() += menuHeight;
  QSize size(std::max(kClientWidth, least.width()),
             std::max(kClientHeight + menuHeight, least.height()));
  // Within the screen's free area, with room for the frame a window manager adds (its size is
  // known only once the window is shown): a larger scale shrinks it, and the content scrolls.
  if (QScreen* s = QGuiApplication::primaryScreen()) {
    const QRect free = s->availableGeometry();
    size = size.boundedTo(free.size() - QSize(kFrameAllowance, 3 * kFrameAllowance));
    resize(size);
    QPoint at = free.center() - QPoint(size.width() / 2, size.height() / 2);
    at.setX(std::max(at.x(), free.left()));
    at.setY(std::max(at.y(), free.top()));
    move(at);
  } else {
    resize(size);
  }
}

TMainform::~TMainform() {
  if (qApp) qApp->removeEventFilter(this);
  // Nothing asks the search or the maintenance commands once they are gone.
  searchResults_->target = nullptr;
  ctx_.DeletingEntries = nullptr;
  ctx_.GlobalSearchRunning = nullptr;
  // The views go before the models they show (the models live in ctx_).
  delete takeCentralWidget();
}

void TMainform::FormCreate() {
  lifecycle_->FormCreate();
}

IControlHost& TMainform::controls() {
  return *controls_;
}

IMainWindow& TMainform::mainWindow() {
  return *main_;
}

QObject* TMainform::FindControl(const QString& name) const {
  return controls_->FindControl(name);
}

bool TMainform::hintsShown() const {
  return startup_->hintsShown();
}

QMenu* TMainform::popupMenu(const QString& name) const {
  for (QMenu* m : popups_)
    if (m->objectName() == name) return m;
  return nullptr;
}

IFileDialogHost& TMainform::fileDialogs() {
  return *dialogs_;
}

void TMainform::SetFileDialogHost(IFileDialogHost* host) {
  dialogs_->target = host ? host : qtDialogs_.get();
}

// --- Menus ---

void TMainform::BuildMenus() {
  QMenuBar* bar = menuBar();
  bar->setObjectName(QStringLiteral("MainMenu1"));

  BuildFileMenu(AddMenu(bar, ctl::kFileMenu, "&File"));
  QMenu* view = AddMenu(bar, "View1", "&View");
  AddItem(view, ctl::kViewCommentItem, "&Zip comment");
  AddItem(view, "LastError1", "&Last error");
  BuildOptionsMenu(AddMenu(bar, "Options1", "&Options"));
  BuildToolsMenu(AddMenu(bar, "Tools1", "&Tools"));
  BuildHelpMenu(AddMenu(bar, "Help1", "&Help"));

  QAction* last = bar->addAction(
      S("          For context Help, click the '?' icon, top right, then click in questioned "
        "area"));
  last->setObjectName(S(ctl::kContextHelpItem));

  // The context-help button ("?"): the next click on a control shows its help text.
  auto* what = new QToolButton(bar);
  what->setObjectName(S(ctl::kContextHelpButton));
  what->setText(QStringLiteral("?"));
  what->setAutoRaise(true);
  bar->setCornerWidget(what, Qt::TopRightCorner);

  for (QMenu* m : bar->findChildren<QMenu*>()) m->setToolTipsVisible(true);
}

void TMainform::BuildFileMenu(QMenu* file) {
  // The desktop's usual keys where no key of the program's own takes them.
  AddItem(file, ctl::kNewZipItem, "&New Zip")->setShortcut(QKeySequence::New);
  QMenu* moz = AddSub(file, "MoZillabackup1", "Mo&Zilla backup");
  const char* mozCaptions[] = {"Thunderbird&&Firefox all data", "Thunderbird all data",
                               "Thunderbird profile", " Firefox profile"};
  for (int i = 0; i < 4; ++i) AddItem(moz, ctl::kPresetItems[i], mozCaptions[i])->setData(i + 1);
  AddItem(file, ctl::kRestoreItem, "&Restore")->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
  AddItem(file, ctl::kOpenJobItem, "&Open Job")->setShortcut(QKeySequence::Open);
  AddItem(file, ctl::kModifyJobItem, "&Modify Job");
  AddItem(file, ctl::kSaveJobItem, "&Save Job")->setShortcut(QKeySequence::Save);
  AddItem(file, ctl::kClearHistoryItem, "&Clear History");
  AddItem(file, ctl::kExitItem, "E&xit")->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
}

void TMainform::BuildOptionsMenu(QMenu* opt) {
  AddItem(opt, ctl::kSetDefaultItem, "Set Default");
  AddItem(opt, "BurnerSettings1", "&Burner Settings");
  QMenu* mainProg = AddSub(opt, "MainProgram1", "Main Program");
  QMenu* expert = AddSub(mainProg, "ExpertMode1", "Expert Mode");
  AddRadioItems(expert, {{ctl::kBasicItem, "Basic"}, {ctl::kAdvancedItem, "Advanced"}}, 0);
  QMenu* start = AddSub(mainProg, "Start1", "Start");
  AddItem(start, ctl::kStartMinimisedItem, "Start Minimised", true);
  AddItem(start, ctl::kStartUpItem, "StartUp", true);
  AddItem(mainProg, ctl::kMinToTrayItem, "Minimise To Tray", true);
  AddItem(mainProg, ctl::kThemeManagerItem, "ThemeManager", true, true);

  BuildBackupRestoreMenu(AddSub(opt, "BackupRestore1", "Backup/Restore"));

  QMenu* stealth = AddSub(opt, "Stealth1", "Stealth");
  AddItem(stealth, ctl::kStealthEnableItem, "Enable", true, true);
  AddItem(stealth, ctl::kStealthExclZipItem, "StealthExclZIP", true, true);
  AddItem(stealth, ctl::kStealthAtStartUpItem, "Stealth@StartUp", true);
  AddItem(stealth, ctl::kMinimizeOnLoadItem, "MinimizeOnLoad", true, true);
  AddItem(stealth, ctl::kAutoRenameOnSizeItem, "AutoRenameOnSize", true, true);
  AddItem(stealth, ctl::kDefineHotKeyItem, "Define HotKey");
}

void TMainform::BuildBackupRestoreMenu(QMenu* br) {
  QMenu* clr = AddSub(br, "ClearDiskMethod1", "Clear Disk Method");
  AddRadioItems(clr,
                {{ctl::kPromptEraseItem, "Prompt Erase Files"},
                 {ctl::kNoPromptEraseItem, "No Prompt Erase Files"}},
                0);
  QMenu* tmp = AddSub(br, "TemporaryDIR1", "TemporaryDIR");
  AddRadioItems(tmp, {{ctl::kTempDefaultItem, "Default"}, {ctl::kTempSelectItem, "Select"}}, 0);
  AddItem(br, ctl::kCheckSpaceItem, "Check Space", true, true);
  QMenu* dtf = AddSub(br, "DateTimeFormat1", "DateTimeFormat");
  AddRadioItems(dtf,
                {{ctl::kDateTimeFormatItems[0], "2003-Jan-03"},
                 {ctl::kDateTimeFormatItems[1], "2003-01-03"},
                 {ctl::kDateTimeFormatItems[2], "2003-Jan-03_1535"},
                 {ctl::kDateTimeFormatItems[3], "2003-01-03_1535"}},
                0);
  AddItem(br, ctl::kFullReportItem, "FullBackupReport", true, true);
  QMenu* jobDir = AddSub(br, "JobDIR1", "JobDIR");
  AddRadioItems(jobDir, {{ctl::kProgramDirItem, "ProgramDIR"}, {ctl::kBackupDirItem, "BackupDIR"}},
                0);
  QMenu* sort = AddSub(br, "ArchiveSortBy1", "Archive SortBy");
  AddRadioItems(sort,
                {{ctl::kSortByItems[0], "Filename"},
                 {ctl::kSortByItems[1], "FileName Descending"},
                 {ctl::kSortByItems[2], "Size"},
                 {ctl::kSortByItems[3], "Size Descending"},
                 {ctl::kSortByItems[4], "DateTime"},
                 {ctl::kSortByItems[5], "DateTime Descending"}},
                0);
  AddItem(br, ctl::kDisplayEmptyDirItem, "Display Empty Dir", true, true);
  AddItem(br, ctl::kPromptSkipOpenFilesItem, "PromptSkipOpenFiles", true, true);
  AddItem(br, ctl::kSchedPromptItem, "SchedBackup Prompt", true, true);
}

void TMainform::BuildToolsMenu(QMenu* tools) {
  AddItem(tools, "SystemRestore1", "System Restore");
  AddItem(tools, ctl::kToolsCommentItem, "ZIPcomment");
  AddItem(tools, ctl::kConvertItem, "ConvertZIPtoEXE")->setEnabled(false);
  AddItem(tools, ctl::kZipTestItem, "ZIPtest")->setEnabled(false);
  AddItem(tools, ctl::kZipFixItem, "ZIPfix");
  AddItem(tools, "MoveBlocks1", "Move Blocks");
  QMenu* erase = AddSub(tools, "EraseCDRW1", "EraseCDRW");
  AddItem(erase, "Quick1", "Quick");
  AddItem(erase, "Full1", "Full");
  AddItem(tools, "CDproperties1", "&CD/CDRW properties");
  AddItem(tools, "Burn1", "Copy2&Burner");
}

void TMainform::BuildHelpMenu(QMenu* help) {
  AddItem(help, ctl::kHelpItem, "Help")->setShortcut(QKeySequence(Qt::Key_F1));
  AddItem(help, ctl::kHintsItem, "Hints", true, true);
  QMenu* feedback = AddSub(help, "FeedBack1", "FeedBack");
  AddItem(feedback, ctl::kBugReportItem, "Bug Report");
  AddItem(feedback, ctl::kInformationRequestItem, "Information Request");
  AddItem(help, "Check4Update1", "&Check4Update");
  AddItem(help, ctl::kAboutItem, "&About");
}

void TMainform::BuildPopups() {
  auto popup = [this](const char* name) {
    auto* m = new QMenu(this);
    m->setObjectName(S(name));
    popups_.append(m);
    return m;
  };

  QMenu* report = popup(ctl::kReportPopup);
  AddItem(report, ctl::kSaveReportItem, "SavetoRTF File");
  AddItem(report, rctl::kWordWrapItem, "WordWrap");
  AddItem(report, ctl::kClearCommentsItem, "Clear Comments");

  QMenu* tree = popup(ctl::kTreePopup);
  AddItem(tree, ctl::kTreeClearItem, "Clear Selected");
  AddItem(tree, ctl::kTreeProgramDirItem, "Program DIR");
  AddItem(tree, "SFTburn1", "Copy2Burner");
  tree->addSeparator();
  QMenu* treeShell = AddSub(tree, "BrowserFunctions1", "Browser Functions");
  AddItem(treeShell, ctl::kTreeOpenItem, "Open");
  AddItem(treeShell, ctl::kTreeShowItem, "Show in File Manager");

  QMenu* list = popup(ctl::kListPopup);
  QMenu* listShell = AddSub(list, "BrowserFunctions2", "Browser Functions");
  AddItem(listShell, ctl::kListOpenItem, "Open");
  AddItem(listShell, ctl::kListShowItem, "Show in File Manager");

  QMenu* grid = popup(ctl::kGridPopup);
  AddItem(grid, ctl::kTidyGridItem, "Tidy Grid");
  AddItem(grid, ctl::kClearGridItem, "Clear Grid");

  QMenu* arc = popup(ctl::kArchivePopup);
  QMenu* exSel = AddSub(arc, "ExtractSelected1", "Extract Selected");
  AddItem(exSel, ctl::kExtractSelectedOverwriteItem, "OverWrite");
  AddItem(exSel, ctl::kExtractSelectedNoOverwriteItem, "NoOverwrite");
  QMenu* exAll = AddSub(arc, "ExtractAll1", "Extract All");
  AddItem(exAll, ctl::kExtractAllOverwriteItem, "Overwrite");
  AddItem(exAll, ctl::kExtractAllNoOverwriteItem, "NoOverwrite");
  AddItem(arc, ctl::kGotoFirstItem, "Goto First");
  AddItem(arc, ctl::kGotoLastItem, "Goto Last");
  arc->addSeparator();
  AddItem(arc, ctl::kDeleteSelectedItem, "Delete Selected");
  AddItem(arc, ctl::kClearSelectedItem, "Clear Selected");
  AddItem(arc, ctl::kNameToFilenameItem, "NameToFileSearch");
  AddItem(arc, ctl::kGetZipItem, "Get ZIP")->setVisible(false);
  AddItem(arc, ctl::kOpenEntryItem, "Open");

  QMenu* tray = popup(ctl::kTrayPopup);
  AddItem(tray, ctl::kTrayExitItem, "EXIT");
  QMenu* trayHelp = AddSub(tray, "TrayHelp1", "Help");
  AddItem(trayHelp, ctl::kTrayHelpItem, "Help");
  AddItem(trayHelp, ctl::kTrayAboutItem, "About");
  AddItem(tray, ctl::kTrayRestoreItem, "Restore");
  AddItem(tray, bctl::kTrayPauseItem, "Pause")->setVisible(false);
  AddItem(tray, bctl::kTrayResumeItem, "Resume")->setVisible(false);
}

// --- Pages ---

void TMainform::BuildClientArea() {
  auto* central = new QWidget(this);
  central->setObjectName(QStringLiteral("ClientArea"));
  auto* outer = new QVBoxLayout(central);
  outer->setContentsMargins(0, 0, 0, 0);
  // The content scrolls when the window is smaller than it needs (a small screen at a large
  // scale): the window itself always fits the screen.
  auto* scroll = new QScrollArea(central);
  scroll->setObjectName(QStringLiteral("ClientScroll"));
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setWidgetResizable(true);
  auto* content = new QWidget;
  content->setObjectName(QStringLiteral("ClientContent"));
  auto* v = new QVBoxLayout(content);
  v->setContentsMargins(0, 1, 0, 0);
  v->setSpacing(2);
  auto* pages = new QTabWidget(content);
  pages->setObjectName(S(ctl::kPages));
  const TBrowserTab browser = BuildBrowserTab(*ctx_.Explorer);
  tree_ = browser.tree;
  list_ = browser.list;
  const TMakeTab make = BuildMakeTab(ctx_.Grid.get());
  gridView_ = make.grid;
  QWidget* archive = BuildArchiveTab([this](QWidget* page) { return BuildArchiveView(page); });
  pages->addTab(browser.page, QStringLiteral("Browser"));
  pages->addTab(make.page, QStringLiteral("Make"));
  pages->addTab(archive, QStringLiteral("Archive"));
  v->addWidget(pages, 1);
  v->addWidget(BuildButtonBar());
  BuildStatusBars(content, v);
  scroll->setWidget(content);
  outer->addWidget(scroll);
  setCentralWidget(central);
}

// --- Wiring ---

void TMainform::Wire() {
  // The report's view of the window: progress, skipped files, the report box and the comment.
  report_ = new TWindowReport(*this);
  backupHost_->progress = report_;
  backupHost_->reportBox = report_;
  TRunReport& report = backup_->AttachReport(*report_, *report_);
  PrepareReportControls(*this, report);
  // Extraction works on the rows of the archive view, over the same engine.
  WireExtract();

  Append(bindings_, WindowBindings());
  Append(bindings_, JobAndSettingsBindings());
  Append(bindings_, PreferenceBindings());
  Append(bindings_, BackupBindings());
  Append(bindings_, ArchiveBindings());
  Append(bindings_, RestoreBindings(*extract_, [this] { search_->Abort(); }));
  Append(bindings_, ReportBindings(report));
  Append(bindings_, StateBindings());
  Append(bindings_, BurnBindings());
  Append(bindings_, automation_->Bindings());
  Append(bindings_, stealth_->Bindings());
  Append(bindings_, life_->Bindings());
  Append(bindings_, browser_->Bindings());
  const QStringList missing = ApplyBindings(*this, bindings_);
  if (!missing.isEmpty()) qWarning("bindings without a control: %s", qPrintable(missing.join(' ')));
  ConnectSignals();
  automation_->Connect();
  life_->Connect();
}

TBindings TMainform::WindowBindings() {
  auto close = [this](bool) { this->close(); };
  auto help = [this](bool) { lifecycle_->Help1Click(); };
  auto about = [this](bool) { About(); };
  // A checkable item has toggled itself; its handler toggles from the previous state.
  auto untoggle = [this](const char* item, bool checked) {
    controls_->SetControlChecked(S(item), !checked);
  };
  return {
      OnItem(ctl::kExitItem, "close the window (TAppLifecycle::FormCloseQuery)", close),
      OnItem(ctl::kTrayExitItem, "close the window (TAppLifecycle::FormCloseQuery)", close),
      OnItem(ctl::kHintsItem, "hints on or off (TAppLifecycle::Hints1Click)",
             [this, untoggle](bool checked) {
               untoggle(ctl::kHintsItem, checked);
               lifecycle_->Hints1Click();
             }),
      OnItem(ctl::kThemeManagerItem, "themes on or off (TAppLifecycle::ThemeManager1Click)",
             [this, untoggle](bool checked) {
               untoggle(ctl::kThemeManagerItem, checked);
               lifecycle_->ThemeManager1Click();
             }),
      OnItem(ctl::kHelpItem, "help (TAppLifecycle::Help1Click)", help),
      OnItem(ctl::kTrayHelpItem, "help (TAppLifecycle::Help1Click)", help),
      OnItem(ctl::kAboutItem, "the about box (TMainform::About)", about),
      OnItem(ctl::kTrayAboutItem, "the about box (TMainform::About)", about),
      OnItem(ctl::kTrayRestoreItem, "bring the window back (TWindowAutomation::TrayRestore)",
             [this](bool) { automation_->TrayRestore(); }),
      OnItem(ctl::kBugReportItem, "compose a bug report (TMainform::FeedBack)",
             [this](bool) { FeedBack(true); }),
      OnItem(ctl::kInformationRequestItem, "compose an information request (TMainform::FeedBack)",
             [this](bool) { FeedBack(false); }),
      OnButton(ctl::kContextHelpButton, "context help (QWhatsThis::enterWhatsThisMode)",
               [](bool) { QWhatsThis::enterWhatsThisMode(); }),
      OnKey("Shift+F1", "context help (QWhatsThis::enterWhatsThisMode)",
            [] { QWhatsThis::enterWhatsThisMode(); }),
      // The menu bar's last item tells how context help starts; a click on it starts it.
      OnItem(ctl::kContextHelpItem, "context help (QWhatsThis::enterWhatsThisMode)",
             [](bool) { QWhatsThis::enterWhatsThisMode(); }),
      PopupOn(ctl::kReportBox, ctl::kReportPopup),
      PopupOn(ctl::kExplorerTree, ctl::kTreePopup),
      PopupOn(ctl::kExplorerList, ctl::kListPopup),
      PopupOn(ctl::kInclusionGrid, ctl::kGridPopup),
      PopupOn(ctl::kArchiveView, ctl::kArchivePopup),
  };
}

TBindings TMainform::JobAndSettingsBindings() {
  auto openJob = [this](bool) { ctx_.Jobs->OpenCbutton(JobSender::Dialog); };
  auto saveJob = [this](bool) { ctx_.Jobs->SaveCbtnClick(); };
  auto setDefault = [this](bool) { ctx_.Settings->SetDefaultClick(); };
  TBindings rows = {
      OnButton(ctl::kOpenJobButton, "open a job (TJobController::OpenCbutton)", openJob),
      OnItem(ctl::kOpenJobItem, "open a job (TJobController::OpenCbutton)", openJob),
      OnButton(ctl::kSaveJobButton, "save the job (TJobController::SaveCbtnClick)", saveJob),
      OnItem(ctl::kSaveJobItem, "save the job (TJobController::SaveCbtnClick)", saveJob),
      OnItem(ctl::kModifyJobItem, "modify the job (TJobController::ModifyJobClick)",
             [this](bool) { ctx_.Jobs->ModifyJobClick(); }),
      OnButton(ctl::kSchedOpenJobButton, "the scheduler's job (TJobController::OpenCbutton)",
               [this](bool) { ctx_.Jobs->OpenCbutton(JobSender::SchedulerOpen); }),
      // (A double click on a file of the explorer list goes to the archive view, which passes
      // jobs on to the job controller: ConnectSignals.)
      OnItem(ctl::kClearHistoryItem, "clear the recent jobs (TFileMenuHandler::ClearHistory)",
             [this](bool) { ctx_.History->ClearHistory(); }),
      OnButton(ctl::kMakeDefaultButton, "settings as default (TSettingsFiles::SetDefaultClick)",
               setDefault),
      OnItem(ctl::kSetDefaultItem, "settings as default (TSettingsFiles::SetDefaultClick)",
             setDefault),
      OnItem(ctl::kBasicItem, "basic view (TOptionsController::ExpertModeClick)",
             [this](bool) { ctx_.Options->ExpertModeClick(false); }),
      OnItem(ctl::kAdvancedItem, "expert view (TOptionsController::ExpertModeClick)",
             [this](bool) { ctx_.Options->ExpertModeClick(true); }),
      OnItem(ctl::kProgramDirItem, "jobs in the program folder (TSettingsFiles::JobDirClick)",
             [this](bool) { ctx_.Settings->JobDirClick(true); }),
      OnItem(ctl::kBackupDirItem, "jobs beside the archive (TSettingsFiles::JobDirClick)",
             [this](bool) { ctx_.Settings->JobDirClick(false); }),
      OnItem(ctl::kPromptEraseItem, "ask before clearing (TSettingsFiles::ClearDiskMethodClick)",
             [this](bool) { ctx_.Settings->ClearDiskMethodClick(false); }),
      OnItem(ctl::kNoPromptEraseItem, "clear without asking (TSettingsFiles::ClearDiskMethodClick)",
             [this](bool) { ctx_.Settings->ClearDiskMethodClick(true); }),
      OnItem(ctl::kTempDefaultItem, "default temporary folder (TSettingsFiles::TempDirChosen)",
             [this](bool) { ctx_.Settings->TempDirChosen(QString()); }),
      OnItem(ctl::kTempSelectItem, "choose the temporary folder (TBackupRun::SetTempDIR1Click)",
             [this](bool) { backup_->run().SetTempDIR1Click(); }),
      // Explorer tree popup, inclusion grid popup, size calculator.
      OnItem(ctl::kTreeClearItem, "untick every folder (TExplorerTree::Clearchecks)",
             [this](bool) { tree_->Clearchecks(); }),
      OnItem(ctl::kTreeProgramDirItem, "browse to the program folder (TExplorerTree::ProgramDir)",
             [this](bool) { tree_->ProgramDirAction()->trigger(); }),
      OnItem(ctl::kTidyGridItem, "tidy the grid (TInclusionGrid::Tidy)",
             [this](bool) { ctx_.Grid->Tidy(); }),
      OnItem(ctl::kClearGridItem, "clear the grid (TInclusionGrid::Clear)",
             [this](bool) { ctx_.Grid->Clear(); }),
      OnButton(ctl::kSizeCalcButton, "measure the selection (TSizeCalculator::SizeCalcClick)",
               [this](bool) { ctx_.SizeCalc->SizeCalcClick(); }),
      // The buttons beside "MaxSizeMb" and "Disk#1Free".
      OnButton(ctl::kMaxSizeButton, "empty the edit (TOptionEdit::ButtonClick)",
               [this](bool) { ctx_.Lists->maxSizeEdit.ButtonClick(); }),
      OnButton(ctl::kFirstDiskButton, "empty the edit (TOptionEdit::ButtonClick)",
               [this](bool) { ctx_.Lists->firstDiskEdit.ButtonClick(); }),
  };
  for (int tag = 0; tag < 4; ++tag)
    rows.push_back(OnItem(ctl::kDateTimeFormatItems[tag],
                          "date-time format (TSettingsFiles::DateTimeFormatClick)",
                          [this, tag](bool) { ctx_.Settings->DateTimeFormatClick(tag); }));
  return rows;
}

TBindings TMainform::PreferenceBindings() {
  // Boolean preferences: the handler toggles the check mark itself, so the toggle the action
  // has just made is taken back first.
  const std::pair<const char*, const char*> toggles[] = {
      {ctl::kStartMinimisedItem, "StartMinimised"},
      {ctl::kSchedPromptItem, "SchedBUPrompt"},
      {ctl::kMinToTrayItem, "MinToTray"},
      {ctl::kPromptSkipOpenFilesItem, "PromptSkipOpenFiles"},
      {ctl::kFullReportItem, "FullReport"},
      {ctl::kCheckSpaceItem, "CheckTempSpace"},
  };
  TBindings rows;
  for (const auto& [item, key] : toggles)
    rows.push_back(OnItem(item, "a menu preference (TSettingsFiles::ToggleMenuPreference)",
                          [this, item = S(item), key = S(key)](bool checked) {
                            controls_->SetControlChecked(item, !checked);
                            ctx_.Settings->ToggleMenuPreference(key);
                          }));
  // ("Large Fonts" and "Display Empty Dir" belong to the archive view: ArchiveBindings; the
  // "Stealth" menu's items to stealth mode: TWindowStealth::Bindings.)
  rows.push_back(OnButton(
      ctl::kQuickSearchBox, "a box preference (TSettingsFiles)",
      [this](bool on) { ctx_.Settings->CheckBoxPreference(QStringLiteral("QuickSearch"), on); }));
  return rows;
}

TBindings TMainform::BackupBindings() {
  TBackupRun& run = backup_->run();
  TNaming& naming = backup_->naming();
  auto write = [&run](bool) { run.WriteZbtnClick(); };
  // While a burn runs the button is captioned "Abort" and stops the burn.
  TBurnCommands& burn = backup_->burn();
  auto pause = [&run, &burn](bool) {
    if (burn.Burning())
      burn.AbortWrite();
    else
      run.PauseBtnClick();
  };
  auto name = [&naming](NamingSender sender) {
    return [&naming, sender](bool) { naming.NewZipButClick(sender); };
  };
  TBindings rows = {
      OnButton(bctl::kWriteButton, "run the backup (TBackupRun::WriteZbtnClick)", write),
      OnButton(bctl::kBasicWriteButton, "run the backup (TBackupRun::WriteZbtnClick)", write),
      OnButton(ctl::kPauseButton, "pause or resume (TBackupRun::PauseBtnClick)", pause),
      OnButton(ctl::kAddToZipButton, "add to the archive (TBackupRun::AddButClick)",
               [&run](bool) { run.AddButClick(); }),
      OnButton(ctl::kNewZipButton, "name a new archive (TNaming::NewZipButClick)",
               name(NamingSender::NewZip)),
      OnButton(ctl::kNewExeButton, "name a new self-extractor (TNaming::NewZipButClick)",
               name(NamingSender::NewExe)),
      OnButton(ctl::kStealthDefineButton, "name the stealth archive (TNaming::NewZipButClick)",
               name(NamingSender::Define)),
      OnButton(ctl::kStealthStartButton, "start stealth mode (TStealth::StartStealth)",
               [this](bool) { main_->StartStealth(); }),
      OnItem(ctl::kNewZipItem, "name a new archive (TNaming::NewZipButClick)",
             name(NamingSender::NewZipMenu)),
      OnItem(ctl::kNameToFilenameItem, "entry name to file search (TNaming::NameToFilename1Click)",
             [&naming](bool) { naming.NameToFilename1Click(); }),
      // (The tray menu's "Pause" and "Resume" belong to the tray: TWindowLife.)
      OnItem("SystemRestore1", "the system's restore window (StartSystemRestore)",
             [](bool) {
               if (!StartSystemRestore())
                 MbMessage(SystemRestoreUnavailableText(), QStringLiteral("Arcavo"), false,
                           MB_ICONEXCLAMATION);
             }),
  };
  for (int kind = 1; kind <= 4; ++kind)
    rows.push_back(
        OnItem(ctl::kPresetItems[kind - 1], "a mail or browser preset (TNaming::NewZipButClick)",
               [&naming, kind](bool) { naming.NewZipButClick(NamingSender::Preset, kind); }));
  return rows;
}

TBindings TMainform::StateBindings() {
  // Controls no command starts: the logic enables, shows, checks or captions them by name.
  const char* const modes = "window modes (TOptionsController::Setstate)";
  const char* const lists = "an option list's view (InstallOptionViews)";
  const char* const panel = "a status panel (TRunReport)";
  TBindings rows = {
      SwitchedBy(ctl::kMaxSizeEdit, lists),
      SwitchedBy(ctl::kFirstDiskEdit, lists),
      SwitchedBy(ctl::kAdvancedGroup, "expert view (TOptionsController::ApplyExpertView)"),
      SwitchedBy(ctl::kBasicGroup, "expert view (TOptionsController::ApplyExpertView)"),
      SwitchedBy(ctl::kSizeCompressionGroup, modes),
      SwitchedBy(ctl::kGetZipButton, modes),
      SwitchedBy(ctl::kSizeCalcEdit, modes),
      SwitchedBy(ctl::kGetZipItem, modes),
      SwitchedBy(ctl::kZipTestItem, modes),
      SwitchedBy(ctl::kDeleteButton, modes),
      SwitchedBy(ctl::kConvertItem, modes),
      SwitchedBy(ctl::kZipFixItem, modes),
      SwitchedBy(ctl::kContextHelpItem, "hints (TAppLifecycle::Hints1Click)"),
      SwitchedBy(restore::ctlnames::kKillZipButton, "archive view (TArchiveViewController)"),
      SwitchedBy(restore::ctlnames::kViewsGroup, "archive view (TArchiveViewController)"),
      SwitchedBy(rctl::kProcessTimePanel, panel),
      SwitchedBy(rctl::kZipFilePanel, panel),
      SwitchedBy(rctl::kActiveFilePanel, panel),
      SwitchedBy(rctl::kCountPanel, panel),
      SwitchedBy(rctl::kTotalSizePanel, panel),
      SwitchedBy(rctl::kDateFilterBefore, "the date filter (TRunReport::ArcZip1StartZip)"),
      SwitchedBy(rctl::kDateFilterAfter, "the date filter (TRunReport::ArcZip1StartZip)"),
  };
  for (const char* list :
       {ctl::kSizeList, ctl::kCompressionList, ctl::kModeList, ctl::kDirectoryList,
        ctl::kEncryptionList, ctl::kFunctionsList, ctl::kBasicList, ctl::kBasicStampList,
        ctl::kBasicSizeList, ctl::kStealthList, ctl::kViewList, ctl::kExtractOptionList,
        ctl::kExtractModeList})
    rows.push_back(SwitchedBy(list, lists));
  return rows;
}

void TMainform::ConnectSignals() {
  restore::TArchiveViewController& view = *ctx_.ArchiveView;
  // A double click on a file of the explorer list: archives open here, jobs go on to the job
  // controller (OpenJob), other files are ignored.
  connect(list_, &TExplorerList::FileActivated, &view,
          [&view](const QString& file) { view.VETlistDblClick(file); });
  // "Views and Expedite" follows the view mode.
  connect(ctx_.Options.get(), &TOptionsController::viewModeChanged, &view,
          &restore::TArchiveViewController::CheckListBox11StateChange);
  // "Large Fonts" is set from the default file without a click: the view's font follows it then.
  connect(ctx_.Settings.get(), &TSettingsFiles::preferenceLoaded, &view,
          [&view](const QString& key) {
            if (key == QLatin1String("LargeFonts")) view.ApplyLargeFonts();
          });
  connect(lifecycle_.get(), &TAppLifecycle::closeReady, this, &QWidget::close);
  // The explorer's check boxes show in every mode but tick only once an archive is named.
  const auto tickHint = [this] { startup_->ShowStatusNote(S(kNameArchiveFirst)); };
  connect(tree_, &TExplorerTree::TickRefused, this, tickHint);
  connect(list_, &TExplorerList::TickRefused, this, tickHint);
  ConnectSearchBox();
}

void TMainform::ConnectSearchBox() {
  restore::TArchiveSearch& search = *search_;
  auto* box = findChild<TSearchBox*>(S(ctl::kSearchBox));
  searchBox_ = box;
  if (!box) return;
  // The history as the default file holds it; reloaded whenever the list opens.
  search.LoadHistory();
  connect(box, &TSearchBox::aboutToShowPopup, &search, [&search] { search.ComboBox1DropDown(); });
  connect(box, qOverload<int>(&QComboBox::activated), &search,
          [&search](int index) { search.ComboBox1Click(index); });
  // Every other key: the text typed is the last search text (Enter and Ctrl+Space are taken by
  // the event filter).
  connect(box->lineEdit(), &QLineEdit::textEdited, &search,
          [&search] { search.ComboBox1KeyDown(0, false); });
  // Keys typed into the archive view: the quick search, never the view's own keyboard search.
  if (auto* view = findChild<TArchiveView*>(S(ctl::kArchiveView)))
    view->incrementalSearch = [&search](const QString& text) {
      search.VTree1IncrementalSearch(text);
    };
}

void TMainform::About() {
  ShowAboutDialog(this);
}

// --- Events ---

void TMainform::CloseWithoutQuestion() {
  closeWithoutQuestion_ = true;
  close();
}

void TMainform::closeEvent(QCloseEvent* event) {
  if (lifecycle_->FormCloseQuery(!closeWithoutQuestion_) == CloseDecision::Close) {
    trayIcon_->hide();
    event->accept();
  } else {
    event->ignore();
  }
}

void TMainform::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  lifecycle_->FormShow();
}

void TMainform::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange && life_) {
    life_->WindowStateChanged(isMinimized());
  } else if (event->type() == QEvent::ActivationChange) {
    lifecycle_->WindowActiveChanged(isActiveWindow());
    if (isActiveWindow()) lifecycle_->FormActivate();
  }
}

bool TMainform::event(QEvent* event) {
  if (event->type() == QEvent::UpdateRequest || event->type() == QEvent::Paint) {
    if (!firstPaintQueued_ && ctx_.FirstPaint) {
      firstPaintQueued_ = true;
      // Boxes must not open inside a paint: the first-paint work runs right after it.
      QTimer::singleShot(0, this, [this] { lifecycle_->FormPaint(); });
    }
  }
  return QMainWindow::event(event);
}

bool TMainform::eventFilter(QObject* watched, QEvent* event) {
  // The box keeps the keyboard focus and hands the keys it does not use itself to its edit
  // directly: Enter reaches only the box, typing the edit.
  if (searchBox_ && search_ && (watched == searchBox_ || watched == searchBox_->lineEdit())) {
    if (event->type() == QEvent::KeyPress) {
      auto* key = static_cast<QKeyEvent*>(event);
      const bool ctrl = key->modifiers() & Qt::ControlModifier;
      const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
      if (enter || (ctrl && key->key() == Qt::Key_Space)) {
        // A held space repeats: the tick toggles once per press.
        if (!key->isAutoRepeat() || enter) search_->ComboBox1KeyDown(key->key(), ctrl);
        return true;
      }
    } else if (event->type() == QEvent::MouseButtonDblClick && watched != searchBox_) {
      search_->ComboBox1DblClick();
      return true;
    }
  }
  // (The window's own keys, Escape, F3 and Shift+F1, are rows of the bindings.)
  if (event->type() == QEvent::ToolTip) {
    if (!hintsShown()) return true;
    auto* w = qobject_cast<QWidget*>(watched);
    if (w && !w->toolTip().isEmpty()) {
      auto* he = static_cast<QHelpEvent*>(event);
      QToolTip::showText(he->globalPos(), w->toolTip(), w, {},
                         TAppLifecycle::HintDisplayTime(w->toolTip()));
      return true;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void TMainform::CommitDataRequest(QSessionManager& manager) {
  if (!lifecycle_->WMQueryEndSession()) manager.cancel();
}
