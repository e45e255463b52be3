// The archive view widget over the controller: keys, header clicks, columns and icons.
#include <gtest/gtest.h>

#include <QHeaderView>
#include <QIcon>
#include <QTest>

#include "app/optionscontroller.h"
#include "app/preferences.h"
#include "archive/arczip.h"
#include "platform/programdir.h"
#include "qt_controlhost.h"
#include "qt_scriptedhost.h"
#include "restore/archiveviewcontroller.h"
#include "nullhosts.h"
#include "testutil.h"
#include "ui/archiveview.h"
#include "ui/filedialogs.h"

namespace {


struct ArchiveViewWidget : ::testing::Test {
  testutil::TempDir dir;
  testutil::IsolatedXdg xdg{dir.path()};
  ScriptedHost boxes;
  RecordingControlHost controls;
  nullhosts::NoArchiveWindow window;
  nullhosts::NoSearchResults search;
  nullhosts::NoLauncher desktop;
  TQtFileDialogHost dialog{nullptr};
  TOptionLists lists;
  TPreferences prefs;
  TArcZip zip;
  std::unique_ptr<restore::TArchiveViewController> controller;
  std::unique_ptr<TArchiveView> view;

  ArchiveViewWidget() {
    ResetProgramDirForTest();
    controller = std::make_unique<restore::TArchiveViewController>(
        zip, lists, prefs,
        restore::TArchiveViewController::Hosts{window, controls, dialog, search, desktop});
    view = std::make_unique<TArchiveView>(*controller);
    auto entries = std::make_shared<restore::TArchiveEntries>();
    entries->Add("b.txt", "", 20, 0x5A8A6000, 1, 0);
    entries->Add("a.png", "pics/", 10, 0x5A8A6000, 1, 1);
    entries->Add("c", "", 30, 0x5A8A6000, 1, 2);
    controller->model().ShowList(entries, false);
    view->resize(900, 300);
    view->show();
  }
  ~ArchiveViewWidget() override {
    view.reset();
    controller.reset();
    ResetProgramDirForTest();
  }
  restore::TArchiveViewModel& model() { return controller->model(); }
};

}  // namespace

TEST_F(ArchiveViewWidget, SpaceTogglesTheHighlightedRowsOnly) {
  EXPECT_TRUE(view->uniformRowHeights());
  view->selectionModel()->select(model().index(1, 0),
                                 QItemSelectionModel::Select | QItemSelectionModel::Rows);
  QTest::keyClick(view.get(), Qt::Key_Space);
  EXPECT_EQ(model().CheckState(model().index(1, 0)), Qt::Checked);
  EXPECT_EQ(model().TickedCount(), 1);
  QTest::keyClick(view.get(), Qt::Key_Space);
  EXPECT_EQ(model().TickedCount(), 0);
}

TEST_F(ArchiveViewWidget, HeaderClicksSortAndShowTheIndicator) {
  QHeaderView* h = view->header();
  const QPoint size(h->sectionViewportPosition(restore::kColSize) + 5, h->height() / 2);
  QTest::mouseClick(h->viewport(), Qt::LeftButton, {}, size);
  EXPECT_EQ(model().index(0, 0).data().toString(), "a.png");
  EXPECT_EQ(h->sortIndicatorSection(), restore::kColSize);
  QTest::mouseClick(h->viewport(), Qt::LeftButton, {}, size);
  EXPECT_EQ(model().index(0, 0).data().toString(), "c");
  EXPECT_EQ(h->sortIndicatorOrder(), Qt::DescendingOrder);
}

TEST_F(ArchiveViewWidget, ColumnsFontsAndIcons) {
  view->ApplyColumnLayout({260, true, false});
  EXPECT_FALSE(view->isColumnHidden(restore::kColPathname));
  EXPECT_TRUE(view->isColumnHidden(restore::kColDisk));
  EXPECT_EQ(view->columnWidth(restore::kColFileName), 260);
  controller->LargeFonts1Click(true);
  EXPECT_EQ(view->font().pointSize(), 10);
  const QVariant icon = model().index(0, 0).data(Qt::DecorationRole);
  EXPECT_TRUE(icon.canConvert<QIcon>());
  EXPECT_EQ(model().headerData(restore::kColDisk, Qt::Horizontal).toString(), "Disk#");
  EXPECT_EQ(view->objectName(), "ArchiveView");
}

TEST_F(ArchiveViewWidget, OutlivingItsControllerIsSafe) {
  controller.reset();
  view.reset();
}
