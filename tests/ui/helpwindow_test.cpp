// The window's help, context help, about box and feedback mails as the user reaches them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zlib.h>

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QWhatsThis>
#include <cstdlib>
#include <filesystem>
#include <set>

#include "app/feedback.h"
#include "app/lifecycle.h"
#include "app/mb.h"
#include "backup/backupcore.h"
#include "backup/burncommands.h"
#include "platform/programdir.h"
#include "qt_scriptedhost.h"
#include "testutil.h"
#include "ui/aboutdialog.h"
#include "ui/contexthelp.h"
#include "ui/desktopopener.h"
#include "ui/feedbackmenu.h"
#include "ui/mainform.h"
#include "windowtest.h"

namespace {

using testutil::IsolatedXdg;
using testutil::TempDir;

struct RecordingOpener : IUrlOpener {
  QStringList urls;
  bool OpenUrl(const QString& url) override {
    urls << url;
    return true;
  }
};

// No test of this program starts the desktop's browser or mail program: every window of every
// test hands its addresses to a recorder unless the test installs an opener of its own.
class QuietDesktop : public ::testing::Environment {
 public:
  void SetUp() override { SetUrlOpener(&recorder_); }
  void TearDown() override { SetUrlOpener(nullptr); }

 private:
  RecordingOpener recorder_;
};
::testing::Environment* const g_quietDesktop =
    ::testing::AddGlobalTestEnvironment(new QuietDesktop);

// Runs the help checker of the tests; its JSON answer.
QJsonObject Check(const char* mode, const std::string& arg) {
  const std::string script =
      std::string(std::getenv("ARCAVO_SOURCE_DIR")) + "/tests/support/helpcheck.py";
  const auto r = testutil::Run("python3 " + testutil::Quote(script) + " " + mode + " " +
                               testutil::Quote(arg) + " 2>&1");
  EXPECT_EQ(r.status, 0) << r.out;
  return QJsonDocument::fromJson(QByteArray::fromStdString(r.out)).object();
}

// Where the generated page of an opened address sends the browser.
QUrl RedirectTarget(const QString& opened) {
  const QUrl page = QUrl::fromEncoded(opened.trimmed().toLatin1(), QUrl::StrictMode);
  EXPECT_TRUE(page.isLocalFile()) << opened.toStdString();
  const QJsonObject r =
      Check("redirect", page.toLocalFile().toStdString())[page.toLocalFile()].toObject();
  return QUrl::fromEncoded(r["refresh"].toString().toLatin1(), QUrl::StrictMode);
}

QString HelpBesideTheTests() {
  return QCoreApplication::applicationDirPath() + "/help/arcavo-help.html";
}

void Trigger(TMainform& w, const char* item) {
  auto* a = qobject_cast<QAction*>(w.FindControl(item));
  ASSERT_TRUE(a) << item;
  a->trigger();
}

class HelpWindowTest : public WindowTestBase {
 protected:
  HelpWindowTest() : WindowTestBase(nullptr) { previous_ = SetUrlOpener(&opener_); }
  ~HelpWindowTest() override { SetUrlOpener(previous_); }
  void FirstRunDone() {
    testutil::WriteFile(ProgramDir() + "default.ini", "[Options]\nClrDisk=0\n");
  }

