// The command line: FILE (a job, catalogue or archive to open) and ACTION (what to do after an
// unattended run).
#pragma once

#include <QString>
#include <QStringList>

// True when ACTION is accepted: lower-cased, it occurs inside "closehibernateshutdown" (so
// "Hiber" and "e" pass, "reboot" does not).
bool IsAcceptedAction(const QString& action);

// The message shown for a first argument that is not an existing file.
QString MissingFileMessage(const QString& file);
// The message shown for a second argument that is not accepted.
QString InvalidOptionMessage(const QString& action);

// The kind of FILE by its upper-cased extension.
enum class FileKind { Other, Archive, Job };
FileKind KindOfFile(const QString& file);

// Checks the arguments (program name excluded) in the order of start-up: a first argument that
// is not an existing file, then a second argument that is not accepted. Returns "" when both
// are fine, otherwise the message to show before terminating.
QString CheckCommandLine(const QStringList& args);
