#include "app/pathbytes.h"

#include <sys/stat.h>
#include <unistd.h>

namespace {

// Length of the valid UTF-8 sequence starting at s[i] (0 when it is not one): no overlong
// forms, no encoded surrogates, nothing above U+10FFFF.
size_t Utf8Length(const std::string& s, size_t i, char32_t& cp) {
  const auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = b(i);
  auto cont = [&](size_t k) { return k < s.size() && (b(k) & 0xC0) == 0x80; };
  if (c < 0x80) {
    cp = c;
    return 1;
  }
  if (c >= 0xC2 && c <= 0xDF && cont(i + 1)) {
    cp = (char32_t(c & 0x1F) << 6) | (b(i + 1) & 0x3F);
    return 2;
  }
  if (c >= 0xE0 && c <= 0xEF && cont(i + 1) && cont(i + 2)) {
    cp = (char32_t(c & 0x0F) << 12) | (char32_t(b(i + 1) & 0x3F) << 6) | (b(i + 2) & 0x3F);
    if (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return 3;
  }
  if (c >= 0xF0 && c <= 0xF4 && cont(i + 1) && cont(i + 2) && cont(i + 3)) {
    cp = (char32_t(c & 0x07) << 18) | (char32_t(b(i + 1) & 0x3F) << 12) |
         (char32_t(b(i + 2) & 0x3F) << 6) | (b(i + 3) & 0x3F);
    if (cp < 0x10000 || cp > 0x10FFFF) return 0;
    return 4;
  }
  return 0;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

bool Stat(const QString& path, struct stat& st) {
  if (path.isEmpty()) return false;
  return ::stat(PathBytes(path).c_str(), &st) == 0;
}

}  // namespace

QString PathText(const std::string& path) {
  QString out;
  out.reserve(static_cast<qsizetype>(path.size()));
  for (size_t i = 0; i < path.size();) {
    char32_t cp = 0;
    const size_t n = Utf8Length(path, i, cp);
    if (n == 0) {
      out += QChar(static_cast<char16_t>(0xDC00 + static_cast<unsigned char>(path[i])));
      ++i;
      continue;
    }
    if (cp < 0x10000) {
      out += QChar(static_cast<char16_t>(cp));
    } else {
      out += QChar(QChar::highSurrogate(cp));
      out += QChar(QChar::lowSurrogate(cp));
    }
    i += n;
  }
  return out;
}

std::string PathBytes(const QString& path) {
  std::string out;
  out.reserve(static_cast<size_t>(path.size()));
  for (qsizetype i = 0; i < path.size(); ++i) {
    const char16_t u = path[i].unicode();
    if (QChar::isHighSurrogate(u) && i + 1 < path.size() && path[i + 1].isLowSurrogate()) {
      AppendUtf8(out, QChar::surrogateToUcs4(u, path[i + 1].unicode()));
      ++i;
    } else if (u >= 0xDC80 && u <= 0xDCFF) {
      out += static_cast<char>(u - 0xDC00);  // a byte kept from a name that was not UTF-8
    } else if (QChar::isSurrogate(u)) {
      AppendUtf8(out, 0xFFFD);
    } else {
      AppendUtf8(out, u);
    }
  }
  return out;
}

bool PathExists(const QString& path) {
  struct stat st;
  return Stat(path, st);
}

bool PathIsFile(const QString& path) {
  struct stat st;
  return Stat(path, st) && S_ISREG(st.st_mode);
}

bool PathIsDir(const QString& path) {
  struct stat st;
  return Stat(path, st) && S_ISDIR(st.st_mode);
}

QString AbsolutePath(const QString& path) {
  if (path.isEmpty() || path.startsWith(QLatin1Char('/'))) return path;
  char cwd[4096];
  if (!::getcwd(cwd, sizeof cwd)) return path;
  QString base = PathText(cwd);
  if (!base.endsWith(QLatin1Char('/'))) base += QLatin1Char('/');
  QString rel = path;
  while (rel.startsWith(QStringLiteral("./"))) rel.remove(0, 2);
  return base + rel;
}

bool HasLineBreak(const QString& name) {
  return name.contains(QLatin1Char('\r')) || name.contains(QLatin1Char('\n'));
}
