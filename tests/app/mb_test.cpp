#include "app/mb.h"

#include <gtest/gtest.h>

#include "qt_scriptedhost.h"

TEST(MbCaptions, SplitAtBarsWithOptionalOuterBars) {
  const QStringList two{QStringLiteral("Retry"), QStringLiteral("Skip")};
  EXPECT_EQ(MbSplitCaptions(QStringLiteral("Retry|Skip")), two);
  EXPECT_EQ(MbSplitCaptions(QStringLiteral("|Retry|Skip|")), two);
  EXPECT_EQ(MbSplitCaptions(QStringLiteral("|Retry|Skip")), two);
  EXPECT_EQ(MbSplitCaptions(QStringLiteral("Retry|Skip|")), two);
  EXPECT_TRUE(MbSplitCaptions(QString()).isEmpty());
  EXPECT_TRUE(MbSplitCaptions(QStringLiteral("|")).isEmpty());
  // An empty caption inside the list is still a button.
  EXPECT_EQ(MbSplitCaptions(QStringLiteral("A||B")).size(), 3);
}

TEST(MbMessage, ButtonSetsResultsAndDefaults) {
  MbBox box;
  ASSERT_TRUE(MbBuildMessage("t", "c", false, MB_YESNO + MB_ICONQUESTION, box));
  ASSERT_EQ(box.buttons.size(), 2);
  EXPECT_EQ(box.buttons[0].caption, "&Yes");
  EXPECT_EQ(box.buttons[0].result, IDYES);
  EXPECT_EQ(box.buttons[1].result, IDNO);
  EXPECT_TRUE(box.buttons[1].cancelKind);
  EXPECT_EQ(box.icon, MB_ICONQUESTION);
  EXPECT_TRUE(box.beep);
  EXPECT_EQ(box.defaultButton, 1);
  EXPECT_TRUE(box.stayOnTop) << "every box comes up on top";

  ASSERT_TRUE(MbBuildMessage("t", "c", true, MB_ABORTRETRYIGNORE + MB_DEFBUTTON3, box));
  EXPECT_EQ(box.buttons[2].caption, "Ignore");
  EXPECT_EQ(box.buttons[2].result, IDIGNORE);
  EXPECT_EQ(box.defaultButton, 3);
  EXPECT_FALSE(box.beep);
  for (const auto& b : box.buttons) EXPECT_FALSE(b.cancelKind) << "Escape does nothing";

  // Escape on Yes/No/Cancel means Cancel.
  ASSERT_TRUE(MbBuildMessage("t", "c", true, MB_YESNOCANCEL, box));
  EXPECT_FALSE(box.buttons[1].cancelKind);
  EXPECT_TRUE(box.buttons[2].cancelKind);

  // 65536 and more is reduced by 65536 first.
  ASSERT_TRUE(MbBuildMessage("t", "c", true, 65536 + MB_OKCANCEL + MB_ICONEXCLAMATION, box));
  EXPECT_EQ(box.buttons.size(), 2);
  EXPECT_EQ(box.icon, MB_ICONEXCLAMATION);
  // A default button beyond the set falls back to the first.
  ASSERT_TRUE(MbBuildMessage("t", "c", true, MB_OK + MB_DEFBUTTON4, box));
  EXPECT_EQ(box.defaultButton, 1);
}

TEST(MbMessage, ButtonSetAboveFiveShowsNothing) {
  ScriptedHost host;
  EXPECT_EQ(MbMessage("x", "c", true, 6), 0);
  EXPECT_EQ(MbMessage("x", "c", true, 65536 + 7), 0);
  EXPECT_TRUE(host.transcript().isEmpty());
}

TEST(MbMessage, InfoChoiceAndCaptionsThroughTheHost) {
  ScriptedHost host;
  host.SetActiveCaption("Arcavo V100");
  host.Answer(IDOK, QStringLiteral("No Files Selected"));
  host.Press(QStringLiteral("Cancel"));
  host.Answer(IDNO);
  EXPECT_EQ(MbInfo("No Files Selected"), IDOK);
  EXPECT_EQ(MbChoice("Go on?", "Arcavo", 2, "Continue|Cancel"), 12);
  EXPECT_EQ(MbMessage("Sure?", QString(), false, 36), IDNO);

  const auto& t = host.transcript();
  ASSERT_EQ(t.size(), 3);
  EXPECT_EQ(t[0].caption, "Arcavo V100") << "empty caption takes the active window's";
  EXPECT_EQ(t[0].icon, MB_ICONINFORMATION);
  EXPECT_EQ(t[1].kind, "choice");
  EXPECT_EQ(t[1].buttons, (QStringList{"Continue", "Cancel"}));
  EXPECT_EQ(t[1].defaultButton, 2);
  EXPECT_EQ(t[1].icon, 0);
  EXPECT_EQ(t[2].buttons, (QStringList{"&Yes", "&No"}));
}

