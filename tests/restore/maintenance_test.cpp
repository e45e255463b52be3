// Removing entries, deleting the archive file, testing and converting, over archives made by zip,
// checked afterwards by unzip, 7-Zip and Python's zipfile.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>

#include "app/damagedarchive.h"
#include "archiveview_fixture.h"
#include "restore/maintenance.h"

namespace fs = std::filesystem;
using restore::TMaintenanceController;
using testutil::Quote;
using testutil::ReadFile;
using testutil::WriteFile;
namespace msg = restore::maintmsg;

namespace {

struct FakeMaintenanceHost : restore::IMaintenanceHost {
  std::optional<QString> password;  // the password dialog's answer (nullopt: cancelled)
  int passwordPrompts = 0;
  std::function<void()> onClockStart;
  bool PasswordDialog(QString& p) override {
    ++passwordPrompts;
    if (!password) return false;
    p = *password;
    return true;
  }
  void StartProcessClock() override {
    if (onClockStart) onClockStart();
  }
};

// The engine's host: events are dispatched through it while an operation runs.
struct DispatchingHost : TZipHost {
  std::function<void()> onDispatch;
  int MessageBox(int, const std::string&, const std::string&, uint32_t) override { return zrNo; }
  bool ChooseArchiveFile(std::string&) override { return false; }
  bool OpenFileDialog(const TZipFileDialog&, std::string&) override { return false; }
  bool ChooseFolder(std::string&) override { return false; }
  bool ProcessMessages() override {
    if (onDispatch) onDispatch();
    return false;
  }
};

const char* const kFiles[] = {"a.doc", "b.txt", "c.doc", "d.txt", "e.doc"};

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

}  // namespace

struct MaintenanceFixture : ArchiveViewFixture {
  FakeMaintenanceHost host;
  DispatchingHost engineHost;
  std::unique_ptr<TMaintenanceController> ctl;

  MaintenanceFixture() {
    ctl = std::make_unique<TMaintenanceController>(zip, *view, window, controls, host);
    zip.Host = &engineHost;
  }
  ~MaintenanceFixture() override { ctl.reset(); }

  // The five files under src/, each of bytes characters, zipped by zip with options into name.
  std::string Zip(const std::string& name, const std::string& options = "", size_t bytes = 100) {
    fs::create_directories(dir / "src");
    for (const char* f : kFiles) {
      std::string text;
      for (size_t i = 0; text.size() < bytes; ++i)
        text += std::string(f) + std::to_string(i) + "\n";
      WriteFile(dir / ("src/" + std::string(f)), text);
    }
    const std::string path = dir / name;
    fs::create_directories(fs::path(path).parent_path());
    auto r = testutil::Run("cd " + Quote(dir / "src") + " && zip -q -X " + options + " " +
                           Quote(path) + " a.doc b.txt c.doc d.txt e.doc");
    EXPECT_EQ(r.status, 0) << r.out;
    return path;
  }
  bool Open(const std::string& path) { return view->ReadZipFile(QString::fromStdString(path)); }
  void Tick(int entry) { model().SetTicked(model().RowOfEntry(entry), true); }
  static std::string Peer(const std::string& command) {
    auto r = testutil::Run(command + " 2>&1");
    return r.status == 0 ? r.out : "FAILED " + r.out;
  }
};

