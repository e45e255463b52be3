#include "ui/explorerviews.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTest>
#include <memory>

#include "testutil.h"
#include "ui/inclusiongridview.h"

using testutil::TempDir;

namespace {

// One explorer as the window holds it: the store, both models and both views.
struct Explorer {
  TCheckStore store;
  ExplorerTreeModel treeModel{&store};
  ExplorerListModel listModel{&store};
  std::unique_ptr<QAbstractItemModelTester> treeTester, listTester;
  TExplorerTree tree{&treeModel};
  TExplorerList list{&listModel};
  explicit Explorer(const std::string& root) {
    treeModel.SetRoots({root});
    // The testers watch everything after the roots are set: a reset makes the tester fetch
    // lazily loaded rows while it still counts the reset as running.
    using Mode = QAbstractItemModelTester::FailureReportingMode;
    treeTester = std::make_unique<QAbstractItemModelTester>(&treeModel, Mode::Fatal);
    listTester = std::make_unique<QAbstractItemModelTester>(&listModel, Mode::Fatal);
    treeModel.SetShowChecks(true);
    listModel.SetShowChecks(true);
    LinkExplorerViews(&tree, &list);
    tree.resize(300, 400);
    tree.show();
    list.show();
  }
};

}  // namespace

TEST(ExplorerViews, TriStateTicksSurviveAJobFileInAFreshExplorer) {
  TempDir dir;
  const std::string root = dir.path();
  for (const char* d : {"Docs", "Docs/keep", "Docs/skip", "Docs/.cache"}) {
    ::mkdir((root + "/" + d).c_str(), 0700);
  }
  testutil::WriteFile(root + "/Docs/a.txt", "a");
  const QString docs = QString::fromStdString(root + "/Docs");

  std::vector<std::string> expected;
  {
    Explorer e(root);
    ASSERT_TRUE(e.tree.BrowseTo(docs));
    e.tree.setFocus();
    // Space on the current folder ticks it, as a click on its box would.
    QTest::keyClick(&e.tree, Qt::Key_Space);
    EXPECT_EQ(e.store.State(root + "/Docs"), TickState::Checked);
    // The list shows the tree's current folder; untick "skip" there.
    ASSERT_EQ(e.listModel.Folder(), root + "/Docs");
    const QModelIndex skip = e.listModel.index(1, 0);
    ASSERT_EQ(skip.data().toString(), "skip");
    e.list.setCurrentIndex(skip);
    e.list.setFocus();
    QTest::keyClick(&e.list, Qt::Key_Space);
    EXPECT_EQ(e.tree.currentIndex().data(Qt::CheckStateRole).toInt(), Qt::PartiallyChecked);
    e.store.SaveJobFile(dir / "t.JOB");
    expected = {root + "/Docs/.cache", root + "/Docs/a.txt", root + "/Docs/keep"};
    EXPECT_EQ(e.store.TickedPaths(), expected);
  }
  Explorer fresh(root);
  ASSERT_TRUE(fresh.store.LoadJobFile(dir / "t.JOB"));
  EXPECT_EQ(fresh.store.TickedPaths(), expected) << "the hidden sibling is still ticked";
  ASSERT_TRUE(fresh.tree.BrowseTo(docs));
  const QModelIndex d = fresh.tree.currentIndex();
  EXPECT_EQ(d.data(Qt::CheckStateRole).toInt(), Qt::PartiallyChecked);
  ASSERT_EQ(fresh.treeModel.rowCount(d), 2) << "hidden folders are not shown";
  EXPECT_EQ(fresh.treeModel.index(0, 0, d).data(Qt::CheckStateRole).toInt(), Qt::Checked);
  EXPECT_EQ(fresh.treeModel.index(1, 0, d).data(Qt::CheckStateRole).toInt(), Qt::Unchecked);
  EXPECT_EQ(fresh.tree.HighlightedPaths(), QStringList{docs});
}

