// The archive view placed in the main window: opening through "&Restore", the command line and
// the explorer list; the archive menu items, popup and boxes of the "Archive" tab; "ZIPfix".
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstring>
#include <deque>
#include <functional>

#include "app/explorer.h"
#include "app/filemenuhandler.h"
#include "app/mb.h"
#include "app/optionlist.h"
#include "app/optionnames.h"
#include "app/optionscontroller.h"
#include "app/preferences.h"
#include "archive/arczip.h"
#include "backup/backupcore.h"
#include "backup/backuprun.h"
#include "backup/jobfiles.h"
#include "platform/inifile.h"
#include "platform/programdir.h"
#include "qt_scriptedhost.h"
#include "restore/archiveviewcontroller.h"
#include "restore/extractcontroller.h"
#include "testutil.h"
#include "ui/archiveview.h"
#include "ui/explorerviews.h"
#include "ui/mainform.h"
#include "ui/restorewindow.h"
#include "windowtest.h"

namespace {

using testutil::IsolatedXdg;
using testutil::TempDir;
using testutil::WriteFile;

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

// Open dialogs answered from a queue.
struct DialogScript : IFileDialogHost {
  std::deque<QString> answers;
  QStringList titles;
  QString OpenFile(const FileDialogSpec& spec) override {
    titles << spec.title;
    if (answers.empty()) {
      ADD_FAILURE() << "unexpected open dialog: " << spec.title.toStdString();
      return {};
    }
    QString a = answers.front();
    answers.pop_front();
    return a;
  }
  QString SaveFile(const FileDialogSpec& spec) override {
    ADD_FAILURE() << "unexpected save dialog: " << spec.title.toStdString();
    return {};
  }
};

struct DesktopRecorder : restore::IDesktopLauncher {
  QStringList opened;
  bool OpenFile(const QString& path, const QString&) override {
    opened << path;
    return true;
  }
};

class ArchiveWiringTest : public WindowTestBase {
 protected:
  // Folder entries hidden, unlike the default, to tell them from files.
  ArchiveWiringTest() : WindowTestBase("ClrDisk=0\nDisplayEmptyDIR=0\n") {}

  void SetUp() override {
    if (!testutil::HaveTool("zip")) GTEST_SKIP() << "zip is not installed";
  }

  // data/{big.bin 3000, small.txt 10, Mid.dat 500, sub/inner.txt 100, empty/} packed by zip -r:
  // four files and three folder entries.
  std::string MakeArchive(const std::string& name = "arc.zip") {
    const std::string data = tmp_ / "data";
    testutil::Run("mkdir -p " + testutil::Quote(data + "/sub") + " " +
                  testutil::Quote(data + "/empty"));
    WriteFile(data + "/big.bin", std::string(3000, 'b'));
    WriteFile(data + "/small.txt", "0123456789");
    WriteFile(data + "/Mid.dat", std::string(500, 'm'));
    WriteFile(data + "/sub/inner.txt", std::string(100, 'i'));
    const std::string zip = tmp_ / name;
    const auto r = testutil::Run("cd " + testutil::Quote(tmp_.path()) + " && zip -q -r " +
                                 testutil::Quote(name) + " data");
    EXPECT_EQ(r.status, 0) << r.out;
    return zip;
  }

  // A copy of an archive whose first central record has lost its signature: reading it fails.
  std::string Damaged(const std::string& zip, const std::string& name) {
    std::string bytes = testutil::ReadFile(zip);
    const size_t at = bytes.find(std::string("PK\x01\x02", 4));
    EXPECT_NE(at, std::string::npos);
    bytes[at] = 'X';
    // Without local headers the recovery scan finds nothing either.
    for (size_t h; (h = bytes.find(std::string("PK\x03\x04", 4))) != std::string::npos;)
      bytes[h] = 'X';
    const std::string out = tmp_ / name;
    WriteFile(out, bytes);
    return out;
  }

  std::unique_ptr<TMainform> Window(const QStringList& args = {}) {
    auto w = std::make_unique<TMainform>(args);
    w->SetFileDialogHost(&dialogs_);
    w->SetDesktopLauncher(&desktop_);
    w->FormCreate();
    if (!w->context().TerminateRequested) {
      w->show();
      QApplication::processEvents();
    }
    return w;
  }

