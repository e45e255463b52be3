#include "platform/programdir.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <system_error>

namespace {

std::mutex g_mutex;
std::string g_programDir;

std::string WithSlash(std::string p) {
  if (p.empty() || p.back() != '/') p += '/';
  return p;
}

std::string HomeDir() {
  if (const char* h = std::getenv("HOME"); h && *h) return h;
  if (passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "/tmp";
}

bool IsFile(const std::string& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Creates every missing folder of path with mode 0700.
void MakeDirs(const std::string& path) {
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  if (ec) throw std::system_error(ec, "cannot create the settings folder " + path);
}

}  // namespace

std::string ExecutableDir() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return "./";
  return WithSlash(exe.parent_path().string());
}

std::string ProgramDir() {
  std::lock_guard lock(g_mutex);
  if (!g_programDir.empty()) return g_programDir;
  std::string exeDir = ExecutableDir();
  if (IsFile(exeDir + "default.ini") && ::access(exeDir.c_str(), W_OK) == 0) {
    g_programDir = exeDir;
    return g_programDir;
  }
  std::string base;
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x == '/')
    base = x;
  else
    base = HomeDir() + "/.config";
  std::string dir = WithSlash(base) + "arcavo/";
  mode_t old = ::umask(077);
  try {
    MakeDirs(dir);
  } catch (...) {
    ::umask(old);
    throw;
  }
  ::umask(old);
  g_programDir = dir;
  return g_programDir;
}

std::vector<std::string> ResourceCandidates(const std::string& name) {
  const std::string exeDir = ExecutableDir();
  std::vector<std::string> out;
  for (const std::string& c : {exeDir + name, exeDir + "../share/arcavo/" + name,
                               "/usr/local/share/arcavo/" + name, "/usr/share/arcavo/" + name})
    out.push_back(std::filesystem::path(c).lexically_normal().string());
  return out;
}

std::string ResourcePath(const std::string& name) {
  for (const auto& c : ResourceCandidates(name))
    if (IsFile(c)) return c;
  return {};
}

std::string MissingStubMessage(const std::string& stub) {
  std::string tried;
  for (const auto& c : stub.empty() ? ResourceCandidates(kStubName) : std::vector{stub})
    tried += (tried.empty() ? "" : ", ") + c;
  return "stub not found: " + tried;
}

void ResetProgramDirForTest() {
  std::lock_guard lock(g_mutex);
  g_programDir.clear();
}
