#include "platform/osrelease.h"

#include <fstream>
#include <sstream>
#include <vector>

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

// The value after "KEY=": quotes removed, escapes resolved; false when a quote is left open.
bool Unquote(std::string_view v, std::string& out) {
  out.clear();
  char quote = 0;
  for (size_t i = 0; i < v.size(); ++i) {
    const char c = v[i];
    if (quote == '\'') {
      if (c == '\'')
        quote = 0;
      else
        out += c;
    } else if (c == '\\' && i + 1 < v.size() && (quote == '"' || quote == 0)) {
      out += v[++i];
    } else if (c == '"' || (c == '\'' && quote == 0)) {
      quote = quote == c ? 0 : c;
    } else {
      out += c;
    }
  }
  return quote == 0;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

std::string OsReleaseValue(std::string_view text, std::string_view key) {
  std::string found;
  while (!text.empty()) {
    const size_t nl = text.find('\n');
    std::string_view line = Trim(text.substr(0, nl));
    text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
    if (line.empty() || line.front() == '#') continue;
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos || Trim(line.substr(0, eq)) != key) continue;
    // A later assignment wins, as when the file is sourced by a shell.
    std::string value;
    found = Unquote(Trim(line.substr(eq + 1)), value) ? value : std::string();
  }
  return found;
}

std::string OsPrettyName(const std::string& path) {
  const std::vector<std::string> paths =
      path.empty() ? std::vector<std::string>{"/etc/os-release", "/usr/lib/os-release"}
                   : std::vector<std::string>{path};
  for (const std::string& p : paths) {
    const std::string text = ReadAll(p);
    if (text.empty()) continue;
    const std::string name = OsReleaseValue(text, "PRETTY_NAME");
    if (!name.empty()) return name;
  }
  return "Linux";
}