  static TArchiveView* View(TMainform& w) {
    auto* v = w.findChild<TArchiveView*>(QStringLiteral("ArchiveView"));
    EXPECT_TRUE(v);
    return v;
  }
  static restore::TArchiveViewModel& Model(TMainform& w) {
    return w.context().ArchiveView->model();
  }
  // Column 0 of the list rows, top to bottom.
  static QStringList Names(TMainform& w) {
    QStringList out;
    const restore::TArchiveViewModel& m = Model(w);
    for (int r = 0; r < m.rowCount(); ++r) out << m.index(r, 0).data().toString();
    return out;
  }

  ScriptedHost host_;
  DialogScript dialogs_;
  DesktopRecorder desktop_;
};

TEST_F(ArchiveWiringTest, RestoreOpensTheChosenArchiveInTheWindowsView) {
  const std::string zip = MakeArchive();
  auto w = Window();
  // The window's own view over the controller's model, not a placeholder.
  TArchiveView* view = View(*w);
  ASSERT_TRUE(view);
  EXPECT_EQ(view->model(), &Model(*w));
  EXPECT_FALSE(view->isSortingEnabled());
  EXPECT_EQ(w->context().ArchiveView->model().headerData(0, Qt::Horizontal), "FileName");

  dialogs_.answers.push_back(Q(zip));
  w->findChild<QPushButton*>("ZipOpenBut")->click();
  EXPECT_EQ(dialogs_.titles, QStringList{"Open Existing ZIP File"});
  // Folder entries stay hidden; the standing order is by file name.
  EXPECT_EQ(Names(*w), (QStringList{"big.bin", "inner.txt", "Mid.dat", "small.txt"}));
  EXPECT_EQ(w->context().ZipName, Q(zip));
  EXPECT_TRUE(w->mainWindow().ArchiveLoaded());
  EXPECT_EQ(w->findChild<QLabel*>("StatusZipFile")->text(), "ZipFile: " + Q(zip));
  EXPECT_EQ(w->findChild<QTabWidget*>("PageControl1")->currentIndex(), 2);
  EXPECT_TRUE(w->controls().ControlEnabled("DeleteZipBut"));
  EXPECT_TRUE(view->isEnabled());
  // Recorded once in the recent list by the handler's dialog.
  EXPECT_EQ(w->context().History->List(), QStringList{Q(zip)});

  // A file that is no archive: one box (the file is read once, though the recent-file handler
  // also hears of it), the archive closed and the view empty.
  dialogs_.answers.push_back(Q(Damaged(zip, "bad.zip")));
  host_.Answer(IDOK, "ZIP read error");
  w->findChild<QPushButton*>("ZipOpenBut")->click();
  EXPECT_EQ(host_.Texts(), QStringList{"ZIP read error"});
  EXPECT_EQ(Model(*w).rowCount(), 0);
  EXPECT_FALSE(w->mainWindow().ArchiveLoaded());
  EXPECT_FALSE(w->controls().ControlEnabled("DeleteZipBut"));

  // The menu item does the same; cancelling the dialog leaves the archive closed.
  dialogs_.answers.push_back(Q(zip));
  w->findChild<QAction*>("Restore1")->trigger();
  EXPECT_EQ(Model(*w).rowCount(), 4);
  dialogs_.answers.push_back(QString());
  w->findChild<QAction*>("Restore1")->trigger();
  EXPECT_EQ(dialogs_.titles.size(), 4);
  EXPECT_EQ(Model(*w).rowCount(), 0);
  EXPECT_FALSE(w->mainWindow().ArchiveLoaded());
  EXPECT_EQ(host_.transcript().size(), 1);
}

TEST_F(ArchiveWiringTest, TheOpenedArchiveIsSummedUpAndItsCommentIsTheOneTheCommandsUse) {
  const std::string b = MakeArchive("b.zip");
  const std::string a = MakeArchive("a.zip");
  auto comment = [](const std::string& zip, const std::string& text) {
    const auto r = testutil::Run("printf %s " + testutil::Quote(text) + " | zip -q -z " +
                                 testutil::Quote(zip));
    EXPECT_EQ(r.status, 0) << r.out;
  };
  comment(a, "A-COMMENT");
  comment(b, "B-COMMENT");
  auto w = Window();
  auto* box = w->findChild<QPlainTextEdit*>("ReportBox");
  ASSERT_TRUE(box);
  auto open = [&](const std::string& zip) {
    dialogs_.answers.push_back(Q(zip));
    w->findChild<QPushButton*>("ZipOpenBut")->click();
  };
  open(a);
  // Seven entries (four files, three folders) of 3,610 bytes.
  EXPECT_EQ(w->findChild<QLabel*>("StatusCount")->text(), "7 DIR&files");
  EXPECT_EQ(w->findChild<QLabel*>("StatusTotalSize")->text(), "Total size:   0 Mb");
  // "&Zip comment" loads the comment of the archive just opened, and after opening another one,
  // that one's.
  w->findChild<QAction*>("Zipcomment1")->trigger();
  EXPECT_EQ(box->toPlainText(), "A-COMMENT");
  open(b);
  w->findChild<QAction*>("Zipcomment1")->trigger();
  EXPECT_EQ(box->toPlainText(), "B-COMMENT");
  // "ReportToZIP" appends the box to that archive's own comment.
  box->setPlainText("report line");
  w->findChild<QPushButton*>("ReportToZIPBtn")->click();
  const auto z = testutil::Run("unzip -z " + testutil::Quote(b));
  EXPECT_NE(z.out.find("B-COMMENTreport line"), std::string::npos) << z.out;
  EXPECT_EQ(z.out.find("A-COMMENT"), std::string::npos) << z.out;
  EXPECT_TRUE(host_.transcript().isEmpty());
}

TEST_F(ArchiveWiringTest, UpdatingAnExistingArchiveNeedsOneOpenInTheEngine) {
  const std::string zip = MakeArchive();
  auto w = Window();
  TOptionList& basic = w->context().Lists->basicList;
  host_.Answer(IDOK,
               "Please Double-Click on a ZIPfile in Browser first\ror [Restore] button (OpenZIP) "
               "to use this Method");
  basic.Click(opt::kBasicUpdate);
  EXPECT_TRUE(basic.Checked(opt::kBasicAll));

  w->mainWindow().OpenArchive(Q(zip));
  basic.Click(opt::kBasicUpdate);
  EXPECT_TRUE(basic.Checked(opt::kBasicUpdate));
  EXPECT_EQ(host_.transcript().size(), 1);
}

TEST_F(ArchiveWiringTest, AnArchiveNamedOnTheCommandLineOpensWhenTheWindowShows) {
  const std::string zip = MakeArchive();
  auto w = Window({Q(zip)});
  ASSERT_FALSE(w->context().TerminateRequested);
  EXPECT_EQ(Names(*w), (QStringList{"big.bin", "inner.txt", "Mid.dat", "small.txt"}));
  EXPECT_EQ(w->context().ZipName, Q(zip));
  EXPECT_EQ(w->context().History->List(), QStringList{Q(zip)});
  EXPECT_TRUE(dialogs_.titles.isEmpty());
  EXPECT_TRUE(host_.transcript().isEmpty());
}

TEST_F(ArchiveWiringTest, DoubleClicksInTheExplorerListOpenArchivesAndJobsAndIgnoreOtherFiles) {
  const std::string zip = MakeArchive();
  const std::string folder = tmp_ / "files";
  testutil::Run("mkdir -p " + testutil::Quote(folder) + " && cp " + testutil::Quote(zip) + " " +
                testutil::Quote(folder + "/backup.003"));
  WriteFile(folder + "/notes.txt", "notes");
  testutil::Run("mv " + testutil::Quote(Damaged(zip, "damaged.002")) + " " +
                testutil::Quote(folder));
  WriteFile(folder + "/broken.JOB", "not a job");
  auto w = Window();
  TExplorerList* list = w->explorerList();
  w->findChild<QTabWidget*>("PageControl1")->setCurrentIndex(0);
  w->context().Explorer->ListModel().SetFolder(folder);
  QApplication::processEvents();
  auto doubleClick = [&](const QString& name) {
    QAbstractItemModel* m = list->model();
    for (int r = 0; r < m->rowCount(); ++r) {
      const QModelIndex i = m->index(r, 0);
      if (i.data().toString() != name) continue;
      list->scrollTo(i);
      // As the window system delivers it: press, release, double click, release.
      const QPoint at = list->visualRect(i).center();
      QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
      QMouseEvent dbl(QEvent::MouseButtonDblClick, at, list->viewport()->mapToGlobal(at),
                      Qt::LeftButton, Qt::LeftButton, {});
      QApplication::sendEvent(list->viewport(), &dbl);
      QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, at);
      QApplication::processEvents();
      return;
    }
    ADD_FAILURE() << "no row " << name.toStdString();
  };

