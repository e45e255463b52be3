// Opening archives and the archive view's commands, against fake window parts.
#include <sys/stat.h>
#include <unistd.h>

#include <QItemSelectionModel>

#include "archiveview_fixture.h"

using restore::TArchiveViewModel;

namespace {

ZipBuilder Sample() {
  ZipBuilder b;
  b.Add("Docs/", "");
  b.Add("Docs/readme.txt", "hello from the archive", 8);
  b.Add("Docs/#00000001#/readme.txt", "older copy", 0);
  b.Add("big.bin", std::string(5000, 'b'), 8);
  b.Add("small.bin", "s", 0);
  return b;
}

}  // namespace

class ArchiveViewController : public ArchiveViewFixture {};

TEST_F(ArchiveViewController, OpensAnArchiveIntoTheListAndSwitchesControls) {
  const QString name = WriteArchive("a.zip", Sample());
  controls.SetControlEnabled(ctl::kGetZipButton, true);
  ASSERT_TRUE(view->ReadZipFile(name));
  EXPECT_EQ(window.archiveName, name);
  EXPECT_EQ(zip.EntryCount(), 5);
  EXPECT_EQ(window.zip64, false);
  EXPECT_FALSE(controls.ControlEnabled(ctl::kGetZipButton));
  EXPECT_TRUE(controls.ControlEnabled(restore::ctlnames::kKillZipButton));
  EXPECT_TRUE(controls.ControlEnabled(ctl::kSaveJobButton));
  EXPECT_TRUE(controls.ControlEnabled(restore::ctlnames::kViewsGroup));
  EXPECT_TRUE(window.calls.contains("ShowZipspecs a.zip 5 5033"));
  EXPECT_TRUE(window.calls.contains("FlashArchiveTab"));
  EXPECT_EQ(window.gauge, 0);
  // "Listview" hides the folder entry only when "DisplayEmptyDIR" is off.
  prefs.Set("DisplayEmptyDIR", false);
  view->PopulateArchiveView();
  EXPECT_EQ(model().rowCount(), 4);
  prefs.Set("DisplayEmptyDIR", true);
  view->PopulateArchiveView();
  EXPECT_EQ(model().rowCount(), 5);
  EXPECT_EQ(display.layout.fileNameWidth, 480);
  EXPECT_FALSE(display.layout.pathnameVisible);
  EXPECT_FALSE(display.layout.diskVisible);
}

TEST_F(ArchiveViewController, EmptyArchiveOpensWithKillZipDisabled) {
  ZipBuilder empty;
  controls.SetControlEnabled(restore::ctlnames::kKillZipButton, true);
  ASSERT_TRUE(view->ReadZipFile(WriteArchive("empty.zip", empty)));
  EXPECT_TRUE(boxes.transcript().isEmpty());
  EXPECT_EQ(model().rowCount(), 0);
  EXPECT_FALSE(controls.ControlEnabled(restore::ctlnames::kKillZipButton));
  EXPECT_EQ(window.gauge, 0);
}

TEST_F(ArchiveViewController, ReadErrorsCloseTheArchiveAndLeaveTheViewEmpty) {
  ASSERT_TRUE(view->ReadZipFile(WriteArchive("a.zip", Sample())));
  ASSERT_GT(model().rowCount(), 0);
  testutil::WriteFile(dir / "bad.zip", std::string(300, 'x'));
  zip.IncompleteZipMode = TIncompleteZipMode::izAssumeNotAZip;
  boxes.Answer(IDOK, QStringLiteral("ZIP read error"));
  EXPECT_FALSE(view->ReadZipFile(QString::fromStdString(dir / "bad.zip")));
  EXPECT_EQ(boxes.transcript().last().icon, MB_ICONERROR);
  EXPECT_TRUE(zip.ZipName().empty());
  EXPECT_EQ(model().rowCount(), 0);
  EXPECT_EQ(window.gauge, 0);
  // A missing file is a reading error too.
  boxes.Answer(IDOK, QStringLiteral("ZIP read error"));
  EXPECT_FALSE(view->ReadZipFile(QString::fromStdString(dir / "missing.zip")));
}

TEST_F(ArchiveViewController, NameWithoutExtensionGetsZip) {
  const QString name = WriteArchive("plain.zip", Sample());
  ASSERT_TRUE(view->ReadZipFile(name.chopped(4)));
  EXPECT_EQ(window.archiveName, name);
  EXPECT_EQ(zip.EntryCount(), 5);
}

