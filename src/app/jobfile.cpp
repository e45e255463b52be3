#include "app/jobfile.h"

#include <fstream>
#include <sstream>
#include <unordered_set>

#include "platform/inifile.h"

namespace {

// Length of the valid UTF-8 sequence starting at s[i], or 0 when the bytes there are not one
// (overlong forms, surrogates and values above U+10FFFF count as invalid).
size_t Utf8SequenceLength(const std::string& s, size_t i) {
  const auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = b(i);
  if (c < 0x80) return 1;
  size_t n;
  unsigned cp;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
    cp = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    cp = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    cp = c & 0x07;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    if ((b(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b(i + k) & 0x3F);
  }
  if (n == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) return 0;
  if (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) return 0;
  return n;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

void AppendEscaped(std::string& out, unsigned char c) {
  static const char* digits = "0123456789ABCDEF";
  out += '%';
  out += digits[c >> 4];
  out += digits[c & 15];
}

// Drops a trailing "/" (but keeps the root).
std::string Normalised(std::string p) {
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  return p;
}

}  // namespace

std::string JobEscape(const std::string& path) {
  std::string out;
  out.reserve(path.size());
  size_t i = 0;
  while (i < path.size()) {
    const unsigned char c = static_cast<unsigned char>(path[i]);
    if (c == '%' || c == '\t' || c == '\r' || c == '\n') {
      AppendEscaped(out, c);
      ++i;
      continue;
    }
    const size_t n = Utf8SequenceLength(path, i);
    if (n == 0) {
      AppendEscaped(out, c);
      ++i;
    } else {
      out.append(path, i, n);
      i += n;
    }
  }
  return out;
}

std::string JobUnescape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
        HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string FormatJob(const std::vector<JobEntry>& entries) {
  std::string out = kJobMagic;
  out += '\n';
  for (const JobEntry& e : entries) {
    out += e.checked ? 'C' : 'M';
    out += '\t';
    out += e.folder ? 'D' : 'F';
    out += '\t';
    out += JobEscape(e.path);
    out += '\n';
  }
  return out;
}

bool ParseJob(const std::string& text, std::vector<JobEntry>& entries, std::string* error) {
  entries.clear();
  auto fail = [&](const std::string& why) {
    entries.clear();
    if (error) *error = why;
    return false;
  };
  std::istringstream in(text);
  std::string line;
  bool first = true;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (first) {
      // A byte-order mark from an editor is tolerated.
      if (line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);
      if (line != kJobMagic) return fail("not a job");
      first = false;
      continue;
    }
    if (line.empty()) continue;
    if (line.size() < 5 || (line[0] != 'C' && line[0] != 'M') || line[1] != '\t' ||
        (line[2] != 'D' && line[2] != 'F') || line[3] != '\t') {
      return fail("line " + std::to_string(number) + " is not a job entry");
    }
    JobEntry e;
    e.checked = line[0] == 'C';
    e.folder = line[2] == 'D';
    e.path = Normalised(JobUnescape(line.substr(4)));
    if (e.path.empty() || e.path[0] != '/') {
      return fail("line " + std::to_string(number) + " has no absolute path");
    }
    entries.push_back(std::move(e));
  }
  if (first) return fail("not a job");
  return true;
}

bool ReadJobFile(const std::string& path, std::vector<JobEntry>& entries, std::string* error) {
  std::ifstream f(path, std::ios::binary);
  if (!f) {
    entries.clear();
    if (error) *error = "cannot be read";
    return false;
  }
  std::ostringstream ss;
  ss << f.rdbuf();
  return ParseJob(ss.str(), entries, error);
}

void WriteJobFile(const std::string& path, const std::vector<JobEntry>& entries) {
  WriteFileAtomically(path, FormatJob(entries));
}

bool IsPathBelow(const std::string& path, const std::string& ancestor) {
  if (ancestor == "/") return path.size() > 1 && path[0] == '/';
  return path.size() > ancestor.size() + 1 && path.compare(0, ancestor.size(), ancestor) == 0 &&
         path[ancestor.size()] == '/';
}

std::vector<std::string> JobTickedPaths(const std::vector<JobEntry>& entries) {
  std::unordered_set<std::string> checked;
  for (const JobEntry& e : entries) {
    if (e.checked) checked.insert(e.path);
  }
  // A checked path is topmost when none of its parent folders is checked too.
  auto covered = [&](const std::string& p) {
    for (size_t slash = p.rfind('/'); slash != std::string::npos && slash > 0;
         slash = p.rfind('/', slash - 1)) {
      if (checked.count(p.substr(0, slash))) return true;
    }
    return p != "/" && checked.count("/") != 0;
  };
  std::vector<std::string> out;
  std::unordered_set<std::string> seen;
  for (const JobEntry& e : entries) {
    if (e.checked && !covered(e.path) && seen.insert(e.path).second) out.push_back(e.path);
  }
  return out;
}