  doubleClick("backup.003");
  EXPECT_EQ(w->context().ZipName, Q(folder + "/backup.003"));
  EXPECT_EQ(Model(*w).rowCount(), 4);
  EXPECT_EQ(w->findChild<QTabWidget*>("PageControl1")->currentIndex(), 2);
  EXPECT_EQ(w->context().History->List(), QStringList{Q(folder + "/backup.003")});

  // Not an archive: nothing happens, the open archive stays.
  w->findChild<QTabWidget*>("PageControl1")->setCurrentIndex(0);
  QApplication::processEvents();
  doubleClick("notes.txt");
  EXPECT_EQ(w->context().ZipName, Q(folder + "/backup.003"));
  EXPECT_EQ(Model(*w).rowCount(), 4);

  // A damaged split part: read once (one box), though it is also recorded as a recent file.
  host_.Answer(IDOK, "ZIP read error");
  doubleClick("damaged.002");
  EXPECT_EQ(host_.Texts(), QStringList{"ZIP read error"});
  EXPECT_EQ(Model(*w).rowCount(), 0);

  // A job goes to the job opening, which tells what is wrong with this one.
  host_.Answer(IDOK);
  doubleClick("broken.JOB");
  ASSERT_EQ(host_.Texts().size(), 2);
  EXPECT_TRUE(host_.Texts().at(1).startsWith(Q(folder + "/broken.JOB") + "\ris not a job file"))
      << host_.Texts().at(1).toStdString();
  EXPECT_EQ(Model(*w).rowCount(), 0);
  EXPECT_TRUE(dialogs_.titles.isEmpty());
}

