#include "platform/wildcard.h"

#include <cstdint>

namespace {

// Decodes UTF-8 into code points; a byte that does not start a valid sequence stands for itself.
std::u32string Decode(const std::string& s) {
  std::u32string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t extra = c >= 0xF0 && c < 0xF5   ? 3
                   : c >= 0xE0 && c < 0xF0 ? 2
                   : c >= 0xC2 && c < 0xE0 ? 1
                                           : 0;
    char32_t v = c & (0x3F >> extra);
    bool ok = extra > 0 && i + extra < s.size();
    for (size_t k = 1; ok && k <= extra; ++k) {
      unsigned char cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80) ok = false;
      v = (v << 6) | (cc & 0x3F);
    }
    if (ok) {
      out.push_back(v);
      i += extra + 1;
    } else {
      out.push_back(c);
      ++i;
    }
  }
  return out;
}

char32_t Lower(char32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 32;
  if (c < 0x80) return c;
  if ((c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 32;
  if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 &&
      c != 0x17F) {
    bool oddLower = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if (oddLower) return (c % 2 == 1) ? c + 1 : c;
    return (c % 2 == 0) ? c + 1 : c;
  }
  if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 32;
  if (c >= 0x410 && c <= 0x42F) return c + 32;
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  return c;
}

struct Token {
  enum Kind : uint8_t { Char, Any, Star, Set } kind;
  bool negated = false;
  char32_t ch = 0;
  std::u32string set;  // pairs of (low, high)
};

bool Compile(const std::u32string& p, std::vector<Token>& out) {
  for (size_t i = 0; i < p.size(); ++i) {
    char32_t c = p[i];
    if (c == '?') {
      out.push_back({Token::Any});
    } else if (c == '*') {
      if (out.empty() || out.back().kind != Token::Star) out.push_back({Token::Star});
    } else if (c == '<') {
      Token t{Token::Set};
      size_t j = i + 1;
      if (j < p.size() && (p[j] == '!' || p[j] == '^')) {
        t.negated = true;
        ++j;
      }
      bool closed = false;
      while (j < p.size()) {
        if (p[j] == '>') {
          closed = true;
          break;
        }
        char32_t lo = Lower(p[j]), hi = lo;
        if (j + 2 < p.size() && p[j + 1] == '-' && p[j + 2] != '>') {
          hi = Lower(p[j + 2]);
          j += 2;
        }
        t.set.push_back(lo);
        t.set.push_back(hi);
        ++j;
      }
      if (!closed) return false;
      out.push_back(std::move(t));
      i = j;
    } else {
      Token t{Token::Char};
      t.ch = Lower(c);
      out.push_back(std::move(t));
    }
  }
  return true;
}

bool MatchOne(const Token& t, char32_t c) {
  switch (t.kind) {
    case Token::Any:
      return true;
    case Token::Char:
      return t.ch == c;
    case Token::Set: {
      bool in = false;
      for (size_t k = 0; k + 1 < t.set.size(); k += 2)
        if (c >= t.set[k] && c <= t.set[k + 1]) in = true;
      return in != t.negated;
    }
    case Token::Star:
      return true;
  }
  return false;
}

bool IsStarAsciiTail(const std::string& pattern) {
  if (pattern.size() < 2 || pattern[0] != '*') return false;
  for (size_t i = 1; i < pattern.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(pattern[i]);
    if (c >= 0x80 || c == '*' || c == '?' || c == '<') return false;
  }
  return true;
}

unsigned char AsciiLower(unsigned char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c;
}

}  // namespace

bool WildcardMatch(const std::string& pattern, const std::string& text) {
  if (pattern == "*") return true;
  // "*" and a plain ASCII tail ("*.JPG", the common pattern of a list): the text's last bytes,
  // compared without case. No character outside ASCII lowers to one inside it, so a tail that
  // is not all ASCII cannot match.
  if (IsStarAsciiTail(pattern)) {
    const size_t n = pattern.size() - 1;
    if (text.size() < n) return false;
    for (size_t i = 0; i < n; ++i) {
      const unsigned char t = static_cast<unsigned char>(text[text.size() - n + i]);
      if (t >= 0x80 || AsciiLower(t) != AsciiLower(static_cast<unsigned char>(pattern[1 + i])))
        return false;
    }
    return true;
  }
  std::vector<Token> tokens;
  if (!Compile(Decode(pattern), tokens)) return false;
  std::u32string s = Decode(text);
  for (auto& c : s) c = Lower(c);

  // Simulates the pattern as an automaton: active[k] means the first k tokens can match the text
  // read so far.
  const size_t m = tokens.size();
  std::vector<char> active(m + 1, 0), next(m + 1, 0);
  auto closure = [&](std::vector<char>& st) {
    for (size_t k = 0; k < m; ++k)
      if (st[k] && tokens[k].kind == Token::Star) st[k + 1] = 1;
  };
  active[0] = 1;
  closure(active);
  for (char32_t c : s) {
    std::fill(next.begin(), next.end(), 0);
    bool any = false;
    for (size_t k = 0; k < m; ++k) {
      if (!active[k]) continue;
      if (tokens[k].kind == Token::Star) {
        next[k] = 1;
        any = true;
      } else if (MatchOne(tokens[k], c)) {
        next[k + 1] = 1;
        any = true;
      }
    }
    if (!any) return false;
    closure(next);
    active.swap(next);
  }
  return active[m] != 0;
}

bool MatchesPatternList(const std::vector<std::string>& list, const std::string& path) {
  size_t slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  for (const auto& p : list) {
    if (p.find('/') != std::string::npos) {
      if (WildcardMatch(p, path)) return true;
    } else if (WildcardMatch(p, name)) {
      return true;
    }
  }
  return false;
}