TEST_F(MaintenanceFixture, DeleteRemovesTheChosenEntriesAndPeersReadTheRest) {
  for (const char* tool : {"zip", "unzip", "7zz", "python3"})
    if (!testutil::HaveTool(tool)) GTEST_SKIP() << tool;
  struct Case {
    std::vector<int> ticked;
    const char* done;
    std::string left;  // unzip -Z1, one name a line
  };
  const Case cases[] = {
      {{1, 3}, "2 files were deleted", "a.doc\nc.doc\ne.doc\n"},
      {{0}, "1 file was deleted", "b.txt\nc.doc\nd.txt\ne.doc\n"},
      {{0, 1, 2, 3, 4}, "5 files were deleted", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.done);
    const std::string path = Zip("del.zip");
    ASSERT_TRUE(Open(path));
    for (int e : c.ticked) Tick(e);
    bool markedWhileRemoving = false;
    host.onClockStart = [&] { markedWhileRemoving = ctl->DeletingEntries(); };
    boxes.Answer(IDYES, QStringLiteral("Delete selected files from: %1?").arg(Q(path)));
    boxes.Answer(IDOK, c.done);
    ctl->DeleteButClick();
    EXPECT_TRUE(markedWhileRemoving);
    EXPECT_FALSE(ctl->DeletingEntries());
    EXPECT_EQ(model().rowCount(), 5 - static_cast<int>(c.ticked.size()));
    const std::string zipinfo = Peer("zipinfo -1 " + Quote(path));
    if (c.left.empty()) {
      EXPECT_EQ(Peer("python3 -c 'import zipfile,sys; "
                     "print(len(zipfile.ZipFile(sys.argv[1]).namelist()))' " +
                     Quote(path)),
                "0\n");
    } else {
      EXPECT_EQ(zipinfo, c.left);
      EXPECT_EQ(Peer("unzip -tq " + Quote(path)).rfind("No errors", 0), 0u);
      EXPECT_EQ(Peer("7zz t " + Quote(path)).find("FAILED"), std::string::npos);
    }
    fs::remove(path);
  }

  // No to the question, nothing chosen, and a split archive: the archive stays as it is.
  const std::string path = Zip("keep.zip");
  const std::string before = ReadFile(path);
  ASSERT_TRUE(Open(path));
  boxes.Answer(IDNO);
  ctl->DeleteButClick();
  boxes.Answer(IDYES).Answer(IDOK, "Error - no files selected").Answer(IDOK, msg::kNoneChecked);
  ctl->DeleteButClick();
  EXPECT_FALSE(ctl->DeletingEntries());
  EXPECT_EQ(ReadFile(path), before);
  const std::string split = Zip("split/set.zip", "-0 -s 64k", 90000);
  ASSERT_TRUE(fs::exists(dir / "split/set.z01"));
  ASSERT_TRUE(Open(split));
  boxes.Answer(IDOK, msg::kSpannedDelete);
  ctl->DeleteButClick();
}

TEST_F(MaintenanceFixture, KillZipAsksThenMovesToTheTrash) {
  const std::string path = dir / "kill.zip";
  testutil::IsolatedXdg xdg(dir / "xdg");
  const fs::path trashed = fs::path(dir / "xdg/data") / "Trash/files/kill.zip";
  struct Case {
    bool exists;
    int answer;  // to the question; 0: no question
    bool gone;
  };
  for (const Case& c : {Case{true, IDNO, false}, Case{true, IDYES, true}, Case{false, 0, true}}) {
    SCOPED_TRACE(c.answer);
    fs::remove(trashed);
    if (c.exists) WriteFile(path, ReadFile(Zip("kill.zip")));
    zip.SetZipName(path);
    window.archiveName = Q(path);
    window.calls.clear();
    controls.SetControlEnabled(restore::ctlnames::kKillZipButton, true);
    if (c.exists)
      boxes.Answer(c.answer, QStringLiteral("Move this archive to the trash: %1?").arg(Q(path)));
    else
      boxes.Answer(IDOK, QStringLiteral("Zip file not found: %1").arg(Q(path)));
    ctl->DeleteZipButClick();
    EXPECT_EQ(window.calls.value(0), "Setstate 0");
    EXPECT_EQ(fs::exists(path), !c.gone);
    // The file can be had back from the trash; No is the question's default.
    EXPECT_EQ(fs::exists(trashed), c.exists && c.gone);
    if (c.exists) {
      ASSERT_FALSE(boxes.transcript().isEmpty());
      EXPECT_EQ(boxes.transcript().back().defaultButton, 2);
    }
    // No keeps the name; a deleted or missing file leaves no archive behind.
    EXPECT_EQ(zip.ZipName().empty(), c.gone);
    EXPECT_EQ(window.archiveName.isEmpty(), c.exists && c.gone);
    EXPECT_EQ(controls.ControlEnabled(restore::ctlnames::kKillZipButton), !(c.exists && c.gone));
  }
}

