#include "ui/mainform.h"

#include <QAbstractButton>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMenuBar>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSessionManager>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QStyleFactory>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTableWidget>
#include <QTextEdit>
#include <QThread>
#include <QTimeEdit>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>
#include <QWhatsThis>

#include "app/explorer.h"
#include "app/filemenuhandler.h"
#include "app/inclusiongrid.h"
#include "app/instancemanager.h"
#include "app/jobcontroller.h"
#include "app/optionscontroller.h"
#include "app/preferences.h"
#include "app/settingsfiles.h"
#include "app/sizecalculator.h"
#include "backup/backupcore.h"
#include "backup/backuprun.h"
#include "backup/naming.h"
#include "backup/runreport.h"
#include "platform/programdir.h"
#include "restore/extractcontroller.h"
#include "ui/backupwindow.h"
#include "ui/explorerviews.h"
#include "ui/filedialogs.h"
#include "ui/inclusiongridview.h"
#include "ui/optionlistview.h"
#include "ui/recentmenu.h"
#include "ui/reportview.h"
#include "ui/restorewindow.h"

namespace {

// Client area of the window.
constexpr int kClientWidth = 792;
constexpr int kClientHeight = 526;

QString S(const char* text) {
  return QString::fromUtf8(text);
}

// The place of an option list: InstallOptionViews puts the list's view here, with this name,
// hint and layout slot. The items come from the list's model.
QWidget* OptionListSlot(QWidget* parent, const char* name, const char* hint = "") {
  auto* slot = new QWidget(parent);
  slot->setObjectName(S(name));
  if (*hint) slot->setToolTip(S(hint));
  return slot;
}

// The width a line edit needs to show text in full: the text, the edit's inner margins and its
// frame as the style draws them.
int LineEditWidthFor(const QLineEdit* edit, const QString& text) {
  QStyleOptionFrame opt;
  opt.initFrom(edit);
  opt.lineWidth = edit->hasFrame() ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth) : 0;
  const QMargins tm = edit->textMargins();
  const QMargins cm = edit->contentsMargins();
  // QLineEdit keeps 2 pixels on each side of the text, and one for the caret.
  const int w = edit->fontMetrics().horizontalAdvance(text) + 2 * 2 + 1 + tm.left() + tm.right() +
                cm.left() + cm.right();
  return edit->style()
      ->sizeFromContents(QStyle::CT_LineEdit, &opt, QSize(w, edit->sizeHint().height()), edit)
      .width();
}

// An edit never narrower than the longest of texts.
void FitLineEdit(QLineEdit* edit, const QStringList& texts) {
  int w = 0;
  for (const QString& t : texts) w = std::max(w, LineEditWidthFor(edit, t));
  edit->setMinimumWidth(w);
}

// An editable combo box never narrower than text in its edit and its arrow button.
void FitComboBox(QComboBox* combo, const QString& text) {
  QStyleOptionComboBox opt;
  opt.initFrom(combo);
  opt.editable = true;
  opt.currentText = text;
  const int inner = combo->lineEdit() ? LineEditWidthFor(combo->lineEdit(), text)
                                      : combo->fontMetrics().horizontalAdvance(text);
  combo->setMinimumWidth(combo->style()
                             ->sizeFromContents(QStyle::CT_ComboBox, &opt,
                                                QSize(inner, combo->sizeHint().height()), combo)
                             .width());
}

// The program's icon: a small disc drawn in code, so no image file is needed.
QIcon ProgramIcon() {
  QPixmap pm(32, 32);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setBrush(QColor(40, 90, 170));
  p.setPen(QPen(QColor(20, 40, 90), 1.5));
  p.drawEllipse(2, 2, 28, 28);
  p.setBrush(QColor(230, 235, 245));
  p.drawEllipse(12, 12, 8, 8);
  p.setPen(QPen(QColor(250, 200, 40), 2));
  p.drawArc(6, 6, 20, 20, 30 * 16, 90 * 16);
  return QIcon(pm);
}

QAction* AddItem(QMenu* menu, const char* name, const char* caption, bool checkable = false,
                 bool checked = false) {
  QAction* a = menu->addAction(S(caption));
  a->setObjectName(S(name));
  a->setCheckable(checkable);
  a->setChecked(checked);
  return a;
}

QMenu* AddSub(QMenu* menu, const char* name, const char* caption) {
  QMenu* m = menu->addMenu(S(caption));
  m->setObjectName(S(name));
  m->menuAction()->setObjectName(S(name));
  return m;
}

// Items of one radio group; the item at index checked starts checked. Tags are the positions.
void AddRadioItems(QMenu* menu, std::initializer_list<std::pair<const char*, const char*>> items,
                   int checked) {
  auto* group = new QActionGroup(menu);
  group->setExclusive(true);
  int i = 0;
  for (const auto& [name, caption] : items) {
    QAction* a = AddItem(menu, name, caption, true, i == checked);
    a->setData(i);
    group->addAction(a);
    ++i;
  }
}

QPushButton* Button(QWidget* parent, const char* name, const char* caption, const char* hint = "") {
  auto* b = new QPushButton(S(caption), parent);
  b->setObjectName(S(name));
  if (*hint) b->setToolTip(S(hint));
  return b;
}

QGroupBox* Group(QWidget* parent, const char* name, const char* caption) {
  auto* g = new QGroupBox(S(caption), parent);
  g->setObjectName(S(name));
  return g;
}

QLabel* Label(QWidget* parent, const char* name, const char* text) {
  auto* l = new QLabel(S(text), parent);
  l->setObjectName(S(name));
  l->setTextFormat(Qt::PlainText);
  return l;
}

// An edit with a small button that empties it and puts the caret in it.
QWidget* EditWithButton(QWidget* parent, const char* name, const char* text, bool enabled) {
  auto* box = new QWidget(parent);
  auto* h = new QHBoxLayout(box);
  h->setContentsMargins(0, 0, 0, 0);
  h->setSpacing(1);
  auto* e = new QLineEdit(S(text), box);
  e->setObjectName(S(name));
  e->setEnabled(enabled);
  auto* b = new QToolButton(box);
  b->setObjectName(S(name) + QStringLiteral("Button"));
  b->setText(QStringLiteral("…"));
  b->setEnabled(enabled);
  QObject::connect(b, &QToolButton::clicked, e, [e] {
    e->clear();
    e->setFocus();
  });
  FitLineEdit(e, {e->text()});
  h->addWidget(e, 1);
  h->addWidget(b);
  return box;
}

QString CaptionOf(const QObject* o) {
  if (auto* a = qobject_cast<const QAction*>(o)) return a->text();
  if (auto* m = qobject_cast<const QMenu*>(o)) return m->title();
  if (auto* b = qobject_cast<const QAbstractButton*>(o)) return b->text();
  if (auto* g = qobject_cast<const QGroupBox*>(o)) return g->title();
  if (auto* l = qobject_cast<const QLabel*>(o)) return l->text();
  if (auto* e = qobject_cast<const QLineEdit*>(o)) return e->text();
  if (auto* w = qobject_cast<const QWidget*>(o)) {
    if (auto* tabs = qobject_cast<QTabWidget*>(w->parentWidget() ? w->parentWidget()->parentWidget()
                                                                 : nullptr)) {
      int i = tabs->indexOf(const_cast<QWidget*>(w));
      if (i >= 0) return tabs->tabText(i);
    }
    return w->windowTitle();
  }
  return {};
}

}  // namespace

