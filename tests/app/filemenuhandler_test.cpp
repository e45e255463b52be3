#include "app/filemenuhandler.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QSignalSpy>

#include "platform/inifile.h"
#include "platform/programdir.h"
#include "qt_scriptedhost.h"
#include "testutil.h"

using testutil::TempDir;

namespace {

struct HistoryFixture : ::testing::Test {
  TempDir dir;
  testutil::IsolatedXdg xdg{dir.path()};
  ScriptedHost host;
  FakeClock clock;
  QStringList told;
  std::unique_ptr<TFileMenuHandler> fm;

  HistoryFixture() {
    ResetProgramDirForTest();
    fm = MakeHandler();
  }
  ~HistoryFixture() override {
    fm.reset();
    ResetProgramDirForTest();
  }
  std::unique_ptr<TFileMenuHandler> MakeHandler() {
    auto h = std::make_unique<TFileMenuHandler>();
    h->IniFileName = "fmhistory.ini";
    h->SetMaxList(12);
    h->OnNewFormCaption = [this](TFileMenuHandler*, const QString& f) { told << f; };
    return h;
  }
  QString Job(int i) {
    const std::string p = dir / ("job" + std::to_string(i) + ".JOB");
    testutil::WriteFile(p, "ARCAVO-JOB 1\n");
    return QString::fromStdString(p);
  }
  IniFile History() { return IniFile(ProgramDir() + "fmhistory.ini"); }
};

struct OneAnswerDialog : IFileDialogHost {
  QString answer;
  FileDialogSpec seen;
  QString OpenFile(const FileDialogSpec& s) override {
    seen = s;
    return answer;
  }
  QString SaveFile(const FileDialogSpec&) override { return {}; }
};

}  // namespace

TEST_F(HistoryFixture, ThirteenJobsKeepTwelveWrittenAtOnce) {
  for (int i = 0; i < 13; ++i) fm->SetCurrentFile(Job(i));
  // Written at every change, not only at exit.
  const IniFile ini = History();
  ASSERT_EQ(ini.Keys("RecentFiles").size(), 12u);
  EXPECT_EQ(ini.ReadString("RecentFiles", "File0", ""), Job(12).toStdString());
  EXPECT_EQ(ini.ReadString("RecentFiles", "File11", ""), Job(1).toStdString());
  EXPECT_FALSE(ini.ValueExists("RecentFiles", "File12"));
  const auto entries = fm->Entries();
  ASSERT_EQ(entries.size(), 12);
  EXPECT_EQ(entries[0].caption, "&1 " + Job(12));
  EXPECT_EQ(entries[9].key, QChar('A'));
  EXPECT_TRUE(entries[11].caption.startsWith("&C "));
  EXPECT_EQ(told.size(), 13);
  // Opening a listed file moves it to the top.
  fm->SetCurrentFile(Job(5));
  EXPECT_EQ(fm->List().first(), Job(5));
  EXPECT_EQ(fm->List().size(), 12);
}

// A run that ends before the window shows (`arcavo JOB close`) never loads the list: it leaves the
// file as it is, and a change made before a load keeps what the file holds.
TEST_F(HistoryFixture, AListNeverLoadedLeavesTheFileAndShowsAmpersandsAsWritten) {
  fm->SetCurrentFile(Job(1));
  fm->SetCurrentFile(Job(2));
  fm.reset();
  const std::string before = testutil::ReadFile(ProgramDir() + "fmhistory.ini");
  MakeHandler().reset();
  EXPECT_EQ(testutil::ReadFile(ProgramDir() + "fmhistory.ini"), before);

  fm = MakeHandler();
  const std::string amp = dir / "R&D.JOB";
  testutil::WriteFile(amp, "ARCAVO-JOB 1\n");
  fm->SetCurrentFile(QString::fromStdString(amp));
  EXPECT_EQ(fm->List(), (QStringList{QString::fromStdString(amp), Job(2), Job(1)}));
  EXPECT_EQ(History().Keys("RecentFiles").size(), 3u);
  EXPECT_EQ(fm->Entries()[0].caption, "&1 " + QString::fromStdString(dir / "R&&D.JOB"));
}