TEST_F(MaintenanceFixture, TestReportsGoodBadSkippedAndStopsOnAbort) {
  if (!testutil::HaveTool("zip")) GTEST_SKIP() << "zip not installed";
  struct Case {
    const char* name;
    const char* options;
    bool flip;                        // one data byte of the first entry changed
    std::optional<QString> password;  // the password dialog's answer
    bool passed;
  };
  const Case cases[] = {
      {"good.zip", "", false, std::nullopt, true},
      {"flipped.zip", "-0", true, std::nullopt, false},
      {"locked.zip", "-P secret", false, std::nullopt, false},
      {"unlocked.zip", "-P secret", false, QStringLiteral("secret"), true},
      {"wrong.zip", "-P secret", false, QStringLiteral("wrong"), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Zip(c.name, c.options);
    if (c.flip) {
      std::string bytes = ReadFile(path);
      bytes[30 + 5 + 3] ^= 0x20;
      WriteFile(path, bytes);
    }
    ASSERT_TRUE(Open(path));
    host.password = c.password;
    host.passwordPrompts = 0;
    boxes.Answer(IDOK, c.passed ? "All 5 files tested OK" : msg::kTestedBad);
    const auto r = ctl->TestButClick();
    EXPECT_TRUE(r.tested);
    EXPECT_EQ(r.passed, c.passed);
    // The password is asked once: neither a cancelled prompt nor a wrong password is asked
    // again for the other encrypted entries.
    EXPECT_LE(host.passwordPrompts, 1);
    EXPECT_EQ(controls.ControlCaption(ctl::kZipTestItem), msg::kTestCaption);
    EXPECT_FALSE(ctl->Testing());
  }

  // A second click on the item, which reads "Abort" while the test runs, stops it.
  ASSERT_TRUE(Open(Zip("long.zip", "", 2000000)));
  QString captionWhileTesting;
  engineHost.onDispatch = [&] {
    captionWhileTesting = controls.ControlCaption(ctl::kZipTestItem);
    engineHost.onDispatch = nullptr;
    ctl->TestButClick();
  };
  boxes.Answer(IDOK, msg::kTestedBad);
  EXPECT_FALSE(ctl->TestButClick().passed);
  EXPECT_EQ(captionWhileTesting, msg::kAbortCaption);
  EXPECT_EQ(controls.ControlCaption(ctl::kZipTestItem), msg::kTestCaption);
  // Nothing to test.
  zip.CloseArchive();
  boxes.Answer(IDOK, msg::kNothingToTest);
  EXPECT_FALSE(ctl->TestButClick().tested);
}

TEST_F(MaintenanceFixture, ConvertChangesOnlyTheExtensionAndNeverLosesTheOldTarget) {
  for (const char* tool : {"zip", "unzip"})
    if (!testutil::HaveTool(tool)) GTEST_SKIP() << tool;
  const std::string plain = Zip("Backups/week.zip");
  const std::string exe = dir / "Backups/week.EXE";
  ctl->stubPath = SFXSTUB_PATH;
  ASSERT_TRUE(Open(plain));
  boxes.Answer(IDOK, QStringLiteral("File saved as %1").arg(Q(exe)));
  ctl->ConvertButClick();
  EXPECT_EQ(Peer("unzip -tq " + Quote(exe)).rfind("No errors", 0), 0u);
  if (testutil::HaveTool("7zz")) {
    EXPECT_EQ(Peer("7zz t " + Quote(exe)).find("FAILED"), std::string::npos);
  }
  EXPECT_EQ(zip.ZipName(), plain);  // the plain archive stays open

  // Back: the plain archive replaces the old one, the .EXE is gone and the new one is open.
  ASSERT_TRUE(Open(exe));
  boxes.Answer(IDOK, QStringLiteral("File saved as %1").arg(Q(plain)));
  ctl->ConvertButClick();
  EXPECT_FALSE(fs::exists(exe));
  EXPECT_EQ(zip.ZipName(), plain);
  EXPECT_EQ(window.archiveName, Q(plain));
  EXPECT_EQ(Peer("unzip -tq " + Quote(plain)).rfind("No errors", 0), 0u);
  if (testutil::HaveTool("7zz")) {
    EXPECT_EQ(Peer("7zz t " + Quote(plain)).find("FAILED"), std::string::npos);
  }

  // Without the stub the conversion fails, and an existing target keeps its bytes.
  WriteFile(exe, "an older self-extractor");
  ctl->stubPath = dir / "no-such-stub.bin";
  boxes.Answer(IDOK, msg::kConvertFailed);
  ctl->ConvertButClick();
  EXPECT_EQ(ReadFile(exe), "an older self-extractor");
  EXPECT_TRUE(fs::exists(plain));
}

// An archive whose directory had one central record damaged reads through the scan: the view
// says so, the test names it and never passes, and every rewrite asks first. No (and, without a
// user, the default No) leaves the file byte for byte as it was; only Yes rewrites it, after
// which it reads whole again and peers agree.
TEST_F(MaintenanceFixture, DamagedDirectoryIsNamedNeverPassesAndIsRewrittenOnlyWhenAsked) {
  for (const char* tool : {"zip", "unzip"})
    if (!testutil::HaveTool(tool)) GTEST_SKIP() << tool;
  const std::string path = Zip("damaged.zip");
  ASSERT_TRUE(testutil::DamageCentralSignature(path, 2));
  const std::string before = ReadFile(path);
  ctl->stubPath = SFXSTUB_PATH;
  ASSERT_TRUE(Open(path));
  const QString damage = QString::fromStdString(zip.DirectoryDamage());
  ASSERT_FALSE(damage.isEmpty());
  EXPECT_EQ(window.note, QString(damagedmsg::kViewNote).arg(damage));
  EXPECT_EQ(model().rowCount(), 5);  // every entry is found by the scan

  boxes.Answer(IDOK, QString(msg::kTestedBad) + QString(damagedmsg::kTestNote).arg(damage));
  EXPECT_FALSE(ctl->TestButClick().passed);

  const QString question = QString(damagedmsg::kRewriteQuestion).arg(Q(path), damage);
  const QString refused = QString(damagedmsg::kNotChanged).arg(Q(path), damage);
  struct Case {
    const char* what;
    std::function<void()> command;  // run after the boxes before the question were answered
    bool askedFirst;                // the command asks a question of its own first
  };
  const Case cases[] = {
      {"delete", [&] { ctl->DeleteButClick(); }, true},
      {"convert", [&] { ctl->ConvertButClick(); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.askedFirst) {
      Tick(1);
      boxes.Answer(IDYES, QStringLiteral("Delete selected files from: %1?").arg(Q(path)));
    }
    boxes.Answer(IDNO, question);
    c.command();
    EXPECT_EQ(boxes.transcript().back().defaultButton, 2);  // No
    EXPECT_EQ(ReadFile(path), before);
    EXPECT_FALSE(fs::exists(dir / "damaged.EXE"));
    EXPECT_EQ(boxes.PendingAnswers(), 0);
  }
  // Without a user nobody is asked: the archive stays and the run learns why, as a failure.
  QStringList told;
  SetMbUnattended([&](const QString& text, bool failure) { told << text + (failure ? "!" : ""); });
  ctl->ConvertButClick();
  SetMbUnattended({});
  EXPECT_EQ(told, QStringList({refused + "!"}));
  EXPECT_EQ(ReadFile(path), before);

  // Yes: the entries found are written anew without the one deleted.
  Tick(1);
  boxes.Answer(IDYES, QStringLiteral("Delete selected files from: %1?").arg(Q(path)));
  boxes.Answer(IDYES, question);
  boxes.Answer(IDOK, "1 file was deleted");
  ctl->DeleteButClick();
  EXPECT_EQ(Peer("unzip -Z1 " + Quote(path)), "a.doc\nc.doc\nd.txt\ne.doc\n");
  EXPECT_EQ(Peer("unzip -tq " + Quote(path)).rfind("No errors", 0), 0u);
  EXPECT_TRUE(zip.DirectoryDamage().empty());
  EXPECT_TRUE(window.note.isEmpty());
}
