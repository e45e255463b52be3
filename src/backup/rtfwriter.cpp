#include "backup/rtfwriter.h"

QByteArray RtfEscape(const QString& line) {
  QByteArray out;
  out.reserve(line.size() + 8);
  for (const QChar c : line) {
    const char16_t u = c.unicode();
    if (u == u'\\' || u == u'{' || u == u'}') {
      out += '\\';
      out += static_cast<char>(u);
    } else if (u == u'\t') {
      out += "\\tab ";
    } else if (u < 0x20 || u == 0x7F) {
      // Control characters have no place in a paragraph.
    } else if (u < 0x80) {
      out += static_cast<char>(u);
    } else {
      out += "\\u";
      out += QByteArray::number(static_cast<int16_t>(u));
      out += '?';
    }
  }
  return out;
}

QByteArray RtfDocument(const QStringList& lines) {
  QByteArray out =
      "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1"
      "{\\fonttbl{\\f0\\fmodern\\fcharset0 Courier New;}}\n"
      "\\viewkind4\\pard\\f0\\fs20 ";
  for (qsizetype i = 0; i < lines.size(); ++i) {
    out += RtfEscape(lines.at(i));
    out += "\\par\n";
  }
  out += "}\n";
  return out;
}
