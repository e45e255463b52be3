#include "disc/isonames.h"

#include <algorithm>
#include <cstdint>

namespace {

char UpperAscii(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
}

std::string UpperAscii(std::string s) {
  for (auto& c : s) c = UpperAscii(c);
  return s;
}

// Decodes one UTF-8 character at s[i]; returns its length, or 0 when s[i] does not start a valid
// (shortest-form, non-surrogate) sequence.
size_t DecodeUtf8(const std::string& s, size_t i, char32_t& out) {
  const auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = b(i);
  if (c < 0x80) {
    out = c;
    return 1;
  }
  size_t extra;
  char32_t v, min;
  if (c >= 0xC2 && c < 0xE0) {
    extra = 1, v = c & 0x1F, min = 0x80;
  } else if (c >= 0xE0 && c < 0xF0) {
    extra = 2, v = c & 0x0F, min = 0x800;
  } else if (c >= 0xF0 && c < 0xF5) {
    extra = 3, v = c & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (i + extra >= s.size()) return 0;
  for (size_t k = 1; k <= extra; ++k) {
    if ((b(i + k) & 0xC0) != 0x80) return 0;
    v = (v << 6) | (b(i + k) & 0x3F);
  }
  if (v < min || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0;
  out = v;
  return extra + 1;
}

bool IsJolietForbidden(char32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c > 0xFFFF || c == '*' || c == '/' || c == ':' ||
         c == ';' || c == '?' || c == '\\';
}

std::string Tilde(unsigned n) {
  return '~' + std::to_string(n);
}

std::u16string Tilde16(unsigned n) {
  std::u16string out;
  for (char c : Tilde(n)) out.push_back(static_cast<char16_t>(c));
  return out;
}

// The characters of s that may stand in an 8.3 name, upper-cased.
std::string ValidShortChars(const std::string& s) {
  std::string out;
  for (char c : s) {
    c = UpperAscii(c);
    if (IsShortNameChar(c)) out.push_back(c);
  }
  return out;
}

}  // namespace

bool IsShortNameChar(char c) {
  if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  switch (c) {
    case '!':
    case '#':
    case '$':
    case '%':
    case '&':
    case '\'':
    case '(':
    case ')':
    case '-':
    case '@':
    case '^':
    case '_':
    case '`':
    case '{':
    case '}':
    case '~':
      return true;
    default:
      return false;
  }
}

bool IsValid83(const std::string& name) {
  const size_t dot = name.find('.');
  const std::string stem = name.substr(0, dot);
  const std::string ext = dot == std::string::npos ? "" : name.substr(dot + 1);
  if (stem.empty() || stem.size() > 8 || ext.size() > 3) return false;
  for (char c : stem)
    if (!IsShortNameChar(c)) return false;
  for (char c : ext)
    if (!IsShortNameChar(c)) return false;
  return true;
}

std::u16string JolietFromUtf8(const std::string& name) {
  std::u16string out;
  out.reserve(name.size());
  size_t i = 0;
  while (i < name.size()) {
    char32_t c = 0;
    const size_t n = DecodeUtf8(name, i, c);
    if (n == 0) {
      out.push_back(u'_');
      ++i;
      continue;
    }
    out.push_back(IsJolietForbidden(c) ? u'_' : static_cast<char16_t>(c));
    i += n;
  }
  return out;
}

std::string Utf8FromUcs2(const std::u16string& name) {
  std::string out;
  out.reserve(name.size());
  for (char16_t c : name) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

std::string TNameScope::ShortName83(const std::string& longName, bool isFile) {
  const std::string upper = UpperAscii(longName);
  if (isFile ? IsValid83(upper) : (upper.find('.') == std::string::npos && IsValid83(upper))) {
    if (!HasShort(upper)) return upper;
  }
  std::string stem = longName, ext;
  if (isFile) {
    const size_t dot = longName.rfind('.');
    if (dot != std::string::npos) {
      stem = longName.substr(0, dot);
      ext = ValidShortChars(longName.substr(dot + 1)).substr(0, 3);
    }
  }
  const std::string valid = ValidShortChars(stem);
  const std::string tail = isFile ? "." + ext : "";
  const std::string key = "8|" + valid.substr(0, 6) + "|" + tail;
  for (unsigned n = NextHint(key);; ++n) {
    const std::string suffix = Tilde(n);
    const size_t room = suffix.size() >= 8 ? 0 : 8 - suffix.size();
    const std::string candidate = valid.substr(0, std::min<size_t>(6, room)) + suffix + tail;
    if (!HasShort(candidate)) {
      hints_[key] = n + 1;
      return candidate;
    }
  }
}

std::string TNameScope::ShortName13(const std::string& longName) {
  std::string name;
  size_t i = 0;
  while (i < longName.size() && name.size() < 13) {
    char32_t c = 0;
    const size_t n = DecodeUtf8(longName, i, c);
    i += n == 0 ? 1 : n;
    if (n == 0 || c < '!' || c > 'z' || c == ';' || c == '/') {
      name.push_back('_');
    } else {
      name.push_back(UpperAscii(static_cast<char>(c)));
    }
  }
  if (name.empty()) name = '_';
  if (!HasShort(name)) return name;
  const std::string key = "13|" + name;
  for (unsigned n = NextHint(key);; ++n) {
    const std::string suffix = Tilde(n);
    const std::string candidate = name.substr(0, 13 - std::min<size_t>(12, suffix.size())) + suffix;
    if (!HasShort(candidate)) {
      hints_[key] = n + 1;
      return candidate;
    }
  }
}

std::string TNameScope::FixShortName(const std::string& shortName, bool isFile) {
  std::string name;
  for (char c : shortName) {
    c = UpperAscii(c);
    name.push_back(c <= ' ' || c > '~' || c == ';' || c == '/' ? '_' : c);
  }
  if (name.size() > 30) name.resize(30);
  if (name.empty()) name = '_';
  if (isFile && name.find('.') == std::string::npos) {
    if (name.size() == 30) name.pop_back();
    name.push_back('.');
  }
  if (!HasShort(name)) return name;
  const size_t dot = isFile ? name.rfind('.') : std::string::npos;
  const std::string stem = name.substr(0, dot);
  const std::string tail = dot == std::string::npos ? "" : name.substr(dot).substr(0, 4);
  const std::string key = "F|" + stem + "|" + tail;
  for (unsigned n = NextHint(key);; ++n) {
    const std::string suffix = Tilde(n);
    const std::string candidate = stem.substr(0, 20) + suffix + tail;
    if (!HasShort(candidate)) {
      hints_[key] = n + 1;
      return candidate;
    }
  }
}

std::u16string TNameScope::ExactJolietName(const std::string& longName, bool isFile) {
  const size_t max = isFile ? kMaxJolietFileChars : kMaxJolietDirChars;
  std::u16string name = JolietFromUtf8(longName);
  if (name.empty() || name.size() > max || Utf8FromUcs2(name) != longName) return {};
  return name;
}

std::u16string TNameScope::JolietName(const std::string& longName, bool isFile, bool* displaces) {
  const size_t max = isFile ? kMaxJolietFileChars : kMaxJolietDirChars;
  if (displaces) {
    *displaces = false;
    const std::u16string exact = ExactJolietName(longName, isFile);
    const auto held = exact.empty() ? jolietNames_.end() : jolietNames_.find(exact);
    if (held != jolietNames_.end() && held->second) {
      *displaces = true;
      return exact;
    }
  }
  std::u16string name = JolietFromUtf8(longName);
  if (name.empty()) name = u'_';
  if (name.size() <= max && !HasJoliet(name)) return name;
  std::u16string stem = name, ext;
  if (isFile) {
    const size_t dot = name.rfind(u'.');
    // A leading dot marks a hidden name, not an extension; an "extension" of half the room or
    // more is cut like the rest of the name.
    if (dot != std::u16string::npos && dot > 0 && name.size() - dot < max / 2) {
      stem = name.substr(0, dot);
      ext = name.substr(dot);
    }
  }
  if (name.size() > max) {
    const std::u16string cut = stem.substr(0, max - ext.size()) + ext;
    if (!HasJoliet(cut)) return cut;
  }
  std::string key = "J|" + Utf8FromUcs2(stem.substr(0, max)) + "|" + Utf8FromUcs2(ext);
  for (unsigned n = NextHint(key);; ++n) {
    const std::u16string suffix = Tilde16(n);
    const size_t room = max - ext.size() - suffix.size();
    const std::u16string candidate = stem.substr(0, room) + suffix + ext;
    if (!HasJoliet(candidate)) {
      hints_[key] = n + 1;
      return candidate;
    }
  }
}

unsigned TNameScope::NextHint(const std::string& key) const {
  const auto it = hints_.find(key);
  return it == hints_.end() ? 1 : it->second;
}
