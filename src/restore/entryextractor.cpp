#include "restore/entryextractor.h"

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <cerrno>
#include <system_error>
#include <vector>

#include "archive/arcunzip.h"

namespace restore {

// ---- private folder ------------------------------------------------------------------------

namespace {

bool IsOurPrivateFolder(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
         (st.st_mode & 0777) == 0700;
}

int RemoveOne(const char* path, const struct stat*, int flag, struct FTW*) {
  if (flag == FTW_DP)
    ::rmdir(path);
  else
    ::unlink(path);
  return 0;
}

}  // namespace

TPrivateFolder::TPrivateFolder(std::string prefix) : prefix_(std::move(prefix)) {}

TPrivateFolder::~TPrivateFolder() {
  // Depth first, never following links.
  if (!path_.empty() && IsOurPrivateFolder(path_))
    ::nftw(path_.c_str(), RemoveOne, 16, FTW_DEPTH | FTW_PHYS);
}

const std::string& TPrivateFolder::Path() {
  if (!path_.empty() && IsOurPrivateFolder(path_)) return path_;
  std::string templ = QDir::tempPath().toStdString() + "/" + prefix_ + "XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  if (!::mkdtemp(buf.data())) throw std::system_error(errno, std::generic_category(), "mkdtemp");
  path_ = buf.data();
  return path_;
}

// ---- extraction ----------------------------------------------------------------------------

int TEngineExtractor::ExtractSelected(TArcUnZip& zip) {
  return zip.ExtractSelected();
}

}  // namespace restore
