// File names as the program keeps them.
//
// A Linux file name is a string of bytes; it need not be valid UTF-8. The program shows and passes
// names as QString, so the conversion must not lose anything: valid UTF-8 decodes as usual, and
// every byte that is not part of valid UTF-8 becomes the lone surrogate U+DC00 + byte (as
// Python's "surrogateescape" does). Encoding turns those back into the same bytes, so
// PathBytes(PathText(b)) == b for every byte string b. Qt's own file classes encode such
// characters lossily, so a name that came from bytes is checked and opened through the byte
// functions below, never through QFileInfo or QFile.
#pragma once

#include <QString>
#include <string>

// Bytes -> text, losing nothing.
QString PathText(const std::string& path);
// Text -> bytes; the inverse of PathText. Text typed by a user is plain UTF-8.
std::string PathBytes(const QString& path);

// What lies at path (following symbolic links), asked with the exact bytes of the name.
bool PathExists(const QString& path);
bool PathIsFile(const QString& path);
bool PathIsDir(const QString& path);
// The path made absolute against the working folder, without touching its bytes.
QString AbsolutePath(const QString& path);
// True when a name holds a carriage return or a line feed: such a name cannot be kept in a
// settings file or a one-line list, and is refused where it is chosen.
bool HasLineBreak(const QString& name);
// The message for such a name.
inline constexpr const char* kLineBreakInName =
    "A file name with a line break cannot be kept in the settings.\rPlease choose a name "
    "without one.";
