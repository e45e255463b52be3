// The state of one writing run of TArcZip, shared by the writer of new archives (arczip.cpp) and
// the rewrite of existing ones (zipupdate.cpp). Private to the engine.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "archive/arczip.h"
#include "archive/zippack.h"
#include "archive/zipwriter.h"
#include "platform/archiveattr.h"

// Flushes the folder holding path, so that a rename into it is on the medium.
void SyncFolderOf(const std::string& path);

// A file stored by this run, for the work done once the archive is complete.
struct TArcZip::TStoredFile {
  std::string Path;
  TFileStamp Stamp;
};

// The state of one ZipFiles run.
struct TArcZip::TRun {
  std::unique_ptr<TFileStream> stream;
  std::unique_ptr<TZipOutput> out;
  std::unique_ptr<TPackPipeline> pack;
  std::vector<TZipHeaderInfo> entries;
  std::unordered_set<std::string> names;  // stored names, compared exactly
  std::vector<TStoredFile> stored;
  std::vector<bool> storeMethod;  // per pack index
  int64_t totalBytes = 0;
  int64_t doneBytes = 0;
  int lastTotalPercent = -1;
  int files = 0;
};
