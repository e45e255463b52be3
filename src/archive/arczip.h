// TArcZip: the writing half of the zip engine (adds, replaces, deletes, converts). Derives from
// TArcUnZip, so one engine object lists, tests, extracts and writes.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/arcunzip.h"

class TArchiveAttributes;
struct TFileItem;
struct TFileStamp;
class TZipOutput;
class TPackPipeline;

// MessageID of the box shown when a source yields fewer bytes than measured before storing it.
inline constexpr int zmSourceShortRead = 101;

enum class TZipAction { zaUpdate, zaReplace, zaFreshen };
enum class TUpdateAction { upReplace = 0, upKeep = 1 };

class TArcZip : public TArcUnZip {
 public:
  TArcZip();
  ~TArcZip() override;

  // ---- Operations of the writer ----
  // Creates the archive ZipName from FilesList and returns the number of files stored. Fires
  // OnZipComplete with that number when it does not raise. FilesList is cleared in every case.
  int ZipFiles();

  // ---- Published properties of the writer ----
  int PackLevel = 6;
  bool Recurse = false;
  bool Dispose = false;
  bool StorePaths = false;
  bool RelativePaths = false;
  bool StoreVolumes = false;
  TZipAction ZipAction = TZipAction::zaUpdate;
  bool Store83Names = false;
  std::string TempPath;
  bool SkipIfArchiveBitNotSet = false;
  bool ResetArchiveBitOnZip = false;
  std::vector<std::string> ExcludeList;
  std::vector<std::string> NoCompressList;
  bool AddDirEntriesOnRecurse = false;
  bool IncludeHiddenFiles = false;
  bool IncludeSysFiles = false;
  bool IncludeReadOnlyFiles = true;
  bool IncludeArchiveFiles = true;

  // ---- Events of the writer ----
  std::function<void(TSender Sender, int NumFiles, int64_t TotalBytes,
                     TEndCentral& EndCentralRecord, bool& StopNow)>
      OnStartZipInfo;
  std::function<void(TSender Sender, const std::string& FName, TZipHeaderInfo& ZipHeader,
                     bool& Skip)>
      OnStartZip;
  std::function<void(TSender Sender, const std::string& FName, int32_t UncompressedSize,
                     int32_t CompressedSize, int32_t CurrentZipSize)>
      OnEndZip;
  std::function<void(TSender Sender, const std::string& FName)> OnNoSuchFile;
  std::function<void(TSender Sender, const std::string& FName)> OnRecursingFile;
  std::function<void(TSender Sender, const std::string& FName, bool& Skip)> OnDisposeFile;
  std::function<void(TSender Sender, const std::string& FName, bool& Skip)> OnDeleteEntry;
  std::function<void(TSender Sender, TUpdateAction UDAction, int FileIndex)> OnUpdate;
  std::function<void(TSender Sender, int FileCount)> OnZipComplete;
  std::function<void(TSender Sender, int DiskNum)> OnPrepareNextDisk;
  std::function<void(TSender Sender, const std::string& FName, int64_t FileSize)> OnStartSpanCopy;

  // ---- Not published ----
  // Where archive attributes are read and cleared; null: the platform's store (xattrs, state
  // file fallback), made when first needed.
  TArchiveAttributes* ArchiveAttributes = nullptr;
  // Compression threads besides the caller's; -1: one less than the processors.
  int PackThreads = -1;

 protected:
  // Opens a source file for reading; returns the descriptor, or -1 with errno set.
  virtual int OpenSourceFile(const std::string& path);

 private:
  struct TStoredFile;
  struct TRun;
  TArchiveAttributes& Attributes();
  bool WriteFolderEntry(TRun& run, const TFileItem& item);
  bool StoreFile(TRun& run, const TFileItem& item, size_t packIndex);
  void WriteFileData(TRun& run, TZipHeaderInfo& h, int fd, const struct stat& st, size_t packIndex,
                     bool& done);
  void AfterArchiveComplete(TRun& run);

  std::unique_ptr<TArchiveAttributes> ownAttributes_;
};
