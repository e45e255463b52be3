// The window's report box, gauge and pages as the report handlers drive them, and the report
// box's commands bound to the window's buttons and menu items.
#include "ui/reportview.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>

#include "app/mb.h"
#include "app/optionscontroller.h"
#include "app/preferences.h"
#include "archive/arczip.h"
#include "backup/runreport.h"
#include "platform/programdir.h"
#include "qt_scriptedhost.h"
#include "testutil.h"
#include "ui/backupwindow.h"
#include "ui/mainform.h"

namespace {

class ReportViewTest : public ::testing::Test {
 protected:
  ReportViewTest() : xdg_(tmp_.path()) {
    ResetProgramDirForTest();
    SetMbTerminating(false);
  }
  ~ReportViewTest() override { ResetProgramDirForTest(); }

  testutil::TempDir tmp_;
  testutil::IsolatedXdg xdg_;
  ScriptedHost host_;
  TMainform form_;
  TWindowReport view_{form_};
};

}  // namespace

TEST_F(ReportViewTest, BoxKeepsLinesAsTextAndEmptyLines) {
  auto* box = form_.findChild<QPlainTextEdit*>("ReportBox");
  ASSERT_TRUE(box);
  EXPECT_TRUE(view_.Lines().isEmpty());
  view_.Add("Beginning Add to /b/<b>x</b>.zip");
  view_.Add("Unfiltered files & DIRs to Archive: 3\r\nArchive started @ now\r");
  EXPECT_EQ(view_.Lines(),
            (QStringList{"Beginning Add to /b/<b>x</b>.zip",
                         "Unfiltered files & DIRs to Archive: 3", "Archive started @ now", ""}));
  view_.Add("next");
  EXPECT_EQ(view_.Lines().last(), "next");
  EXPECT_EQ(view_.Lines().size(), 5);
  view_.Clear();
  view_.Add("");
  EXPECT_EQ(view_.Lines(), QStringList{""});
  // Lines reach the box together on a turn of the event loop, once the box can be seen.
  view_.Add("x");
  QCoreApplication::processEvents();
  EXPECT_TRUE(box->toPlainText().isEmpty());
  EXPECT_EQ(view_.LineCount(), 2);
  form_.FormCreate();
  form_.show();
  view_.ShowReportPage();
  QCoreApplication::processEvents();
  EXPECT_EQ(box->toPlainText(), "\nx");
  EXPECT_EQ(view_.Lines(), (QStringList{"", "x"}));
  // Emptied by someone else: no empty first line follows.
  box->clear();
  view_.Add("first");
  EXPECT_EQ(view_.Lines(), QStringList{"first"});
  view_.SetLines({"a  b", "", "  c"});
  EXPECT_EQ(box->toPlainText(), "a  b\n\n  c");
  EXPECT_EQ(view_.Lines(), (QStringList{"a  b", "", "  c"}));
  view_.SetReadOnly(false);
  EXPECT_TRUE(box->isEnabled());
  EXPECT_FALSE(box->isReadOnly());
  // The run's own lines (its first line names the archive) are text as well.
  TBackupWindowHost run(&form_);
  run.ReportClear();
  run.ReportAdd("Beginning Add to /b/<b>x.zip");
  run.ReportAdd("/data/<i>notes</i>");
  EXPECT_EQ(view_.Lines(), (QStringList{"Beginning Add to /b/<b>x.zip", "/data/<i>notes</i>"}));
  EXPECT_EQ(run.ReportLineCount(), 2);
  // Through the report's own list, in order with its lines.
  run.reportBox = &view_;
  view_.Add("report line");
  run.ReportAdd("<b>run line</b>");
  QCoreApplication::processEvents();
  EXPECT_EQ(box->toPlainText(),
            "Beginning Add to /b/<b>x.zip\n/data/<i>notes</i>\nreport line\n"
            "<b>run line</b>");
  EXPECT_EQ(run.ReportLineCount(), 4);
}