TMainform::TMainform(const QStringList& args, TInstanceManager* instance, QWidget* parent)
    : QMainWindow(parent), instance_(instance) {
  setObjectName(QStringLiteral("Mainform"));
  ctx_.CmdArgs = args;
  lifecycle_ = std::make_unique<TAppLifecycle>(ctx_, *this, *this);
  lifecycle_->SetInstanceManager(instance);
  lifecycle_->SetProgramPath(QApplication::applicationFilePath());
  qtDialogs_ = std::make_unique<TQtFileDialogHost>(this);
  dialogs_ = qtDialogs_.get();
  // The subsystems first: the views below show their models.
  WireSubsystems(ctx_, *this, *this, *this, *this, *this, *this);
  backupHost_ = std::make_unique<TBackupWindowHost>(this);
  backupSeams_ = std::make_unique<IBackupSeams>();
  backup_ = std::make_unique<TBackupCore>(ctx_, *this, *backupHost_, *backupHost_, *backupHost_,
                                          *backupSeams_);

  setWindowIcon(ProgramIcon());
  setWindowTitle(QStringLiteral("Arcavo V") + TAppLifecycle::VersionDigitsOf(S(ARCAVO_VERSION)));
  setWindowFlag(Qt::WindowContextHelpButtonHint, true);
  setWindowFlag(Qt::WindowMaximizeButtonHint, false);

  BuildMenus();

  auto* central = new QWidget(this);
  central->setObjectName(QStringLiteral("ClientArea"));
  auto* v = new QVBoxLayout(central);
  v->setContentsMargins(0, 1, 0, 0);
  v->setSpacing(2);
  auto* pages = new QTabWidget(central);
  pages->setObjectName(QStringLiteral("PageControl1"));
  QWidget* browser = BuildBrowserTab();
  QWidget* make = BuildMakeTab();
  QWidget* archive = BuildArchiveTab();
  pages->addTab(browser, QStringLiteral("Browser"));
  pages->addTab(make, QStringLiteral("Make"));
  pages->addTab(archive, QStringLiteral("Archive"));
  v->addWidget(pages, 1);
  v->addWidget(BuildButtonBar());
  BuildStatusBars(central, v);
  setCentralWidget(central);

  BuildPopups();

  // The option lists' views replace the placeholder lists; the size edits are bound.
  const QStringList missing = InstallOptionViews(centralWidget(), *ctx_.Lists);
  if (!missing.isEmpty())
    qWarning("option lists without a view: %s", qPrintable(missing.join(' ')));
  recentMenu_ = new TRecentMenu(ctx_.History.get(), findChild<QMenu*>(QStringLiteral("File1")));
  // The basic or expert view of the preference (the default file may change it at start-up).
  ctx_.Options->ApplyExpertView();

  timer1_ = new QTimer(this);
  timer1_->setObjectName(QStringLiteral("Timer1"));
  timer1_->setInterval(1000);
  schedTimer_ = new QTimer(this);
  schedTimer_->setObjectName(QStringLiteral("SchedTimer"));
  schedTimer_->setInterval(60000);

  trayIcon_ = new QSystemTrayIcon(ProgramIcon(), this);
  trayIcon_->setObjectName(QStringLiteral("TrayIcon1"));
  trayIcon_->setContextMenu(popupMenu(QStringLiteral("PopupTray")));

  BindOwnCommands();
  BindCommands();
  BindBackupCommands();
  qApp->installEventFilter(this);
  connect(lifecycle_.get(), &TAppLifecycle::closeReady, this, &QWidget::close);

  // Context help ("?", then a click on a control) shows the control's hint.
  for (QWidget* w : findChildren<QWidget*>())
    if (w->whatsThis().isEmpty() && !w->toolTip().isEmpty()) w->setWhatsThis(w->toolTip());

  // The window starts at its usual client size, or larger when its content needs more room (a
  // larger font); it never shrinks below what its content needs. It starts centred.
  const int menuHeight = menuBar()->sizeHint().height();
  // The option views replaced their placeholders inside tabs that were never shown, and the
  // layouts there still hold the sizes they cached before: drop every cached size, so the first
  // size of the window already fits every tab.
  for (QWidget* w : findChildren<QWidget*>()) w->updateGeometry();
  for (QLayout* l : findChildren<QLayout*>()) l->invalidate();
  const QSize least = minimumSizeHint();
  resize(std::max(kClientWidth, least.width()),
         std::max(kClientHeight + menuHeight, least.height()));
  if (QScreen* s = QGuiApplication::primaryScreen())
    move(s->availableGeometry().center() - rect().center());
}

void TMainform::WireExtract(restore::TArchiveViewController& view,
                            restore::ISearchResultsView& search) {
  restoreHost_ = std::make_unique<TRestoreWindow>(this);
  TBackupWindowHost* screen = backupHost_.get();
  restoreHost_->gaugeStart = [screen] { screen->GaugeMoving(); };
  restoreHost_->clearStatusBar = [screen] { screen->ClearStatusBar(); };
  restoreHost_->gaugeClear = [screen] { screen->GaugeClear(); };
  restoreHost_->clearReportBox = [screen] { screen->ReportClear(); };
  restoreHost_->reportLine = [screen](const QString& line) { screen->ReportAdd(line); };
  extract_ = std::make_unique<restore::TExtractController>(backup_->ArcZip1, *ctx_.Lists, view,
                                                           search, *restoreHost_);
  BindRestoreCommands(this, *extract_);
}

TMainform::~TMainform() {
  if (qApp) qApp->removeEventFilter(this);
  // The views go before the models they show (the models live in ctx_).
  delete takeCentralWidget();
}

void TMainform::FormCreate() {
  lifecycle_->FormCreate();
}

QMenu* TMainform::popupMenu(const QString& name) const {
  for (QMenu* m : popups_)
    if (m->objectName() == name) return m;
  return nullptr;
}

// --- Menus ---

