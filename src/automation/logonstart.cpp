#include "automation/logonstart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <system_error>

#include "app/controlhost.h"
#include "app/filedialoghost.h"
#include "app/mb.h"
#include "app/optionnames.h"
#include "platform/atomicfile.h"

namespace {

QString S(const char* s) {
  return QString::fromLatin1(s);
}

const QString kArcavo = QStringLiteral("Arcavo");

// One argument quoted for Exec: double quotes around it, the four characters that keep a meaning
// inside them escaped, "%" doubled (field codes).
QString QuoteArgument(const QString& arg) {
  QString q = QStringLiteral("\"");
  for (QChar c : arg) {
    if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
      q += u'\\';
    else if (c == u'%')
      q += u'%';
    q += c;
  }
  return q + u'"';
}

// The string escapes of a desktop entry value.
QString EscapeString(const QString& s) {
  QString out;
  for (QChar c : s) {
    switch (c.unicode()) {
      case '\\':
        out += QStringLiteral("\\\\");
        break;
      case '\n':
        out += QStringLiteral("\\n");
        break;
      case '\r':
        out += QStringLiteral("\\r");
        break;
      case '\t':
        out += QStringLiteral("\\t");
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::optional<QString> UnescapeString(const QString& s) {
  QString out;
  for (int i = 0; i < s.size(); ++i) {
    if (s[i] != u'\\') {
      out += s[i];
      continue;
    }
    if (++i == s.size()) return std::nullopt;
    switch (s[i].unicode()) {
      case '\\':
        out += u'\\';
        break;
      case 'n':
        out += u'\n';
        break;
      case 'r':
        out += u'\r';
        break;
      case 't':
        out += u'\t';
        break;
      case 's':
        out += u' ';
        break;
      default:
        return std::nullopt;
    }
  }
  return out;
}

}  // namespace

QString DesktopExecValue(const QStringList& args) {
  QStringList quoted;
  for (const QString& a : args) quoted << QuoteArgument(a);
  return EscapeString(quoted.join(u' '));
}

std::optional<QStringList> DesktopExecArguments(const QString& value) {
  const std::optional<QString> line = UnescapeString(value);
  if (!line) return std::nullopt;
  QStringList args;
  QString cur;
  bool inArg = false;
  bool quoted = false;
  // An argument that was only a field code ("%U") is dropped; a quoted empty one ("") stays.
  bool wasQuoted = false;
  auto end = [&] {
    if (inArg && (!cur.isEmpty() || wasQuoted)) args << cur;
    cur.clear();
    inArg = wasQuoted = false;
  };
  for (int i = 0; i < line->size(); ++i) {
    const QChar c = line->at(i);
    if (quoted) {
      if (c == u'"') {
        quoted = false;
      } else if (c == u'\\') {
        if (++i == line->size()) return std::nullopt;
        cur += line->at(i);
      } else if (c == u'%') {
        if (i + 1 < line->size() && line->at(i + 1) == u'%') ++i;
        cur += c;
      } else {
        cur += c;
      }
    } else if (c == u' ' || c == u'\t') {
      end();
    } else {
      inArg = true;
      if (c == u'"') {
        quoted = wasQuoted = true;
      } else if (c == u'%') {
        // A field code of the launcher ("%f", "%U") is no argument of ours; "%%" is a "%".
        if (i + 1 < line->size() && line->at(i + 1) == u'%') {
          ++i;
          cur += c;
        } else {
          ++i;
        }
      } else {
        cur += c;
      }
    }
  }
  if (quoted) return std::nullopt;
  end();
  return args;
}

QString AutostartEntryPath(const QString& name) {
  QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
  if (!QDir::isAbsolutePath(config)) config = QDir::homePath() + QStringLiteral("/.config");
  return config + QStringLiteral("/autostart/") + name + QStringLiteral(".desktop");
}

int RunOnStartup(int mode, const QString& name, const QStringList& args) {
  const QString path = AutostartEntryPath(name);
  if (mode == 1) return QFile::remove(path) || !QFileInfo::exists(path) ? 0 : -1;
  if (mode == 2) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return 0;
    bool inEntry = false;
    while (!f.atEnd()) {
      const QString line = QString::fromUtf8(f.readLine()).trimmed();
      if (line.startsWith(u'[')) {
        inEntry = line == QLatin1String("[Desktop Entry]");
      } else if (inEntry && line.startsWith(QLatin1String("Exec"))) {
        const int eq = line.indexOf(u'=');
        if (eq < 0 || line.left(eq).trimmed() != QLatin1String("Exec")) continue;
        const std::optional<QStringList> exec = DesktopExecArguments(line.mid(eq + 1).trimmed());
        if (!exec || exec->isEmpty() || exec->first().isEmpty()) return 0;
        // A start with a job is the stealth start (the only one written with a job).
        return exec->size() > 1 ? 1 : 2;
      }
    }
    return 0;
  }
  const QString text = QStringLiteral("[Desktop Entry]\nType=Application\nName=Arcavo\nExec=") +
                       DesktopExecValue(args) + u'\n';
  try {
    QDir().mkpath(QFileInfo(path).path());
    TAtomicFile file(QFile::encodeName(path).toStdString());
    const QByteArray bytes = text.toUtf8();
    file.Write(bytes.constData(), static_cast<size_t>(bytes.size()));
    file.SetMode(0644);
    file.Commit();
  } catch (const std::system_error&) {
    return -1;
  }
  return 0;
}

int TLogonStart::Registration() {
  switch (RunOnStartup(2, S(kEntryName))) {
    case 1:
      return 2;
    case 2:
      return 1;
    default:
      return 0;
  }
}

bool TLogonStart::Write(const QStringList& args) {
  if (RunOnStartup(0, S(kEntryName), args) == 0) return true;
  MbMessage(QStringLiteral("Cannot write ") + AutostartEntryPath(S(kEntryName)), kArcavo, false,
            MB_ICONEXCLAMATION);
  return false;
}

void TLogonStart::Delete() {
  if (RunOnStartup(1, S(kEntryName)) != 0)
    MbMessage(QStringLiteral("Cannot delete ") + AutostartEntryPath(S(kEntryName)), kArcavo, false,
              MB_ICONEXCLAMATION);
}

void TLogonStart::StartUpClick() {
  const QString startUp = S(ctl::kStartUpItem);
  const QString stealth = S(ctl::kStealthAtStartUpItem);
  if (controls_.ControlChecked(stealth) && !controls_.ControlChecked(startUp) &&
      MbMessage(S(kRemoveStealth), kArcavo, false, MB_YESNO | MB_ICONQUESTION) != IDYES)
    return;
  controls_.SetControlChecked(stealth, false);
  if (controls_.ControlChecked(startUp)) {
    controls_.SetControlChecked(startUp, false);
    Delete();
    return;
  }
  // The mark follows the file: a start that could not be registered stays unchecked.
  if (!Write({program_})) return;
  controls_.SetControlChecked(startUp, true);
  if (!controls_.ControlChecked(S(ctl::kStartMinimisedItem)) &&
      MbMessage(S(kStartMinimised), kArcavo, false, MB_YESNO | MB_ICONQUESTION) == IDYES &&
      toggleStartMinimised)
    toggleStartMinimised();
}

void TLogonStart::StealthAtStartUpClick() {
  const QString stealth = S(ctl::kStealthAtStartUpItem);
  if (controls_.ControlChecked(stealth)) {
    controls_.SetControlChecked(stealth, false);
    Delete();
    return;
  }
  if (MbMessage(S(kStealthQuestion), kArcavo, false, MB_YESNO | MB_ICONQUESTION) != IDYES) return;
  FileDialogSpec spec;
  spec.title = S(kDialogTitle);
  spec.filter = S(kJobFilter);
  spec.initialDir = jobFolder ? jobFolder() : QString();
  const QString job = dialogs_.OpenFile(spec);
  // Cancel, or a file that is not there: the item stays unchecked.
  if (job.isEmpty() || !QFileInfo(job).isFile()) return;
  if (!Write({program_, job})) return;
  controls_.SetControlChecked(stealth, true);
  controls_.SetControlChecked(S(ctl::kStartUpItem), false);
}
