// A small RTF writer for the report box: one paragraph per line in a fixed-pitch font.
//
// Text is escaped for RTF: "\", "{" and "}" are quoted, a tab becomes \tab, other control
// characters are dropped, and every character outside ASCII is written as \uN? (its UTF-16
// units as signed 16-bit numbers, "?" as the fallback for readers without Unicode).
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// One line's text as RTF (without the paragraph mark).
QByteArray RtfEscape(const QString& line);
// A complete RTF document holding the lines.
QByteArray RtfDocument(const QStringList& lines);