TEST_F(ArchiveWiringTest, TheSortMenuReordersTheViewAndSavesTheChoiceOnce) {
  const std::string zip = MakeArchive();
  auto w = Window();
  w->mainWindow().OpenArchive(Q(zip));
  ASSERT_EQ(Model(*w).rowCount(), 4);
  QSignalSpy saved(w->context().Prefs.get(), &TPreferences::changed);

  w->findChild<QAction*>(ctl::kSortByItems[3])->trigger();  // "Size Descending"
  EXPECT_EQ(Names(*w), (QStringList{"big.bin", "Mid.dat", "inner.txt", "small.txt"}));
  ASSERT_EQ(saved.size(), 1);
  EXPECT_EQ(saved.at(0).at(0).toString(), "ArchiveSortBy");
  EXPECT_EQ(IniFile(ProgramDir() + "default.ini").ReadString("Options", "ArchiveSortBy", "?"), "3");
  for (int tag = 0; tag < 6; ++tag)
    EXPECT_EQ(w->controls().ControlChecked(ctl::kSortByItems[tag]), tag == 3);

  w->findChild<QAction*>(ctl::kSortByItems[4])->trigger();  // "DateTime": equal times keep order
  w->findChild<QAction*>(ctl::kSortByItems[1])->trigger();  // "FileName Descending"
  EXPECT_EQ(Names(*w), (QStringList{"small.txt", "Mid.dat", "inner.txt", "big.bin"}));
  EXPECT_EQ(saved.size(), 3);
  w.reset();

  // A later start sorts the next archive by the saved order.
  auto again = Window();
  EXPECT_TRUE(again->controls().ControlChecked(ctl::kSortByItems[1]));
  again->mainWindow().OpenArchive(Q(zip));
  EXPECT_EQ(Names(*again), (QStringList{"small.txt", "Mid.dat", "inner.txt", "big.bin"}));
  EXPECT_TRUE(host_.transcript().isEmpty());
}