void TMainform::BuildMenus() {
  QMenuBar* bar = menuBar();
  bar->setObjectName(QStringLiteral("MainMenu1"));

  QMenu* file = bar->addMenu(S("&File"));
  file->setObjectName(QStringLiteral("File1"));
  file->menuAction()->setObjectName(QStringLiteral("File1"));
  AddItem(file, "NewZip1", "&New Zip");
  QMenu* moz = AddSub(file, "MoZillabackup1", "Mo&Zilla backup");
  const char* mozNames[] = {"MozAllData1", "ThunderbirdAllData1", "ThunderbirdProfile1",
                            "FirefoxProfile1"};
  const char* mozCaptions[] = {"Thunderbird&&Firefox all data", "Thunderbird all data",
                               "Thunderbird profile", " Firefox profile"};
  for (int i = 0; i < 4; ++i) AddItem(moz, mozNames[i], mozCaptions[i])->setData(i + 1);
  AddItem(file, "Restore1", "&Restore");
  AddItem(file, "OpenJob1", "&Open Job");
  AddItem(file, "ModifyJob1", "&Modify Job");
  AddItem(file, "SaveJob1", "&Save Job");
  AddItem(file, "ClearHistory1", "&Clear History");
  AddItem(file, "Exit1", "E&xit");

  QMenu* view = bar->addMenu(S("&View"));
  view->setObjectName(QStringLiteral("View1"));
  view->menuAction()->setObjectName(QStringLiteral("View1"));
  AddItem(view, "Zipcomment1", "&Zip comment");
  AddItem(view, "LastError1", "&Last error");

  QMenu* opt = bar->addMenu(S("&Options"));
  opt->setObjectName(QStringLiteral("Options1"));
  opt->menuAction()->setObjectName(QStringLiteral("Options1"));
  AddItem(opt, "SetDefault1", "Set Default");
  AddItem(opt, "BurnerSettings1", "&Burner Settings");
  QMenu* mainProg = AddSub(opt, "MainProgram1", "Main Program");
  QMenu* expert = AddSub(mainProg, "ExpertMode1", "Expert Mode");
  AddRadioItems(expert, {{"Basic1", "Basic"}, {"Advanced1", "Advanced"}}, 0);
  QMenu* start = AddSub(mainProg, "Start1", "Start");
  AddItem(start, "StartMinimised1", "Start Minimised", true);
  AddItem(start, "StartUp1", "StartUp", true);
  AddItem(mainProg, "MinimiseToTray1", "Minimise To Tray", true);
  AddItem(mainProg, "ThemeManager1", "ThemeManager", true, true);

  QMenu* br = AddSub(opt, "BackupRestore1", "Backup/Restore");
  QMenu* clr = AddSub(br, "ClearDiskMethod1", "Clear Disk Method");
  AddRadioItems(clr,
                {{"PromptEraseFiles1", "Prompt Erase Files"},
                 {"NoPromptEraseFiles1", "No Prompt Erase Files"}},
                0);
  QMenu* tmp = AddSub(br, "TemporaryDIR1", "TemporaryDIR");
  AddRadioItems(tmp, {{"TempDefault1", "Default"}, {"SetTempDIR1", "Select"}}, 0);
  AddItem(br, "CheckSpace1", "Check Space", true, true);
  QMenu* dtf = AddSub(br, "DateTimeFormat1", "DateTimeFormat");
  AddRadioItems(dtf,
                {{"MonDate1", "2003-Jan-03"},
                 {"NumDate1", "2003-01-03"},
                 {"MonDateTime1", "2003-Jan-03_1535"},
                 {"NumDateTime1", "2003-01-03_1535"}},
                0);
  AddItem(br, "FullReport1", "FullBackupReport", true, true);
  QMenu* jobDir = AddSub(br, "JobDIR1", "JobDIR");
  AddRadioItems(jobDir, {{"ProgramDIR1", "ProgramDIR"}, {"BackupDIR1", "BackupDIR"}}, 0);
  QMenu* sort = AddSub(br, "ArchiveSortBy1", "Archive SortBy");
  AddRadioItems(sort,
                {{"SortByFilename1", "Filename"},
                 {"SortByFilenameDesc1", "FileName Descending"},
                 {"SortBySize1", "Size"},
                 {"SortBySizeDesc1", "Size Descending"},
                 {"SortByDateTime1", "DateTime"},
                 {"SortByDateTimeDesc1", "DateTime Descending"}},
                0);
  AddItem(br, "DisplayEmptyDir1", "Display Empty Dir", true, true);
  AddItem(br, "PromptSkipOpenFiles1", "PromptSkipOpenFiles", true, true);
  AddItem(br, "SchedBackupPrompt1", "SchedBackup Prompt", true, true);

  QMenu* stealth = AddSub(opt, "Stealth1", "Stealth");
  AddItem(stealth, "StealthEnable1", "Enable", true, true);
  AddItem(stealth, "StealthExclZIP1", "StealthExclZIP", true, true);
  AddItem(stealth, "StealthAtStartUp1", "Stealth@StartUp", true);
  AddItem(stealth, "MinimizeOnLoad1", "MinimizeOnLoad", true, true);
  AddItem(stealth, "AutoRenameOnSize1", "AutoRenameOnSize", true, true);
  AddItem(stealth, "DefineHotKey1", "Define HotKey");

  QMenu* tools = bar->addMenu(S("&Tools"));
  tools->setObjectName(QStringLiteral("Tools1"));
  tools->menuAction()->setObjectName(QStringLiteral("Tools1"));
  AddItem(tools, "SystemRestore1", "System Restore");
  AddItem(tools, "ZIPcomment1", "ZIPcomment");
  AddItem(tools, "ConvertZIPtoEXE1", "ConvertZIPtoEXE")->setEnabled(false);
  AddItem(tools, "ZIPtest1", "ZIPtest")->setEnabled(false);
  AddItem(tools, "ZIPfix1", "ZIPfix");
  AddItem(tools, "MoveBlocks1", "Move Blocks");
  QMenu* erase = AddSub(tools, "EraseCDRW1", "EraseCDRW");
  AddItem(erase, "Quick1", "Quick");
  AddItem(erase, "Full1", "Full");
  AddItem(tools, "CDproperties1", "&CD/CDRW properties");
  AddItem(tools, "Burn1", "Copy2&Burner");

  QMenu* help = bar->addMenu(S("&Help"));
  help->setObjectName(QStringLiteral("Help1"));
  help->menuAction()->setObjectName(QStringLiteral("Help1"));
  AddItem(help, "HelpContents1", "Help");
  AddItem(help, "Hints1", "Hints", true, true);
  QMenu* feedback = AddSub(help, "FeedBack1", "FeedBack");
  AddItem(feedback, "BugReport1", "Bug Report");
  AddItem(feedback, "InformationRequest1", "Information Request");
  AddItem(help, "Check4Update1", "&Check4Update");
  AddItem(help, "About1", "&About");

  QAction* last = bar->addAction(
      S("          For context Help, click the '?' icon, top right, then click in questioned "
        "area"));
  last->setObjectName(QStringLiteral("ContextHelp1"));

  // The context-help button ("?"): the next click on a control shows its help text.
  auto* what = new QToolButton(bar);
  what->setObjectName(QStringLiteral("ContextHelpButton"));
  what->setText(QStringLiteral("?"));
  what->setAutoRaise(true);
  connect(what, &QToolButton::clicked, this, [] { QWhatsThis::enterWhatsThisMode(); });
  bar->setCornerWidget(what, Qt::TopRightCorner);

  for (QMenu* m : bar->findChildren<QMenu*>()) m->setToolTipsVisible(true);
}

void TMainform::BuildPopups() {
  auto popup = [this](const char* name) {
    auto* m = new QMenu(this);
    m->setObjectName(S(name));
    popups_.append(m);
    return m;
  };

  QMenu* report = popup("PopupReport");
  AddItem(report, "SaveReport1", "SavetoRTF File");
  AddItem(report, "WordWrap1", "WordWrap");
  AddItem(report, "ClearComments1", "Clear Comments");

  QMenu* tree = popup("PopupTree");
  AddItem(tree, "TreeClearSelected1", "Clear Selected");
  AddItem(tree, "TreeProgramDIR1", "Program DIR");
  AddItem(tree, "SFTburn1", "Copy2Burner");
  tree->addSeparator();
  AddSub(tree, "BrowserFunctions1", "Browser Functions")->setEnabled(false);

  QMenu* list = popup("PopupList");
  AddSub(list, "BrowserFunctions2", "Browser Functions")->setEnabled(false);

  QMenu* grid = popup("PopupGrid");
  AddItem(grid, "TidyGrid1", "Tidy Grid");
  AddItem(grid, "ClearGrid1", "Clear Grid");

  QMenu* arc = popup("PopupArchive");
  QMenu* exSel = AddSub(arc, "ExtractSelected1", "Extract Selected");
  AddItem(exSel, "ExtractSelectedOverWrite1", "OverWrite");
  AddItem(exSel, "ExtractSelectedNoOverwrite1", "NoOverwrite");
  QMenu* exAll = AddSub(arc, "ExtractAll1", "Extract All");
  AddItem(exAll, "ExtractAllOverwrite1", "Overwrite");
  AddItem(exAll, "ExtractAllNoOverwrite1", "NoOverwrite");
  AddItem(arc, "GotoFirst1", "Goto First");
  AddItem(arc, "GotoLast1", "Goto Last");
  arc->addSeparator();
  AddItem(arc, "DeleteSelected1", "Delete Selected");
  AddItem(arc, "ClearSelected1", "Clear Selected");
  AddItem(arc, "NameToFilename1", "NameToFileSearch");
  AddItem(arc, "GetZIP1", "Get ZIP")->setVisible(false);
  AddItem(arc, "Open1", "Open");

  QMenu* tray = popup("PopupTray");
  AddItem(tray, "TrayExit1", "EXIT");
  QMenu* trayHelp = AddSub(tray, "TrayHelp1", "Help");
  AddItem(trayHelp, "TrayHelpContents1", "Help");
  AddItem(trayHelp, "TrayAbout1", "About");
  AddItem(tray, "TrayRestore1", "Restore");
  AddItem(tray, "TrayPause1", "Pause")->setVisible(false);
  AddItem(tray, "TrayResume1", "Resume")->setVisible(false);

  // Attach the popups to their controls.
  auto attach = [](QWidget* w, QMenu* m) {
    if (!w) return;
    w->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(w, &QWidget::customContextMenuRequested, m,
                     [w, m](const QPoint& pos) { m->popup(w->mapToGlobal(pos)); });
  };
  attach(findChild<QWidget*>(QStringLiteral("ReportBox")), report);
  attach(findChild<QWidget*>(QStringLiteral("ExplorerTree")), tree);
  attach(findChild<QWidget*>(QStringLiteral("ExplorerList")), list);
  attach(findChild<QWidget*>(QStringLiteral("InclusionGrid")), grid);
  attach(findChild<QWidget*>(QStringLiteral("ArchiveView")), arc);
}

// --- Tabs ---

