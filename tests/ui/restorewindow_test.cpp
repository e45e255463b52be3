// The extract commands bound to the window's button and popup items.
#include "ui/restorewindow.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QMenu>
#include <QPushButton>

#include "app/optionscontroller.h"
#include "app/preferences.h"
#include "archive/arczip.h"
#include "platform/programdir.h"
#include "qt_controlhost.h"
#include "qt_scriptedhost.h"
#include "restore/archiveviewcontroller.h"
#include "restore/extractcontroller.h"
#include "nullhosts.h"
#include "testutil.h"
#include "ui/mainform.h"

namespace {

struct NoDialogs : IFileDialogHost {
  QString OpenFile(const FileDialogSpec&) override { return {}; }
  QString SaveFile(const FileDialogSpec&) override { return {}; }
};

}  // namespace

TEST(RestoreWindow, ButtonAndPopupItemsAskForTheDestination) {
  testutil::TempDir dir;
  testutil::IsolatedXdg xdg{dir.path()};
  ResetProgramDirForTest();
  ScriptedHost boxes;
  RecordingControlHost controls;
  nullhosts::NoArchiveWindow window;
  nullhosts::NoSearchResults search;
  nullhosts::NoLauncher launcher;
  NoDialogs dialogs;
  TOptionLists lists;
  TPreferences prefs;
  TArcZip zip;
  restore::TArchiveViewController view(
      zip, lists, prefs,
      restore::TArchiveViewController::Hosts{window, controls, dialogs, search, launcher});

  QWidget form;
  auto* extract = new QPushButton(QStringLiteral("E&xtract"), &form);
  extract->setObjectName(QStringLiteral("ExtractBut"));
  auto* abort = new QPushButton(QStringLiteral("Abort"), &form);
  abort->setObjectName(QStringLiteral("AbortBut"));
  auto* popup = new QMenu(&form);
  const char* items[] = {"ExtractSelectedOverWrite1", "ExtractSelectedNoOverwrite1",
                         "ExtractAllOverwrite1", "ExtractAllNoOverwrite1"};
  for (const char* name : items) popup->addAction(QString::fromLatin1(name))->setObjectName(name);

  TRestoreWindow host(&form);
  QStringList titles;
  host.chooseFolder = [&](const QString& title, const QString&) {
    titles << title;
    return QString();  // cancelled
  };
  restore::TExtractController controller(zip, lists, view, search, host);
  BindRestoreCommands(&form, controller);

  extract->click();
  for (QAction* a : popup->actions()) a->trigger();
  abort->click();  // nothing runs: nothing happens
  ASSERT_EQ(titles.size(), 5);
  EXPECT_EQ(titles[0],
            QStringLiteral("Select destination Drive if directories saved\rOr destination folder "
                           "if Directory names not saved"));
  EXPECT_EQ(extract->toolTip(), QStringLiteral("Extract/Restore File(s) From ZIP"));
  ResetProgramDirForTest();
}

TEST(RestoreWindow, MainWindowWiresExtractionOverItsEngine) {
  testutil::TempDir dir;
  testutil::IsolatedXdg xdg{dir.path()};
  ResetProgramDirForTest();
  SetMbTerminating(false);
  ScriptedHost boxes;
  {
    // The window wires extraction over its own archive view and engine when it is built.
    TMainform form;
    ASSERT_NE(form.extractController(), nullptr);
    auto* extract = form.findChild<QPushButton*>(QStringLiteral("ExtractBut"));
    ASSERT_TRUE(extract);
    EXPECT_EQ(extract->toolTip(), QStringLiteral("Extract/Restore File(s) From ZIP"));
    form.findChild<QPushButton*>(QStringLiteral("AbortBut"))->click();  // nothing runs

    // An extraction counts its process time from its own start.
    if (testutil::HaveTool("python3")) {
      FakeClock clock;
      clock.Advance(600000);  // ten minutes after the last clock start
      const std::string zip = dir / "t.zip";
      ASSERT_EQ(testutil::Run("python3 -c \"import zipfile; z = zipfile.ZipFile('" + zip +
                              "', 'w'); z.writestr('a.txt', 'a' * 100000); z.close()\"")
                    .status,
                0);
      ASSERT_TRUE(form.context().ArchiveView->ReadZipFile(QString::fromStdString(zip)));
      form.restoreWindow()->chooseFolder = [&](const QString&, const QString&) {
        return QString::fromStdString(dir / "out");
      };
      QString shown;
      boxes.onBox = [&](const MbBox&) {
        shown = form.findChild<QLabel*>(QStringLiteral("StatusProcessTime"))->text();
      };
      boxes.Answer(IDOK, "1 file was extracted");
      form.extractController()->ExtractButClick(restore::TExtractPreset::AllOverwrite);
      EXPECT_EQ(shown, "00:00");
    }
  }
  ResetProgramDirForTest();
}
