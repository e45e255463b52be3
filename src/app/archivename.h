// Date-time stamps in archive names.
//
// Formats (the "DateTimeFormat" setting): 0 "-yyyy-mmm-dd", 1 "-yyyy-mm-dd", 2 "-yyyy-mmm-dd_hhnn",
// 3 "-yyyy-mm-dd_hhnn"; mmm is the short month name of the program's locale (the user's, as
// QLocale() gives it), without the dots some languages abbreviate with ("janv.", "Jan."): a dot
// would read as the start of the name's extension. Every stamp of the program is made here.
#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

// The stamp for a moment, e.g. "-2003-Jan-03_1535" (format 2).
QString DateTimeStamp(int format, const QDateTime& now, const QLocale& locale = QLocale());

// Strips an old stamp, or else the extension, from the file-name part of name, and with flag 1
// appends a new stamp of now. The caller appends the extension it wants. An old stamp is looked
// for only inside the file name, so a folder such as /backup-2024/ never moves the archive.
QString EXTNdatetime(int flag, const QString& name, int format, const QDateTime& now,
                     const QLocale& locale = QLocale());

// The extension of the file-name part, with its dot ("" when none).
QString FileExtension(const QString& name);
