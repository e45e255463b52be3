#include "app/checkstore.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <filesystem>

#include "app/explorer.h"
#include "app/explorermodels.h"
#include "testutil.h"

using testutil::TempDir;
using testutil::WriteFile;

namespace {

// root/A/{sub1/x, sub2/y, .hidden/z, file.txt, .hid.txt}, root/B/b.txt
struct Tree {
  TempDir dir;
  std::string root = dir.path();
  std::string A = root + "/A";
  Tree() {
    for (const char* d : {"A", "A/sub1", "A/sub2", "A/.hidden", "B"}) {
      ::mkdir((root + "/" + d).c_str(), 0700);
    }
    for (const char* f :
         {"A/sub1/x", "A/sub2/y", "A/.hidden/z", "A/file.txt", "A/.hid.txt", "B/b.txt"}) {
      WriteFile(root + "/" + f, "data");
    }
  }
};

using Paths = std::vector<std::string>;

}  // namespace

TEST(CheckStore, UntickedChildMakesParentMixedAndKeepsHiddenSiblings) {
  Tree t;
  TCheckStore s;
  QSignalSpy changed(&s, &TCheckStore::Changed);
  EXPECT_TRUE(s.Empty());
  s.SetChecked(t.A, true);
  EXPECT_EQ(s.State(t.A + "/sub1/x"), TickState::Checked) << "inherited";
  EXPECT_EQ(s.State(t.root), TickState::Mixed);
  EXPECT_EQ(s.State(t.root + "/B"), TickState::Unchecked);
  s.SetChecked(t.A + "/sub1", false);
  EXPECT_EQ(s.State(t.A), TickState::Mixed);
  EXPECT_EQ(s.State(t.A + "/.hidden"), TickState::Checked);
  EXPECT_EQ(s.TickedPaths(),
            (Paths{t.A + "/.hid.txt", t.A + "/.hidden", t.A + "/file.txt", t.A + "/sub2"}));
  EXPECT_EQ(changed.count(), 2);

  // Ticking the child again restores the plain folder tick.
  s.SetChecked(t.A + "/sub1", true);
  EXPECT_EQ(s.State(t.A), TickState::Checked);
  EXPECT_EQ(s.TickedPaths(), (Paths{t.A}));

  // Unticking every item of the folder, hidden ones included, unticks the folder.
  for (const char* n : {"sub1", "sub2", ".hidden", "file.txt"}) s.SetChecked(t.A + "/" + n, false);
  EXPECT_EQ(s.State(t.A), TickState::Mixed) << ".hid.txt is still ticked";
  s.SetChecked(t.A + "/.hid.txt", false);
  EXPECT_EQ(s.State(t.A), TickState::Unchecked);
  EXPECT_TRUE(s.Empty());
  EXPECT_TRUE(s.Entries().empty());
}

TEST(CheckStore, EntriesListMixedAncestorsFirstAndRoundTripThroughJobFile) {
  Tree t;
  TCheckStore s;
  s.SetChecked(t.A, true);
  s.SetChecked(t.A + "/sub1", false);
  s.SetChecked(t.root + "/B/b.txt", true);
  s.SetChecked(t.root + "/gone/old.txt", true);  // no longer on disk: kept
  const std::vector<JobEntry> e = s.Entries();
  ASSERT_GE(e.size(), 3u);
  // Every line's parent line comes before it.
  for (size_t i = 0; i < e.size(); ++i) {
    for (size_t j = i + 1; j < e.size(); ++j) EXPECT_FALSE(IsPathBelow(e[i].path, e[j].path));
  }
  bool sawMixedA = false;
  for (const JobEntry& x : e) {
    if (x.path == t.A) sawMixedA = !x.checked && x.folder;
    if (x.path == t.root + "/gone/old.txt") {
      EXPECT_FALSE(x.folder);
    }
  }
  EXPECT_TRUE(sawMixedA);

  const std::string job = t.dir / "j.JOB";
  s.SaveJobFile(job);
  TCheckStore fresh;
  ASSERT_TRUE(fresh.LoadJobFile(job));
  EXPECT_EQ(fresh.TickedPaths(), s.TickedPaths());
  EXPECT_EQ(fresh.State(t.A), TickState::Mixed);
  EXPECT_EQ(fresh.State(t.A + "/sub1"), TickState::Unchecked);
  EXPECT_EQ(fresh.State(t.A + "/.hidden/z"), TickState::Checked);
  EXPECT_EQ(fresh.State(t.root + "/gone/old.txt"), TickState::Checked);

  // Something that is not a job leaves the store as it was.
  WriteFile(t.dir / "bad.JOB", "hello\n");
  std::string err;
  EXPECT_FALSE(fresh.LoadJobFile(t.dir / "bad.JOB", &err));
  EXPECT_EQ(err, "not a job");
  EXPECT_FALSE(fresh.Empty());
  fresh.Clear();
  EXPECT_TRUE(fresh.Empty());
}

