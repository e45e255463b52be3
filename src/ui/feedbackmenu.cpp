#include "ui/feedbackmenu.h"

#include "app/feedback.h"
#include "app/mb.h"
#include "backup/backupcore.h"
#include "backup/backuprun.h"
#include "backup/burncommands.h"
#include "ui/desktopopener.h"
#include "ui/mainform.h"

void ComposeFeedbackMail(bool bugReport, TBackupCore* backup) {
  TFeedbackFacts facts = SystemFeedbackFacts();
  if (bugReport && backup) {
    facts.closingText = backup->run().ResultText();
    // The disc-writing commands and the backup run each keep their last error.
    facts.lastBurnError = backup->burn().LastBurnError;
    if (facts.lastBurnError.isEmpty()) facts.lastBurnError = backup->run().LastBurnError;
  }
  // The mail program shows the mail; the user sends it, or not.
  if (!CurrentUrlOpener().OpenUrl(FeedbackMailUrl(bugReport, facts)))
    MbMessage(QStringLiteral("No mail program could be started (xdg-email or xdg-open, from the "
                             "package xdg-utils).\rPlease write to ") +
                  QString::fromLatin1(kSupportAddress),
              QStringLiteral("Arcavo"), false, MB_ICONEXCLAMATION);
}

void TMainform::FeedBack(bool bugReport) {
  ComposeFeedbackMail(bugReport, backup_.get());
}
