// Extraction and restore through the controller, with archives made by zip and by Python's
// zipfile, answered by a scripted window.
#include <sys/stat.h>
#include <unistd.h>

#include <deque>
#include <filesystem>
#include <optional>
#include <sstream>

#include "archive/zipmedia.h"
#include "archiveview_fixture.h"
#include "restore/extractcontroller.h"
#include "restore/repaircontroller.h"

namespace fs = std::filesystem;
using restore::TExtractPreset;
using testutil::Quote;
using testutil::ReadFile;
using testutil::WriteFile;

#include "app/pathbytes.h"

namespace {

struct FakeRestoreHost : restore::IRestoreHost {
  std::deque<QString> folders;  // answers of the folder dialog ("" cancels)
  QString title;
  QString initialDir;
  std::deque<std::optional<QString>> passwords;  // answers of the password dialog
  int passwordPrompts = 0;
  bool hourglass = false;
  int statusCleared = 0;
  int gaugeCleared = 0;
  int reportCleared = 0;
  std::function<void()> onProcessMessages;
  QStringList lines;  // report lines of the controller's own

  QString ChooseFolder(const QString& t, const QString& initial) override {
    title = t;
    initialDir = initial;
    if (folders.empty()) return {};
    QString f = folders.front();
    folders.pop_front();
    return f;
  }
  bool PasswordDialog(QString& password) override {
    ++passwordPrompts;
    if (passwords.empty()) return false;
    std::optional<QString> p = passwords.front();
    passwords.pop_front();
    if (!p) return false;
    password = *p;
    return true;
  }
  void SetHourglass(bool on) override { hourglass = on; }
  void GaugeStart() override {}
  void ClearStatusBar() override { ++statusCleared; }
  void GaugeClear() override { ++gaugeCleared; }
  void ClearReportBox() override { ++reportCleared; }
  void StartProcessClock() override {}
  void ProcessMessages() override {
    if (onProcessMessages) onProcessMessages();
  }
  void ReportLine(const QString& line) override { lines << line; }
};

// Every file and folder below root, relative, sorted.
std::vector<std::string> Tree(const std::string& root) {
  std::vector<std::string> r;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
       ++it)
    r.push_back(fs::relative(it->path(), root).string());
  std::sort(r.begin(), r.end());
  return r;
}

}  // namespace

struct ExtractFixture : ArchiveViewFixture {
  FakeRestoreHost host;
  std::unique_ptr<restore::TExtractController> ctl;
  QStringList report;  // the report box: one line per skipped entry

  ExtractFixture() {
    ctl = std::make_unique<restore::TExtractController>(zip, lists, *view, search, host);
    // The program's skip handler writes a line into the report box for each skipped entry.
    zip.OnSkippingFile = [this](TArcUnZip*, TSkipReason reason, const std::string& name, int,
                                bool&) {
      report << QString::fromStdString(name) + ". Skipped because " + SkipReasonLabel(reason);
    };
  }
  ~ExtractFixture() override { ctl.reset(); }

  void Option(int item, bool on) {
    THandlersDetached d{&lists.extractOptionList};
    lists.extractOptionList.SetChecked(item, on);
  }
  void Mode(int item) {
    THandlersDetached d{&lists.extractModeList};
    lists.extractModeList.SetChecked(item, true);
  }
  // Runs "E&xtract" into folder, expecting the final box to read text.
  void Extract(const std::string& folder, const QString& text,
               TExtractPreset preset = TExtractPreset::None) {
    host.folders.push_back(QString::fromStdString(folder));
    boxes.Answer(IDOK, text);
    ctl->ExtractButClick(preset);
  }
  static QString Count(int n) {
    return QStringLiteral("%1 file%2 extracted").arg(n).arg(n == 1 ? " was" : "s were");
  }
  // Runs a Python script (zipfile) in the scratch folder.
  void Python(const std::string& script) {
    WriteFile(dir / "make.py", script);
    auto r = testutil::Run("cd " + Quote(dir.path()) + " && python3 make.py");
    ASSERT_EQ(r.status, 0) << r.out;
  }
  void Tick(int entry) {
    QModelIndex row = model().RowOfEntry(entry);
    ASSERT_TRUE(row.isValid());
    model().SetTicked(row, true);
  }
  // The entry number of a stored name in the open archive.
  int EntryNamed(const std::string& full) {
    for (int i = 0; i < zip.EntryCount(); ++i)
      if (zip.EntryFullName(i) == full) return i;
    return -1;
  }
};

