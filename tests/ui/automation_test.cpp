// The scheduler's controls and the update check in the main window (offscreen): the bindings,
// the schedule kept in "default.ini" across a restart, and a window that stays live while the
// update server never answers.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimeEdit>
#include <QTimer>

#include "app/mb.h"
#include "automation/chkupdate.h"
#include "platform/inifile.h"
#include "platform/programdir.h"
#include "qt_scriptedhost.h"
#include "testutil.h"
#include "ui/mainform.h"
#include "ui/windowautomation.h"
#include "windowtest.h"

namespace {

using testutil::IsolatedXdg;
using testutil::TempDir;
using testutil::WriteFile;

class AutomationWindowTest : public WindowTestBase {
 protected:
  std::unique_ptr<TMainform> Window() {
    auto w = std::make_unique<TMainform>();
    w->FormCreate();
    return w;
  }
  static std::string Scheduled(const char* key) {
    return IniFile(ProgramDir() + "default.ini").ReadString("Scheduled", key, "<none>");
  }
  template <class T>
  static T* Find(TMainform& w, const char* name) {
    return w.findChild<T*>(QString::fromLatin1(name));
  }

  ScriptedHost host_;
};

TEST_F(AutomationWindowTest, SetAndForgetKeepTheScheduleAcrossARestart) {
  const QString job = QString::fromStdString(tmp_ / "Daily.JOB");
  {
    auto w = Window();
    w->show();
    QApplication::processEvents();
    QStringList bound;
    for (const TBinding& b : w->bindings()) bound << b.control;
    for (const char* name : {"SchedSetBtn", "SchedForgetBtn", "Check4Update1"})
      EXPECT_TRUE(bound.contains(QString::fromLatin1(name))) << name;

    auto* set = Find<QPushButton>(*w, "SchedSetBtn");
    auto* edit = Find<QLineEdit>(*w, "SchedJobFile");
    EXPECT_FALSE(set->isEnabled());
    // The edit takes no typing: a click says so.
    host_.Answer(IDOK, QStringLiteral("You can't type file here"));
    QTest::mouseClick(edit, Qt::LeftButton);
    edit->setText(job);
    Find<QCheckBox>(*w, "SchedMonday")->setChecked(true);
    Find<QCheckBox>(*w, "SchedFriday")->setChecked(true);
    Find<QTimeEdit>(*w, "SchedTime")->setTime(QTime(22, 30));
    // Catching up and the stale limit are kept with the schedule; the notice of good runs is a
    // preference.
    EXPECT_TRUE(Find<QCheckBox>(*w, "SchedRunMissed")->isChecked());
    Find<QCheckBox>(*w, "SchedRunMissed")->setChecked(false);
    Find<QSpinBox>(*w, "SchedStaleDays")->setValue(5);
    Find<QCheckBox>(*w, "SchedNotifySuccess")->setChecked(true);
    EXPECT_TRUE(set->isEnabled());
    set->click();
    EXPECT_TRUE(w->schedulerTimer()->isActive());
    EXPECT_EQ(w->schedulerTimer()->interval(), 60000);
  }
  EXPECT_EQ(Scheduled("days"), "34");
  EXPECT_EQ(Scheduled("time"), "22:30:00");
  EXPECT_EQ(Scheduled("file"), job.toStdString());
  {
    auto w = Window();
    EXPECT_TRUE(Find<QCheckBox>(*w, "SchedMonday")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>(*w, "SchedFriday")->isChecked());
    EXPECT_FALSE(Find<QCheckBox>(*w, "SchedSunday")->isChecked());
    EXPECT_EQ(Find<QTimeEdit>(*w, "SchedTime")->time(), QTime(22, 30));
    EXPECT_EQ(Find<QLineEdit>(*w, "SchedJobFile")->text(), job);
    EXPECT_FALSE(Find<QCheckBox>(*w, "SchedRunMissed")->isChecked());
    EXPECT_EQ(Find<QSpinBox>(*w, "SchedStaleDays")->value(), 5);
    EXPECT_TRUE(Find<QCheckBox>(*w, "SchedNotifySuccess")->isChecked());
    EXPECT_TRUE(w->schedulerTimer()->isActive());
    Find<QPushButton>(*w, "SchedForgetBtn")->click();
    EXPECT_FALSE(w->schedulerTimer()->isActive());
    EXPECT_FALSE(Find<QPushButton>(*w, "SchedSetBtn")->isEnabled());
  }
  EXPECT_EQ(Scheduled("days"), "0");
  EXPECT_EQ(Scheduled("time"), "12:00:00");
  EXPECT_EQ(Scheduled("file"), "JOB Filename");
  auto w = Window();
  EXPECT_FALSE(Find<QCheckBox>(*w, "SchedMonday")->isChecked());
  EXPECT_EQ(Find<QLineEdit>(*w, "SchedJobFile")->text(), QStringLiteral("JOB Filename"));
  EXPECT_FALSE(w->schedulerTimer()->isActive());
}

// The check runs in the background: the window's events go on and the command is disabled until
// the stalled server's time-out gives the error box.
TEST_F(AutomationWindowTest, TheWindowStaysLiveWhileTheUpdateServerStalls) {
  QProcess stall;
  stall.start(QStringLiteral("python3"), {QStringLiteral("-u"), QStringLiteral("-c"),
                                          QStringLiteral("import socket, time\n"
                                                         "s = socket.socket()\n"
                                                         "s.bind(('127.0.0.1', 0))\n"
                                                         "s.listen()\n"
                                                         "print(s.getsockname()[1], flush=True)\n"
                                                         "c = s.accept()\n"
                                                         "time.sleep(120)\n")});
  ASSERT_TRUE(stall.waitForReadyRead(10000));
  const int port = stall.readLine().trimmed().toInt();
  ASSERT_GT(port, 0);

  auto w = Window();
  TChkUpdate& check = w->automation()->updateCheck();
  EXPECT_EQ(check.Revision, w->context().VersionDigits.toInt());
  check.URL = QStringLiteral("http://127.0.0.1:%1/rev").arg(port);
  auto* item = qobject_cast<QAction*>(w->FindControl(QStringLiteral("Check4Update1")));
  ASSERT_NE(item, nullptr);
  int ticks = 0;
  QTimer beat;
  QObject::connect(&beat, &QTimer::timeout, [&] { ++ticks; });
  beat.start(100);
  QElapsedTimer clock;
  clock.start();
  item->trigger();
  EXPECT_FALSE(item->isEnabled());
  host_.Answer(IDOK);
  while (check.Busy() && clock.elapsed() < 25000) QTest::qWait(50);
  EXPECT_FALSE(check.Busy());
  EXPECT_LT(clock.elapsed(), 25000);
  EXPECT_GT(ticks, 20);
  EXPECT_TRUE(item->isEnabled());
  ASSERT_EQ(host_.transcript().size(), 1);
  EXPECT_EQ(host_.transcript()[0].icon, MB_ICONINFORMATION);
  EXPECT_TRUE(host_.transcript()[0].text.startsWith("The update check got no answer"));
  stall.kill();
  stall.waitForFinished(5000);
}

}  // namespace
