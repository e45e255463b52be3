#include "app/archivename.h"

namespace {

qsizetype FileNameStart(const QString& name) {
  return name.lastIndexOf(QLatin1Char('/')) + 1;
}

}  // namespace

QString DateTimeStamp(int format, const QDateTime& now, const QLocale& locale) {
  const QDate d = now.date();
  QString month = (format == 0 || format == 2)
                      ? locale.monthName(d.month(), QLocale::ShortFormat)
                      : QStringLiteral("%1").arg(d.month(), 2, 10, QLatin1Char('0'));
  month.remove(QLatin1Char('.'));
  month.remove(QLatin1Char('/'));
  QString s = QStringLiteral("-%1-%2-%3")
                  .arg(d.year(), 4, 10, QLatin1Char('0'))
                  .arg(month)
                  .arg(d.day(), 2, 10, QLatin1Char('0'));
  if (format == 2 || format == 3) {
    s += QStringLiteral("_%1%2")
             .arg(now.time().hour(), 2, 10, QLatin1Char('0'))
             .arg(now.time().minute(), 2, 10, QLatin1Char('0'));
  }
  return s;
}

QString FileExtension(const QString& name) {
  const qsizetype start = FileNameStart(name);
  const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
  return dot >= start ? name.mid(dot) : QString();
}

QString EXTNdatetime(int flag, const QString& name, int format, const QDateTime& now,
                     const QLocale& locale) {
  const qsizetype start = FileNameStart(name);
  QString out;
  const qsizetype stamp = name.indexOf(QLatin1String("-20"), start);
  if (stamp >= 0) {
    out = name.left(stamp);
  } else {
    out = name.left(name.size() - FileExtension(name).size());
  }
  if (flag == 1) out += DateTimeStamp(format, now, locale);
  return out;
}