TEST_F(ExtractFixture, RoundTripFromZipWithAndWithoutFolders) {
  if (!testutil::HaveTool("zip")) GTEST_SKIP() << "zip not installed";
  fs::create_directories(dir / "tree/sub/deep");
  WriteFile(dir / "tree/a.txt", "alpha\n");
  WriteFile(dir / "tree/sub/b.bin", std::string(100000, '\x07') + "end");
  WriteFile(dir / "tree/sub/deep/a.txt", "the other a\n");
  ASSERT_EQ(testutil::Run("cd " + Quote(dir.path()) + " && zip -qr arc.zip tree").status, 0);
  ASSERT_TRUE(view->ReadZipFile(QString::fromStdString(dir / "arc.zip")));

  // "Expand Directories" (default): the restored tree equals the source.
  Extract(dir / "out", Count(3), TExtractPreset::AllNoOverwrite);
  EXPECT_EQ(host.title, QString::fromLatin1(restore::extractmsg::kFolderTitle));
  EXPECT_EQ(testutil::Run("diff -r " + Quote(dir / "tree") + " " + Quote(dir / "out/tree")).status,
            0);
  EXPECT_EQ(view->RememberedPath(), QString::fromStdString(dir / "out"));
  // Afterwards the one-shot options are off again and nothing is remembered of the password.
  EXPECT_FALSE(lists.extractOptionList.Checked(restore::extractopt::kOverwrite));
  EXPECT_FALSE(lists.extractOptionList.Checked(restore::extractopt::kAll));
  EXPECT_TRUE(lists.extractOptionList.Checked(restore::extractopt::kExpandDirs));
  EXPECT_FALSE(host.hourglass);
  EXPECT_TRUE(report.isEmpty());

  // The same again without overwriting: nothing is written (folders are not counted as files).
  Extract(dir / "out", Count(0), TExtractPreset::AllNoOverwrite);
  EXPECT_EQ(report.size(), 3);
  EXPECT_EQ(host.initialDir, QString::fromStdString(dir / "out"));

  // Without "Expand Directories" every file lands in the destination itself; the second a.txt
  // meets the overwrite rule.
  Option(restore::extractopt::kExpandDirs, false);
  report.clear();
  Extract(dir / "flat", Count(2), TExtractPreset::AllNoOverwrite);
  EXPECT_EQ(Tree(dir / "flat"), (std::vector<std::string>{"a.txt", "b.bin"}));
  ASSERT_EQ(report.size(), 1);
  EXPECT_TRUE(report[0].endsWith("a.txt. Skipped because NoOverwrite")) << report[0].toStdString();

  // A cancelled folder dialog does nothing, presets included.
  ctl->ExtractButClick(TExtractPreset::AllOverwrite);
  EXPECT_FALSE(lists.extractOptionList.Checked(restore::extractopt::kAll));
}

// Archives with bytes in front that their offsets do not count, as shell installers and other
// tools' self-extractors are made: they open in the view, list the names unzip lists, test clean
// and extract the tree; an update keeps the leading bytes and writes offsets that count them.
TEST_F(ExtractFixture, ArchivesWithUncountedLeadingBytes) {
  if (!testutil::HaveTool("zip") || !testutil::HaveTool("unzip")) GTEST_SKIP();
  fs::create_directories(dir / "tree/sub/empty");
  WriteFile(dir / "tree/a.txt", "alpha\n");
  WriteFile(dir / "tree/sub/b.bin", std::string(100000, '\x07') + "end");
  auto sh = [&](const std::string& command) {
    auto r = testutil::Run("cd " + Quote(dir.path()) + " && " + command);
    EXPECT_EQ(r.status, 0) << command << "\n" << r.out;
    return r.out;
  };
  sh("zip -qr plain.zip tree && zip -qr -fz z64.zip tree && cp plain.zip commented.zip &&"
     " head -c 65535 /dev/zero | tr '\\0' c | zip -qz commented.zip && yes prefix | head -c 70000 >"
     " p70000");
  struct Case {
    const char* name;
    const char* make;  // shell command writing the archive
    int64_t leading;   // bytes in front of the archive
  };
  const int64_t trueSize = static_cast<int64_t>(fs::file_size("/bin/true"));
  const Case cases[] = {
      {"true.exe", "cat /bin/true plain.zip", trueSize},
      {"one.zip", "printf X | cat - plain.zip", 1},
      {"big.zip", "cat p70000 plain.zip", 70000},
      {"zip64.zip", "cat p70000 z64.zip", 70000},
      {"comment.zip", "printf abc | cat - commented.zip", 3},
  };
  const bool sevenZip = testutil::HaveTool("7zz");
  WriteFile(dir / "new.txt", "added later\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string arc = dir / c.name;
    sh(std::string(c.make) + " > " + c.name);
    const auto shown = boxes.transcript().size();
    ASSERT_TRUE(view->ReadZipFile(QString::fromStdString(arc)));
    EXPECT_EQ(boxes.transcript().size(), shown);  // nobody is asked about the archive
    EXPECT_EQ(zip.OffsetShift(), c.leading);
    EXPECT_FALSE(zip.RecoveryMode());
    std::vector<std::string> ours, theirs;
    for (int i = 0; i < zip.EntryCount(); ++i) ours.push_back(zip.EntryFullName(i));
    // unzip warns about the leading bytes and says so in its status.
    std::istringstream listed(testutil::Run("unzip -Z1 " + Quote(arc) + " 2>/dev/null").out);
    for (std::string line; std::getline(listed, line);) theirs.push_back(line);
    std::sort(ours.begin(), ours.end());
    std::sort(theirs.begin(), theirs.end());
    EXPECT_EQ(ours, theirs);
    EXPECT_TRUE(zip.TestArchive());
    const std::string out = dir / (std::string("out-") + c.name);
    Extract(out, Count(2), TExtractPreset::AllNoOverwrite);
    EXPECT_EQ(testutil::Run("diff -r " + Quote(dir / "tree") + " " + Quote(out + "/tree")).status,
              0);

    // One file added: the leading bytes stay, the offsets now count them.
    const std::string head = ReadFile(arc).substr(0, static_cast<size_t>(c.leading));
    TArcZip update;
    update.SetZipName(arc);
    update.FilesList = {dir / "new.txt"};
    EXPECT_EQ(update.ZipFiles(), 1);
    EXPECT_EQ(ReadFile(arc).substr(0, head.size()), head);
    auto tested = testutil::Run("unzip -tq " + Quote(arc));
    EXPECT_EQ(tested.status, 0) << tested.out;
    EXPECT_EQ(tested.out.find("extra bytes"), std::string::npos) << tested.out;
    if (sevenZip) {
      auto seven = testutil::Run("7zz t " + Quote(arc));
      EXPECT_EQ(seven.status, 0) << seven.out;
      EXPECT_NE(seven.out.find("Everything is Ok"), std::string::npos) << seven.out;
    }
    ASSERT_TRUE(view->ReadZipFile(QString::fromStdString(arc)));
    EXPECT_EQ(zip.OffsetShift(), 0);
    EXPECT_EQ(zip.EntryCount(), static_cast<int>(theirs.size()) + 1);
  }

  // A directory that lies neither at its stated offset nor at the shifted one (bytes between it
  // and the end record) is not read from its offsets; only the recovery scan finds the entries.
  const std::string plain = ReadFile(dir / "plain.zip");
  const size_t end = plain.rfind("PK\x05\x06");
  WriteFile(dir / "bad.zip", "lead" + plain.substr(0, end) + "between" + plain.substr(end));
  TArcZip bad;
  bad.SetZipName(dir / "bad.zip");
  bad.ReadArchive();
  EXPECT_EQ(bad.OffsetShift(), 0);
  EXPECT_TRUE(bad.RecoveryMode());
}