QWidget* TMainform::BuildBrowserTab() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("TabBrowser"));
  auto* h = new QHBoxLayout(page);
  h->setContentsMargins(2, 2, 2, 2);
  auto* split = new QSplitter(Qt::Horizontal, page);

  tree_ = new TExplorerTree(&ctx_.Explorer->TreeModel(), split);
  tree_->setObjectName(QStringLiteral("ExplorerTree"));
  tree_->setToolTip(S("Single-Click directory to select"));
  tree_->setEnabled(false);

  list_ = new TExplorerList(&ctx_.Explorer->ListModel(), split);
  list_->setObjectName(QStringLiteral("ExplorerList"));
  list_->setToolTip(S("Double-Click ZIP to Open, Single-Click directory to select"));
  list_->setEnabled(false);
  list_->setColumnWidth(0, 220);
  LinkExplorerViews(tree_, list_);
  split->setSizes({280, 500});
  h->addWidget(split);
  return page;
}

QWidget* TMainform::BuildMakeTab() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("TabMake"));
  auto* v = new QVBoxLayout(page);
  v->setContentsMargins(1, 1, 1, 1);
  auto* inner = new QTabWidget(page);
  inner->setObjectName(QStringLiteral("PageControl2"));
  inner->addTab(BuildZipTab(), QStringLiteral("ZIP"));
  inner->addTab(BuildReportTab(), S("Report /ZIP Comment && Scheduler"));
  v->addWidget(inner);
  return page;
}

QWidget* TMainform::BuildZipTab() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("TabZIP"));
  auto* columns = new QHBoxLayout(page);
  columns->setContentsMargins(1, 0, 1, 0);
  columns->setSpacing(3);
  auto* col0 = new QVBoxLayout;
  auto* col1 = new QVBoxLayout;
  auto* col2 = new QVBoxLayout;
  for (QVBoxLayout* c : {col0, col1, col2}) {
    c->setSpacing(2);
    columns->addLayout(c, 1);
  }
  auto compact = [](QLayout* l) {
    l->setContentsMargins(3, 0, 3, 1);
    l->setSpacing(1);
  };

  // Column 0: "Advanced" with "Size && Compression", then "Add Settings".
  QGroupBox* adv = Group(page, "GroupAdvanced", "Advanced");
  auto* advL = new QVBoxLayout(adv);
  compact(advL);
  QGroupBox* sc = Group(adv, "GroupSizeCompression", "Size && Compression");
  auto* scL = new QGridLayout(sc);
  compact(scL);
  QWidget* sizeList = OptionListSlot(sc, "SizeList");
  QWidget* compList =
      OptionListSlot(sc, "CompressionList",
                     "    Maximum (standard)\r\nMedium for slower computers\r\nNone "
                     "for already compressed files.");
  scL->addWidget(sizeList, 0, 0, 3, 1, Qt::AlignTop);
  scL->addWidget(EditWithButton(sc, "ComboEdit1", "MaxSizeMb", false), 0, 1);
  scL->addWidget(EditWithButton(sc, "ComboEdit2", "Disk#1Free", true), 1, 1);
  scL->addWidget(compList, 2, 1);
  scL->setColumnStretch(0, 3);
  scL->setColumnStretch(1, 2);
  advL->addWidget(sc);
  col0->addWidget(adv);

  QGroupBox* add = Group(page, "GroupAddSettings", "Add Settings");
  auto* addL = new QVBoxLayout(add);
  compact(addL);
  addL->addWidget(OptionListSlot(add, "ModeList"));
  QGroupBox* range = Group(add, "GroupDateRange", "Date Range");
  range->setFlat(true);
  auto* rangeL = new QGridLayout(range);
  compact(rangeL);
  const char* rNames[] = {"DateFilterNone", "DateFilterBefore", "DateFilterAfter"};
  const char* rCaps[] = {"No date filter", "All before", "All after"};
  for (int i = 0; i < 3; ++i) {
    auto* r = new QRadioButton(S(rCaps[i]), range);
    r->setObjectName(S(rNames[i]));
    r->setChecked(i == 0);
    rangeL->addWidget(r, i / 2, i % 2);
  }
  // "All before" and "All after" compare date and time of day.
  auto* picker = new QDateTimeEdit(QDateTime::currentDateTime(), range);
  picker->setObjectName(QStringLiteral("DateFilterPicker"));
  picker->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm"));
  picker->setCalendarPopup(true);
  rangeL->addWidget(picker, 1, 1);
  addL->addWidget(range);
  col0->addWidget(add);
  col0->addStretch();

  // Column 1: "Security && Directory Settings", "Other Functions", the defaults button.
  QGroupBox* sec = Group(page, "GroupSecurity", "Security && Directory Settings");
  auto* secL = new QVBoxLayout(sec);
  compact(secL);
  secL->addWidget(OptionListSlot(sec, "DirectoryList"));
  col1->addWidget(sec);

  QGroupBox* other = Group(page, "GroupOtherFunctions", "Other Functions");
  auto* otherL = new QVBoxLayout(other);
  compact(otherL);
  otherL->addWidget(OptionListSlot(
      other, "FunctionsList",
      "DateTimeStamp:Append DateTime to Filename\r\nVersioning:Add Version to "
      "Filename\r\nUnattended:Least user intervention\r\nO/C:On completion, switch P/C "
      "off\r\nRestore:Do this once every few days."));
  col1->addWidget(other);
  col1->addWidget(Button(page, "MakeDefaultBtn", "Make these settings default"));
  col1->addStretch();

  // Column 2: grid, stealth and basic view.
  QGroupBox* inc = Group(page, "GroupInclusionGrid", "Inclusion Grid");
  auto* incL = new QVBoxLayout(inc);
  compact(incL);
  gridView_ = new TInclusionGridView(ctx_.Grid.get(), inc);
  auto* table = gridView_;
  table->setObjectName(QStringLiteral("InclusionGrid"));
  table->setToolTip(S("Inclusion specifications for Archive\r\n    Click cell to add/change"));
  table->verticalHeader()->setVisible(false);
  // The header and four rows at least.
  table->setMinimumHeight(table->horizontalHeader()->sizeHint().height() +
                          4 * table->verticalHeader()->defaultSectionSize() +
                          2 * table->frameWidth());
  incL->addWidget(table);
  col2->addWidget(inc, 1);

  QGroupBox* stealth = Group(page, "GroupStealth", "Stealth/Instant Backup");
  auto* stL = new QGridLayout(stealth);
  compact(stL);
  stL->addWidget(OptionListSlot(stealth, "StealthList"), 0, 0, 2, 1, Qt::AlignTop);
  stL->addWidget(Button(stealth, "StealthDefineBtn", "Define", "Define Stealth file"), 0, 1);
  stL->addWidget(Button(stealth, "StealthStartBtn", "Start", "Start Stealth mode"), 1, 1);
  col2->addWidget(stealth);

  QGroupBox* basic = Group(page, "GroupBasic", "Basic");
  auto* bL = new QGridLayout(basic);
  compact(bL);
  bL->addWidget(OptionListSlot(basic, "BasicList"), 0, 0, 3, 1, Qt::AlignTop);
  bL->addWidget(OptionListSlot(basic, "BasicStampList"), 0, 1);
  bL->addWidget(OptionListSlot(basic, "BasicSizeList"), 1, 1);
  bL->addWidget(Button(basic, "BasicWriteZbtn", "&WriteZIP", "Begin ZIP to file"), 3, 0, 1, 2);
  col2->addWidget(basic);
  return page;
}

