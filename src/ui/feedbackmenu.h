// "Bug Report" and "Information Request": a mail to the support address, composed in the user's
// mail program. Nothing is sent without the user.
#pragma once

class TBackupCore;

// Hands the mail to the desktop's mail program; a box says so when none could be started. For a
// bug report the last run's closing text and the last disc-writing error of backup (when given)
// go into the mail.
void ComposeFeedbackMail(bool bugReport, TBackupCore* backup);
