#include "app/folderverb.h"

#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdlib>
#include <stdexcept>

#include "platform/inifile.h"

namespace {

QString DataHome() {
  const char* x = std::getenv("XDG_DATA_HOME");
  if (x && *x == '/') return QFile::decodeName(x);
  return QDir::homePath() + QStringLiteral("/.local/share");
}

// Escapes a value of a desktop entry: backslash and control characters.
QString EscapeValue(const QString& v) {
  QString out;
  for (QChar c : v) {
    if (c == QLatin1Char('\\'))
      out += QStringLiteral("\\\\");
    else if (c == QLatin1Char('\n'))
      out += QStringLiteral("\\n");
    else if (c == QLatin1Char('\t'))
      out += QStringLiteral("\\t");
    else if (c == QLatin1Char('\r'))
      out += QStringLiteral("\\r");
    else
      out += c;
  }
  return out;
}

QString ShellQuote(const QString& s) {
  QString q = s;
  q.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
  return QLatin1Char('\'') + q + QLatin1Char('\'');
}

const char kLabel[] = ">Arcavo";

}  // namespace

QString QuoteExecArg(const QString& arg) {
  QString out = QStringLiteral("\"");
  for (QChar c : arg) {
    if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
        c == QLatin1Char('\\'))
      out += QLatin1Char('\\');
    // A literal percent sign would be taken as a field code.
    if (c == QLatin1Char('%')) out += QLatin1Char('%');
    out += c;
  }
  return out + QLatin1Char('"');
}

QVector<FolderVerbFile> FolderVerbFiles(const QString& programPath) {
  const QString data = DataHome();
  const QString exec = EscapeValue(QuoteExecArg(programPath));
  const QString label = QString::fromLatin1(kLabel);

  const QString kde = QStringLiteral(
                          "[Desktop Entry]\n"
                          "Type=Service\n"
                          "X-KDE-ServiceTypes=KonqPopupMenu/Plugin\n"
                          "MimeType=inode/directory;\n"
                          "Actions=arcavoFolder;\n"
                          "\n"
                          "[Desktop Action arcavoFolder]\n"
                          "Name=%1\n"
                          "Icon=document-save\n"
                          "Exec=%2 %f\n")
                          .arg(label, exec);
  const QString nemo = QStringLiteral(
                           "[Nemo Action]\n"
                           "Name=%1\n"
                           "Comment=Back up this folder with Arcavo\n"
                           "Exec=%2 %F\n"
                           "Selection=s\n"
                           "Extensions=dir;\n")
                           .arg(label, exec);
  const QString nautilus = QStringLiteral(
                               "#!/bin/sh\n"
                               "# Hands the chosen folder to Arcavo.\n"
                               "exec %1 \"$1\"\n")
                               .arg(ShellQuote(programPath));
  return {
      {data + QStringLiteral("/kio/servicemenus/arcavo-folder.desktop"), kde,
       data + QStringLiteral("/kio")},
      {data + QStringLiteral("/kservices5/ServiceMenus/arcavo-folder.desktop"), kde,
       data + QStringLiteral("/kservices5")},
      {data + QStringLiteral("/nemo/actions/arcavo-folder.nemo_action"), nemo,
       data + QStringLiteral("/nemo")},
      {data + QStringLiteral("/nautilus/scripts/Arcavo"), nautilus,
       data + QStringLiteral("/nautilus")},
  };
}

int RegisterApp(const QString& programPath) {
  int written = 0;
  for (const FolderVerbFile& f : FolderVerbFiles(programPath)) {
    if (!QFileInfo(f.requiredFolder).isDir()) continue;
    const QString folder = QFileInfo(f.path).absolutePath();
    if (!QDir().mkpath(folder)) continue;
    try {
      const QByteArray path = QFile::encodeName(f.path);
      WriteFileAtomically(path.toStdString(), f.content.toUtf8().toStdString());
      // Service menus and scripts must be executable to be offered.
      ::chmod(path.constData(), 0755);
      ++written;
    } catch (const std::exception&) {
      // This file manager does not get the verb; the others still do.
    }
  }
  return written;
}

int UNRegisterApp() {
  int deleted = 0;
  for (const FolderVerbFile& f : FolderVerbFiles(QString()))
    if (QFileInfo::exists(f.path) && QFile::remove(f.path)) ++deleted;
  return deleted;
}
