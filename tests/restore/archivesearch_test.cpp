// The search box's history, the search within the open archive, the global search over a folder
// of archives (damaged ones, and files that are no archives, among them), opening a result's
// archive and the quick search.
#include <sys/stat.h>

#include <QAbstractItemModelTester>
#include <deque>
#include <filesystem>

#include "archiveview_fixture.h"
#include "platform/inifile.h"
#include "restore/archivesearch.h"
#include "restore/extractcontroller.h"

namespace fs = std::filesystem;
using restore::TArchiveSearch;
using testutil::Quote;
using testutil::ReadFile;
using testutil::WriteFile;
namespace msg = restore::searchmsg;

namespace {

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

struct FakeSearchBox : restore::ISearchBoxHost {
  QString text = msg::kPlaceholder;
  QStringList items;
  std::deque<QString> folders;  // answers of the folder dialog
  QStringList titles;
  int progressCalls = 0;
  QString SearchText() const override { return text; }
  void SetSearchText(const QString& t) override { text = t; }
  void SelectSearchText() override {}
  void SetHistoryItems(const QStringList& i) override { items = i; }
  QString ChooseFolder(const QString& title, const QString&) override {
    titles << title;
    if (folders.empty()) return {};
    QString f = folders.front();
    folders.pop_front();
    return f;
  }
  void SearchProgress(int, int) override { ++progressCalls; }
};

// The view asks the search under test.
struct SearchForwarder : restore::ISearchResultsView {
  restore::ISearchResultsView* target = nullptr;
  bool SearchResultsShown() const override { return target->SearchResultsShown(); }
  bool ResultEntry(int r, QString& a, int& e) const override {
    return target->ResultEntry(r, a, e);
  }
};

struct FolderHost : restore::IRestoreHost {
  QString folder;
  QString ChooseFolder(const QString&, const QString&) override { return folder; }
  bool PasswordDialog(QString&) override { return false; }
  void SetHourglass(bool) override {}
  void GaugeStart() override {}
  void ClearStatusBar() override {}
  void GaugeClear() override {}
  void ClearReportBox() override {}
  void StartProcessClock() override {}
  void ProcessMessages() override {}
};

// Idle mode empties the search's results and clears its mark, as the window's does.
struct SearchWindow : FakeArchiveWindow {
  TArchiveSearch* search = nullptr;
  void Setstate(int mode) override {
    FakeArchiveWindow::Setstate(mode);
    if (mode == 0 && search) {
      search->ClearResults();
      search->ResetGlobalMark();
    }
  }
};

}  // namespace

struct SearchFixture : ArchiveViewFixture {
  SearchWindow searchWindow;
  FakeSearchBox box;
  SearchForwarder forward;
  std::unique_ptr<restore::TArchiveViewController> resultsView;
  std::unique_ptr<TArchiveSearch> search;

  SearchFixture() {
    // The view of this fixture asks the search for its results.
    resultsView = std::make_unique<restore::TArchiveViewController>(
        zip, lists, prefs,
        restore::TArchiveViewController::Hosts{searchWindow, controls, dialog, forward, launcher});
    search = Make();
    // As the program's handler does: a damaged archive is salvaged while the global mark is set
    // and nobody is asked; otherwise the test fails.
    zip.OnInCompleteZip = [this](TArcUnZip*, TIncompleteZipMode& mode) {
      if (!search->GlobalMark()) ADD_FAILURE() << "a question about a damaged archive";
      mode = TIncompleteZipMode::izAssumeBad;
    };
  }
  ~SearchFixture() override {
    search.reset();
    resultsView.reset();
  }
  // A new search (as after a restart), asked by the view and the window.
  std::unique_ptr<TArchiveSearch> Make() {
    auto s =
        std::make_unique<TArchiveSearch>(zip, *resultsView, searchWindow, controls, prefs, box);
    forward.target = s.get();
    searchWindow.search = s.get();
    return s;
  }
  restore::TArchiveViewModel& rmodel() { return resultsView->model(); }
  // Files under src/ (name -> content) zipped by zip into archive.
  std::string Zip(const std::string& archive, const std::vector<std::string>& names) {
    fs::remove_all(dir / "src");
    for (const std::string& n : names) {
      fs::create_directories(fs::path(dir / ("src/" + n)).parent_path());
      WriteFile(dir / ("src/" + n), n + " of " + archive + "\n");
    }
    std::string list;
    for (const std::string& n : names) list += " " + Quote(n);
    const std::string path = dir / archive;
    fs::create_directories(fs::path(path).parent_path());
    auto r = testutil::Run("cd " + Quote(dir / "src") + " && zip -q -X " + Quote(path) + list);
    EXPECT_EQ(r.status, 0) << r.out;
    return path;
  }
  std::vector<std::string> IniKeys() {
    return IniFile(TPreferences::DefaultFile().toStdString()).Keys(msg::kHistorySection);
  }
};