TEST_F(ArchiveViewController, SwitchingBetweenListsOnlyChangesColumns) {
  ASSERT_TRUE(view->ReadZipFile(WriteArchive("a.zip", Sample())));
  QSignalSpy resets(&model(), &QAbstractItemModel::modelReset);
  model().SetTicked(model().index(1, 0), true);
  SetViewMode(opt::kViewListDir);
  view->CheckListBox11StateChange(opt::kViewListDir);
  EXPECT_EQ(resets.count(), 0);
  EXPECT_TRUE(display.layout.pathnameVisible);
  EXPECT_EQ(display.layout.fileNameWidth, 260);
  EXPECT_EQ(model().TickedCount(), 1);  // nothing rebuilt, ticks kept

  // "Treeview" is refused while search results are shown.
  search.shown = true;
  view->CheckListBox11StateChange(opt::kViewTree);
  EXPECT_EQ(resets.count(), 0);
  EXPECT_EQ(model().kind(), TArchiveViewModel::List);
  search.shown = false;

  SetViewMode(opt::kViewTree);
  view->CheckListBox11StateChange(opt::kViewTree);
  EXPECT_EQ(model().kind(), TArchiveViewModel::Tree);
  EXPECT_FALSE(display.layout.pathnameVisible);
  EXPECT_EQ(display.layout.fileNameWidth, 480);
  // Both copies of readme.txt sit under Docs.
  const QModelIndex docs = Child(model().index(0, 0), "Docs");
  ASSERT_TRUE(docs.isValid());
  EXPECT_EQ(model().rowCount(docs), 2);
  SetViewMode(opt::kViewList);
  view->CheckListBox11StateChange(opt::kViewList);
  EXPECT_EQ(model().kind(), TArchiveViewModel::List);
}

TEST_F(ArchiveViewController, ArchiveOpenedWhileTheTreeIsFilledWins) {
  ZipBuilder many;
  for (int i = 0; i < 5000; ++i)
    many.Add("f" + std::to_string(i % 50) + "/n" + std::to_string(i), "");
  const QString big = WriteArchive("many.zip", many);
  const QString small = WriteArchive("small.zip", Sample());
  SetViewMode(opt::kViewTree);
  window.onProcessMessages = [&] { view->ReadZipFile(small); };
  ASSERT_TRUE(view->ReadZipFile(big));
  EXPECT_EQ(zip.EntryCount(), 5);
  const QModelIndex root = model().index(0, 0);
  EXPECT_EQ(root.data().toString(), small);
  EXPECT_EQ(model().rowCount(root), 3);  // Docs, big.bin, small.bin
  EXPECT_EQ(window.gauge, 0);
}

TEST_F(ArchiveViewController, SpannedArchivesShowDiskColumnAndNarrowerNames) {
  using C = restore::TArchiveViewController;
  EXPECT_EQ(C::ColumnLayout(opt::kViewList, true).fileNameWidth, 440);
  EXPECT_TRUE(C::ColumnLayout(opt::kViewList, true).diskVisible);
  EXPECT_EQ(C::ColumnLayout(opt::kViewListDir, true).fileNameWidth, 220);
  EXPECT_EQ(C::ColumnLayout(opt::kViewTree, false).fileNameWidth, 480);
  EXPECT_FALSE(C::ColumnLayout(opt::kViewTree, false).diskVisible);
}

TEST_F(ArchiveViewController, SortByItemsAndHeaderClicks) {
  ZipBuilder b = Sample();
  BuildEntry big;
  big.name = "sparse.img";
  big.zip64 = true;
  big.declaredSize = 3000000000ll;
  b.Add(big);
  ASSERT_TRUE(view->ReadZipFile(WriteArchive("a.zip", b)));
  view->SortBy1Click(3);  // "Size Descending"
  EXPECT_EQ(prefs.Int("ArchiveSortBy"), 3);
  EXPECT_TRUE(controls.ControlChecked(ctl::kSortByItems[3]));
  EXPECT_FALSE(controls.ControlChecked(ctl::kSortByItems[0]));
  EXPECT_EQ(Text(0, 0), "sparse.img");
  EXPECT_EQ(Text(1, 0), "big.bin");
  EXPECT_EQ(display.sortColumn, 2);
  EXPECT_TRUE(display.descending);
  EXPECT_TRUE(controls.ControlEnabled("ArchiveView"));
  // The standing order is applied whenever the view is filled.
  view->PopulateArchiveView();
  EXPECT_EQ(Text(0, 0), "sparse.img");
  // A click on the sort column reverses it; another column sorts ascending.
  view->VTree1HeaderClick(2);
  EXPECT_EQ(Text(0, 0), "Docs/");  // the folder entry, 0 bytes
  EXPECT_EQ(Text(1, 0), "small.bin");
  view->VTree1HeaderClick(0);
  EXPECT_EQ(Text(0, 0), "big.bin");
  EXPECT_FALSE(display.descending);
  view->VTree1HeaderClick(0);
  EXPECT_EQ(Text(0, 0), "sparse.img");
  EXPECT_TRUE(display.descending);
}