QWidget* TMainform::BuildReportTab() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("TabReport"));
  auto* h = new QHBoxLayout(page);
  h->setContentsMargins(2, 2, 2, 2);

  QGroupBox* rep = Group(page, "GroupReport", "Report/ZIP comment");
  auto* rL = new QVBoxLayout(rep);
  auto* box = new QTextEdit(rep);
  box->setObjectName(QStringLiteral("ReportBox"));
  box->setEnabled(false);
  rL->addWidget(box, 1);
  auto* rb = new QHBoxLayout;
  rb->addWidget(Button(rep, "SaveCommentBtn", "SaveComment"));
  rb->addWidget(Button(rep, "ReportToZIPBtn", "ReportToZIP"));
  rb->addStretch();
  rL->addLayout(rb);
  h->addWidget(rep, 3);

  QGroupBox* sch = Group(page, "GroupScheduler", "Scheduler");
  auto* sL = new QGridLayout(sch);
  sL->setVerticalSpacing(2);
  auto* steps = Label(sch, "SchedLabelSteps",
                      "Have a predefined JOB ready, then step through the items below\r\n"
                      "sequentially, top to bottom. To clear schedule, click [Forget]");
  sL->addWidget(steps, 0, 0, 1, 3);
  sL->addWidget(Label(sch, "SchedLabelJob", "[Open JOB file] above to get desired JOB Filename"), 2,
                0, 1, 3);
  sL->addWidget(Button(sch, "SchedOpenJobBtn", "Open JOB file"), 1, 0);
  auto* jobEdit = new QLineEdit(S("JOB Filename"), sch);
  jobEdit->setObjectName(QStringLiteral("SchedJobFile"));
  jobEdit->setToolTip(S("This must be a peviously saved JOB file!"));
  sL->addWidget(jobEdit, 3, 0, 1, 3);
  sL->addWidget(Label(sch, "SchedLabelDays", "Run on which days?"), 4, 0, 1, 3);
  const char* days[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                        "Thursday", "Friday", "Saturday"};
  auto* daysBox = new QWidget(sch);
  auto* dL = new QGridLayout(daysBox);
  dL->setContentsMargins(0, 0, 0, 0);
  dL->setVerticalSpacing(0);
  for (int i = 0; i < 7; ++i) {
    auto* c = new QCheckBox(S(days[i]), daysBox);
    c->setObjectName(QStringLiteral("Sched") + S(days[i]));
    dL->addWidget(c, i / 4, i % 4);
  }
  sL->addWidget(daysBox, 5, 0, 1, 3);
  sL->addWidget(Label(sch, "SchedLabelTime", "At what time?"), 6, 0);
  auto* time = new QTimeEdit(QTime(0, 0), sch);
  time->setObjectName(QStringLiteral("SchedTime"));
  sL->addWidget(time, 6, 1);
  auto* set = Button(sch, "SchedSetBtn", "Set");
  set->setEnabled(false);
  sL->addWidget(set, 7, 0);
  sL->addWidget(Button(sch, "SchedForgetBtn", "Forget"), 7, 1);
  sL->setRowStretch(8, 1);
  h->addWidget(sch, 2);
  return page;
}

QWidget* TMainform::BuildArchiveTab() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("TabArchive"));
  auto* g = new QGridLayout(page);
  g->setContentsMargins(2, 2, 2, 2);
  g->setSpacing(3);

  QWidget* view = BuildArchiveView(page);
  view->setEnabled(false);
  g->addWidget(view, 0, 0, 1, 3);

  QGroupBox* search = Group(page, "GroupFileSearch", "File Search");
  auto* sL = new QGridLayout(search);
  sL->setVerticalSpacing(2);
  auto* combo = new QComboBox(search);
  combo->setObjectName(QStringLiteral("ComboBox1"));
  combo->setEditable(true);
  combo->setEditText(S("File(wildcard*.*)"));
  FitComboBox(combo, combo->currentText());
  sL->addWidget(combo, 0, 0, 1, 3);
  auto* quick = new QCheckBox(S("QuickSearch"), search);
  quick->setObjectName(QStringLiteral("QuickSearchCheck"));
  quick->setChecked(true);
  sL->addWidget(quick, 1, 0);
  sL->addWidget(Button(search, "GlobalBtn", "&Global"), 2, 0);
  auto* getZip = Button(search, "GetZBtn1", "&GetZIP");
  getZip->setEnabled(false);
  sL->addWidget(getZip, 2, 1);
  sL->addWidget(Button(search, "GrepeatBtn", "F3"), 2, 2);
  g->addWidget(search, 1, 0);

  QGroupBox* views = Group(page, "GroupViews", "Views and Expedite");
  auto* vL = new QGridLayout(views);
  vL->setVerticalSpacing(2);
  vL->addWidget(OptionListSlot(views, "CheckListBox11"), 0, 0, 3, 1, Qt::AlignTop);
  vL->addWidget(Button(views, "ExtractBut", "E&xtract"), 0, 1);
  vL->addWidget(Button(views, "AbortBut", "Abort"), 0, 2);
  vL->addWidget(Button(views, "DeleteBut", "&Delete"), 1, 1);
  auto* kill = Button(views, "DeleteZipBut", "&KillZIP");
  kill->setEnabled(false);
  vL->addWidget(kill, 1, 2);
  auto* large = new QCheckBox(S("Large Fonts"), views);
  large->setObjectName(QStringLiteral("LargeFontsCheck"));
  vL->addWidget(large, 2, 1, 1, 2);
  g->addWidget(views, 1, 1);

  QGroupBox* method = Group(page, "GroupExtractMethod", "Extract Method");
  auto* mL = new QHBoxLayout(method);
  QWidget* exOpts = OptionListSlot(method, "ExtractOptionsList");
  QWidget* exMode = OptionListSlot(method, "ExtractModeList");
  mL->addWidget(exOpts, 0, Qt::AlignTop);
  mL->addWidget(exMode, 0, Qt::AlignTop);
  g->addWidget(method, 1, 2);
  g->setRowStretch(0, 1);
  return page;
}

QWidget* TMainform::BuildButtonBar() {
  auto* bar = new QWidget;
  bar->setObjectName(QStringLiteral("ButtonBar"));
  auto* h = new QHBoxLayout(bar);
  h->setContentsMargins(0, 0, 0, 0);
  h->setSpacing(3);
  auto* zip64 = Label(bar, "Zip64Label", "ZIP64");
  zip64->setToolTip(S("Indicates this ZIP is not Winzip compatible  (4Gb or >65535 files)"));
  zip64->setStyleSheet(QStringLiteral("color: silver;"));
  zip64->setVisible(false);
  h->addWidget(zip64);
  h->addStretch();
  h->addWidget(Button(bar, "ZipOpenBut", "&Restore", "Open Archive/ZIP file"));
  h->addWidget(Button(bar, "OpenCbutton", "o&PenJob", "Restore previous job settings"));
  h->addWidget(Button(bar, "SaveCbtn", "&SaveJob", "Save this job  to file"));
  h->addWidget(Button(bar, "NewZipBut", "&NewZIP", "Create New ZIP"));
  h->addWidget(Button(bar, "NewEXEBut", "&NewEXE", "Create New EXE"));
  h->addWidget(Button(bar, "AddBut", "&AddToZIP", "Add File(s) to ZIP"));
  h->addWidget(Button(bar, "PauseBtn", "Pause", "Pause/Resume "));
  h->addWidget(Button(bar, "WriteZbtn", "&WriteZIP", "Begin ZIP to file"));
  return bar;
}

void TMainform::BuildStatusBars(QWidget* host, QVBoxLayout* layout) {
  const QString hint = S("ZIP Filesize Calculator on left check button.");
  auto* s1 = new QStatusBar(host);
  s1->setObjectName(QStringLiteral("StatusBar1"));
  s1->setSizeGripEnabled(false);
  s1->setToolTip(hint);
  auto* calc = new QWidget(s1);
  auto* cL = new QHBoxLayout(calc);
  cL->setContentsMargins(0, 0, 0, 0);
  cL->setSpacing(1);
  auto* calcEdit = new QLineEdit(S("FILE Size calc"), calc);
  calcEdit->setObjectName(QStringLiteral("SizeCalcEdit"));
  calcEdit->setToolTip(S("Selected files size"));
  FitLineEdit(calcEdit, {calcEdit->text()});
  auto* calcBtn = new QToolButton(calc);
  calcBtn->setObjectName(QStringLiteral("SizeCalcBtn"));
  calcBtn->setText(QStringLiteral("✓"));
  calcBtn->setToolTip(S("Selected files size"));
  cL->addWidget(calcEdit);
  cL->addWidget(calcBtn);
  s1->addWidget(calc);
  auto* spacer = new QWidget(s1);
  spacer->setObjectName(QStringLiteral("StatusSpacer"));
  spacer->setFixedWidth(1);
  s1->addWidget(spacer);
  auto* time = Label(s1, "StatusProcessTime", "Process Time");
  s1->addWidget(time);
  auto* zipFile = Label(s1, "StatusZipFile", "ZipFile: <none>");
  s1->addWidget(zipFile);
  auto* active = Label(s1, "StatusActiveFile", "ActiveFile: <none>");
  active->setMinimumWidth(40);
  active->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  s1->addWidget(active, 1);
  layout->addWidget(s1);

  auto* s2 = new QStatusBar(host);
  s2->setObjectName(QStringLiteral("StatusBar2"));
  s2->setSizeGripEnabled(false);
  s2->setToolTip(hint);
  auto* disc = new QLabel(s2);
  disc->setObjectName(QStringLiteral("DiscImage"));
  disc->setPixmap(ProgramIcon().pixmap(16, 16));
  disc->setMinimumWidth(22);
  s2->addWidget(disc);
  auto* count = Label(s2, "StatusCount", "DIR&files count");
  count->setMinimumWidth(count->sizeHint().width() + count->fontMetrics().averageCharWidth() * 4);
  s2->addWidget(count);
  auto* total = Label(s2, "StatusTotalSize", "Total size (Kb)");
  total->setMinimumWidth(total->sizeHint().width() + total->fontMetrics().averageCharWidth() * 4);
  s2->addWidget(total);
  auto* gauge = new QProgressBar(s2);
  gauge->setObjectName(QStringLiteral("Gauge"));
  gauge->setRange(0, 100);
  gauge->setValue(0);
  gauge->setTextVisible(false);
  s2->addWidget(gauge, 1);
  layout->addWidget(s2);
}