TEST(MbChoice, NoCaptionsGivesZeroAndNoBox) {
  ScriptedHost host;
  EXPECT_EQ(MbChoice("t", "c", 1, QString()), 0);
  EXPECT_TRUE(host.transcript().isEmpty());
}

TEST(MbMessage, TerminatingProgramAnswersAtOnce) {
  ScriptedHost host;
  SetMbTerminating(true);
  EXPECT_EQ(MbInfo("bye"), 0);
  EXPECT_EQ(MbChoice("t", "c", 1, "A|B"), 0);
  SetMbTerminating(false);
  EXPECT_TRUE(host.transcript().isEmpty());
}

TEST(MbMessage, UnattendedBoxesGoToTheSinkAndTakeTheirDefault) {
  ScriptedHost host;
  QStringList lines;
  QVector<bool> failures;
  SetMbUnattended([&](const QString& text, bool failure) {
    lines << text;
    failures << failure;
  });
  EXPECT_TRUE(MbUnattended());
  EXPECT_EQ(MbInfo("File 'x' does not exist"), IDOK);
  EXPECT_EQ(
      MbMessage("Line 1\rLine 2", "Arcavo", false, MB_YESNO + MB_ICONQUESTION + MB_DEFBUTTON2),
      IDNO);
  EXPECT_EQ(MbMessage("No files checked/selected!", "Arcavo", false, MB_ICONEXCLAMATION), IDOK);
  EXPECT_EQ(MbChoice("ZIPfile exists. What do you want to do?", "Arcavo", 1, "Replace|Add|Cancel"),
            11);
  EXPECT_TRUE(MbUnattendedCancel("Password Dialog"));
  EXPECT_EQ(lines, (QStringList{"File 'x' does not exist", "Line 1 / Line 2 [answered: No]",
                                "No files checked/selected!",
                                "ZIPfile exists. What do you want to do? [answered: Replace]",
                                "Password Dialog (no user: cancelled)"}));
  // A plain notice answers nothing; questions, warnings and dialogs mean the run did not go as
  // asked.
  EXPECT_EQ(failures, (QVector<bool>{false, true, true, true, true}));
  EXPECT_TRUE(host.transcript().isEmpty()) << "no box waited for a user";

  SetMbUnattended({});
  EXPECT_FALSE(MbUnattendedCancel("Password Dialog"));
  host.Answer(IDOK, QStringLiteral("shown again"));
  EXPECT_EQ(MbInfo("shown again"), IDOK);
}

TEST(MbNotice, OneAtATimeWithGaugeAndClose) {
  ScriptedHost host;
  EXPECT_FALSE(MbNoticeStep(1)) << "no notice shown";
  EXPECT_FALSE(MbNoticeClose());
  MbNoticeSpec spec;
  spec.text = "Working";
  spec.withGauge = true;
  EXPECT_TRUE(MbNotice(spec));
  EXPECT_FALSE(MbNoticeText("second", "c")) << "a second notice is refused";
  EXPECT_EQ(host.lastNotice().text, "Working") << "the first stays as it is";
  EXPECT_TRUE(MbNoticeStep(3));
  EXPECT_TRUE(MbNoticeStep(2));
  EXPECT_EQ(host.noticeSteps(), 5);
  EXPECT_TRUE(MbNoticeClose());
  EXPECT_FALSE(host.noticeOpen());
  EXPECT_FALSE(MbNoticeClose());
  // A text-only notice has no gauge to step.
  EXPECT_TRUE(MbNoticeText("Reading", "Arcavo"));
  EXPECT_FALSE(MbNoticeStep(1));
  EXPECT_TRUE(MbNoticeClose());
}

TEST(MbModuleState, CaptionsReplaceableBeforeUse) {
  MbState saved = MbModuleState();
  MbModuleState().ok = "Fine";
  MbBox box;
  ASSERT_TRUE(MbBuildMessage("t", "c", true, MB_OKCANCEL, box));
  EXPECT_EQ(box.buttons[0].caption, "Fine");
  EXPECT_EQ(box.buttons[1].caption, "&Cancel");
  MbModuleState() = saved;
}