TEST_F(ExtractFixture, ChosenRowsOneFileEmptyArchiveAndMissingArchive) {
  if (!testutil::HaveTool("zip")) GTEST_SKIP() << "zip not installed";
  WriteFile(dir / "one.txt", "one\n");
  WriteFile(dir / "two.txt", "two\n");
  ASSERT_EQ(testutil::Run("cd " + Quote(dir.path()) + " && zip -q arc.zip one.txt two.txt").status,
            0);
  const QString arc = QString::fromStdString(dir / "arc.zip");
  ASSERT_TRUE(view->ReadZipFile(arc));
  Tick(EntryNamed("two.txt"));
  Extract(dir / "out", Count(1));
  EXPECT_EQ(Tree(dir / "out"), std::vector<std::string>{"two.txt"});

  // "Extract Selected" > "OverWrite" replaces a changed file and unchecks the option afterwards.
  WriteFile(dir / "out/two.txt", "changed");
  Tick(EntryNamed("two.txt"));
  Extract(dir / "out", Count(1), TExtractPreset::SelectedOverwrite);
  EXPECT_EQ(ReadFile(dir / "out/two.txt"), "two\n");
  EXPECT_FALSE(lists.extractOptionList.Checked(restore::extractopt::kOverwrite));

  // An archive without entries.
  Python("import zipfile\nzipfile.ZipFile('empty.zip', 'w').close()\n");
  ASSERT_TRUE(view->ReadZipFile(QString::fromStdString(dir / "empty.zip")));
  Extract(dir / "out2",
          QStringLiteral("    No files selected to extract\rTo restore all check [Extract ALL "
                         "files]"),
          TExtractPreset::AllOverwrite);
  EXPECT_FALSE(fs::exists(dir / "out2"));

  // The archive disappeared after it was opened.
  ASSERT_TRUE(view->ReadZipFile(arc));
  fs::remove(dir / "arc.zip");
  Extract(dir / "out3", QStringLiteral("file not found: ") + arc, TExtractPreset::AllOverwrite);
  EXPECT_EQ(boxes.transcript().last().icon, MB_ICONERROR);
  EXPECT_EQ(zip.ZipName(), "");
}

TEST_F(ExtractFixture, FoldedVersionFoldersRestoreTheCurrentCopyElseTheNewestVersion) {
  // d/a.txt: v1 and v2 in version folders (v1's folder made before the 32-bit count wrapped, so
  // its value is the larger), v3 current; d/b.txt: two versions only; d/c.txt: current only.
  Python(
      "import zipfile\n"
      "with zipfile.ZipFile('v.zip', 'w') as z:\n"
      "    def put(name, text, t):\n"
      "        z.writestr(zipfile.ZipInfo(name, (2003, 1, 3, 15, t, 0)), text)\n"
      "    put('d/#FFFFFFF0#/a.txt', 'v1', 30)\n"
      "    put('d/#00000010#/a.txt', 'v2', 32)\n"
      "    put('d/a.txt', 'v3', 10)\n"
      "    put('d/#1F2E5EE0#/b.txt', 'b newer', 20)\n"
      "    put('d/#1F2E5ED3#/b.txt', 'b older', 40)\n"
      "    put('d/c.txt', 'c', 40)\n");
  ASSERT_TRUE(view->ReadZipFile(QString::fromStdString(dir / "v.zip")));
  // The destination itself looks like a version folder; only the stored part is folded.
  const std::string off = dir / "off/#ABCDEF12#";
  for (TExtractPreset preset : {TExtractPreset::AllNoOverwrite, TExtractPreset::AllOverwrite}) {
    host.lines.clear();
    report.clear();
    Extract(off, Count(3), preset);
    EXPECT_EQ(Tree(dir / "off"),
              (std::vector<std::string>{"#ABCDEF12#", "#ABCDEF12#/d", "#ABCDEF12#/d/a.txt",
                                        "#ABCDEF12#/d/b.txt", "#ABCDEF12#/d/c.txt"}));
    EXPECT_EQ(ReadFile(off + "/d/a.txt"), "v3");
    EXPECT_EQ(ReadFile(off + "/d/b.txt"), "b newer");
    // The copies passed over are named in the report box.
    EXPECT_EQ(host.lines, (QStringList{"d/#FFFFFFF0#/a.txt. Skipped because OlderCopy",
                                       "d/#00000010#/a.txt. Skipped because OlderCopy",
                                       "d/#1F2E5ED3#/b.txt. Skipped because OlderCopy"}));
    // The second time round, the overwrite rule decides about the existing files.
    if (preset == TExtractPreset::AllNoOverwrite) {
      EXPECT_TRUE(report.isEmpty());
      std::filesystem::remove_all(dir / "off");
    }
  }
  // Only the chosen rows take part: a chosen older version alone is restored.
  host.lines.clear();
  Tick(EntryNamed("d/#FFFFFFF0#/a.txt"));
  Extract(dir / "one", Count(1), TExtractPreset::SelectedNoOverwrite);
  EXPECT_EQ(ReadFile(dir / "one/d/a.txt"), "v1");
  EXPECT_TRUE(host.lines.isEmpty());

  Option(restore::extractopt::kVersionedDirs, true);
  Extract(dir / "on", Count(6), TExtractPreset::AllNoOverwrite);
  EXPECT_EQ(Tree(dir / "on/d"),
            (std::vector<std::string>{"#00000010#", "#00000010#/a.txt", "#1F2E5ED3#",
                                      "#1F2E5ED3#/b.txt", "#1F2E5EE0#", "#1F2E5EE0#/b.txt",
                                      "#FFFFFFF0#", "#FFFFFFF0#/a.txt", "a.txt", "c.txt"}));
}