TEST_F(ArchiveViewController, PreferencesOfTheView) {
  controls.SetControlChecked(ctl::kDisplayEmptyDirItem, true);
  view->DisplayEmptyDir1Click();
  EXPECT_FALSE(controls.ControlChecked(ctl::kDisplayEmptyDirItem));
  EXPECT_FALSE(prefs.Bool("DisplayEmptyDIR"));
  view->LargeFonts1Click(true);
  EXPECT_EQ(display.fontSize, 10);
  EXPECT_TRUE(prefs.Bool("LargeFonts"));
  view->LargeFonts1Click(false);
  EXPECT_EQ(display.fontSize, 8);
  const std::string ini = testutil::ReadFile(ProgramDir() + "default.ini");
  EXPECT_NE(ini.find("DisplayEmptyDIR=0"), std::string::npos) << ini;
  EXPECT_NE(ini.find("LargeFonts=0"), std::string::npos) << ini;
}

TEST_F(ArchiveViewController, ChosenRowsBecomeTheEngineSelection) {
  ASSERT_TRUE(view->ReadZipFile(WriteArchive("a.zip", Sample())));
  boxes.Answer(IDOK, QStringLiteral("Error - no files selected"));
  EXPECT_FALSE(view->SelectCheckedRows());
  EXPECT_EQ(boxes.transcript().last().icon, MB_ICONINFORMATION);

  model().Sort(restore::kColNumber, Qt::AscendingOrder);
  const QModelIndex row0 = model().index(0, 0);  // Docs/readme.txt, entry 1
  const QModelIndex row2 = model().index(2, 0);  // big.bin, entry 3
  model().SetTicked(row0, true);
  view->selection().select(row2, QItemSelectionModel::Select | QItemSelectionModel::Rows);
  EXPECT_TRUE(view->SelectCheckedRows());
  EXPECT_EQ(zip.SelectedCount(), 2);
  EXPECT_TRUE(zip.EntrySelected(1));
  EXPECT_TRUE(zip.EntrySelected(3));
}

TEST_F(ArchiveViewController, TreeSelectionPassesOverFolderRows) {
  SetViewMode(opt::kViewTree);
  ASSERT_TRUE(view->ReadZipFile(WriteArchive("a.zip", Sample())));
  const QModelIndex root = model().index(0, 0);
  const QModelIndex docs = Child(root, "Docs");
  view->selection().select(root, QItemSelectionModel::Select | QItemSelectionModel::Rows);
  boxes.Answer(IDOK, QStringLiteral("Error - no files selected"));
  EXPECT_FALSE(view->SelectCheckedRows());
  model().SetTicked(docs, true);  // the folder entry and both copies below it
  EXPECT_TRUE(view->SelectCheckedRows());
  EXPECT_EQ(zip.SelectedCount(), 3);
}