TEST_F(SearchFixture, HistoryKeepsTenItemsTheFirstAndAwkwardPatternsAcrossARestart) {
  // Patterns that would end a key, start a section or a comment, or lose their blanks.
  const QStringList awkward = {"a=b*", "[x]*.doc", ";c", "#d", " e ", "50%*"};
  QStringList all = {"first"};
  for (int i = 1; i <= 4; ++i) all << QStringLiteral("p%1").arg(i);
  all << awkward;
  ASSERT_EQ(all.size(), 11);
  for (const QString& p : all) {
    box.text = p;
    search->Gdir1Click();  // remembers the pattern; the folder dialog is cancelled
  }
  // The eleventh pattern dropped the second item, from the list and from the file.
  QStringList expect = all;
  expect.removeAt(1);
  EXPECT_EQ(search->History(), expect);
  EXPECT_EQ(box.items, expect);
  EXPECT_EQ(IniKeys().size(), 10u);
  const std::string text = ReadFile(TPreferences::DefaultFile().toStdString());
  EXPECT_NE(text.find("\np2=\n"), std::string::npos) << text;  // plain patterns stay literal
  EXPECT_EQ(text.find("\np1="), std::string::npos);

  // A restart reads them back as they were typed.
  search = Make();
  search->ComboBox1DropDown();
  EXPECT_EQ(search->History(), expect);
  for (const QString& p : awkward)
    EXPECT_EQ(TArchiveSearch::DecodeKey(TArchiveSearch::EncodeKey(p)), p);

  // Ctrl+click removes one item from the file; Ctrl+double click clears the history.
  searchWindow.ctrl = true;
  search->ComboBox1Click(static_cast<int>(expect.indexOf("a=b*")));
  search = Make();
  search->LoadHistory();
  EXPECT_FALSE(search->History().contains("a=b*"));
  EXPECT_EQ(search->History().size(), 9);
  search->ComboBox1DblClick();
  EXPECT_TRUE(search->History().isEmpty());
  EXPECT_TRUE(IniKeys().empty());
  EXPECT_EQ(box.text, msg::kPlaceholder);
}

