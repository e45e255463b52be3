// The folder verb: an ">Arcavo" entry in the file managers' context menu of folders, starting
// the program with the folder as first argument (a running instance then takes the folder over).
//
// The verb is a set of per-user action files under $XDG_DATA_HOME (default ~/.local/share): a
// KDE service menu, a Nemo action and a Nautilus script. Each file is written only where that
// file manager's own data folder already exists, and removal deletes exactly these files. The
// program is never made the default opener of folders.
#pragma once

#include <QString>
#include <QVector>

struct FolderVerbFile {
  QString path;
  QString content;
  // The folder that must already exist for this file to be written.
  QString requiredFolder;
};

// The files of the verb for the program at programPath.
QVector<FolderVerbFile> FolderVerbFiles(const QString& programPath);

// Writes the verb files whose file manager is present; returns how many were written. A file
// that cannot be written is left out.
int RegisterApp(const QString& programPath);
// Deletes the verb files that exist; returns how many were deleted.
int UNRegisterApp();

// Quotes one argument of a desktop entry's Exec key (before the key's own escaping).
QString QuoteExecArg(const QString& arg);
