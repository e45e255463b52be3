// The start at log-on: the autostart entry's Exec line for paths holding characters a launcher
// treats specially (checked by desktop-file-validate and read back), and the "StartUp" and
// "Stealth@StartUp" items with their questions.
#include "automation/logonstart.h"

#include <gtest/gtest.h>

#include <QFileInfo>

#include "app/filedialoghost.h"
#include "app/mb.h"
#include "app/optionnames.h"
#include "support/qt_controlhost.h"
#include "support/qt_scriptedhost.h"
#include "testutil.h"

namespace {

using testutil::TempDir;

struct ExecCase {
  const char* name;
  QStringList args;
  QString exec;  // the Exec value written ("" to skip the comparison)
};

TEST(LogonStart, EntryQuotesEveryPathAndReadsItBack) {
  TempDir dir;
  testutil::IsolatedXdg xdg(dir.path());
  const bool validator = testutil::HaveTool("desktop-file-validate");
  const std::vector<ExecCase> cases = {
      {"plain", {"/usr/bin/arcavo"}, R"("/usr/bin/arcavo")"},
      // Unquoted, "/home/u/My" would be started with "Apps/arcavo" as its argument.
      {"blank", {"/home/u/My Apps/arcavo"}, R"("/home/u/My Apps/arcavo")"},
      {"stealth job with blanks",
       {"/home/u/My Apps/arcavo", "/home/u/Jobs/stealth_my docs.JOB"},
       R"("/home/u/My Apps/arcavo" "/home/u/Jobs/stealth_my docs.JOB")"},
      {"quote, dollar, backquote",
       {"/opt/a\"b$HOME`x`/arcavo", "/j/stealth_$1.job"},
       R"("/opt/a\\"b\\$HOME\\`x\\`/arcavo" "/j/stealth_\\$1.job")"},
      {"percent is no field code",
       {"/opt/100%/arcavo", "/j/stealth_%f.job"},
       R"("/opt/100%%/arcavo" "/j/stealth_%%f.job")"},
      {"backslash", {"/opt/back\\slash/arcavo"}, R"("/opt/back\\\\slash/arcavo")"},
  };
  const QString entry = AutostartEntryPath(QStringLiteral("ArcavoStealth"));
  EXPECT_EQ(entry.toStdString(), dir.path() + "/config/autostart/ArcavoStealth.desktop");
  for (const ExecCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(DesktopExecValue(c.args), c.exec);
    ASSERT_EQ(RunOnStartup(0, QStringLiteral("ArcavoStealth"), c.args), 0);
    const std::string text = testutil::ReadFile(entry.toStdString());
    EXPECT_NE(text.find("Type=Application\n"), std::string::npos);
    EXPECT_NE(text.find("Name=Arcavo\n"), std::string::npos);
    EXPECT_NE(text.find("Exec=" + c.exec.toStdString() + "\n"), std::string::npos) << text;
    if (validator) {
      const auto r = testutil::Run("desktop-file-validate " + testutil::Quote(entry.toStdString()));
      EXPECT_EQ(r.status, 0) << r.out;
      EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(DesktopExecArguments(c.exec), c.args);
    EXPECT_EQ(RunOnStartup(2, QStringLiteral("ArcavoStealth")), c.args.size() > 1 ? 1 : 2);
  }
  // A program path that merely holds "stealth" is still a plain start.
  ASSERT_EQ(RunOnStartup(0, QStringLiteral("ArcavoStealth"), {"/opt/stealthy/arcavo"}), 0);
  EXPECT_EQ(RunOnStartup(2, QStringLiteral("ArcavoStealth")), 2);
  EXPECT_EQ(RunOnStartup(1, QStringLiteral("ArcavoStealth")), 0);
  EXPECT_FALSE(QFileInfo::exists(entry));
  EXPECT_EQ(RunOnStartup(2, QStringLiteral("ArcavoStealth")), 0);
  EXPECT_EQ(RunOnStartup(1, QStringLiteral("ArcavoStealth")), 0);  // nothing to delete
  // Broken quoting or an empty command reads as no start.
  EXPECT_EQ(DesktopExecArguments(R"("/usr/bin/arcavo)"), std::nullopt);
  EXPECT_EQ(DesktopExecArguments(R"(/usr/bin/arcavo\q)"), std::nullopt);
  EXPECT_EQ(DesktopExecArguments(R"(arcavo %U)"), QStringList{"arcavo"});
  testutil::WriteFile(entry.toStdString(), "[Desktop Entry]\nType=Application\nExec=\n");
  EXPECT_EQ(RunOnStartup(2, QStringLiteral("ArcavoStealth")), 0);
}

struct OneDialog : IFileDialogHost {
  QString answer;
  FileDialogSpec spec;
  int shown = 0;
  QString OpenFile(const FileDialogSpec& s) override {
    spec = s;
    ++shown;
    return answer;
  }
  QString SaveFile(const FileDialogSpec&) override { return {}; }
};

TEST(LogonStart, MenuItemsAskAndTheEntryFollows) {
  TempDir dir;
  testutil::IsolatedXdg xdg(dir.path());
  ScriptedHost boxes;
  RecordingControlHost controls;
  OneDialog dialog;
  const QString program = QStringLiteral("/home/u/My Apps/arcavo");
  TLogonStart logon(controls, dialog, program);
  int minimisedToggles = 0;
  logon.toggleStartMinimised = [&] {
    ++minimisedToggles;
    controls.SetControlChecked(ctl::kStartMinimisedItem,
                               !controls.ControlChecked(ctl::kStartMinimisedItem));
  };
  logon.jobFolder = [&] { return QString::fromStdString(dir.path()); };
  auto checked = [&](const char* item) {
    return controls.ControlChecked(QString::fromLatin1(item));
  };
  const QString job = QString::fromStdString(dir / "stealth_my docs.JOB");
  testutil::WriteFile(job.toStdString(), "");

  // "StartUp": the plain start, then the question whether to start minimised.
  boxes.Answer(IDYES, QString::fromLatin1(TLogonStart::kStartMinimised));
  logon.StartUpClick();
  EXPECT_TRUE(checked(ctl::kStartUpItem));
  EXPECT_EQ(minimisedToggles, 1);
  EXPECT_EQ(TLogonStart::Registration(), 1);

  // "Stealth@StartUp": asked, the job chosen, the plain start replaced.
  boxes.Answer(IDYES, QString::fromLatin1(TLogonStart::kStealthQuestion));
  dialog.answer = job;
  logon.StealthAtStartUpClick();
  EXPECT_EQ(dialog.spec.title, QString::fromLatin1(TLogonStart::kDialogTitle));
  EXPECT_EQ(dialog.spec.filter, QString::fromLatin1(TLogonStart::kJobFilter));
  EXPECT_EQ(dialog.spec.initialDir.toStdString(), dir.path());
  EXPECT_TRUE(checked(ctl::kStealthAtStartUpItem));
  EXPECT_FALSE(checked(ctl::kStartUpItem));
  EXPECT_EQ(TLogonStart::Registration(), 2);
  const std::string text =
      testutil::ReadFile(AutostartEntryPath(TLogonStart::kEntryName).toStdString());
  EXPECT_NE(text.find("Exec=\"" + program.toStdString() + "\" \"" + job.toStdString() + "\""),
            std::string::npos)
      << text;

  // "StartUp" while the stealth start is set: "No" keeps it.
  boxes.Answer(IDNO, QString::fromLatin1(TLogonStart::kRemoveStealth));
  logon.StartUpClick();
  EXPECT_TRUE(checked(ctl::kStealthAtStartUpItem));
  EXPECT_EQ(TLogonStart::Registration(), 2);
  // "Yes" makes it a plain start; "Start Minimised" is already checked, so no more question.
  boxes.Answer(IDYES, QString::fromLatin1(TLogonStart::kRemoveStealth));
  logon.StartUpClick();
  EXPECT_FALSE(checked(ctl::kStealthAtStartUpItem));
  EXPECT_TRUE(checked(ctl::kStartUpItem));
  EXPECT_EQ(TLogonStart::Registration(), 1);
  // Unchecking deletes the entry.
  logon.StartUpClick();
  EXPECT_FALSE(checked(ctl::kStartUpItem));
  EXPECT_EQ(TLogonStart::Registration(), 0);

  // "No" to the stealth question, and a cancelled dialog, change nothing.
  boxes.Answer(IDNO, QString::fromLatin1(TLogonStart::kStealthQuestion));
  logon.StealthAtStartUpClick();
  EXPECT_EQ(dialog.shown, 1);
  boxes.Answer(IDYES, QString::fromLatin1(TLogonStart::kStealthQuestion));
  dialog.answer.clear();
  logon.StealthAtStartUpClick();
  EXPECT_FALSE(checked(ctl::kStealthAtStartUpItem));
  EXPECT_EQ(TLogonStart::Registration(), 0);
  EXPECT_EQ(boxes.PendingAnswers(), 0);
}

}  // namespace