TEST_F(SearchFixture, EnterWalksTheMatchesInArchiveOrderInEveryPresentation) {
  if (!testutil::HaveTool("zip")) GTEST_SKIP() << "zip not installed";
  const std::string path =
      Zip("walk.zip", {"x/a.doc", "b.txt", "y/c.DOC", "d.txt", "x/e.doc", "f.docx"});
  for (int mode : {opt::kViewList, opt::kViewListDir, opt::kViewTree}) {
    SCOPED_TRACE(mode);
    SetViewMode(mode);
    ASSERT_TRUE(resultsView->ReadZipFile(Q(path)));
    box.text = "*.doc";
    std::vector<int> focused;
    for (int press = 0; press < 5; ++press) {
      search->ComboBox1KeyDown(Qt::Key_Return, false);
      const QModelIndex current = resultsView->selection().currentIndex();
      const bool shown = resultsView->selection().isRowSelected(current.row(), current.parent());
      focused.push_back(shown ? rmodel().EntryOf(current) : -1);
      resultsView->selection().clear();
    }
    // Entries 0, 2 and 4, then nothing, then from the start again.
    EXPECT_EQ(focused, (std::vector<int>{0, 2, 4, -1, 0}));
    // Ctrl+Space ticks the row found last.
    search->ComboBox1KeyDown(Qt::Key_Space, true);
    EXPECT_EQ(rmodel().CheckState(rmodel().RowOfEntry(0)), Qt::Checked);
    // Only file names are tested: a pattern with a folder never matches.
    box.text = "x/*.doc";
    search->ComboBox1KeyDown(Qt::Key_Return, false);
    EXPECT_FALSE(resultsView->selection().hasSelection());
  }
}