TEST_F(ExtractFixture, EncryptedArchivePromptsOnceAndKeepsNoPassword) {
  if (!testutil::HaveTool("zip")) GTEST_SKIP() << "zip not installed";
  fs::create_directories(dir / "tree/sub");
  WriteFile(dir / "tree/a.txt", std::string(5000, 'a'));
  WriteFile(dir / "tree/sub/b.txt", "bee\n");
  WriteFile(dir / "tree/c.bin", std::string(70000, '\x01'));
  ASSERT_EQ(testutil::Run("cd " + Quote(dir.path()) + " && zip -qr -P secret enc.zip tree").status,
            0);
  ASSERT_TRUE(view->ReadZipFile(QString::fromStdString(dir / "enc.zip")));

  // A wrong password: one prompt, then every encrypted entry is skipped as "Bad Password", and
  // the closing box says so, as a failure.
  host.passwords = {QStringLiteral("wrong")};
  Extract(dir / "bad", "Wrong password: 3 encrypted files were not extracted\r" + Count(0),
          TExtractPreset::AllOverwrite);
  EXPECT_EQ(boxes.transcript().back().icon, MB_ICONERROR);
  EXPECT_EQ(host.passwordPrompts, 1);
  EXPECT_EQ(report.size(), 3);
  for (const QString& line : report) EXPECT_TRUE(line.endsWith("Skipped because Bad Password"));
  EXPECT_EQ(zip.Password, "");
  EXPECT_FALSE(fs::exists(dir / "bad/tree/a.txt"));

  // Cancel: no further prompts in this extraction; the next extraction asks again.
  report.clear();
  host.passwords = {std::nullopt};
  Extract(dir / "bad", "No password given: 3 encrypted files were not extracted\r" + Count(0),
          TExtractPreset::AllOverwrite);
  EXPECT_EQ(host.passwordPrompts, 2);
  EXPECT_EQ(report.size(), 3);

  // The right password restores identical files; a password another operation left on the
  // engine does not stop the prompt.
  zip.Password = "left by an encrypted backup";
  host.passwords = {QStringLiteral("secret")};
  Extract(dir / "good", Count(3), TExtractPreset::AllOverwrite);
  EXPECT_EQ(host.passwordPrompts, 3);
  for (const char* f : {"tree/a.txt", "tree/sub/b.txt", "tree/c.bin"})
    EXPECT_EQ(testutil::Run("cmp " + Quote(dir / f) + " " + Quote(dir / "good/" + f)).status, 0)
        << f;
  EXPECT_EQ(zip.Password, "");
  EXPECT_TRUE(ctl->PasswordHandlerAttached());
  // The controller takes its handler with it; the engine never calls into a freed controller.
  ctl.reset();
  EXPECT_FALSE(zip.OnBadPassword);
}

TEST_F(ExtractFixture, HostileArchiveStaysInsideTheDestinationAndEverySkipIsReported) {
  Python(
      "import zipfile\n"
      "def add(z, name, data, mode=0o100644):\n"
      "    i = zipfile.ZipInfo(name, (2020, 1, 1, 0, 0, 0))\n"
      "    i.create_system = 3\n"
      "    i.external_attr = mode << 16\n"
      "    z.writestr(i, data)\n"
      "with zipfile.ZipFile('evil.zip', 'w') as z:\n"
      "    add(z, '../evil', 'x')\n"
      "    add(z, 'a/../../evil', 'x')\n"
      "    add(z, '/abs/evil', 'inside')\n"
      "    add(z, 'link', '../outside', 0o120777)\n"
      "    add(z, 'link/payload', 'payload')\n"
      "    add(z, 'suid', '#!/bin/sh\\n', 0o106755)\n"
      "    add(z, 'fine.txt', 'fine')\n");
  fs::create_directories(dir / "outside");
  ASSERT_TRUE(view->ReadZipFile(QString::fromStdString(dir / "evil.zip")));
  const std::string dest = dir / "dest";
  const QString closing = Count(4) +
                          "\r1 link pointing outside the destination left out (see the "
                          "report)";
  Extract(dest, closing, TExtractPreset::AllOverwrite);
  EXPECT_EQ(Tree(dest), (std::vector<std::string>{"abs", "abs/evil", "fine.txt", "link",
                                                  "link/payload", "suid"}));
  EXPECT_TRUE(Tree(dir / "outside").empty());
  EXPECT_FALSE(fs::exists(dir / "evil"));
  EXPECT_FALSE(fs::is_symlink(dest + "/link"));
  struct stat st;
  ASSERT_EQ(::stat((dest + "/suid").c_str(), &st), 0);
  // Set-ID bits come back only for root, as unzip restores them.
  EXPECT_EQ(st.st_mode & 07000, ::geteuid() == 0 ? 06000u : 0u);
  const QStringList expected{"../evil. Skipped because CreateError",
                             "a/../../evil. Skipped because CreateError",
                             "link. Skipped because CreateError"};
  EXPECT_EQ(report, expected);
  EXPECT_TRUE(host.lines.isEmpty());

  // Without the program's skip handler on the engine the controller reports the skips itself,
  // with the engine's reasons in words.
  zip.OnSkippingFile = nullptr;
  Extract(dir / "dest2", closing, TExtractPreset::AllOverwrite);
  EXPECT_EQ(host.lines,
            (QStringList{"../evil. Skipped because its name leads outside the destination",
                         "a/../../evil. Skipped because its name leads outside the destination",
                         "link. Skipped because link points outside the destination"}));
  EXPECT_FALSE(zip.OnSkippingFile);
}