TEST_F(ReportViewTest, GaugePagesAndAlarm) {
  auto* gauge = form_.findChild<QProgressBar*>("Gauge");
  ASSERT_TRUE(gauge);
  view_.SetGaugeMoving(true);
  EXPECT_EQ(gauge->maximum(), 0);
  view_.SetGaugePosition(42);
  EXPECT_EQ(gauge->maximum(), 100);
  EXPECT_EQ(gauge->value(), 42);

  auto* page = form_.findChild<QWidget*>("TabReport");
  ASSERT_TRUE(page);
  view_.ShowReportPage();
  for (QWidget* w = page; w && w != &form_; w = w->parentWidget()) {
    QWidget* stack = w->parentWidget();
    if (auto* tabs = qobject_cast<QTabWidget*>(stack ? stack->parentWidget() : nullptr)) {
      EXPECT_EQ(tabs->currentWidget(), w);
    }
  }
  auto* main = form_.findChild<QTabWidget*>("PageControl1");
  ASSERT_TRUE(main);
  view_.SetTabHighlight(false, 2, true);
  EXPECT_EQ(main->tabBar()->tabTextColor(2), main->tabBar()->palette().color(QPalette::Highlight));
  view_.SetTabHighlight(false, 2, false);
  EXPECT_FALSE(main->tabBar()->tabTextColor(2).isValid());
  view_.SetControlAlarm("SaveCommentBtn", true);
  auto* save = form_.findChild<QPushButton*>("SaveCommentBtn");
  ASSERT_TRUE(save);
  EXPECT_TRUE(save->styleSheet().contains("red"));
  view_.SetControlAlarm("SaveCommentBtn", false);
  EXPECT_TRUE(save->styleSheet().isEmpty());
}

TEST_F(ReportViewTest, HandlersDriveTheWindowAndTheWindowsCommandsReachItsReport) {
  TArcZip zip;
  TOptionLists lists;
  TPreferences prefs;
  IReportSeams seams;
  TRunReport report(zip, lists, prefs, form_.controls(), view_, view_, seams);
  report.ClearStatusBar();
  EXPECT_EQ(form_.findChild<QLabel*>("StatusTotalSize")->text(), "Total size (Mb)");
  EXPECT_EQ(form_.findChild<QLabel*>("StatusZipFile")->text(), "ZipFile: <none>");
  report.StartClock();
  report.ArcZip1TotalPercentDone(30);
  EXPECT_EQ(form_.findChild<QProgressBar*>("Gauge")->value(), 30);
  EXPECT_EQ(form_.findChild<QLabel*>("StatusProcessTime")->text(), "00:00");

  // The window has bound its own report to the report box's items and buttons.
  auto* wrap = form_.findChild<QAction*>("WordWrap1");
  ASSERT_TRUE(wrap);
  EXPECT_TRUE(wrap->isChecked());
  wrap->trigger();
  EXPECT_FALSE(wrap->isChecked());
  EXPECT_EQ(form_.findChild<QPlainTextEdit*>("ReportBox")->lineWrapMode(), QPlainTextEdit::NoWrap);
  // "&Zip comment" without a comment says so; "ZIPcomment" opens the editor.
  host_.Answer(IDOK, QStringLiteral("No Zip comment in this zip file"));
  form_.findChild<QAction*>("Zipcomment1")->trigger();
  form_.findChild<QAction*>("ZIPcomment1")->trigger();
  auto* box = form_.findChild<QPlainTextEdit*>("ReportBox");
  EXPECT_FALSE(box->isReadOnly());
  EXPECT_EQ(box->toolTip(), "Enter your ZIPfile comment\r\r  then click SaveComment");
  // Without an archive the buttons say so, and write nothing.
  host_.Answer(IDOK, QStringLiteral("Open or name a ZIP file first"));
  form_.findChild<QPushButton*>("SaveCommentBtn")->click();
  host_.Answer(IDOK, QStringLiteral("Open or name a ZIP file first"));
  form_.findChild<QPushButton*>("ReportToZIPBtn")->click();
  EXPECT_EQ(host_.transcript().size(), 3);
}

TEST_F(ReportViewTest, RunsDisplayDrawsDiscAndTrayThroughTheReportView) {
  struct Recorder : IProgressHost {
    bool disc = false;
    bool trayShown = false;
    int tray = -1;
    void SetGaugeMoving(bool) override {}
    void SetGaugePosition(int) override {}
    void DiscAnimation(bool on) override { disc = on; }
    bool TrayIconShown() const override { return trayShown; }
    void TrayIcon(int p) override { tray = p; }
  } recorder;
  TBackupWindowHost display(&form_);
  display.DiscAnimation(true);  // nowhere to draw: nothing happens
  display.progress = &recorder;
  display.DiscAnimation(true);
  EXPECT_TRUE(recorder.disc);
  display.ClearStatusBar();
  EXPECT_FALSE(recorder.disc);
  display.TrayIcon(1);
  EXPECT_EQ(recorder.tray, -1);  // the tray is not shown
  recorder.trayShown = true;
  EXPECT_TRUE(display.TrayIconShown());
  display.TrayIcon(0);
  EXPECT_EQ(recorder.tray, 0);
}
