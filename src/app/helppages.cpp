#include "app/helppages.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>
#include <cerrno>
#include <cstdlib>
#include <exception>

#include "app/clock.h"
#include "app/mb.h"
#include "platform/atomicfile.h"
#include "platform/programdir.h"

namespace {

// A request for the section just opened, within this many milliseconds, is a repeat.
constexpr int64_t kRepeatMs = 1000;

QStringList ResourceHelpCandidates() {
  QStringList out;
  for (const std::string& c : ResourceCandidates(kHelpFile)) out << QString::fromStdString(c);
  return out;
}

// path as a folder of the user's own with mode 0700: made when missing; refused when it is a
// link, not a folder or someone else's.
bool PrivateFolder(const QString& path) {
  const QByteArray p = QFile::encodeName(path);
  if (::mkdir(p.constData(), 0700) != 0 && errno != EEXIST) return false;
  struct stat st {};
  if (::lstat(p.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
    return false;
  return (st.st_mode & 07777) == 0700 || ::chmod(p.constData(), 0700) == 0;
}

QString HtmlEscaped(const QString& text) {
  return text.toHtmlEscaped();
}

}  // namespace

THelpPages::THelpPages() : THelpPages(ResourceHelpCandidates()) {}

THelpPages::THelpPages(QStringList candidates) : candidates_(std::move(candidates)) {}

bool THelpPages::Open(int context, IUrlOpener& opener, QString* problem) {
  const auto fail = [problem](const QString& text) {
    if (problem)
      *problem = QString(text).replace(QLatin1Char('\r'), QLatin1Char(' '));
    else
      MbMessage(text, QStringLiteral("Arcavo"), false, MB_ICONEXCLAMATION);
    return false;
  };
  const int64_t now = CurrentClock().TickMs();
  if (context == lastContext_ && now - lastTick_ < kRepeatMs) return true;

  QString help;
  for (const QString& c : candidates_)
    if (QFileInfo(c).isFile()) {
      help = QFileInfo(c).absoluteFilePath();
      break;
    }
  if (help.isEmpty())
    return fail(QStringLiteral("The help was not found. It was looked for at:\r") +
                candidates_.join(QLatin1Char('\r')));

  const QString folder = HelpPageFolder();
  if (folder.isEmpty())
    return fail(
        QStringLiteral("The help could not be opened: no private folder for its page "
                       "could be made"));
  QUrl target = QUrl::fromLocalFile(help);
  target.setFragment(QStringLiteral("ctx") + QString::number(context));
  const QString page =
      folder + QStringLiteral("/help-ctx") + QString::number(context) + QStringLiteral(".html");
  try {
    TAtomicFile file(QFile::encodeName(page).toStdString());
    const QByteArray bytes = HelpRedirectPage(QString::fromLatin1(target.toEncoded()));
    file.Write(bytes.constData(), static_cast<size_t>(bytes.size()));
    file.SetMode(0600);
    file.Commit();
  } catch (const std::exception& e) {
    return fail(QStringLiteral("The help could not be opened: ") +
                QString::fromLocal8Bit(e.what()));
  }
  if (!opener.OpenUrl(QString::fromLatin1(QUrl::fromLocalFile(page).toEncoded())))
    return fail(QStringLiteral("The help could not be opened: no program to show web pages was "
                               "found (xdg-open, from the package xdg-utils).\rThe help is ") +
                help);
  lastContext_ = context;
  lastTick_ = now;
  return true;
}

QString HelpPageFolder() {
  const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
  if (!runtime.isEmpty() && QFileInfo(QFile::decodeName(runtime)).isDir()) {
    const QString folder = QFile::decodeName(runtime) + QStringLiteral("/arcavo");
    if (PrivateFolder(folder)) return folder;
  }
  // Without a runtime folder: a folder named after the user in the temporary folder, or, when
  // that name is taken by something else, a fresh folder for this process.
  const QString shared =
      QDir::tempPath() + QStringLiteral("/arcavo-") + QString::number(::getuid());
  if (PrivateFolder(shared)) return shared;
  static QString fresh;
  if (fresh.isEmpty() || !PrivateFolder(fresh)) {
    QByteArray pattern = QFile::encodeName(QDir::tempPath() + QStringLiteral("/arcavo-XXXXXX"));
    fresh = ::mkdtemp(pattern.data()) ? QFile::decodeName(pattern) : QString();
  }
  return fresh;
}

QByteArray HelpRedirectPage(const QString& target) {
  // The address is encoded already; quotes and backslashes are encoded as well so it sits in
  // the script's string as it is.
  QString inScript = target;
  inScript.replace(QLatin1Char('\\'), QStringLiteral("%5C"))
      .replace(QLatin1Char('"'), QStringLiteral("%22"))
      .replace(QLatin1Char('<'), QStringLiteral("%3C"));
  const QString attr = HtmlEscaped(inScript);
  const QString page =
      QStringLiteral(
          "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
          "<meta http-equiv=\"refresh\" content=\"0; url=") +
      attr + QStringLiteral("\">\n<title>Arcavo help</title>\n<script>window.location.replace(\"") +
      inScript + QStringLiteral("\");</script>\n</head>\n<body>\n<p><a href=\"") + attr +
      QStringLiteral("\">Arcavo help</a></p>\n</body>\n</html>\n");
  return page.toUtf8();
}

QString HelpSectionSentence(const QString& html, int context) {
  const QString anchor = QStringLiteral("id=\"ctx") + QString::number(context) + QLatin1Char('"');
  const int at = html.indexOf(anchor);
  if (at < 0) return {};
  static const QRegularExpression para(
      QStringLiteral("<p(\\s[^>]*)?>(.*?)</p>"),
      QRegularExpression::DotMatchesEverythingOption | QRegularExpression::CaseInsensitiveOption);
  const QRegularExpressionMatch m = para.match(html, at);
  if (!m.hasMatch()) return {};
  static const QRegularExpression tags(QStringLiteral("<[^>]*>"));
  static const QRegularExpression spaces(QStringLiteral("\\s+"));
  QString text = m.captured(2);
  text.remove(tags);
  text.replace(QStringLiteral("&lt;"), QStringLiteral("<"))
      .replace(QStringLiteral("&gt;"), QStringLiteral(">"))
      .replace(QStringLiteral("&quot;"), QStringLiteral("\""))
      .replace(QStringLiteral("&#39;"), QStringLiteral("'"))
      .replace(QStringLiteral("&nbsp;"), QStringLiteral(" "))
      .replace(QStringLiteral("&amp;"), QStringLiteral("&"));
  text = text.replace(spaces, QStringLiteral(" ")).trimmed();
  // The sentence ends at the first full stop followed by a space (or the paragraph's end).
  const int stop = text.indexOf(QStringLiteral(". "));
  return stop < 0 ? text : text.left(stop + 1);
}