// --- The window's own commands ---

void TMainform::BindOwnCommands() {
  auto on = [this](const char* name, auto fn) {
    if (auto* a = findChild<QAction*>(S(name))) connect(a, &QAction::triggered, this, fn);
  };
  on("Exit1", [this] { close(); });
  on("TrayExit1", [this] { close(); });
  on("Hints1", [this] {
    // The action has toggled itself; the handler toggles from the previous state.
    if (auto* a = findChild<QAction*>(QStringLiteral("Hints1"))) a->setChecked(!a->isChecked());
    lifecycle_->Hints1Click();
  });
  on("ThemeManager1", [this] {
    if (auto* a = findChild<QAction*>(QStringLiteral("ThemeManager1")))
      a->setChecked(!a->isChecked());
    lifecycle_->ThemeManager1Click();
  });
  on("HelpContents1", [this] { lifecycle_->Help1Click(); });
  on("TrayHelpContents1", [this] { lifecycle_->Help1Click(); });
  on("About1", [this] { About(); });
  on("TrayAbout1", [this] { About(); });
  on("TrayRestore1", [this] {
    showNormal();
    raise();
    activateWindow();
  });
}

void TMainform::About() {
  QDialog box(this);
  box.setObjectName(QStringLiteral("AboutBox"));
  box.setWindowTitle(QStringLiteral("About Arcavo"));
  auto* v = new QVBoxLayout(&box);
  auto* icon = new QLabel(&box);
  icon->setPixmap(ProgramIcon().pixmap(48, 48));
  v->addWidget(icon, 0, Qt::AlignHCenter);
  v->addWidget(new QLabel(QStringLiteral("Arcavo V") + ctx_.VersionDigits +
                              QStringLiteral("\nBackup to zip archives, discs and removable disks"),
                          &box));
  auto* ok = new QDialogButtonBox(QDialogButtonBox::Ok, &box);
  connect(ok, &QDialogButtonBox::accepted, &box, &QDialog::accept);
  v->addWidget(ok);
  box.exec();
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
  if (event->type() == QEvent::ActivationChange) {
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
  if (event->type() == QEvent::ToolTip) {
    if (!hintsShown_) return true;
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

// --- IControlHost ---

QObject* TMainform::FindControl(const QString& name) const {
  if (name.isEmpty()) return nullptr;
  if (QObject* o = findChild<QObject*>(name)) return o;
  for (QMenu* m : popups_) {
    if (m->objectName() == name) return m;
    if (QObject* o = m->findChild<QObject*>(name)) return o;
  }
  // By caption, for callers that name a control by what the user sees.
  for (QAction* a : findChildren<QAction*>())
    if (a->text() == name) return a;
  for (QAbstractButton* b : findChildren<QAbstractButton*>())
    if (b->text() == name) return b;
  for (QGroupBox* g : findChildren<QGroupBox*>())
    if (g->title() == name) return g;
  return nullptr;
}

void TMainform::SetControlEnabled(const QString& name, bool enabled) {
  QObject* o = FindControl(name);
  if (auto* a = qobject_cast<QAction*>(o))
    a->setEnabled(enabled);
  else if (auto* w = qobject_cast<QWidget*>(o))
    w->setEnabled(enabled);
}

void TMainform::SetControlVisible(const QString& name, bool visible) {
  QObject* o = FindControl(name);
  if (auto* a = qobject_cast<QAction*>(o))
    a->setVisible(visible);
  else if (auto* w = qobject_cast<QWidget*>(o))
    w->setVisible(visible);
}

void TMainform::SetControlChecked(const QString& name, bool checked) {
  QObject* o = FindControl(name);
  if (auto* a = qobject_cast<QAction*>(o))
    a->setChecked(checked);
  else if (auto* b = qobject_cast<QAbstractButton*>(o))
    b->setChecked(checked);
  else if (auto* g = qobject_cast<QGroupBox*>(o))
    g->setChecked(checked);
}

void TMainform::SetControlCaption(const QString& name, const QString& caption) {
  QObject* o = FindControl(name);
  if (auto* a = qobject_cast<QAction*>(o))
    a->setText(caption);
  else if (auto* m = qobject_cast<QMenu*>(o))
    m->setTitle(caption);
  else if (auto* b = qobject_cast<QAbstractButton*>(o))
    b->setText(caption);
  else if (auto* g = qobject_cast<QGroupBox*>(o))
    g->setTitle(caption);
  else if (auto* l = qobject_cast<QLabel*>(o))
    l->setText(caption);
  else if (auto* e = qobject_cast<QLineEdit*>(o))
    e->setText(caption);
  else if (auto* w = qobject_cast<QWidget*>(o)) {
    if (auto* tabs = qobject_cast<QTabWidget*>(w->parentWidget() ? w->parentWidget()->parentWidget()
                                                                 : nullptr))
      tabs->setTabText(tabs->indexOf(w), caption);
  }
}

bool TMainform::ControlEnabled(const QString& name) const {
  QObject* o = FindControl(name);
  if (auto* a = qobject_cast<QAction*>(o)) return a->isEnabled();
  if (auto* w = qobject_cast<QWidget*>(o)) return w->isEnabled();
  return false;
}

bool TMainform::ControlVisible(const QString& name) const {
  QObject* o = FindControl(name);
  if (auto* a = qobject_cast<QAction*>(o)) return a->isVisible();
  if (auto* w = qobject_cast<QWidget*>(o)) return !w->isHidden();
  return false;
}

bool TMainform::ControlChecked(const QString& name) const {
  QObject* o = FindControl(name);
  if (auto* a = qobject_cast<QAction*>(o)) return a->isChecked();
  if (auto* b = qobject_cast<QAbstractButton*>(o)) return b->isChecked();
  if (auto* g = qobject_cast<QGroupBox*>(o)) return g->isChecked();
  return false;
}

QString TMainform::ControlCaption(const QString& name) const {
  return CaptionOf(FindControl(name));
}

// --- IStartupSeams: the window's part ---

int TMainform::ScreenWidth() const {
  QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
  return s ? s->geometry().width() : 1280;
}

void TMainform::Maximise() {
  showMaximized();
}

void TMainform::ShowBrowserTab() {
  if (auto* pages = findChild<QTabWidget*>(QStringLiteral("PageControl1")))
    pages->setCurrentIndex(0);
}

void TMainform::SetTimePickerFormat(const QString& format) {
  if (auto* t = findChild<QTimeEdit*>(QStringLiteral("SchedTime"))) t->setDisplayFormat(format);
}

void TMainform::OpenHelp(int /*context*/) {
  // The help is a document beside the program; without one there is nothing to open.
  const std::string path = ResourcePath("arcavo-help.html");
  if (!path.empty()) QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

void TMainform::HideToTrayMinimised() {
  showMinimized();
  if (ControlChecked(QStringLiteral("MinimiseToTray1")) &&
      QSystemTrayIcon::isSystemTrayAvailable()) {
    trayIcon_->setToolTip(ctx_.TrayTitle);
    trayIcon_->show();
    hide();
  }
}

void TMainform::SetThemesReleased(bool released) {
  if (released) {
    if (QStyle* plain = QStyleFactory::create(QStringLiteral("Windows"))) qApp->setStyle(plain);
    // A shown window is drawn again in the plain style; at start it is not shown yet.
    if (isVisible()) {
      hide();
      show();
    }
  } else if (auto* tree = findChild<QTreeView*>(QStringLiteral("ExplorerTree"))) {
    tree->setAnimated(true);
  }
}

bool TMainform::WindowIdle() const {
  // The main event loop alone turns (no dialog's or box's loop, no Delay) and nothing modal is
  // open.
  return QThread::currentThread()->loopLevel() <= 1 && !QApplication::activeModalWidget() &&
         !QApplication::activePopupWidget();
}

QString TMainform::JobRefusal(const QString& job) {
  return ctx_.Jobs->AutoRunRefusal(job);
}

void TMainform::EnableExplorer() {
  for (const char* n : {"ExplorerTree", "ExplorerList"})
    if (auto* w = findChild<QWidget*>(S(n))) w->setEnabled(true);
}

void TMainform::FillGridDefaults() {
  TInclusionGrid& grid = *ctx_.Grid;
  grid.BeginUpdate();
  grid.Clear();
  for (int col = 0; col < TInclusionGrid::kColCount; ++col) {
    const QStringList& cells = TInclusionGrid::DefaultColumn(col);
    for (int i = 0; i < cells.size(); ++i) grid.SetCell(col, i + 1, cells[i]);
  }
  grid.EndUpdate();
}

void TMainform::ActivateExplorerTree() {
  tree_->SetWindowShown();
  ctx_.Explorer->TreeModel().Refresh();
}

void TMainform::ActivateExplorerList() {
  ctx_.Explorer->ListModel().Refresh();
}

void TMainform::ExpandTreeToStart() {
  tree_->BrowseTo(startFolder_.isEmpty() ? QDir::homePath() : startFolder_);
}

void TMainform::EnableArchiveView(bool on) {
  if (auto* v = findChild<QTreeView*>(QStringLiteral("ArchiveView"))) v->setEnabled(on);
}

void TMainform::PrepareArchiveView() {
  // The archive view's controller sorts; the view only animates its folders.
  if (auto* v = findChild<QTreeView*>(QStringLiteral("ArchiveView"))) v->setAnimated(true);
}

void TMainform::SetArchiveName(const QString& name) {
  ctx_.ZipName = name;
  SetControlCaption(QStringLiteral("StatusZipFile"),
                    name.isEmpty() ? S("ZipFile: <none>") : S("ZipFile: ") + name);
}

void TMainform::SetTrayEnabled(bool on) {
  if (!on) trayIcon_->hide();
}

void TMainform::StopGeneralTimer() {
  timer1_->stop();
}

void TMainform::StopSchedulerTimer() {
  schedTimer_->stop();
}

// --- IStartupSeams: option lists, settings, jobs, recent jobs, explorer ---

void TMainform::Setstate(int mode) {
  ctx_.Options->Setstate(mode);
}

void TMainform::INIfileIO(const QString& file) {
  ctx_.Settings->INIfileIO(file);
}

void TMainform::INIcheckedMenuItem(const QString& key, bool checked) {
  ctx_.Prefs->Write(key, checked);
}

void TMainform::OpenCbutton() {
  ctx_.Jobs->OpenCbutton(JobSender::AutoRun);
}

void TMainform::ClearRecentSlot() {
  ctx_.History->FileChangedCaption.clear();
}

void TMainform::LoadRecentList() {
  ctx_.History->Load();
}

void TMainform::OpenRecent(const QString& file) {
  TFileMenuHandler& history = *ctx_.History;
  // A job named on the command line was opened, and run, by window creation: here it only
  // joins the recent list. Opening it again would reload it and, while AutoRunFile is still
  // set, run it a second time. (The tag makes the window's reaction to the new current file do
  // nothing, as for a file chosen in "o&PenJob".)
  if (HasExtension(file, {QStringLiteral(".JOB"), QStringLiteral(".CAT")})) history.Tag = 1;
  history.SetCurrentFile(file);
  history.Tag = 0;
}

void TMainform::LinkListToTree() {
  ctx_.Explorer->SetLinked(true);
}

// --- IMainWindow ---

QString TMainform::ExplorerCurrentFolder() const {
  return tree_->CurrentFolder();
}

bool TMainform::CtrlHeld() const {
  return QGuiApplication::queryKeyboardModifiers() & Qt::ControlModifier;
}

void TMainform::ShowZipTab() {
  if (auto* inner = findChild<QTabWidget*>(QStringLiteral("PageControl2")))
    inner->setCurrentIndex(0);
}

void TMainform::ShowSizeCount(const QString& count, const QString& total) {
  SetControlCaption(QStringLiteral("StatusCount"), count);
  SetControlCaption(QStringLiteral("StatusTotalSize"), total);
}

void TMainform::GaugeClear() {
  if (auto* gauge = findChild<QProgressBar*>(QStringLiteral("Gauge"))) gauge->setValue(0);
}

// --- IWindowModeHost ---

void TMainform::ShowExplorerCheckBoxes(bool show) {
  ctx_.Explorer->SetMakeMode(show);
}

void TMainform::ClearStatusBar() {
  SetControlCaption(QStringLiteral("StatusCount"), S("DIR&files count"));
  SetControlCaption(QStringLiteral("StatusTotalSize"), S("Total size (Kb)"));
  SetControlCaption(QStringLiteral("StatusActiveFile"), S("ActiveFile: <none>"));
}

void TMainform::SetZip64Highlighted(bool on) {
  if (auto* label = findChild<QLabel*>(QStringLiteral("Zip64Label")))
    label->setStyleSheet(on ? QStringLiteral("color: red; font-weight: bold;")
                            : QStringLiteral("color: silver;"));
}

void TMainform::SetGroupCaptionHighlighted(const QString& group, bool on) {
  if (auto* g = findChild<QGroupBox*>(group)) ::SetGroupCaptionHighlighted(g, on);
}

// --- ISchedulerControls ---

namespace {
const char* const kDays[] = {"SchedSunday",   "SchedMonday", "SchedTuesday", "SchedWednesday",
                             "SchedThursday", "SchedFriday", "SchedSaturday"};
}

void TMainform::SetScheduleDays(int days) {
  for (int i = 0; i < 7; ++i)
    if (auto* box = findChild<QCheckBox*>(S(kDays[i]))) box->setChecked(days & (1 << i));
}

void TMainform::SetScheduleTime(const QString& time) {
  auto* picker = findChild<QTimeEdit*>(QStringLiteral("SchedTime"));
  if (!picker) return;
  for (const char* format : {"HH:mm", "H:mm", "HH:mm:ss", "H:mm:ss"}) {
    const QTime t = QTime::fromString(time.trimmed(), S(format));
    if (t.isValid()) {
      picker->setTime(t);
      return;
    }
  }
}

void TMainform::SetScheduleFile(const QString& file) {
  if (auto* edit = findChild<QLineEdit*>(QStringLiteral("SchedJobFile"))) edit->setText(file);
}

QString TMainform::ScheduleFile() const {
  auto* edit = findChild<QLineEdit*>(QStringLiteral("SchedJobFile"));
  return edit ? edit->text() : QString();
}

void TMainform::StartSchedulerTimer() {
  schedTimer_->start();
}

// --- IFileDialogHost ---

void TMainform::SetFileDialogHost(IFileDialogHost* host) {
  dialogs_ = host ? host : qtDialogs_.get();
}

QString TMainform::OpenFile(const FileDialogSpec& spec) {
  return dialogs_->OpenFile(spec);
}

QString TMainform::SaveFile(const FileDialogSpec& spec) {
  return dialogs_->SaveFile(spec);
}

// --- Commands of the option lists, settings, jobs, grid and recent jobs ---

void TMainform::BindCommands() {
  auto action = [this](const QString& name) { return findChild<QAction*>(name); };
  auto onAction = [&](const QString& name, auto fn) {
    if (QAction* a = action(name)) connect(a, &QAction::triggered, this, fn);
  };
  auto onButton = [this](const char* name, auto fn) {
    if (auto* b = findChild<QAbstractButton*>(S(name)))
      connect(b, &QAbstractButton::clicked, this, fn);
  };

  // Jobs.
  auto openJob = [this] { ctx_.Jobs->OpenCbutton(JobSender::Dialog); };
  onButton("OpenCbutton", openJob);
  onAction(QStringLiteral("OpenJob1"), openJob);
  auto saveJob = [this] { ctx_.Jobs->SaveCbtnClick(); };
  onButton("SaveCbtn", saveJob);
  onAction(QStringLiteral("SaveJob1"), saveJob);
  onAction(QStringLiteral("ModifyJob1"), [this] { ctx_.Jobs->ModifyJobClick(); });
  onButton("SchedOpenJobBtn", [this] { ctx_.Jobs->OpenCbutton(JobSender::SchedulerOpen); });
  // (A double click on a file of the explorer list goes to the archive view, which passes jobs
  // on to the job controller: BindArchiveCommands.)
  onAction(QStringLiteral("ClearHistory1"), [this] { ctx_.History->ClearHistory(); });

  // Settings.
  auto setDefault = [this] { ctx_.Settings->SetDefaultClick(); };
  onButton("MakeDefaultBtn", setDefault);
  onAction(QStringLiteral("SetDefault1"), setDefault);
  onAction(S(ctl::kBasicItem), [this] { ctx_.Options->ExpertModeClick(false); });
  onAction(S(ctl::kAdvancedItem), [this] { ctx_.Options->ExpertModeClick(true); });

  // Boolean preferences: the handler toggles the check mark itself, so the toggle the action
  // has just made is taken back first.
  const std::pair<const char*, const char*> toggles[] = {
      {ctl::kStartMinimisedItem, "StartMinimised"},
      {ctl::kSchedPromptItem, "SchedBUPrompt"},
      {ctl::kStealthEnableItem, "StealthEnabled"},
      {ctl::kStealthExclZipItem, "StealthZIP"},
      {ctl::kMinimizeOnLoadItem, "StealthMinimizeOnLoad"},
      {ctl::kMinToTrayItem, "MinToTray"},
      {ctl::kPromptSkipOpenFilesItem, "PromptSkipOpenFiles"},
      {ctl::kFullReportItem, "FullReport"},
      {ctl::kCheckSpaceItem, "CheckTempSpace"},
      {ctl::kAutoRenameOnSizeItem, "StealthARen"},
  };
  for (const auto& [item, key] : toggles) {
    QAction* a = action(S(item));
    if (!a) continue;
    connect(a, &QAction::triggered, this, [this, a, key = S(key)] {
      a->setChecked(!a->isChecked());
      ctx_.Settings->ToggleMenuPreference(key);
    });
  }
  // ("Large Fonts" and "Display Empty Dir" belong to the archive view: BindArchiveCommands.)
  if (auto* b = findChild<QAbstractButton*>(S(ctl::kQuickSearchBox)))
    connect(b, &QAbstractButton::clicked, this, [this](bool on) {
      ctx_.Settings->CheckBoxPreference(QStringLiteral("QuickSearch"), on);
    });
  onAction(S(ctl::kProgramDirItem), [this] { ctx_.Settings->JobDirClick(true); });
  onAction(S(ctl::kBackupDirItem), [this] { ctx_.Settings->JobDirClick(false); });
  onAction(S(ctl::kPromptEraseItem), [this] { ctx_.Settings->ClearDiskMethodClick(false); });
  onAction(S(ctl::kNoPromptEraseItem), [this] { ctx_.Settings->ClearDiskMethodClick(true); });
  onAction(S(ctl::kTempDefaultItem), [this] { ctx_.Settings->TempDirChosen(QString()); });
  onAction(S(ctl::kTempSelectItem), [this] { backup_->run().SetTempDIR1Click(); });
  for (int tag = 0; tag < 4; ++tag)
    onAction(S(ctl::kDateTimeFormatItems[tag]),
             [this, tag] { ctx_.Settings->DateTimeFormatClick(tag); });
  // (The "Archive SortBy" items are the archive view's: BindArchiveCommands.)

  // Explorer tree popup, inclusion grid popup, size calculator.
  onAction(QStringLiteral("TreeClearSelected1"), [this] { tree_->Clearchecks(); });
  onAction(QStringLiteral("TreeProgramDIR1"), [this] { tree_->ProgramDirAction()->trigger(); });
  onAction(QStringLiteral("TidyGrid1"), [this] { ctx_.Grid->Tidy(); });
  onAction(QStringLiteral("ClearGrid1"), [this] { ctx_.Grid->Clear(); });
  onButton("SizeCalcBtn", [this] { ctx_.SizeCalc->SizeCalcClick(); });

  BindArchiveCommands();
}

// --- Backup run and naming ---

void TMainform::BindBackupCommands() {
  TBackupRun& run = backup_->run();
  TNaming& naming = backup_->naming();
  auto button = [this](const char* name, auto fn) {
    if (auto* b = findChild<QAbstractButton*>(S(name)))
      connect(b, &QAbstractButton::clicked, this, fn);
  };
  auto item = [this](const char* name, auto fn) {
    if (auto* a = findChild<QAction*>(S(name))) connect(a, &QAction::triggered, this, fn);
  };
  button(bctl::kWriteButton, [&run] { run.WriteZbtnClick(); });
  button(bctl::kBasicWriteButton, [&run] { run.WriteZbtnClick(); });
  button(ctl::kPauseButton, [&run] { run.PauseBtnClick(); });
  button(ctl::kAddToZipButton, [&run] { run.AddButClick(); });
  button("NewZipBut", [&naming] { naming.NewZipButClick(NamingSender::NewZip); });
  button("NewEXEBut", [&naming] { naming.NewZipButClick(NamingSender::NewExe); });
  button("StealthDefineBtn", [&naming] { naming.NewZipButClick(NamingSender::Define); });
  item("NewZip1", [&naming] { naming.NewZipButClick(NamingSender::NewZipMenu); });
  const char* presets[] = {"MozAllData1", "ThunderbirdAllData1", "ThunderbirdProfile1",
                           "FirefoxProfile1"};
  for (int kind = 1; kind <= 4; ++kind)
    item(presets[kind - 1], [&naming, kind] { naming.NewZipButClick(NamingSender::Preset, kind); });
  item("NameToFilename1", [&naming] { naming.NameToFilename1Click(); });
  // The tray menu pauses and resumes; Esc and the tray's abort only ask to cancel a run.
  item(bctl::kTrayPauseItem, [&run] { run.PauseBtnClick(); });
  item(bctl::kTrayResumeItem, [&run] { run.PauseBtnClick(); });
  auto* esc = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  esc->setContext(Qt::WindowShortcut);
  connect(esc, &QShortcut::activated, this, [&run] {
    if (run.RunInProgress()) run.WriteZbtnClick();
  });
  // Progress, skipped files, the report box and the comment (the view is a child of the window).
  auto* report = new TWindowReport(*this);
  backupHost_->progress = report;
  BindReportCommands(*this, backup_->AttachReport(*report, *report));
}

bool TMainform::ExeMode() const {
  return backup_->run().ExeMode();
}

void TMainform::SetAddToArchive(bool on) {
  backup_->run().SetAddMode(on);
}

void TMainform::ModifyJobNaming() {
  backup_->naming().NewZipButClick(NamingSender::ModifyJob);
}

bool TMainform::ArchiveBusy() const {
  return backup_ && backup_->ArcZip1.Busy();
}

bool TMainform::OperationPaused() const {
  return backup_ && backup_->run().PauseMode();
}

void TMainform::ResumeOperation() {
  if (backup_ && backup_->run().PauseMode()) backup_->run().PauseBtnClick();
}

void TMainform::CancelOperation() {
  if (!backup_) return;
  if (backup_->run().RunInProgress())
    backup_->run().CancelZIP();
  else
    backup_->ArcZip1.CancelOperation();
}
