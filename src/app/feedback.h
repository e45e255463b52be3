// The mails of "Bug Report" and "Information Request": a "mailto:" address (RFC 6068) with the
// subject and a body that tells the support about this installation. The mail program shows
// the mail; nothing is sent without the user.
#pragma once

#include <QString>

// Where the mails go. A placeholder until the support address is announced.
inline constexpr const char* kSupportAddress = "support@arcavo.example";

// What a mail tells about this installation.
struct TFeedbackFacts {
  QString version;        // "1.0.0"
  QString versionDigits;  // "100"
  QString system;         // PRETTY_NAME of os-release
  QString kernel;         // "Linux 6.1.0-13-amd64 x86_64"
  QString qtVersion;
  QString locale;
  // Bug reports only, when there is one: the last run's closing text and the last error of
  // disc writing.
  QString closingText;
  QString lastBurnError;
};

// The facts of the running system (the version, os-release at osRelease or the usual places,
// the kernel, Qt and the locale); closingText and lastBurnError stay empty.
TFeedbackFacts SystemFeedbackFacts(const QString& osRelease = {});

// "Arcavo V<digits> bug report" or "Arcavo V<digits> information request".
QString FeedbackSubject(bool bugReport, const QString& versionDigits);
// The body's lines, joined by CR LF.
QString FeedbackBody(bool bugReport, const TFeedbackFacts& facts);

// "mailto:<address>?subject=...&body=...": every character outside the unreserved set of
// RFC 3986 percent-encoded as UTF-8 (so "&", "?", "#", "%", "+" and spaces survive), line breaks
// made CR LF first.
QString MailtoUrl(const QString& address, const QString& subject, const QString& body);

// The whole address of one of the two mails.
QString FeedbackMailUrl(bool bugReport, const TFeedbackFacts& facts);
