// "Bug Report" and "Information Request": a mail to the support address, composed in the user's
// mail program.
#include "app/feedback.h"
#include "app/mb.h"
#include "backup/backupcore.h"
#include "backup/backuprun.h"
#include "backup/burncommands.h"
#include "ui/desktopopener.h"
#include "ui/mainform.h"

void TMainform::FeedBack(bool bugReport) {
  TFeedbackFacts facts = SystemFeedbackFacts();
  if (bugReport && backup_) {
    facts.closingText = backup_->run().ResultText();
    // The disc-writing commands and the backup run each keep their last error.
    facts.lastBurnError = backup_->burn().LastBurnError;
    if (facts.lastBurnError.isEmpty()) facts.lastBurnError = backup_->run().LastBurnError;
  }
  // The mail program shows the mail; the user sends it, or not.
  if (!CurrentUrlOpener().OpenUrl(FeedbackMailUrl(bugReport, facts)))
    MbMessage(QStringLiteral("No mail program could be started (xdg-email or xdg-open, from the "
                             "package xdg-utils).\rPlease write to ") +
                  QString::fromLatin1(kSupportAddress),
              QStringLiteral("Arcavo"), false, MB_ICONEXCLAMATION);
}