TEST_F(ArchiveWiringTest, DisplayEmptyDirIsSavedOnceAndShowsFolderEntriesWhenTheViewIsFilled) {
  const std::string zip = MakeArchive();
  auto w = Window();
  w->mainWindow().OpenArchive(Q(zip));
  QSignalSpy saved(w->context().Prefs.get(), &TPreferences::changed);
  w->findChild<QAction*>(ctl::kDisplayEmptyDirItem)->trigger();
  EXPECT_TRUE(w->controls().ControlChecked(ctl::kDisplayEmptyDirItem));
  ASSERT_EQ(saved.size(), 1);
  EXPECT_EQ(saved.at(0).at(0).toString(), "DisplayEmptyDIR");
  EXPECT_EQ(IniFile(ProgramDir() + "default.ini").ReadString("Options", "DisplayEmptyDIR", "?"),
            "1");
  // Taking effect with the next filling: the three folder entries join the four files.
  EXPECT_EQ(Model(*w).rowCount(), 4);
  w->mainWindow().OpenArchive(Q(zip));
  EXPECT_EQ(Model(*w).rowCount(), 7);

  w->findChild<QAction*>(ctl::kDisplayEmptyDirItem)->trigger();
  EXPECT_FALSE(w->controls().ControlChecked(ctl::kDisplayEmptyDirItem));
  EXPECT_EQ(saved.size(), 2);
  EXPECT_EQ(IniFile(ProgramDir() + "default.ini").ReadString("Options", "DisplayEmptyDIR", "?"),
            "0");
}

TEST_F(ArchiveWiringTest, LargeFontsFollowTheBoxAndTheSavedPreference) {
  auto w = Window();
  TArchiveView* view = View(*w);
  EXPECT_EQ(view->font().pointSize(), 8);
  QSignalSpy saved(w->context().Prefs.get(), &TPreferences::changed);
  w->findChild<QCheckBox*>(ctl::kLargeFontsBox)->click();
  EXPECT_EQ(view->font().pointSize(), 10);
  EXPECT_EQ(saved.size(), 1);
  EXPECT_EQ(IniFile(ProgramDir() + "default.ini").ReadString("Options", "LargeFonts", "?"), "1");
  w.reset();

  auto again = Window();
  EXPECT_TRUE(again->findChild<QCheckBox*>(ctl::kLargeFontsBox)->isChecked());
  EXPECT_EQ(View(*again)->font().pointSize(), 10);
}

TEST_F(ArchiveWiringTest, TheViewsListAndThePopupWorkOnTheOpenArchive) {
  const std::string zip = MakeArchive();
  auto w = Window();
  w->mainWindow().OpenArchive(Q(zip));
  TArchiveView* view = View(*w);

  // "Treeview" chosen by the user rebuilds the view as a tree under the archive's row.
  ASSERT_TRUE(w->context().Lists->viewList.Click(opt::kViewTree));
  EXPECT_EQ(Model(*w).kind(), restore::TArchiveViewModel::Tree);
  ASSERT_EQ(Model(*w).rowCount(), 1);
  EXPECT_EQ(Model(*w).index(0, 0).data().toString(), Q(zip));
  ASSERT_TRUE(w->context().Lists->viewList.Click(opt::kViewListDir));
  EXPECT_EQ(Model(*w).rowCount(), 4);
  EXPECT_FALSE(view->isColumnHidden(restore::kColPathname));

  // "Goto Last", then "Open" hands the extracted entry to the desktop.
  w->findChild<QAction*>("GotoLast1")->trigger();
  EXPECT_EQ(view->currentIndex().data().toString(), "small.txt");
  w->findChild<QAction*>("Open1")->trigger();
  ASSERT_EQ(desktop_.opened.size(), 1);
  EXPECT_TRUE(desktop_.opened.at(0).endsWith("/small.txt"));
  EXPECT_EQ(testutil::ReadFile(desktop_.opened.at(0).toStdString()), "0123456789");

  // Ticks cleared by "Clear Selected" and by "Goto First".
  Model(*w).SetTicked(Model(*w).index(1, 0), true);
  w->findChild<QAction*>("ClearSelected1")->trigger();
  EXPECT_EQ(Model(*w).TickedCount(), 0);
  Model(*w).SetTicked(Model(*w).index(1, 0), true);
  w->findChild<QAction*>("GotoFirst1")->trigger();
  EXPECT_EQ(Model(*w).TickedCount(), 0);
  EXPECT_EQ(view->currentIndex().data().toString(), "big.bin");
  EXPECT_TRUE(host_.transcript().isEmpty());
}

}  // namespace