TEST(InclusionGridView, EnterInTheGridAndInTheEditor) {
  TInclusionGrid grid;
  TInclusionGridView view(&grid);
  view.show();
  grid.SetCell(0, 1, "*.bak");
  view.setCurrentIndex(grid.index(0, 0));
  view.setFocus();
  QTest::keyClick(&view, Qt::Key_Return);
  EXPECT_EQ(grid.Cell(0, 1), "*.BAK");
  EXPECT_EQ(view.currentIndex().row(), 1);
  QTest::keyClick(&view, Qt::Key_Return);
  EXPECT_EQ(view.currentIndex().row(), 1) << "an empty cell does nothing";

  view.edit(view.currentIndex());
  auto* editor = view.findChild<QLineEdit*>();
  ASSERT_NE(editor, nullptr);
  QTest::keyClicks(editor, "*.doc");
  QTest::keyClick(editor, Qt::Key_Return);
  QApplication::processEvents();  // the delegate commits the text through a queued call
  EXPECT_EQ(grid.Cell(0, 2), "*.DOC");
  EXPECT_EQ(view.currentIndex().row(), 2);

  view.TidyAction()->trigger();
  view.ClearAction()->trigger();
  EXPECT_EQ(grid.Cell(0, 1), "");
}

TEST(ExplorerViews, PopupClearsTicksOnlyOnceTheWindowWasShown) {
  TempDir dir;
  ::mkdir((dir / "x").c_str(), 0700);
  TCheckStore store;
  ExplorerTreeModel model(&store);
  model.SetRoots({dir.path()});
  model.SetShowChecks(true);
  TExplorerTree tree(&model);
  store.SetChecked(dir / "x", true);
  tree.ClearSelectedAction()->trigger();
  EXPECT_FALSE(store.Empty()) << "before the first show nothing is cleared";
  tree.SetWindowShown();
  tree.ClearSelectedAction()->trigger();
  EXPECT_TRUE(store.Empty());
  EXPECT_EQ(tree.ProgramDirAction()->text(), "Program DIR");
}

TEST(ExplorerViews, ListFollowsTreeThroughFoldersThatAreNotUtf8) {
  TempDir dir;
  const std::string odd = dir / "d\xE9j\xE0";
  ::mkdir(odd.c_str(), 0700);
  testutil::WriteFile(odd + "/inside.txt", "x");
  Explorer e(dir.path());
  ASSERT_TRUE(e.tree.BrowseToPath(odd));
  EXPECT_EQ(e.tree.Highlighted(), std::vector<std::string>{odd});
  ASSERT_EQ(e.listModel.Folder(), odd);
  EXPECT_EQ(e.listModel.rowCount(), 1);
}

TEST(ExplorerViews, ClickOnACheckBoxTicksAndHighlightsTheItem) {
  TempDir dir;
  for (const char* d : {"a", "b"}) ::mkdir((dir / d).c_str(), 0700);
  Explorer e(dir.path());
  const QModelIndex root = e.treeModel.index(0, 0);
  e.tree.expand(root);
  const QModelIndex b = e.treeModel.index(1, 0, root);
  ASSERT_EQ(b.data().toString(), "b");
  e.tree.setCurrentIndex(root);
  QStyleOptionViewItem opt;
  opt.initFrom(&e.tree);
  opt.rect = e.tree.visualRect(b);
  opt.features |= QStyleOptionViewItem::HasCheckIndicator;
  const QRect box =
      e.tree.style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &opt, &e.tree);
  QTest::mouseClick(e.tree.viewport(), Qt::LeftButton, {}, box.center());
  EXPECT_EQ(e.store.State(dir / "b"), TickState::Checked);
  EXPECT_EQ(e.tree.currentIndex(), b) << "the clicked node becomes the highlighted one";
  EXPECT_EQ(e.tree.Highlighted(), std::vector<std::string>{dir / "b"});
}
