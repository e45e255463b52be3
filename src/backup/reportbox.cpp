#include "backup/reportbox.h"

#include <QStringDecoder>

QStringList SplitBoxLines(const QString& text, bool keepTrailing) {
  QStringList out;
  qsizetype start = 0;  // where the current line begins
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text.at(i);
    if (c != QLatin1Char('\r') && c != QLatin1Char('\n')) continue;
    out << text.mid(start, i - start);
    if (c == QLatin1Char('\r') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n')) ++i;
    start = i + 1;
    if (start == text.size() && keepTrailing) out << QString();
  }
  // The text after the last break (all of it, shared, when it holds none).
  if (start < text.size())
    out << (start == 0 ? text : text.mid(start));
  else if (text.isEmpty() && keepTrailing)
    out << QString();
  return out;
}

QString CommentText(const std::string& comment) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = utf8(QByteArrayView(comment.data(), static_cast<qsizetype>(comment.size())));
  if (!utf8.hasError()) return text;
  return QString::fromLatin1(comment.data(), static_cast<qsizetype>(comment.size()));
}

QStringList CommentToLines(const std::string& comment) {
  return SplitBoxLines(CommentText(comment), false);
}

std::string LinesToComment(const QStringList& lines) {
  std::string out;
  for (const QString& l : lines) {
    out += l.toUtf8().toStdString();
    out += "\r\n";
  }
  return out;
}