// Six files zipped at the top level, cut 100 bytes into the directory (cutdir.zip) and at half
// its size (cuthalf.zip): "ZIPfix" salvages what is whole after "Attempt", and the view lists a
// truncated archive after the same answer.
TEST_F(ArchiveWiringTest, ZipFixSalvagesDamagedArchivesAndTheViewListsThemAfterAttempt) {
  const std::string src = tmp_ / "six";
  std::string names;
  for (int i = 1; i <= 6; ++i) names += " f" + std::to_string(i) + ".txt";
  auto r = testutil::Run("mkdir -p " + testutil::Quote(src) + " && cd " + testutil::Quote(src) +
                         " && for i in 1 2 3 4 5 6; do seq 1 $((i * 3000)) > f$i.txt; done" +
                         " && zip -q -r ../six.zip" + names);
  ASSERT_EQ(r.status, 0) << r.out;
  const std::string intact = testutil::ReadFile(tmp_ / "six.zip");
  const size_t directory = intact.find(std::string("PK\x01\x02", 4));
  WriteFile(tmp_ / "cutdir.zip", intact.substr(0, directory + 100));
  const size_t half = intact.size() / 2;
  WriteFile(tmp_ / "cuthalf.zip", intact.substr(0, half));
  // At half: the entries whose header is there are read, those whose data is whole written.
  int read = 0, whole = 0;
  for (size_t at = 0; (at = intact.find(std::string("PK\x03\x04", 4), at)) < directory; ++at) {
    const size_t nameLen = static_cast<uint8_t>(intact[at + 26]);
    const size_t extraLen = static_cast<uint8_t>(intact[at + 28]);
    const size_t next = std::min(intact.find(std::string("PK\x03\x04", 4), at + 4), directory);
    read += at + 30 + nameLen + extraLen <= half;
    whole += next <= half;
  }
  ASSERT_EQ(read, whole + 1);
  const std::string out = tmp_ / "out";
  testutil::Run("mkdir -p " + testutil::Quote(out));

  auto w = Window();
  QStringList folderTitles;
  w->restoreWindow()->chooseFolder = [&](const QString& title, const QString&) {
    folderTitles << title;
    return Q(out);
  };
  auto* fix = w->findChild<QAction*>(ctl::kZipFixItem);
  ASSERT_TRUE(fix);
  const QString saved = QStringLiteral("\r\nFile saved as: ") + Q(out);
  struct Case {
    const char* file;
    bool asked;  // the incomplete-archive question comes, and is answered "Attempt"
    QString text;
    int written;
  };
  const Case cases[] = {
      {"cutdir.zip", true, "   6 files of 6 were OK" + saved + "/cutdir_fixed.zip", 6},
      // The entry cut short is counted apart.
      {"cuthalf.zip", true,
       QStringLiteral("   %1 files of %2 were OK\r\n1 damaged files were left out")
               .arg(whole)
               .arg(read) +
           saved + "/cuthalf_fixed.zip",
       whole},
      {"six.zip", false, "   6 files of 6 were OK" + saved + "/six_fixed.zip", 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string damaged = tmp_ / c.file;
    const std::string before = testutil::ReadFile(damaged);
    w->context().ArchiveView->SetRememberedPath("something");
    dialogs_.answers.push_back(Q(damaged));
    if (c.asked) host_.Press("Attempt");
    host_.Answer(IDOK, c.text);
    fix->trigger();
    EXPECT_EQ(host_.PendingAnswers(), 0);
    EXPECT_EQ(testutil::ReadFile(damaged), before);
    EXPECT_TRUE(w->context().ArchiveView->RememberedPath().isEmpty());
    // The status bar is cleared afterwards, and then shows the repaired archive, which the view
    // lists at once.
    EXPECT_EQ(w->findChild<QLabel*>("StatusCount")->text(),
              QStringLiteral("%1 DIR&files").arg(c.written));
    EXPECT_EQ(Names(*w).size(), c.written);
    const std::string fixed =
        out + "/" + std::string(c.file, std::strlen(c.file) - 4) + "_fixed.zip";
    if (testutil::HaveTool("unzip")) {
      const auto t = testutil::Run("unzip -tq " + testutil::Quote(fixed));
      EXPECT_EQ(t.status, 0) << t.out;
    }
  }
  EXPECT_EQ(folderTitles,
            QStringList({"Select Destination", "Select Destination", "Select Destination"}));
  // Cancelling either dialog does nothing.
  dialogs_.answers.push_back(QString());
  fix->trigger();
  w->restoreWindow()->chooseFolder = [](const QString&, const QString&) { return QString(); };
  dialogs_.answers.push_back(Q(tmp_ / "cutdir.zip"));
  fix->trigger();
  EXPECT_EQ(host_.transcript().size(), 5);

  // The view: a truncated archive is listed after "Attempt".
  dialogs_.answers.push_back(Q(tmp_ / "cutdir.zip"));
  host_.Press("Attempt");
  w->findChild<QPushButton*>("ZipOpenBut")->click();
  EXPECT_EQ(Names(*w), (QStringList{"f1.txt", "f2.txt", "f3.txt", "f4.txt", "f5.txt", "f6.txt"}));
  EXPECT_EQ(host_.PendingAnswers(), 0);
}

// `arcavo JOB close` with "Verify backup": the archive test's box is the closing message, and an
// archive damaged after it was written fails the job.
TEST_F(ArchiveWiringTest, VerifyBackupClosesWithTheTestAndADamagedArchiveFailsTheJob) {
  if (!testutil::HaveTool("unzip")) GTEST_SKIP() << "unzip is not installed";
  struct Case {
    bool damage;
    const char* closing;
    int exitCode;
  };
  for (const Case& c : {Case{false, "All 7 files tested OK", 0},
                        Case{true, "Files tested as bad, or skipped!", 1}}) {
    SCOPED_TRACE(c.closing);
    const std::string root = tmp_ / (c.damage ? "damaged" : "good");
    ::mkdir(root.c_str(), 0755);
    HandWrittenJob job(root);
    job.WriteIni(16, 24);  // "Verify backup"
    auto w = Window();
    MainContext& ctx = w->context();
    TBackupRun& run = w->backup()->run();
    // The report file is written after the archive and before the test: the archive is damaged
    // there.
    auto report = run.onReportFile;
    run.onReportFile = [&](const QString& requested) {
      if (report) report(requested);
      if (!c.damage) return;
      std::string bytes = testutil::ReadFile(job.archive);
      bytes[bytes.size() / 3] ^= 0x55;
      WriteFile(job.archive, bytes);
    };
    QDir::setCurrent(QString::fromStdString(root));
    w->lifecycle().RunAutomaticJob(QStringLiteral("docs.JOB"), QStringLiteral("close"), true);
    QDir::setCurrent(QDir::rootPath());
    EXPECT_TRUE(ctx.TerminateRequested);
    EXPECT_EQ(ctx.FinalExitCode(ctx.ExitCode), c.exitCode);
    // The closing box, answered without a user, ends the job's report file.
    ASSERT_FALSE(ctx.ReportFile.isEmpty());
    const std::string text = testutil::ReadFile(ctx.ReportFile.toStdString());
    EXPECT_NE(text.find(c.closing), std::string::npos) << text;
    SetMbUnattended({});
    SetMbTerminating(false);
  }
}

// What the boxes of the "Archive" tab and the size calculator tell, and what follows them: Enter
// in the search box walks the matching rows whatever ran before (a test, an extraction); a wrong
// password is asked once and told in the closing box as a failure; the size calculator shows
// the size and no box; "&WriteZIP" before an archive is named leaves no report file.
TEST_F(ArchiveWiringTest, BoxesTellWhatHappenedAndTheSearchFindsRowsAfterThem) {
  if (!testutil::HaveTool("zip")) GTEST_SKIP() << "zip is not installed";
  const std::string zip = MakeArchive();
  const struct {
    const char* name;
    std::function<void(TMainform&)> before;
  } steps[] = {
      {"right after opening", [](TMainform&) {}},
      {"after a test",
       [&](TMainform& w) {
         host_.Answer(IDOK, "All 7 files tested OK");
         w.findChild<QAction*>("ZIPtest1")->trigger();
       }},
      {"after an extraction",
       [&](TMainform& w) {
         host_.Answer(IDOK, "4 files were extracted");
         w.extractController()->ExtractButClick(restore::TExtractPreset::AllOverwrite);
       }},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.name);
    auto w = Window();
    w->restoreWindow()->chooseFolder = [&](const QString&, const QString&) {
      return Q(tmp_ / "out");
    };
    w->mainWindow().OpenArchive(Q(zip));
    step.before(*w);
    // Typed as the user types: the box has the focus and passes the letters to its edit.
    auto* box = w->findChild<QComboBox*>(QStringLiteral("ComboBox1"));
    ASSERT_TRUE(box && box->lineEdit());
    box->lineEdit()->clear();
    QTest::keyClicks(box, "*.txt");
    EXPECT_EQ(box->lineEdit()->text(), "*.txt");
    QStringList found;
    for (int i = 0; i < 2; ++i) {
      QTest::keyClick(box, Qt::Key_Return);
      found << View(*w)->currentIndex().data().toString();
    }
    EXPECT_EQ(found, (QStringList{"small.txt", "inner.txt"}));
    EXPECT_TRUE(View(*w)->selectionModel()->isRowSelected(View(*w)->currentIndex().row(),
                                                          View(*w)->currentIndex().parent()));
  }

  auto w = Window();
  w->restoreWindow()->chooseFolder = [&](const QString&, const QString&) {
    return Q(tmp_ / "out");
  };
  // A wrong password: one dialog, and the closing box says why nothing was extracted.
  ASSERT_EQ(
      testutil::Run("cd " + testutil::Quote(tmp_.path()) + " && zip -q -r -P secret enc.zip data")
          .status,
      0);
  w->mainWindow().OpenArchive(Q(tmp_ / "enc.zip"));
  int dialogs = 0;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* dlg = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (!dlg || dlg->windowTitle() != QStringLiteral("Password Dialog")) return;
    ++dialogs;
    int shown = 0;
    for (QLineEdit* edit : dlg->findChildren<QLineEdit*>()) {
      edit->setText("wrong");
      shown += edit->isVisibleTo(dlg);
    }
    EXPECT_EQ(shown, 1) << "the archive's password is typed once";
    dlg->accept();
  });
  poll.start(5);
  host_.Answer(IDOK,
               "Wrong password: 4 encrypted files were not extracted\r0 files were extracted");
  w->extractController()->ExtractButClick(restore::TExtractPreset::AllOverwrite);
  poll.stop();
  EXPECT_EQ(dialogs, 1);
  EXPECT_EQ(host_.transcript().back().icon, MB_ICONERROR);

  // The size calculator's counting shows the size only.
  const int boxesBefore = host_.transcript().size();
  w->context().Explorer->Store().SetChecked(tmp_ / "data", true);
  w->findChild<QAbstractButton*>(QStringLiteral("SizeCalcBtn"))->click();
  EXPECT_EQ(host_.transcript().size(), boxesBefore) << host_.Texts().join('|').toStdString();
  EXPECT_TRUE(w->findChild<QLineEdit*>(QStringLiteral("SizeCalcEdit"))->text().endsWith("zMb"));

  // "&WriteZIP" with nothing named: whatever the box says, no report file "-<stamp>.txt".
  w->context().Options->Setstate(0);
  w->context().ZipName.clear();
  host_.AnswerDefaults(true);
  w->findChild<QAbstractButton*>(QStringLiteral("WriteZbtn"))->click();
  host_.AnswerDefaults(false);
  EXPECT_TRUE(QDir(QString::fromStdString(ProgramDir())).entryList({"*.txt"}).isEmpty());
}
