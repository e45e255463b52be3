#include "app/feedback.h"

#include <sys/utsname.h>

#include <QLocale>
#include <QRegularExpression>
#include <QStringList>
#include <QtGlobal>

#include "app/lifecycle.h"
#include "platform/osrelease.h"

namespace {

// Every line break (CR LF, CR, LF) as CR LF.
QString CrLf(const QString& text) {
  static const QRegularExpression breaks(QStringLiteral("\r\n|\r|\n"));
  QString out = text;
  return out.replace(breaks, QStringLiteral("\r\n"));
}

QString Encoded(const QString& text, const QByteArray& keep = {}) {
  return QString::fromLatin1(text.toUtf8().toPercentEncoding(keep));
}

// A text of several lines indented under its heading.
void AddBlock(QStringList& lines, const QString& heading, const QString& text) {
  lines << heading;
  for (const QString& l : CrLf(text).split(QStringLiteral("\r\n")))
    if (!l.trimmed().isEmpty()) lines << QStringLiteral("  ") + l.trimmed();
}

}  // namespace

TFeedbackFacts SystemFeedbackFacts(const QString& osRelease) {
  TFeedbackFacts f;
  f.version = QStringLiteral(ARCAVO_VERSION);
  f.versionDigits = TAppLifecycle::VersionDigitsOf(f.version);
  f.system = QString::fromStdString(OsPrettyName(osRelease.toStdString()));
  struct utsname u {};
  if (::uname(&u) == 0)
    f.kernel = QString::fromLocal8Bit(u.sysname) + QLatin1Char(' ') +
               QString::fromLocal8Bit(u.release) + QLatin1Char(' ') +
               QString::fromLocal8Bit(u.machine);
  f.qtVersion = QString::fromLatin1(qVersion());
  f.locale = QLocale::system().name();
  return f;
}

QString FeedbackSubject(bool bugReport, const QString& versionDigits) {
  return QStringLiteral("Arcavo V") + versionDigits +
         (bugReport ? QStringLiteral(" bug report") : QStringLiteral(" information request"));
}

QString FeedbackBody(bool bugReport, const TFeedbackFacts& f) {
  QStringList lines;
  lines << (bugReport ? QStringLiteral("What happened, and what did you expect instead?")
                      : QStringLiteral("What would you like to know?"))
        << QString() << QString() << QStringLiteral("-- ")
        << QStringLiteral("Version: Arcavo V") + f.versionDigits + QStringLiteral(" (") +
               f.version + QLatin1Char(')')
        << QStringLiteral("System: ") + f.system << QStringLiteral("Kernel: ") + f.kernel
        << QStringLiteral("Qt: ") + f.qtVersion << QStringLiteral("Locale: ") + f.locale;
  if (bugReport) {
    if (!f.closingText.trimmed().isEmpty())
      AddBlock(lines, QStringLiteral("Last run:"), f.closingText);
    if (!f.lastBurnError.trimmed().isEmpty())
      AddBlock(lines, QStringLiteral("Last disc-writing error:"), f.lastBurnError);
  }
  return lines.join(QStringLiteral("\r\n"));
}

QString MailtoUrl(const QString& address, const QString& subject, const QString& body) {
  // "@" is the only character of an address that stays as it is.
  return QStringLiteral("mailto:") + Encoded(address, QByteArrayLiteral("@")) +
         QStringLiteral("?subject=") + Encoded(CrLf(subject)) + QStringLiteral("&body=") +
         Encoded(CrLf(body));
}

QString FeedbackMailUrl(bool bugReport, const TFeedbackFacts& facts) {
  return MailtoUrl(QString::fromLatin1(kSupportAddress),
                   FeedbackSubject(bugReport, facts.versionDigits), FeedbackBody(bugReport, facts));
}
