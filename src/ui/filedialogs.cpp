#include "ui/filedialogs.h"

#include <QFileDialog>

#include "app/mb.h"

QString TQtFileDialogHost::QtFilter(const QString& filter) {
  const QStringList parts = filter.split(QLatin1Char('|'));
  QStringList out;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QStringList patterns;
    for (const QString& p : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
      for (const QString& variant : {p, p.toLower(), p.toUpper()})
        if (!patterns.contains(variant)) patterns << variant;
    }
    out << parts[i] + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
  }
  return out.join(QStringLiteral(";;"));
}

QString TQtFileDialogHost::OpenFile(const FileDialogSpec& spec) {
  if (MbUnattendedCancel(spec.title.isEmpty() ? QStringLiteral("Open") : spec.title)) return {};
  return QFileDialog::getOpenFileName(parent_, spec.title, spec.initialDir, QtFilter(spec.filter));
}

QString TQtFileDialogHost::SaveFile(const FileDialogSpec& spec) {
  if (MbUnattendedCancel(spec.title.isEmpty() ? QStringLiteral("Save As") : spec.title)) return {};
  const QString start = spec.fileName.isEmpty() ? spec.initialDir : spec.fileName;
  return QFileDialog::getSaveFileName(parent_, spec.title, start, QtFilter(spec.filter));
}