TEST(ExplorerModels, TreeAndListShareTicksAndHideHiddenItems) {
  Tree t;
  TCheckStore s;
  ExplorerTreeModel tree(&s);
  tree.SetRoots({t.root});
  QAbstractItemModelTester tt(&tree, QAbstractItemModelTester::FailureReportingMode::Fatal);
  ExplorerListModel list(&s);
  QAbstractItemModelTester lt(&list, QAbstractItemModelTester::FailureReportingMode::Fatal);

  const QModelIndex a = tree.IndexForPath(t.A);
  ASSERT_TRUE(a.isValid());
  EXPECT_EQ(tree.data(a, Qt::DisplayRole).toString(), "A");
  EXPECT_EQ(tree.rowCount(a), 2) << "folders only, no hidden ones";
  // Outside make mode the boxes show (so a user sees what is ticked) but do not change.
  EXPECT_EQ(tree.data(a, Qt::CheckStateRole).toInt(), Qt::Unchecked);
  EXPECT_FALSE(tree.flags(a) & Qt::ItemIsUserCheckable);
  EXPECT_FALSE(tree.setData(a, Qt::Checked, Qt::CheckStateRole));

  tree.SetShowChecks(true);
  list.SetShowChecks(true);
  list.SetFolder(t.A);
  EXPECT_EQ(list.rowCount(), 3) << "sub1, sub2, file.txt";
  EXPECT_EQ(list.data(list.index(0, 0), Qt::DisplayRole).toString(), "sub1");

  QSignalSpy listChanged(&list, &QAbstractItemModel::dataChanged);
  ASSERT_TRUE(tree.setData(a, Qt::Checked, Qt::CheckStateRole));
  EXPECT_GE(listChanged.count(), 1);
  EXPECT_EQ(list.data(list.index(2, 0), Qt::CheckStateRole).toInt(), Qt::Checked);
  ASSERT_TRUE(list.setData(list.index(0, 0), Qt::Unchecked, Qt::CheckStateRole));
  EXPECT_EQ(tree.data(a, Qt::CheckStateRole).toInt(), Qt::PartiallyChecked);
  EXPECT_EQ(tree.data(tree.IndexForPath(t.A + "/sub1"), Qt::CheckStateRole).toInt(), Qt::Unchecked);
  EXPECT_EQ(tree.data(tree.index(0, 0), Qt::CheckStateRole).toInt(), Qt::PartiallyChecked);

  tree.SetShowHidden(true);
  list.SetShowHidden(true);
  EXPECT_EQ(tree.rowCount(a), 3);
  EXPECT_EQ(list.rowCount(), 5);
  const QModelIndex hidden = tree.IndexForPath(t.A + "/.hidden");
  ASSERT_TRUE(hidden.isValid());
  EXPECT_EQ(tree.data(hidden, Qt::CheckStateRole).toInt(), Qt::Checked);
  tree.SetShowHidden(false);
  EXPECT_EQ(tree.rowCount(a), 2);
  EXPECT_FALSE(tree.IndexForPath(t.A + "/.hidden").isValid());

  // Folders made or removed on disk show after a refresh.
  ::mkdir((t.A + "/new").c_str(), 0700);
  std::filesystem::remove_all(t.A + "/sub2");
  tree.Refresh();
  EXPECT_EQ(tree.data(tree.index(0, 0, a), Qt::DisplayRole).toString(), "new");
  EXPECT_EQ(tree.rowCount(a), 2);
  EXPECT_FALSE(tree.IndexForPath("/elsewhere").isValid());
}

TEST(CheckStore, NamesThatAreNotUtf8KeepTheirBytes) {
  Tree t;
  const std::string odd = t.root + "/B/caf\xE9";  // Latin-1 file name
  WriteFile(odd, "x");
  TCheckStore s;
  s.SetChecked(t.root + "/B", true);
  s.SetChecked(t.root + "/B/b.txt", false);
  EXPECT_EQ(s.TickedPaths(), Paths{odd});
  s.SaveJobFile(t.dir / "odd.JOB");
  EXPECT_NE(testutil::ReadFile(t.dir / "odd.JOB").find("/B/caf%E9\n"), std::string::npos);
  TCheckStore back;
  ASSERT_TRUE(back.LoadJobFile(t.dir / "odd.JOB"));
  EXPECT_EQ(back.TickedPaths(), Paths{odd});

  ExplorerListModel list(&s);
  list.SetFolder(t.root + "/B");
  EXPECT_EQ(list.PathOf(list.index(1, 0)), odd);
}

TEST(ExplorerModels, UnlinkedListKeepsItsOwnTicks) {
  Tree t;
  TExplorer e;
  e.TreeModel().SetRoots({t.root});
  e.SetMakeMode(true);
  e.ListModel().SetFolder(t.A);
  e.SetLinked(false);
  ASSERT_TRUE(e.ListModel().setData(e.ListModel().index(0, 0), Qt::Checked, Qt::CheckStateRole));
  EXPECT_TRUE(e.Store().Empty()) << "the tree's ticks are not touched";
  e.SetLinked(true);
  EXPECT_EQ(e.ListModel().index(0, 0).data(Qt::CheckStateRole).toInt(), Qt::Unchecked);
  e.SetShowHidden(true);
  EXPECT_EQ(e.ListModel().rowCount(), 5);
  e.SetMakeMode(false);
  EXPECT_FALSE(e.ListModel().index(0, 0).flags() & Qt::ItemIsUserCheckable);
}

TEST(ExplorerModels, RootsAreHomeSlashAndMountedVolumes) {
  const std::string info =
      "22 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
      "40 22 8:17 / /media/ann/USB\\040STICK rw - vfat /dev/sdb1 rw\n"
      "41 22 0:5 / /proc rw - proc proc rw\n"
      "42 22 8:33 / /mnt/backup rw - ext4 /dev/sdc1 rw\n"
      "43 22 8:34 / /mnt rw - ext4 /dev/sdc2 rw\n";
  EXPECT_EQ(ExplorerRoots("/home/ann", info),
            (Paths{"/home/ann", "/", "/media/ann/USB STICK", "/mnt/backup"}));
  EXPECT_EQ(ExplorerRoots("/", "").front(), "/");
}
