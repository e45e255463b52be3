#include "app/commandline.h"

#include <QFileInfo>

#include "app/pathbytes.h"

bool IsAcceptedAction(const QString& action) {
  return QStringLiteral("closehibernateshutdown").contains(action.toLower());
}

QString MissingFileMessage(const QString& file) {
  return QStringLiteral("File '") + file + QStringLiteral("' does not exist");
}

QString InvalidOptionMessage(const QString& action) {
  return QStringLiteral("'") + action.toUpper() + QStringLiteral("' invalid option");
}

FileKind KindOfFile(const QString& file) {
  const QString name = QFileInfo(file).fileName().toUpper();
  if (name.endsWith(QStringLiteral(".ZIP"))) return FileKind::Archive;
  if (name.endsWith(QStringLiteral(".JOB")) || name.endsWith(QStringLiteral(".CAT")))
    return FileKind::Job;
  return FileKind::Other;
}

QString CheckCommandLine(const QStringList& args) {
  if (args.isEmpty()) return {};
  if (!PathExists(args.at(0)) || PathIsDir(args.at(0))) return MissingFileMessage(args.at(0));
  if (args.size() > 1 && !IsAcceptedAction(args.at(1))) return InvalidOptionMessage(args.at(1));
  return {};
}