TEST_F(ArchiveViewController, SpaceTogglesHighlightedRowsAndGotoClearsTicks) {
  ASSERT_TRUE(view->ReadZipFile(WriteArchive("a.zip", Sample())));
  auto& sel = view->selection();
  model().SetTicked(model().index(0, 0), true);
  sel.select(model().index(0, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
  sel.select(model().index(1, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
  view->VTree1KeyAction();
  EXPECT_EQ(model().CheckState(model().index(0, 0)), Qt::Unchecked);
  EXPECT_EQ(model().CheckState(model().index(1, 0)), Qt::Checked);

  view->GotoLast1Click();
  EXPECT_EQ(model().TickedCount(), 0);
  EXPECT_EQ(sel.currentIndex().row(), model().rowCount() - 1);
  EXPECT_EQ(sel.selectedRows().size(), 1);
  view->GotoFirst1Click();
  EXPECT_EQ(sel.currentIndex().row(), 0);
  model().SetTicked(model().index(2, 0), true);
  view->ClearSelected1Click();
  EXPECT_EQ(model().TickedCount(), 0);
}

TEST_F(ArchiveViewController, ExplorerDoubleClickOpensArchivesAndJobsOnly) {
  const std::string bytes = Sample().Build();
  testutil::WriteFile(dir / "backup.003", bytes);
  testutil::WriteFile(dir / "notes.txt", "notes");
  testutil::WriteFile(dir / "backup", bytes);

  ASSERT_TRUE(view->ReadZipFile(WriteArchive("open.zip", Sample())));
  window.calls.clear();
  view->VETlistDblClick(QString::fromStdString(dir / "notes.txt"));
  view->VETlistDblClick(QString::fromStdString(dir / "backup"));
  view->VETlistDblClick(QString::fromStdString(dir / "part.000"));
  view->VETlistDblClick(QString::fromStdString(dir / "dot."));
  EXPECT_TRUE(window.calls.isEmpty());
  EXPECT_TRUE(window.recorded.isEmpty());
  EXPECT_EQ(zip.EntryCount(), 5);  // ignored files leave the open archive alone

  view->VETlistDblClick(QString::fromStdString(dir / "backup.003"));
  EXPECT_EQ(zip.EntryCount(), 5);
  EXPECT_EQ(window.recorded, QString::fromStdString(dir / "backup.003"));
  EXPECT_GT(model().rowCount(), 0);

  window.recorded.clear();
  window.ctrl = true;
  view->VETlistDblClick(QString::fromStdString(dir / "weekly.job"));
  EXPECT_EQ(window.job, QString::fromStdString(dir / "weekly.job"));
  EXPECT_TRUE(window.recorded.isEmpty());  // Ctrl: not recorded
}

TEST_F(ArchiveViewController, RestoreButtonChoosesThroughRecentListDialogOrPick) {
  const QString name = WriteArchive("pick.zip", Sample());
  // Cancelled: nothing is opened.
  view->ZipOpenButClick();
  EXPECT_EQ(window.lastSpec.title, "Open Existing ZIP File");
  EXPECT_TRUE(window.lastSpec.filter.startsWith("Zip (SFX) or Spanned Files|*.z*;*.EXE;*.0*"));
  EXPECT_EQ(zip.EntryCount(), 0);

  window.recentAnswer = name;
  view->ZipOpenButClick();
  EXPECT_EQ(zip.EntryCount(), 5);
  EXPECT_EQ(view->ArchiveFolder(), QString::fromStdString(dir.path()));

  window.ctrl = true;
  dialog.answer = name;
  window.explorerFolder = "/explorer/folder";
  view->ZipOpenButClick();
  EXPECT_EQ(dialog.shown, 1);
  EXPECT_EQ(dialog.spec.initialDir, "/explorer/folder");

  window.pickedRecent = name;
  view->ZipOpenButClick();
  EXPECT_EQ(dialog.shown, 1);  // the picked file needs no dialog
  EXPECT_EQ(zip.EntryCount(), 5);
}

TEST_F(ArchiveViewController, SearchResultsRefuseTheTreeAndOpenTheirOwnArchive) {
  const QString first = WriteArchive("first.zip", Sample());
  const QString second = WriteArchive("second.zip", Sample());
  ASSERT_TRUE(view->ReadZipFile(first));
  auto results = std::make_shared<restore::TArchiveEntries>();
  results->Add("readme.txt", "Docs/", 22, 0x5A8A6000, 0, 1);
  results->Add("small.bin", "", 1, 0x5A8A6000, 0, 4);
  search.records = {{second, 1}, {first, 4}};
  search.shown = true;
  view->ShowSearchResults(results);
  EXPECT_EQ(model().rowCount(), 2);
  EXPECT_EQ(Text(0, restore::kColNumber), "1");
  SetViewMode(opt::kViewTree);
  view->CheckListBox11StateChange(opt::kViewTree);
  EXPECT_EQ(model().kind(), TArchiveViewModel::List);

  // Only results of the open archive can become its selection.
  model().SetTicked(model().index(0, 0), true);
  model().SetTicked(model().index(1, 0), true);
  EXPECT_TRUE(view->SelectCheckedRows());
  EXPECT_EQ(zip.SelectedCount(), 1);
  EXPECT_TRUE(zip.EntrySelected(4));

  // "Open" on a result reads the result's archive, whatever the order of the rows.
  view->VTree1HeaderClick(restore::kColFileName);  // descending: small.bin first
  ASSERT_EQ(Text(0, 0), "small.bin");
  view->selection().setCurrentIndex(model().index(0, 0), QItemSelectionModel::NoUpdate);
  view->Open1Click();
  ASSERT_EQ(launcher.opened.size(), 1);
  EXPECT_TRUE(launcher.opened[0].endsWith("/small.bin"));
  EXPECT_EQ(zip.ZipName(), first.toStdString());
  view->selection().setCurrentIndex(model().RowOfEntry(0), QItemSelectionModel::NoUpdate);
  view->Open1Click();
  ASSERT_EQ(launcher.opened.size(), 2);
  EXPECT_EQ(zip.ZipName(), second.toStdString());
  EXPECT_EQ(testutil::ReadFile(view->PrivateFolder() + "/readme.txt"), "hello from the archive");
}

// ---- Open ------------------------------------------------------------------------------------

class ArchiveViewOpen : public ArchiveViewFixture {
 protected:
  void SetUp() override {
    zip.SetDestDir("/dest/of/extract");
    ASSERT_TRUE(view->ReadZipFile(WriteArchive("a.zip", Sample())));
    model().Sort(restore::kColNumber, Qt::AscendingOrder);
  }
  void Focus(int entry) {
    view->selection().setCurrentIndex(model().RowOfEntry(entry), QItemSelectionModel::NoUpdate);
  }
};

TEST_F(ArchiveViewOpen, ExtractsIntoAPrivateFolderAndOpensTheFile) {
  Focus(1);
  view->Open1Click();
  ASSERT_EQ(launcher.opened.size(), 1);
  const std::string folder = view->PrivateFolder();
  EXPECT_EQ(launcher.opened[0].toStdString(), folder + "/readme.txt");
  EXPECT_EQ(testutil::ReadFile(folder + "/readme.txt"), "hello from the archive");
  struct stat st;
  ASSERT_EQ(::lstat(folder.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(zip.DestDir(), "/dest/of/extract");
  EXPECT_EQ(zip.SelectedCount(), 0);
  EXPECT_EQ(window.gauge, 0);
  // The older copy replaces it on the next Open of that name.
  Focus(2);
  view->Open1Click();
  EXPECT_EQ(testutil::ReadFile(folder + "/readme.txt"), "older copy");
}

TEST_F(ArchiveViewOpen, PlantedLinkAtTheTargetIsReplacedNotFollowed) {
  Focus(4);
  view->Open1Click();  // makes the private folder
  const std::string folder = view->PrivateFolder();
  const std::string victim = dir / "victim.txt";
  testutil::WriteFile(victim, "precious");
  ASSERT_EQ(::symlink(victim.c_str(), (folder + "/readme.txt").c_str()), 0);
  Focus(1);
  view->Open1Click();
  EXPECT_EQ(testutil::ReadFile(victim), "precious");
  struct stat st;
  ASSERT_EQ(::lstat((folder + "/readme.txt").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(testutil::ReadFile(folder + "/readme.txt"), "hello from the archive");
}

TEST_F(ArchiveViewOpen, FailedExtractionIsReportedAndDestDirRestored) {
  ZipBuilder b;
  BuildEntry e;
  e.name = "broken.txt";
  e.data = "data that does not match";
  e.crcOverride = 0x12345678;
  b.Add(e);
  ASSERT_TRUE(view->ReadZipFile(WriteArchive("broken.zip", b)));
  Focus(0);
  boxes.Answer(IDOK, QStringLiteral("Couldn't UnZip the file"));
  view->Open1Click();
  EXPECT_TRUE(launcher.opened.isEmpty());
  EXPECT_EQ(zip.DestDir(), "/dest/of/extract");
  EXPECT_FALSE(testutil::Exists(view->PrivateFolder() + "/broken.txt"));
}

TEST_F(ArchiveViewOpen, FolderRowsAndFolderEntriesOpenNothing) {
  Focus(0);  // "Docs/" (shown with "Display Empty Dir")
  view->Open1Click();
  view->selection().setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
  view->Open1Click();
  EXPECT_TRUE(launcher.opened.isEmpty());
  EXPECT_TRUE(boxes.transcript().isEmpty());
}
