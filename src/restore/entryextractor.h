// Extraction for "Open" and the private folder it extracts into.
#pragma once

#include <string>

#include "restore/archiveviewhosts.h"

namespace restore {

// A folder of our own in the system's temporary folder, made with mkdtemp (mode 0700) on first
// use and removed, with what is inside, when this object goes. A folder that is no longer ours
// (replaced, another owner, other permissions) is never reused: a new one is made.
class TPrivateFolder {
 public:
  explicit TPrivateFolder(std::string prefix = "arcavo-open-");
  ~TPrivateFolder();
  TPrivateFolder(const TPrivateFolder&) = delete;
  TPrivateFolder& operator=(const TPrivateFolder&) = delete;

  // The folder's path; raises std::system_error when no folder can be made.
  const std::string& Path();

 private:
  std::string prefix_;
  std::string path_;
};

// The engine's own ExtractSelected.
class TEngineExtractor : public IEntryExtractor {
 public:
  int ExtractSelected(TArcUnZip& zip) override;
};

}  // namespace restore