TEST_F(SearchFixture, GlobalSearchOverAFolderSalvagesDamagedArchivesAndSkipsTheRest) {
  for (const char* tool : {"zip", "mkfifo", "cmp"})
    if (!testutil::HaveTool(tool)) GTEST_SKIP() << tool;
  const std::string g = dir / "g/";
  Zip("g/a.zip", {"one.doc", "two.txt"});
  Zip("g/B.ZIP", {"deep/three.doc"});
  Zip("g/sub/c.zip", {"four.doc"});
  Zip("g/d.zipx", {"five.doc"});
  WriteFile(g + "notes.txt", "notes.doc");
  ASSERT_EQ(::mkfifo((g + "f.zip").c_str(), 0600), 0);
  // e.zip: a folder zipped with -r, cut inside its central directory.
  const std::string e = Zip("g/e.zip", {"e/six.doc", "e/seven.doc", "e/eight.txt"});
  fs::remove(e);
  ASSERT_EQ(
      testutil::Run("cd " + Quote(dir / "src") + " && zip -q -X -r " + Quote(e) + " e").status, 0);
  std::string bytes = ReadFile(e);
  const size_t eocd = bytes.size() - 22;
  const uint32_t cd = static_cast<uint8_t>(bytes[eocd + 16]) |
                      static_cast<uint8_t>(bytes[eocd + 17]) << 8 |
                      static_cast<uint8_t>(bytes[eocd + 18]) << 16 |
                      static_cast<uint32_t>(static_cast<uint8_t>(bytes[eocd + 19])) << 24;
  WriteFile(e, bytes.substr(0, cd + 40));
  std::string noise;
  for (uint32_t x = 12345; noise.size() < 5000; x = x * 1103515245 + 12345)
    noise += static_cast<char>(x >> 16);
  WriteFile(g + "g.zip", noise);

  EXPECT_EQ(TArchiveSearch::ArchivesIn(Q(g)),
            (QStringList{Q(g + "B.ZIP"), Q(g + "a.zip"), Q(g + "e.zip"), Q(g + "g.zip")}));
  box.text = "*.doc";
  box.folders = {Q(dir / "g")};
  search->Gdir1Click();
  EXPECT_EQ(box.titles, QStringList{msg::kFolderTitle});
  EXPECT_EQ(prefs.Text("GFindDIR"), Q(g));
  EXPECT_TRUE(search->GlobalMark());
  ASSERT_TRUE(search->SearchResultsShown());
  EXPECT_GT(box.progressCalls, 0);
  QAbstractItemModelTester tester(&rmodel(), QAbstractItemModelTester::FailureReportingMode::Fatal);
  QStringList found;
  for (int r = 0; r < search->Results()->count(); ++r) {
    QString archive;
    int entry = -1;
    ASSERT_TRUE(search->ResultEntry(r, archive, entry));
    found << QFileInfo(archive).fileName() + ":" + search->Results()->entries->FileNameText(r);
  }
  found.sort();
  EXPECT_EQ(found,
            (QStringList{"B.ZIP:three.doc", "a.zip:one.doc", "e.zip:seven.doc", "e.zip:six.doc"}));
  EXPECT_TRUE(controls.ControlEnabled(ctl::kGetZipButton));
  EXPECT_TRUE(controls.ControlVisible(ctl::kGetZipItem));
  EXPECT_FALSE(controls.ControlEnabled(ctl::kDeleteButton));

  // The salvaged archive's rows extract as they were stored.
  FolderHost host;
  host.folder = Q(dir / "out");
  restore::TExtractController extract(zip, lists, *resultsView, forward, host);
  {
    THandlersDetached d{&lists.extractOptionList};
    lists.extractOptionList.SetChecked(restore::extractopt::kExpandDirs, true);
  }
  for (int r = 2; r < 4; ++r) rmodel().SetTicked(rmodel().RowOfEntry(r), true);
  boxes.Answer(IDOK, "2 Files Extracted");
  extract.ExtractButClick();
  for (const char* f : {"e/six.doc", "e/seven.doc"})
    EXPECT_EQ(testutil::Run("cmp " + Quote(dir / ("src/" + std::string(f))) + " " +
                            Quote(dir / ("out/" + std::string(f))))
                  .status,
              0)
        << f;

  // "&GetZIP" opens the archive of the first chosen row in result order.
  rmodel().ClearTicks();
  rmodel().SetTicked(rmodel().RowOfEntry(1), true);
  rmodel().SetTicked(rmodel().RowOfEntry(3), true);
  search->GetZBtn1Click();
  EXPECT_EQ(zip.ZipName(), g + "a.zip");
  EXPECT_FALSE(search->SearchResultsShown());
  boxes.Answer(IDOK, msg::kSelectionError);
  search->GetZBtn1Click();

  // No match: told, the mark cleared; "F3" searches the same folder without the dialog.
  box.text = "*.none";
  box.folders = {Q(dir / "g")};
  boxes.Answer(IDOK, msg::kNoMatches);
  search->Gdir1Click();
  EXPECT_FALSE(search->GlobalMark());
  EXPECT_EQ(rmodel().rowCount(), 0);
  boxes.Answer(IDOK, msg::kNoMatches);
  search->GrepeatClick();
  EXPECT_EQ(box.titles.size(), 2);
  // Without a remembered folder "F3" asks for "&Global" first; the placeholder is no pattern.
  prefs.Set("GFindDIR", QString());
  boxes.Answer(IDOK, msg::kFirstClick);
  search->GrepeatClick();
  box.text = msg::kPlaceholder;
  boxes.Answer(IDOK, msg::kEnterFilename);
  search->Gdir1Click();
}

TEST_F(SearchFixture, QuickSearchCollectsKeysForThreeSeconds) {
  if (!testutil::HaveTool("zip")) GTEST_SKIP() << "zip not installed";
  ASSERT_TRUE(resultsView->ReadZipFile(Q(Zip("q.zip", {"apple.txt", "banana.txt", "band.txt"}))));
  auto focused = [&] { return rmodel().Text(resultsView->selection().currentIndex(), 0); };
  struct Key {
    const char* typed;
    int64_t ms;
    const char* row;
  };
  const Key keys[] = {{"b", 0, "banana.txt"},    {"A", 1000, "banana.txt"},
                      {"n", 2000, "banana.txt"}, {"d", 4900, "band.txt"},
                      {"a", 9000, "apple.txt"},  {"B", 13000, "banana.txt"},
                      {"AND", 14000, "band.txt"}};
  for (const Key& k : keys) {
    EXPECT_TRUE(search->VTree1IncrementalSearch(k.typed, k.ms));
    EXPECT_EQ(focused(), k.row) << k.typed;
  }
  prefs.Set("QuickSearch", false);
  EXPECT_FALSE(search->VTree1IncrementalSearch("a", 20000));
  EXPECT_EQ(focused(), "band.txt");
}
