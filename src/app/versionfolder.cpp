#include "app/versionfolder.h"

#include <algorithm>

namespace {

// The position of the first version folder in path (at its start or after a "/"), or npos.
template <class String, class Char>
qsizetype FirstVersionFolder(const String& path, Char hash, Char slash) {
  const qsizetype n = static_cast<qsizetype>(path.size());
  for (qsizetype i = 0; i + 10 < n; ++i) {
    if (path[i] != hash || (i > 0 && path[i - 1] != slash)) continue;
    if (path[i + 9] != hash || path[i + 10] != slash) continue;
    bool inside = true;
    for (qsizetype k = i + 1; k < i + 9 && inside; ++k) inside = path[k] != slash;
    if (inside) return i;
  }
  return -1;
}

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

}  // namespace

std::string NoSuffix(const std::string& path) {
  const qsizetype at = FirstVersionFolder(path, '#', '/');
  return at < 0 ? path : path.substr(0, static_cast<size_t>(at));
}

QString NoSuffix(const QString& path) {
  const qsizetype at = FirstVersionFolder(path, QLatin1Char('#'), QLatin1Char('/'));
  return at < 0 ? path : path.left(at);
}

std::vector<uint32_t> VersionFolderValues(const std::string& storedPath) {
  std::vector<uint32_t> out;
  size_t pos = 0;
  while ((pos = storedPath.find('#', pos)) != std::string::npos) {
    const bool startsComponent = pos == 0 || storedPath[pos - 1] == '/';
    if (startsComponent && pos + 9 < storedPath.size() && storedPath[pos + 9] == '#' &&
        (pos + 10 == storedPath.size() || storedPath[pos + 10] == '/') &&
        std::all_of(storedPath.begin() + static_cast<std::ptrdiff_t>(pos + 1),
                    storedPath.begin() + static_cast<std::ptrdiff_t>(pos + 9), IsHexDigit)) {
      out.push_back(static_cast<uint32_t>(std::stoul(storedPath.substr(pos + 1, 8), nullptr, 16)));
      pos += 10;
    } else {
      ++pos;
    }
  }
  return out;
}
