#include "platform/inifile.h"

#include <cerrno>
#include <charconv>
#include <fstream>
#include <sstream>
#include <system_error>

#include "platform/atomicfile.h"

std::function<void(const std::string&)> IniFile::beforeRenameHook;

namespace {

bool EqualNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

}  // namespace

IniFile::IniFile(std::string path) : path_(std::move(path)) {
  Load();
}

bool IniFile::Load() {
  preamble_.clear();
  sections_.clear();
  std::ifstream in(path_, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  Parse(s.str());
  return true;
}

void IniFile::Parse(const std::string& text) {
  preamble_.clear();
  sections_.clear();
  size_t pos = 0;
  // A UTF-8 byte order mark is not part of the first line.
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) pos = 3;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string t = Trim(line);
    if (!t.empty() && t.front() == '[') {
      size_t close = t.find(']');
      std::string name =
          Trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
      if (!Find(name)) sections_.push_back({name, {}});
      continue;
    }
    if (sections_.empty()) {
      if (!line.empty()) preamble_.push_back(line);
      continue;
    }
    Section& sec = sections_.back();
    size_t eq = t.find('=');
    if (t.empty() || t.front() == ';' || t.front() == '#' || eq == std::string::npos || eq == 0) {
      // Keep comments and stray lines where they were; blank lines are dropped (they are
      // re-created between sections on writing).
      if (!t.empty()) sec.lines.push_back({{}, line, true});
      continue;
    }
    std::string key = Trim(t.substr(0, eq));
    std::string value = Trim(t.substr(eq + 1));
    // The first occurrence of a key wins, as with the Windows API.
    if (!FindKey(sec, key)) sec.lines.push_back({key, value, false});
  }
}

std::string IniFile::Text() const {
  std::string out;
  for (const auto& l : preamble_) out += l + "\n";
  for (size_t i = 0; i < sections_.size(); ++i) {
    if (i > 0 || !preamble_.empty()) out += "\n";
    out += "[" + sections_[i].name + "]\n";
    for (const auto& l : sections_[i].lines)
      out += l.raw ? l.value + "\n" : l.key + "=" + l.value + "\n";
  }
  return out;
}

void IniFile::Save() const {
  WriteFileAtomically(path_, Text());
}

void IniFile::SaveAs(const std::string& path) {
  path_ = path;
  Save();
}

IniFile::Section* IniFile::Find(const std::string& section) {
  for (auto& s : sections_)
    if (EqualNoCase(s.name, section)) return &s;
  return nullptr;
}

const IniFile::Section* IniFile::Find(const std::string& section) const {
  for (const auto& s : sections_)
    if (EqualNoCase(s.name, section)) return &s;
  return nullptr;
}

const IniFile::Line* IniFile::FindKey(const Section& s, const std::string& key) {
  for (const auto& l : s.lines)
    if (!l.raw && EqualNoCase(l.key, key)) return &l;
  return nullptr;
}

std::string IniFile::ReadString(const std::string& section, const std::string& key,
                                const std::string& def) const {
  const Section* s = Find(section);
  if (!s) return def;
  const Line* l = FindKey(*s, key);
  return l ? l->value : def;
}

int64_t IniFile::ReadInteger(const std::string& section, const std::string& key,
                             int64_t def) const {
  const Section* s = Find(section);
  const Line* l = s ? FindKey(*s, key) : nullptr;
  if (!l) return def;
  const std::string& v = l->value;
  int64_t result = 0;
  const char* first = v.data();
  const char* last = v.data() + v.size();
  if (first != last && *first == '+') ++first;
  auto [ptr, ec] = std::from_chars(first, last, result);
  if (ec != std::errc() || ptr != last || first == last) return def;
  return result;
}

bool IniFile::ReadBool(const std::string& section, const std::string& key, bool def) const {
  return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void IniFile::WriteString(const std::string& section, const std::string& key,
                          const std::string& value) {
  Section* s = Find(section);
  if (!s) {
    sections_.push_back({section, {}});
    s = &sections_.back();
  }
  for (auto& l : s->lines) {
    if (!l.raw && EqualNoCase(l.key, key)) {
      l.value = value;
      return;
    }
  }
  s->lines.push_back({key, value, false});
}

void IniFile::WriteInteger(const std::string& section, const std::string& key, int64_t value) {
  WriteString(section, key, std::to_string(value));
}

void IniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

bool IniFile::SectionExists(const std::string& section) const {
  return Find(section) != nullptr;
}

bool IniFile::ValueExists(const std::string& section, const std::string& key) const {
  const Section* s = Find(section);
  return s && FindKey(*s, key);
}

std::vector<std::string> IniFile::Sections() const {
  std::vector<std::string> r;
  for (const auto& s : sections_) r.push_back(s.name);
  return r;
}

std::vector<std::string> IniFile::Keys(const std::string& section) const {
  std::vector<std::string> r;
  if (const Section* s = Find(section))
    for (const auto& l : s->lines)
      if (!l.raw) r.push_back(l.key);
  return r;
}

void IniFile::EraseSection(const std::string& section) {
  for (auto it = sections_.begin(); it != sections_.end(); ++it) {
    if (EqualNoCase(it->name, section)) {
      sections_.erase(it);
      return;
    }
  }
}

void IniFile::DeleteKey(const std::string& section, const std::string& key) {
  Section* s = Find(section);
  if (!s) return;
  for (auto it = s->lines.begin(); it != s->lines.end(); ++it) {
    if (!it->raw && EqualNoCase(it->key, key)) {
      s->lines.erase(it);
      return;
    }
  }
}

void WriteFileAtomically(const std::string& path, const std::string& bytes) {
  TAtomicFile file(path);
  // Keep the permissions of the file being replaced; new files get 0666 less the umask.
  file.SetMode(ModeForReplacing(path));
  file.Write(bytes.data(), bytes.size());
  if (IniFile::beforeRenameHook) IniFile::beforeRenameHook(file.TempPath());
  file.Commit();
}