// Links zip stored as links: one staying inside the destination comes back as a link; one
// leading out of it is left out, named with the reason and counted, unless "Links as stored" is
// on, which recreates every link as stored and stays on for later extractions.
TEST_F(ExtractFixture, LinksLeadingOutOfTheDestinationOnlyAsStored) {
  if (!testutil::HaveTool("zip")) GTEST_SKIP() << "zip not installed";
  fs::create_directories(dir / "tree/sub");
  WriteFile(dir / "tree/sub/a.txt", "alpha\n");
  auto r = testutil::Run("cd " + Quote(dir / "tree") +
                         " && ln -s sub/a.txt in && ln -s ../../elsewhere up && cd .. && zip -qry "
                         "arc.zip tree");
  ASSERT_EQ(r.status, 0) << r.out;
  ASSERT_TRUE(view->ReadZipFile(QString::fromStdString(dir / "arc.zip")));
  zip.OnSkippingFile = nullptr;  // the controller's own report lines, with the engine's reasons
  auto target = [](const std::string& link) {
    std::error_code ec;
    return fs::is_symlink(fs::symlink_status(link)) ? fs::read_symlink(link, ec).string() : "";
  };
  struct {
    bool asStored;
    const char* out;
    QString closing;
    QStringList lines;
  } rows[] = {
      {false,
       "default",
       Count(2) + "\r1 link pointing outside the destination left out (see the report)",
       {"tree/up. Skipped because link points outside the destination"}},
      {true, "as-stored", Count(3), {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.out);
    Option(restore::extractopt::kLinksAsStored, row.asStored);
    host.lines.clear();
    const std::string out = dir / row.out;
    Extract(out, row.closing, TExtractPreset::AllNoOverwrite);
    EXPECT_EQ(target(out + "/tree/in"), "sub/a.txt");
    EXPECT_EQ(ReadFile(out + "/tree/in"), "alpha\n");
    EXPECT_EQ(target(out + "/tree/up"), row.asStored ? "../../elsewhere" : "");
    EXPECT_EQ(fs::exists(fs::symlink_status(out + "/tree/up")), row.asStored);
    EXPECT_EQ(host.lines, row.lines);
    EXPECT_EQ(lists.extractOptionList.Checked(restore::extractopt::kLinksAsStored), row.asStored);
  }
}

TEST_F(ExtractFixture, UpdateAndFreshenLookAtModificationTimes) {
  Python(
      "import zipfile\n"
      "with zipfile.ZipFile('u.zip', 'w') as z:\n"
      "    for n in ('older', 'newer', 'missing'):\n"
      "        z.writestr(zipfile.ZipInfo(n + '.txt', (2005, 6, 1, 12, 0, 0)), 'archived ' + n)\n");
  ASSERT_TRUE(view->ReadZipFile(QString::fromStdString(dir / "u.zip")));
  auto prepare = [&](const std::string& folder) {
    fs::create_directories(folder);
    WriteFile(folder + "/older.txt", "disk older");
    WriteFile(folder + "/newer.txt", "disk newer");
    ASSERT_EQ(testutil::Run("touch -d '2001-01-01 00:00' " + Quote(folder + "/older.txt")).status,
              0);
    ASSERT_EQ(testutil::Run("touch -d '2010-01-01 00:00' " + Quote(folder + "/newer.txt")).status,
              0);
  };

  // Update, even with "Overwrite files": older targets replaced, newer kept, missing created.
  prepare(dir / "upd");
  Mode(restore::extractopt::kUpdate);
  Extract(dir / "upd", Count(2), TExtractPreset::AllOverwrite);
  EXPECT_EQ(ReadFile(dir / "upd/older.txt"), "archived older");
  EXPECT_EQ(ReadFile(dir / "upd/newer.txt"), "disk newer");
  EXPECT_EQ(ReadFile(dir / "upd/missing.txt"), "archived missing");

  // Freshen: only files that exist are replaced, and only when older.
  report.clear();
  prepare(dir / "fre");
  Mode(restore::extractopt::kFreshen);
  Extract(dir / "fre", Count(1), TExtractPreset::AllOverwrite);
  EXPECT_EQ(ReadFile(dir / "fre/older.txt"), "archived older");
  EXPECT_EQ(ReadFile(dir / "fre/newer.txt"), "disk newer");
  EXPECT_FALSE(fs::exists(dir / "fre/missing.txt"));
  EXPECT_TRUE(report.contains("missing.txt. Skipped because NoFileToFreshen"))
      << report.join('|').toStdString();
}

TEST_F(ExtractFixture, AbortStopsARunningExtractionAndTellsWhatWasWritten) {
  Python(
      "import zipfile\n"
      "with zipfile.ZipFile('many.zip', 'w') as z:\n"
      "    for i in range(5):\n"
      "        z.writestr('f%d.txt' % i, 'data %d' % i)\n");
  ASSERT_TRUE(view->ReadZipFile(QString::fromStdString(dir / "many.zip")));
  ctl->BitBtn2Click();  // nothing runs: nothing happens
  EXPECT_EQ(host.statusCleared, 0);
  int written = 0;
  zip.OnEndUnZip = [&](TArcUnZip*, int, const std::string&) {
    if (++written == 2) ctl->BitBtn2Click();  // as the user presses the button
  };
  Extract(dir / "out", QStringLiteral("User Aborted Operation ") + Count(2),
          TExtractPreset::AllOverwrite);
  EXPECT_EQ(Tree(dir / "out").size(), 2u);
  EXPECT_GE(host.statusCleared, 1);
  EXPECT_FALSE(lists.extractOptionList.Checked(restore::extractopt::kAll));
  // The window's own handlers are back after the extraction.
  ASSERT_TRUE(zip.OnEndUnZip);
  EXPECT_FALSE(zip.OnStartUnZip);
}

struct GroupFixture : ExtractFixture {
  QString a, b;
  // Two archives A and B of two entries each, shown as search results A#0, B#0, A#1, B#1.
  void SetUp() override {
    Python(
        "import zipfile\n"
        "for a in ('A', 'B'):\n"
        "    with zipfile.ZipFile(a + '.zip', 'w') as z:\n"
        "        z.writestr('dir' + a + '/one.txt', a + ' one')\n"
        "        z.writestr('dir' + a + '/two.txt', a + ' two')\n");
    a = QString::fromStdString(dir / "A.zip");
    b = QString::fromStdString(dir / "B.zip");
    search.records = {{a, 0}, {b, 0}, {a, 1}, {b, 1}};
    auto results = std::make_shared<restore::TArchiveEntries>();
    results->Add("one.txt", "dirA/", 5, 0, 1, 0);
    results->Add("one.txt", "dirB/", 5, 0, 1, 0);
    results->Add("two.txt", "dirA/", 5, 0, 1, 1);
    results->Add("two.txt", "dirB/", 5, 0, 1, 1);
    search.shown = true;
    view->ShowSearchResults(results);
  }
};

TEST_F(GroupFixture, AbortEndsTheRemainingRows) {
  zip.OnEndUnZip = [&](TArcUnZip*, int, const std::string&) { ctl->BitBtn2Click(); };
  Extract(dir / "out", QStringLiteral("1 Files Extracted"), TExtractPreset::AllOverwrite);
  EXPECT_EQ(Tree(dir / "out"), (std::vector<std::string>{"dirA", "dirA/one.txt"}));
}

TEST_F(GroupFixture, SearchResultsOverTwoArchivesAndOneThatDisappeared) {
  // Ticked and highlighted rows are taken.
  model().SetTicked(model().RowOfEntry(0), true);
  view->selection().select(model().RowOfEntry(3),
                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
  EXPECT_EQ(ctl->Checkselected(), 2);
  EXPECT_TRUE(ctl->Checkselected(3));
  EXPECT_FALSE(ctl->Checkselected(1));
  Extract(dir / "out", QStringLiteral("2 Files Extracted"));
  EXPECT_EQ(Tree(dir / "out"),
            (std::vector<std::string>{"dirA", "dirA/one.txt", "dirB", "dirB/two.txt"}));

  // B is gone: told once, and A's rows are still extracted.
  fs::remove(dir / "B.zip");
  host.folders.push_back(QString::fromStdString(dir / "all"));
  boxes.Answer(IDOK, QStringLiteral("file not found: ") + b);
  boxes.Answer(IDOK, QStringLiteral("2 Files Extracted"));
  ctl->ExtractButClick(TExtractPreset::AllOverwrite);
  EXPECT_EQ(Tree(dir / "all"), (std::vector<std::string>{"dirA", "dirA/one.txt", "dirA/two.txt"}));
  EXPECT_GE(host.gaugeCleared, 2);

  // A damaged archive: "Error in reading", then the next rows.
  WriteFile(dir / "B.zip", "not an archive at all");
  model().ClearTicks();
  view->selection().clearSelection();
  model().SetTicked(model().RowOfEntry(1), true);
  model().SetTicked(model().RowOfEntry(2), true);
  host.folders.push_back(QString::fromStdString(dir / "third"));
  boxes.Answer(IDOK, QStringLiteral("Error in reading ") + b);
  boxes.Answer(IDOK, QStringLiteral("1 Files Extracted"));
  ctl->ExtractButClick();
  EXPECT_EQ(Tree(dir / "third"), (std::vector<std::string>{"dirA", "dirA/two.txt"}));
}

// Restoring to "/": stored places are recreated through the user's own folder links, never
// through another user's.
TEST_F(ExtractFixture, RestoreToRootFollowsOwnFolderLinksOnly) {
  fs::create_directories(dir / "real");
  ASSERT_EQ(::symlink("real", (dir / "home").c_str()), 0);
  const std::string stored = fs::canonical(dir.path()).string().substr(1);  // without the "/"
  Python(
      "import zipfile\n"
      "with zipfile.ZipFile('root.zip', 'w') as z:\n"
      "    z.writestr('" +
      stored + "/home/me/a.txt', 'through my link')\n" + "    z.writestr('" + stored +
      "/theirs/b.txt', 'not through theirs')\n");
  const bool root = ::geteuid() == 0;
  fs::create_directories(dir / "victim");
  if (root) {
    // A link of another user must not be followed, even by root.
    ASSERT_EQ(::symlink("victim", (dir / "theirs").c_str()), 0);
    ASSERT_EQ(::lchown((dir / "theirs").c_str(), 65534, 65534), 0);
  }
  ASSERT_TRUE(view->ReadZipFile(QString::fromStdString(dir / "root.zip")));
  Extract("/", Count(root ? 1 : 2), TExtractPreset::AllOverwrite);
  EXPECT_EQ(ReadFile(dir / "real/me/a.txt"), "through my link");
  EXPECT_TRUE(fs::is_symlink(dir / "home"));
  EXPECT_TRUE(Tree(dir / "victim").empty());
  if (root) {
    EXPECT_TRUE(report.contains(QString::fromStdString(stored) +
                                "/theirs/b.txt. Skipped because CreateError"));
  }
  EXPECT_FALSE(zip.FollowOwnLinks);
}

// Other tools' methods and sets restore through the window's path: a bzip2 archive of 7-Zip
// under AES, a byte-split Deflate64 set opened by its first piece, and a split set of zip -s
// (name.z01, name.z02, name.zip) opened by its last part.
TEST_F(ExtractFixture, OtherToolsMethodsAndSplitSetsRestore) {
  for (const char* tool : {"7zz", "zip"})
    if (!testutil::HaveTool(tool)) GTEST_SKIP() << tool << " not installed";
  fs::create_directories(dir / "tree/sub");
  std::string text;
  for (int i = 0; i < 8000; ++i) text += "entry " + std::to_string(i * 37 % 1009) + "\n";
  WriteFile(dir / "tree/a.txt", text);
  std::string noise(150000, '\0');
  uint32_t x = 7;
  for (auto& c : noise) c = static_cast<char>((x = x * 1103515245 + 12345) >> 24);
  WriteFile(dir / "tree/sub/b.bin", std::string(90000, '\x05') + noise + text);
  const std::string cd = "cd " + Quote(dir.path()) + " && ";
  ASSERT_EQ(testutil::Run(cd + "7zz a -tzip -mm=BZip2 -pSecret -mem=AES256 bz.zip tree").status, 0);
  ASSERT_EQ(testutil::Run(cd + "7zz a -tzip -mm=Deflate64 -v20k split.zip tree").status, 0);
  ASSERT_TRUE(fs::exists(dir / "split.zip.002"));
  ASSERT_EQ(testutil::Run(cd + "zip -q -r -s 64k zs.zip tree").status, 0);
  ASSERT_TRUE(fs::exists(dir / "zs.z02"));

  ASSERT_TRUE(view->ReadZipFile(QString::fromStdString(dir / "bz.zip")));
  host.passwords = {QStringLiteral("Secret")};
  Extract(dir / "bz", Count(2), TExtractPreset::AllOverwrite);
  EXPECT_EQ(testutil::Run("diff -r " + Quote(dir / "tree") + " " + Quote(dir / "bz/tree")).status,
            0);

  ASSERT_TRUE(view->ReadZipFile(QString::fromStdString(dir / "split.zip.001")));
  Extract(dir / "split", Count(2), TExtractPreset::AllOverwrite);
  EXPECT_EQ(
      testutil::Run("diff -r " + Quote(dir / "tree") + " " + Quote(dir / "split/tree")).status, 0);

  ASSERT_TRUE(view->ReadZipFile(QString::fromStdString(dir / "zs.zip")));
  Extract(dir / "zs", Count(2), TExtractPreset::AllOverwrite);
  EXPECT_EQ(testutil::Run("diff -r " + Quote(dir / "tree") + " " + Quote(dir / "zs/tree")).status,
            0);
  EXPECT_TRUE(report.isEmpty());
}

// "ZIPfix" on an archive with garbage inside one entry's data: the entry is tested and left out,
// the box counts only the good ones and the damaged one apart, and the repaired archive is the
// view's at once: extraction takes its entries without opening it again. A file from which
// nothing can be saved says so and writes nothing.
TEST_F(ExtractFixture, RepairOpensTheSalvageAndNeverCountsACorruptEntryGood) {
  if (!testutil::HaveTool("zip") || !testutil::HaveTool("python3")) GTEST_SKIP() << "tools";
  fs::create_directories(dir / "tree");
  for (const char* f : {"a.txt", "b.txt", "c.txt"}) {
    std::string text;
    for (int i = 0; i < 4000; ++i) text += std::string(f) + std::to_string(i * 7919 % 10007) + "\n";
    WriteFile(dir / ("tree/" + std::string(f)), text);
  }
  ASSERT_EQ(
      testutil::Run("cd " + Quote(dir / "tree") + " && zip -q -X ../week.zip a.txt b.txt c.txt")
          .status,
      0);
  Python(
      "import zipfile\n"
      "i = zipfile.ZipFile('week.zip').getinfo('b.txt')\n"
      "d = bytearray(open('week.zip', 'rb').read())\n"
      "p = i.header_offset + 30 + d[i.header_offset + 26] + d[i.header_offset + 28] + 100\n"
      "d[p:p + 4096] = bytes((k * 13 + 5) % 256 for k in range(4096))\n"
      "open('week.zip', 'wb').write(d)\n");
  fs::create_directories(dir / "fixed");
  restore::TRepairController repair(zip, *view, window, dialog, host);
  dialog.answer = QString::fromStdString(dir / "week.zip");
  host.folders.push_back(QString::fromStdString(dir / "fixed"));
  const QString fixed = QString::fromStdString(dir / "fixed/week_fixed.zip");
  boxes.Answer(
      IDOK, "   2 files of 3 were OK\r\n1 damaged files were left out\r\nFile saved as: " + fixed);
  repair.fixzipbtnClick();
  EXPECT_EQ(zip.ZipName(), fixed.toStdString());
  ASSERT_EQ(zip.EntryCount(), 2);
  EXPECT_EQ(testutil::Run("unzip -tq " + Quote(fixed.toStdString())).status, 0);
  Extract(dir / "out", Count(2), TExtractPreset::AllNoOverwrite);
  EXPECT_EQ(ReadFile(dir / "out/a.txt"), ReadFile(dir / "tree/a.txt"));
  EXPECT_EQ(ReadFile(dir / "out/c.txt"), ReadFile(dir / "tree/c.txt"));
  EXPECT_FALSE(fs::exists(dir / "out/b.txt"));

  // Only garbage after a local header: nothing saved, no file written, and the box says so.
  std::string junk = ReadFile(dir / "week.zip").substr(0, 30 + 5);
  junk += std::string(3000, '\x5a');
  WriteFile(dir / "junk.zip", junk);
  dialog.answer = QString::fromStdString(dir / "junk.zip");
  host.folders.push_back(QString::fromStdString(dir / "fixed"));
  boxes.Answer(IDOK, "Nothing could be saved from " + dialog.answer + ": no file was written.");
  repair.fixzipbtnClick();
  EXPECT_FALSE(fs::exists(dir / "fixed/junk_fixed.zip"));

  // A split set with its second part missing: the rest becomes one archive, and the box names
  // the files whose data was on the missing part.
  fs::create_directories(dir / "parts");
  std::string noise(30000, '\0');
  uint32_t x = 11;
  for (int k = 1; k <= 6; ++k) {
    for (auto& c : noise) c = static_cast<char>((x = x * 1103515245 + 12345) >> 24);
    WriteFile(dir / ("parts/f" + std::to_string(k) + ".bin"), noise);
  }
  ASSERT_EQ(
      testutil::Run("cd " + Quote(dir / "parts") + " && zip -q -0 -s 64k ../set.zip f*.bin").status,
      0);
  fs::remove(dir / "set.z02");
  QStringList lost;
  {
    TArcUnZip r;
    r.OnFileNameForSplitPart = [](TArcUnZip::TSender, std::string& n, int part,
                                  TSplitPartType type) { n = ProgramPartName(n, part, type); };
    r.SetZipName(dir / "set.zip");
    r.TestArchive();
    for (int i = 0; i < r.EntryCount(); ++i)
      if (!r.EntryMissingPart(i).empty()) lost << PathText(r.EntryFullName(i));
  }
  ASSERT_FALSE(lost.isEmpty());
  dialog.answer = PathText(dir / "set.zip");
  host.folders.push_back(PathText(dir / "fixed"));
  const QString setFixed = PathText(dir / "fixed/set_fixed.zip");
  boxes.Answer(IDOK,
               QStringLiteral("   %1 files of 6 were OK\r\n%2 files were lost, their data is "
                              "on the missing part %3: %4\r\nFile saved as: %5")
                   .arg(6 - lost.size())
                   .arg(lost.size())
                   .arg(PathText(dir / "set.z02"), lost.join(QStringLiteral(", ")), setFixed));
  repair.fixzipbtnClick();
  EXPECT_EQ(zip.ZipName(), setFixed.toStdString());
  EXPECT_EQ(zip.EntryCount(), 6 - lost.size());
  EXPECT_EQ(testutil::Run("unzip -tq " + Quote(setFixed.toStdString())).status, 0);
}

// Names are bytes from the central directory to the file created, on every path: an archive
// whose own name has a Latin-1 byte opens in the view, and its Latin-1 (Unix host, raw bytes)
// and code page 437 (DOS host) names come out of the window's extraction in each mode as they
// come out of `arczip x`; none becomes U+FFFD, and no two collapse into one file.
TEST_F(ExtractFixture, NamesStayBytesThroughEveryExtractionPath) {
  ZipBuilder b;
  BuildEntry latin;
  latin.name = "docs/caf\xe9.txt";
  latin.data = "latin";
  b.Add(latin);
  BuildEntry other = latin;
  other.name = "docs/caf\xe8.txt";  // differs from the first only in the byte that is not UTF-8
  other.data = "other";
  b.Add(other);
  BuildEntry dos;
  dos.name = "docs/\x82t\x82.txt";  // "ete" with acute accents in code page 437
  dos.data = "dos";
  dos.versionMadeBy = 0x0014;
  dos.extAttr = 0x20;
  b.Add(dos);
  BuildEntry versioned = latin;
  versioned.name = "docs/#0000ABCD#/old\xe9.txt";
  versioned.data = "old";
  b.Add(versioned);
  const std::string archive = dir / "arch\xe9.zip";
  WriteFile(archive, b.Build());
  ASSERT_TRUE(view->ReadZipFile(PathText(archive)));
  ASSERT_EQ(zip.EntryCount(), 4);

  const std::string ete = "\xc3\xa9t\xc3\xa9.txt";
  // What `arczip x` makes: the stored folders, the Latin-1 names as their bytes.
  ASSERT_EQ(testutil::Run(Quote(ARCZIP_PATH) + " x " + Quote(archive) + " -d " + Quote(dir / "cli"))
                .status,
            0);
  const std::vector<std::string> stored = {"docs",
                                           "docs/#0000ABCD#",
                                           "docs/#0000ABCD#/old\xe9.txt",
                                           "docs/caf\xe8.txt",
                                           "docs/caf\xe9.txt",
                                           "docs/" + ete};
  EXPECT_EQ(Tree(dir / "cli"), stored);

  struct Row {
    const char* out;
    bool expand, versioned;
    int mode;
    std::vector<std::string> tree;
  };
  const Row rows[] = {
      {"plain",
       true,
       false,
       restore::extractopt::kExtract,
       {"docs", "docs/caf\xe8.txt", "docs/caf\xe9.txt", "docs/old\xe9.txt", "docs/" + ete}},
      {"versioned", true, true, restore::extractopt::kExtract, stored},
      {"flat",
       false,
       false,
       restore::extractopt::kExtract,
       {"caf\xe8.txt", "caf\xe9.txt", "old\xe9.txt", ete}},
      {"update", true, true, restore::extractopt::kUpdate, stored},
      {"freshen", true, true, restore::extractopt::kFreshen, stored},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.out);
    const std::string out = dir / r.out;
    if (r.mode == restore::extractopt::kFreshen) {
      // Freshen replaces only what is there: older copies under the very same names.
      ASSERT_EQ(testutil::Run("cp -r " + Quote(dir / "cli") + " " + Quote(out) + " && find " +
                              Quote(out) +
                              " -type f -exec sh -c 'echo stale > \"$1\"' _ {} \\; -exec touch -d "
                              "2001-01-01 {} +")
                    .status,
                0);
    }
    Option(restore::extractopt::kExpandDirs, r.expand);
    Option(restore::extractopt::kVersionedDirs, r.versioned);
    Mode(r.mode);
    Extract(out, Count(4), TExtractPreset::AllNoOverwrite);
    EXPECT_EQ(Tree(out), r.tree);
    const std::string folder = r.expand ? out + "/docs/" : out + "/";
    EXPECT_EQ(ReadFile(folder + "caf\xe9.txt"), "latin");
    EXPECT_EQ(ReadFile(folder + "caf\xe8.txt"), "other");
    EXPECT_EQ(ReadFile(folder + ete), "dos");
  }
}