  ScriptedHost host_;
  RecordingOpener opener_;
  IUrlOpener* previous_ = nullptr;
};

TEST_F(HelpWindowTest, FirstRunAndHelpOpenTheirSectionOncePerRequest) {
  TMainform w;
  w.FormCreate();
  host_.AnswerDefaults(true);  // the first-run notices, whatever this machine's drives are
  w.show();
  for (int i = 0; i < 50 && w.context().FirstPaint; ++i) QTest::qWait(10);
  ASSERT_FALSE(w.context().FirstPaint);

  // The first run opens "getting started".
  ASSERT_EQ(opener_.urls.size(), 1);
  QUrl target = RedirectTarget(opener_.urls[0]);
  EXPECT_EQ(target.toLocalFile(), QFileInfo(HelpBesideTheTests()).absoluteFilePath());
  EXPECT_EQ(target.fragment(), "ctx39");

  // "Help" asks twice, 10 ms apart: one page. The tray's "Help" right after is the same request.
  Trigger(w, "HelpContents1");
  Trigger(w, "TrayHelpContents1");
  ASSERT_EQ(opener_.urls.size(), 2);
  target = RedirectTarget(opener_.urls[1]);
  EXPECT_EQ(target.fragment(), "ctx1");
  EXPECT_TRUE(target.toLocalFile().endsWith("/arcavo-help.html"));
  w.close();
}

TEST_F(HelpWindowTest, EveryControlCarriesASectionOfTheHelpWithItsHintAndTheSectionsLead) {
  TMainform w;
  const std::string html =
      std::string(std::getenv("ARCAVO_SOURCE_DIR")) + "/docs/help/arcavo-help.html";
  const QJsonObject sections = Check("sections", html);
  auto lead = [&](int ctx) { return sections[QString::number(ctx)].toString(); };

  // Every section the table names, and the ones the program opens, is in the help with a first
  // sentence, and the program reads the same sentence as an HTML parser does.
  std::set<int> contexts = {helpctx::kWindow, helpctx::kFirstRun, helpctx::kStealth};
  for (const THelpTopic& t : HelpTopics()) {
    contexts.insert(t.context);
    // (no stale names: each is a control of the window)
    EXPECT_TRUE(w.objectName() == t.name || w.findChild<QObject*>(t.name)) << t.name;
  }
  for (int ctx : contexts) {
    EXPECT_FALSE(lead(ctx).isEmpty()) << "no section ctx" << ctx;
    EXPECT_EQ(HelpSectionLead(ctx), lead(ctx)) << "ctx" << ctx;
  }

  // Each control with a hint shows the hint and its section's lead; every menu item its lead.
  for (QWidget* c : w.findChildren<QWidget*>()) {
    if (c->toolTip().isEmpty()) continue;
    const int ctx = HelpContextOf(c);
    EXPECT_TRUE(contexts.count(ctx)) << c->objectName().toStdString();
    QString hint = c->toolTip();
    hint.replace("\r\n", "\n");
    EXPECT_EQ(c->whatsThis(), hint.trimmed() + "\n\n" + lead(ctx)) << c->objectName().toStdString();
  }
  for (QAction* a : w.findChildren<QAction*>()) {
    if (a->isSeparator() || a->text().isEmpty() || a->objectName().isEmpty()) continue;
    EXPECT_TRUE(a->whatsThis().endsWith(lead(HelpContextOf(a))) &&
                !lead(HelpContextOf(a)).isEmpty())
        << a->objectName().toStdString();
  }

  // A control inside a group belongs to the group's section; menu items to their menu's.
  const struct {
    const char* control;
    int context;
  } rows[] = {{"Mainform", 1},           {"ExplorerTree", 2},     {"SizeList", 4},
              {"DateFilterPicker", 5},   {"DirectoryList", 6},    {"FunctionsList", 7},
              {"InclusionGrid", 8},      {"TidyGrid1", 8},        {"MakeDefaultBtn", 9},
              {"BasicWriteZbtn", 10},    {"StealthStartBtn", 45}, {"SaveReport1", 11},
              {"SchedSetBtn", 12},       {"ArchiveView", 13},     {"Open1", 13},
              {"GrepeatBtn", 14},        {"DeleteZipBut", 15},    {"ExtractModeList", 16},
              {"WriteZbtn", 17},         {"SizeCalcBtn", 18},     {"Gauge", 18},
              {"MozAllData1", 20},       {"LastError1", 21},      {"StartUp1", 22},
              {"DefineHotKey1", 22},     {"Quick1", 23},          {"BugReport1", 24},
              {"ContextHelpButton", 24}, {"SFTburn1", 25},        {"TrayRestore1", 26}};
  for (const auto& r : rows) {
    const QObject* c = w.objectName() == r.control ? &w : w.FindControl(r.control);
    ASSERT_TRUE(c) << r.control;
    EXPECT_EQ(HelpContextOf(c), r.context) << r.control;
  }

  // "?" starts context help: the next click on a control shows its text.
  auto* what = w.findChild<QToolButton*>("ContextHelpButton");
  ASSERT_TRUE(what);
  what->click();
  EXPECT_TRUE(QWhatsThis::inWhatsThisMode());
  QWhatsThis::leaveWhatsThisMode();
}

TEST_F(HelpWindowTest, ARecordingXdgOpenAndXdgEmailFirstOnPathGetTheHelpPageAndTheMails) {
  FirstRunDone();
  // The desktop's own opener, with recorders in place of the desktop's tools.
  SetUrlOpener(nullptr);
  const std::string bin = tmp_ / "bin";
  std::filesystem::create_directories(bin);
  for (const char* tool : {"xdg-open", "xdg-email"}) {
    testutil::WriteFile(bin + "/" + tool,
                        "#!/bin/sh\nprintf '%s\\n' \"$*\" >> \"" + (tmp_ / tool) + ".log\"\n");
    ::chmod((bin + "/" + tool).c_str(), 0755);
  }
  const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin";
  ::setenv("PATH", (bin + ":" + oldPath).c_str(), 1);
  auto logged = [&](const char* tool, int lines) {
    QStringList got;
    for (int i = 0; i < 500; ++i) {
      if (testutil::Exists(tmp_ / tool + ".log"))
        got = QString::fromStdString(testutil::ReadFile(tmp_ / tool + ".log"))
                  .split('\n', Qt::SkipEmptyParts);
      if (got.size() >= lines) break;
      QTest::qWait(10);
    }
    return got;
  };

  TMainform w;
  w.FormCreate();
  Trigger(w, "HelpContents1");
  const QStringList opened = logged("xdg-open", 1);
  ASSERT_EQ(opened.size(), 1);
  EXPECT_EQ(RedirectTarget(opened[0]).fragment(), "ctx1");

  w.backup()->burn().LastBurnError = "Writer: no disc & #2 ünready";
  ComposeFeedbackMail(true, w.backup());
  ComposeFeedbackMail(false, w.backup());
  QStringList mailed = logged("xdg-email", 2);
  ::setenv("PATH", oldPath.c_str(), 1);
  ASSERT_EQ(mailed.size(), 2);
  // The two mailers run on their own and may log in either order.
  if (mailed[1].contains("%20bug%20report&")) mailed.swapItemsAt(0, 1);
  const QString digits = TAppLifecycle::VersionDigitsOf(ARCAVO_VERSION);
  EXPECT_TRUE(mailed[0].startsWith("mailto:support@arcavo.example?subject=Arcavo%20V" + digits +
                                   "%20bug%20report&body="))
      << mailed[0].toStdString();
  EXPECT_TRUE(QUrl::fromPercentEncoding(mailed[0].toLatin1())
                  .contains("Last disc-writing error:\r\n  Writer: no disc & #2 ünready"));
  EXPECT_TRUE(mailed[1].contains("subject=Arcavo%20V" + digits + "%20information%20request&"));
  EXPECT_FALSE(mailed[1].contains("Writer"));
  // Only the two tools ran: nothing reached the desktop otherwise.
  EXPECT_EQ(logged("xdg-open", 1).size(), 1);
  EXPECT_TRUE(host_.transcript().isEmpty());

  // With nothing to take the mail, the user is told where to write instead.
  struct Refusing : IUrlOpener {
    bool OpenUrl(const QString&) override { return false; }
  } refusing;
  SetUrlOpener(&refusing);
  host_.Answer(IDOK,
               "No mail program could be started (xdg-email or xdg-open, from the package "
               "xdg-utils).\rPlease write to support@arcavo.example");
  ComposeFeedbackMail(true, nullptr);
  SetUrlOpener(nullptr);
}

TEST_F(HelpWindowTest, AboutShowsTheVersionsAndLeavesNoDialogBehind) {
  TMainform w;
  QString shown;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    ASSERT_TRUE(box);
    EXPECT_EQ(box->objectName(), "AboutBox");
    if (auto* text = box->findChild<QLabel*>("AboutText")) shown = text->text();
    if (auto* text = box->findChild<QLabel*>("AboutLicence")) shown += "\n" + text->text();
    box->accept();
  });
  Trigger(w, "About1");
  const QString digits = TAppLifecycle::VersionDigitsOf(ARCAVO_VERSION);
  for (const QString& want : {"Arcavo V" + digits, QString("Qt ") + qVersion(),
                              QString("zlib ") + zlibVersion(), LicenceText()})
    EXPECT_TRUE(shown.contains(want)) << want.toStdString() << " in " << shown.toStdString();
  // The licence is the package's: its text, not a placeholder.
  EXPECT_GT(LicenceText().size(), 40) << LicenceText().toStdString();
  EXPECT_FALSE(LicenceText().contains("to be announced")) << LicenceText().toStdString();
  QApplication::processEvents();
  for (QWidget* top : QApplication::topLevelWidgets())
    EXPECT_FALSE(qobject_cast<QDialog*>(top) && top->objectName() == "AboutBox");
  EXPECT_TRUE(w.findChildren<QDialog*>("AboutBox").isEmpty());
}

}  // namespace
