#include "ui/recentmenu.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMenu>

#include "platform/programdir.h"
#include "testutil.h"

TEST(RecentMenu, EntriesFollowTheHandler) {
  testutil::TempDir dir;
  testutil::IsolatedXdg xdg(dir.path());
  ResetProgramDirForTest();
  {
    TFileMenuHandler fm;
    fm.IniFileName = "fmhistory.ini";
    QStringList opened;
    fm.OnNewFormCaption = [&](TFileMenuHandler*, const QString& f) { opened << f; };
    QMenu file;
    file.addAction("o&PenJob");
    TRecentMenu recent(&fm, &file);
    EXPECT_FALSE(recent.Separator()->isVisible()) << "hidden while the list is empty";

    const QString a = QString::fromStdString(dir / "a.JOB");
    const QString b = QString::fromStdString(dir / "b.JOB");
    testutil::WriteFile(a.toStdString(), "");
    testutil::WriteFile(b.toStdString(), "");
    fm.SetCurrentFile(a);
    fm.SetCurrentFile(b);
    ASSERT_EQ(recent.Actions().size(), 2);
    EXPECT_TRUE(recent.Separator()->isVisible());
    EXPECT_EQ(recent.Actions()[1]->text(), "&2 " + a);
    EXPECT_EQ(recent.Actions()[1]->shortcut(), QKeySequence(Qt::ALT | Qt::Key_2));
    EXPECT_EQ(file.actions().size(), 4);

    opened.clear();
    recent.Actions()[1]->trigger();
    QApplication::processEvents();
    EXPECT_EQ(opened, QStringList{a});
    EXPECT_EQ(recent.Actions()[0]->text(), "&1 " + a);

    fm.SetMaxList(1);
    EXPECT_EQ(recent.Actions().size(), 1);
  }
  ResetProgramDirForTest();
}