TEST_F(HistoryFixture, DeletedFileIsReportedAndDroppedOrDroppedAtLoad) {
  fm->SetCurrentFile(Job(1));
  fm->SetCurrentFile(Job(2));
  const QString gone = fm->List()[1];
  std::remove(gone.toStdString().c_str());
  host.Answer(IDOK, "File " + gone + " not found.");
  told.clear();
  fm->ChooseEntry(1);
  EXPECT_EQ(host.transcript().last().icon, MB_ICONERROR);
  EXPECT_EQ(fm->List(), QStringList{Job(2)});
  EXPECT_TRUE(told.isEmpty());
  EXPECT_EQ(History().Keys("RecentFiles").size(), 1u);

  // A history file naming a deleted job loses it at load.
  fm->SetCurrentFile(Job(3));
  std::remove(Job(3).toStdString().c_str());
  auto again = MakeHandler();
  again->Load();
  EXPECT_EQ(again->List(), QStringList{Job(2)});
  EXPECT_FALSE(History().ValueExists("RecentFiles", "File1"));

  // A history that loading leaves as it is is not written again (each write replaces the file).
  const std::string path = ProgramDir() + "fmhistory.ini";
  struct stat before {
  }, after{};
  ASSERT_EQ(::stat(path.c_str(), &before), 0);
  auto unchanged = MakeHandler();
  unchanged->Load();
  ASSERT_EQ(::stat(path.c_str(), &after), 0);
  EXPECT_EQ(unchanged->List(), QStringList{Job(2)});
  EXPECT_EQ(before.st_ino, after.st_ino);
}

TEST_F(HistoryFixture, LoadOpensTheCommandLineFileAtTheTop) {
  fm->SetCurrentFile(Job(1));
  const std::string zip = dir / "a.ZIP";
  testutil::WriteFile(zip, "x");
  auto h = MakeHandler();
  told.clear();
  h->Load({"arcavo", QString::fromStdString(zip)});
  EXPECT_EQ(h->List(), (QStringList{QString::fromStdString(zip), Job(1)}));
  EXPECT_EQ(told, QStringList{QString::fromStdString(zip)});
  EXPECT_EQ(h->FileChangedCaption, QString::fromStdString(zip));
  told.clear();
  h->ParamCountLook = 0;
  h->Load({"arcavo", QString::fromStdString(zip)});
  EXPECT_TRUE(told.isEmpty());
}

TEST_F(HistoryFixture, DialogThroughTheHandlerAndClearHistory) {
  OneAnswerDialog dlg;
  fm->OpenDialog = &dlg;
  fm->DialogSpec.title = "Open Job";
  dlg.answer = Job(7);
  EXPECT_EQ(fm->Execute(), Job(7));
  EXPECT_EQ(dlg.seen.title, "Open Job");
  EXPECT_EQ(fm->List(), QStringList{Job(7)});
  dlg.answer = QString::fromStdString(dir / "none.JOB");
  host.Answer(IDOK, "File " + dlg.answer + " not found.");
  EXPECT_EQ(fm->Execute(), "");
  fm->OnOpen = [](TFileMenuHandler*, const QString&) { return false; };
  dlg.answer = Job(8);
  EXPECT_EQ(fm->Execute(), "");
  EXPECT_EQ(fm->List().size(), 1);

  QSignalSpy spy(fm.get(), &TFileMenuHandler::MenuChanged);
  EXPECT_TRUE(fm->SeparatorVisible());
  fm->ClearHistory();
  EXPECT_GE(clock.waited(), 100);
  EXPECT_FALSE(fm->SeparatorVisible());
  EXPECT_TRUE(fm->EnableMenuList);
  EXPECT_TRUE(fm->Entries().isEmpty());
  EXPECT_GE(spy.count(), 2);
  EXPECT_TRUE(History().Keys("RecentFiles").empty());
}
