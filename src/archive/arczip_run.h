// The state of one writing run of TArcZip, shared by the writer of new archives (arczip.cpp) and
// the rewrite of existing ones (zipupdate.cpp). Private to the engine.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/arczip.h"
#include "archive/zippack.h"
#include "archive/zipwriter.h"
#include "platform/archiveattr.h"
#include "platform/atomicfile.h"

// Commits the new archive in file over its target; a failure is reported as the engine reports
// a failed copy (ENotEnoughRoom for a full medium).
void CommitArchive(TAtomicFile& file);

// Where the archive named name is written: the name itself, or for a symbolic link to a regular
// file the file it points to (st then describes that file). Returns false when nothing has the
// name. Anything else under the name (a folder, a device, a FIFO, a dangling link) is refused:
// writing there would destroy what is not an archive.
bool ArchiveTarget(const std::string& name, std::string& target, struct stat& st);

// A file stored by this run, for the work done once the archive is complete (deleting it under
// Dispose, clearing its archive attribute). Kept only when one of those is asked for.
struct TArcZip::TStoredFile {
  const std::string* Path;  // in the run's file list
  TFileStamp Stamp;
};

// The state of one ZipFiles run. What it holds per entry is kept small, as a run may store
// millions of files: the central records in compact form, their names in one byte store, and
// the duplicate check as a table of entry numbers.
struct TArcZip::TRun {
  TRun() : names(entries) {}
  std::unique_ptr<TFileStream> stream;
  std::unique_ptr<TZipOutput> out;
  std::unique_ptr<TPackPipeline> pack;
  std::unique_ptr<TAesKeyPool> keys;  // AES keys made ahead, by pack index
  std::vector<TCentralEntry> entries;
  TByteStore bytes;
  TNameIndex names;  // stored names, compared exactly
  bool keepStored = false;
  std::vector<TStoredFile> stored;
  int64_t totalBytes = 0;
  int64_t doneBytes = 0;
  int lastTotalPercent = -1;
  int files = 0;
  // The last file given up on because reading it failed (set by the writer, read by its caller).
  bool readFailed = false;
  // A replaced archive, read when a file could not be read, so that its copy of the file stays.
  std::unique_ptr<TFileStream> previous;
  bool previousTried = false;

  // Adds the entry just written.
  void Add(const TZipHeaderInfo& h) {
    entries.push_back(CentralEntryOf(h, bytes));
    names.Add(entries.size() - 1);
  }
  // Frees what only the writing needed.
  void ReleaseEntries() {
    keys.reset();
    pack.reset();
    out.reset();
    stream.reset();
    std::vector<TCentralEntry>().swap(entries);
    names.Clear();
    bytes = TByteStore();
  }
};
