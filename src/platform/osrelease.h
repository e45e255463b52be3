// Values of the operating system's identification file (/etc/os-release, see os-release(5)):
// lines "KEY=value", the value bare or in single or double quotes, with backslash escapes inside
// double quotes; "#" starts a comment line.
#pragma once

#include <string>
#include <string_view>

// The value of key in the text of an os-release file, unquoted and unescaped; "" when the key
// is missing or its value is malformed (an unclosed quote).
std::string OsReleaseValue(std::string_view text, std::string_view key);

// PRETTY_NAME of the file at path (by default /etc/os-release, else /usr/lib/os-release as the
// format asks); "Linux" when neither can be read or neither names the system.
std::string OsPrettyName(const std::string& path = {});
