// TArcZip: the writing half of the zip engine (adds, replaces, deletes, converts). Derives from
// TArcUnZip, so one engine object lists, tests, extracts and writes.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/arcunzip.h"
#include "archive/zipaes.h"

class TArchiveAttributes;
class TArchiveLock;
struct TFileItem;
struct TExpandOptions;
struct TFileStamp;
class TZipOutput;
class TPackPipeline;

// MessageID of the box shown when a source yields fewer bytes than measured before storing it.
inline constexpr int zmSourceShortRead = 101;

// The temporary file the writer makes beside an archive while it writes it is named "." + the
// archive's file name + this infix + six random characters; a killed run leaves it behind.
inline constexpr const char* kTempBesideInfix = ".arcavo-";

// The lock file of an archive that is being rewritten: "<folder>/." + its file name +
// kTempBesideInfix + "lock". It exists only while a writer holds it (or after a killed one).
std::string ArchiveLockPath(const std::string& archive);

// The message when another writer holds an archive's lock longer than the engine waits.
inline constexpr const char* kArchiveBusy = "The archive is being changed by another program: ";

// The message when entries chosen or changed in memory belong to a directory that another
// program has replaced since it was read.
inline constexpr const char* kChangedSinceRead =
    "The archive was changed by another program since it was read: ";

// The name with the extension of its file-name part replaced by ext (appended when it has none).
std::string WithExtension(const std::string& name, const std::string& ext);

enum class TZipAction { zaUpdate, zaReplace, zaFreshen };
enum class TUpdateAction { upReplace = 0, upKeep = 1 };

// The settings of one operation of the writing half; TArcZip carries them under these names.
struct TZipWriteOptions {
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
  // Symbolic links are followed and the files they point to stored in their place; a link to a
  // folder or with a missing target is then left out and told. Otherwise (the default) links are
  // stored as links, the way Unix zip tools store them: the target as the entry's data.
  bool FollowLinks = false;
  // ZipFiles and MakeSelfExtractor replace an existing archive instead of adding to it: none of
  // its entries are kept. The old archive stays whole under its name until the complete new one
  // is renamed over it.
  bool ReplaceArchive = false;
  // An existing archive whose directory was found damaged (DirectoryDamage) is rewritten all
  // the same, keeping the entries reading found; off, such a rewrite is refused.
  bool RewriteDamaged = false;
  // How new entries are encrypted when Password is set: WinZip AES (AE-1, or AE-2 for entries
  // under 20 bytes) at a key strength, or the traditional cipher that old readers know. Entries
  // kept from an existing archive stay as they are.
  TZipEncryption Encryption = TZipEncryption::zeAES256;
};

// The events of the writing half.
struct TZipWriteEvents {
  std::function<void(TZipSender Sender, int NumFiles, int64_t TotalBytes,
                     TEndCentral& EndCentralRecord, bool& StopNow)>
      OnStartZipInfo;
  std::function<void(TZipSender Sender, const std::string& FName, TZipHeaderInfo& ZipHeader,
                     bool& Skip)>
      OnStartZip;
  std::function<void(TZipSender Sender, const std::string& FName, int32_t UncompressedSize,
                     int32_t CompressedSize, int32_t CurrentZipSize)>
      OnEndZip;
  std::function<void(TZipSender Sender, const std::string& FName)> OnNoSuchFile;
  std::function<void(TZipSender Sender, const std::string& FName)> OnRecursingFile;
  std::function<void(TZipSender Sender, const std::string& FName, bool& Skip)> OnDisposeFile;
  std::function<void(TZipSender Sender, const std::string& FName, bool& Skip)> OnDeleteEntry;
  std::function<void(TZipSender Sender, TUpdateAction UDAction, int FileIndex)> OnUpdate;
  std::function<void(TZipSender Sender, int FileCount)> OnZipComplete;
  std::function<void(TZipSender Sender, int DiskNum)> OnPrepareNextDisk;
  std::function<void(TZipSender Sender, const std::string& FName, int64_t FileSize)>
      OnStartSpanCopy;
};

// The whole set of the engine's events and settings, both halves.
struct TZipEvents : TUnZipEvents, TZipWriteEvents {};
struct TZipOptions : TUnZipOptions, TZipWriteOptions {};

class TArcZip : public TArcUnZip, public TZipWriteOptions, public TZipWriteEvents {
 public:
  TArcZip();
  ~TArcZip() override;

  // ---- Operations of the writer ----
  // Creates the archive ZipName from FilesList and returns the number of files stored. Fires
  // OnZipComplete with that number when it does not raise. FilesList is cleared in every case.
  int ZipFiles();
  // Removes the selected entries (when any are selected; FilesList is then cleared) or those
  // matching a FilesList pattern, unless OnDeleteEntry keeps them; returns the number removed.
  // The archive is rewritten through a temporary file; FilesList is cleared in every case.
  int RemoveEntries();
  // Rewrites the archive when its comment or a stored folder was changed in memory.
  void SaveArchiveChanges();
  // Sets the stored folder of entry index in memory ("/" is added to a non-empty folder).
  void SetEntryPath(int index, const std::string& folder);
  // Builds a self-extracting archive: the stub's bytes, then configLength bytes of config (the
  // block of TSFXConfig::BuildConfigBlock), then the entries. An existing ".zip" archive is
  // rewritten into the same name with ".exe" (it stays as it is); otherwise archive is written
  // (updated when it exists) from FilesList. Returns the number of files stored.
  int MakeSelfExtractor(const std::string& stub, const std::string& archive, int configLength,
                        const uint8_t* config);
  // Copies the open archive's entries behind the stub into ZipName with the extension ".EXE";
  // the open archive stays as it is and stays open.
  void ConvertToSelfExtractor(const std::string& stub);
  // Copies the entries of the open self-extracting archive, without the bytes before them, into
  // ZipName with the extension ".zip", opens that archive and, when asked, deletes the source.
  void ConvertToPlainZip(bool deleteSource);
  // Salvages what can be read of a damaged archive into the new archive newName and returns the
  // number of entries written; the damaged file is never changed. With a damaged name, that
  // archive is read by the usual rules (a missing end record goes through OnInCompleteZip). With
  // an empty one, the archive read in recovery mode is taken, or the user chooses one through
  // the host; it is read in assume-bad mode (straight to the recovery scan when its end record
  // is missing). Either way every entry is tested and those that test bad are left out; those
  // that cannot be tested (no password, an unknown method) are copied untested. An empty newName is
  // chosen through the host. A cancelled dialog writes nothing and returns 0; so does an archive
  // with nothing to write. The new archive is written into a temporary file that is then copied to
  // newName, never over the damaged file. FilesList is kept; afterwards ZipName is the new archive.
  //
  // A split or spanned set is salvaged into one single-file archive: the entries whose data lies
  // on the parts present are tested and written; those whose data lies on a missing part are
  // lost (RepairEntriesLost). When the central directory is on a missing part, the entries are
  // found by a scan of the local headers of each run of parts present (RepairDirectoryLostOn).
  // A new name that is one of the set's parts is refused: nothing is written.
  int RepairArchive(const std::string& damaged, const std::string& newName);
  // The number of entries the last RepairArchive read from the damaged archive.
  int RepairEntriesRead() const { return repairRead_; }
  // Of those written, the entries copied without a test (RepairEntriesRead less the number
  // written is the number lost or left out as damaged).
  int RepairEntriesUntested() const { return repairUntested_; }
  // An entry the last RepairArchive could not salvage because its data lies on a part of the
  // set that is missing: its name and that part's file name.
  struct TLostEntry {
    std::string Name;
    std::string Part;
  };
  const std::vector<TLostEntry>& RepairEntriesLost() const { return repairLost_; }
  // The missing part that held the set's central directory in the last RepairArchive, or "" (the
  // entries were then found by a scan of the parts present).
  const std::string& RepairDirectoryLostOn() const { return repairDirectoryPart_; }
  // The file a conversion writes: name with only the extension of its file-name part replaced,
  // by ".EXE" for a self-extractor and by ".zip" for a plain archive (folders keep their case).
  static std::string ConvertedName(const std::string& name, bool toSelfExtractor);

  // ---- Not published ----
  // Where archive attributes are read and cleared; null: the platform's store (xattrs, state
  // file fallback), made when first needed.
  TArchiveAttributes* ArchiveAttributes = nullptr;
  // Compression threads besides the caller's; -1: one less than the processors.
  int PackThreads = -1;
  // How long an operation that rewrites an archive waits for another writer of that archive to
  // finish before it fails (EArcZipException kArchiveBusy).
  int LockWaitMs = 60000;
  // The temporaries of interrupted runs that the last writing operation found beside its
  // archive and removed (full names).
  std::vector<std::string> LeftoversRemoved;
  // While OnSkippingFile reports a source that failed part-way (reason 2 for a read error):
  // what failed ("read error: Input/output error"); empty otherwise.
  std::string SourceError;

 protected:
  // Opens a source file for reading; returns the descriptor, or -1 with errno set.
  virtual int OpenSourceFile(const std::string& path);

 private:
  struct TStoredFile;
  struct TRun;
  TArchiveAttributes& Attributes();
  bool WriteFolderEntry(TRun& run, const TFileItem& item);
  bool StoreFile(TRun& run, const TFileItem& item, size_t packIndex);
  bool StoreLink(TRun& run, const TFileItem& item);
  void WriteFileData(TRun& run, TZipHeaderInfo& h, const std::string& path, int fd,
                     const struct stat& st, size_t packIndex, bool& done);
  // The steps of writing one file's data (arczip.cpp).
  struct TDataPass;
  void BeginEntryData(TRun& run, TZipHeaderInfo& h, size_t packIndex, int64_t size, uint32_t preCrc,
                      bool zip64Room, TDataPass& pass);
  void EmitData(TRun& run, std::vector<uint8_t>& data, TDataPass& pass);
  void CountRead(TRun& run, uint64_t n, int64_t size, TDataPass& pass);
  bool PipelineData(TRun& run, size_t packIndex, int64_t size, TDataPass& pass);
  void CompressHere(TRun& run, int fd, bool store, int64_t size, TDataPass& pass);
  void FinishEntryData(TRun& run, TZipHeaderInfo& h, int64_t size, bool zip64Room, TDataPass& pass);
  void AfterArchiveComplete(TRun& run);
  // After a read error of item while archive is being replaced: the replaced archive's entry of
  // the same stored name goes into the new one, so that the last good copy is not lost.
  void KeepPreviousCopy(TRun& run, const std::string& archive, const TFileItem& item);
  // Starts making the AES keys of the run's sources ahead, when they are to be encrypted so.
  void StartKeys(TRun& run, size_t sources);
  // The options of expanding FilesList for writing archive (its lock file is never stored).
  void SetupExpansion(TExpandOptions& xo, const std::string& archive);
  // Raises when volumes are asked of a rewrite.
  void RefuseVolumes() const;
  // Writes a new archive as split parts or spanned volumes (zipsplit.cpp); returns the number of
  // files stored.
  int WriteVolumes(TRun& run, std::deque<TFileItem>& items, const std::vector<uint32_t>& packIndex,
                   TEndCentral ec);
  // Ends the archive in temp (central directory, end records), reads it back and, only when
  // every entry reads, calls replace to put it in place; the engine then lists it (the caller
  // names it with AdoptDirectory). On failure the old archive is untouched and EBadZipFile says
  // why.
  void Complete(TRun& run, const std::string& temp, TEndCentral ec, const std::string& comment,
                const std::function<void()>& replace);

  // Rewriting an existing archive (zipupdate.cpp).
  struct TRewriteTarget {
    // In front of the first entry: nothing (a plain archive), the source's own bytes there (a
    // self-extractor's stub stays on every rewrite), or HeadBytes.
    enum THead { hdNone, hdKeep, hdBytes };
    std::string Source;  // the archive read (may not exist: nothing to copy)
    std::string Output;  // the file replaced once the new archive is complete
    THead Head = hdNone;
    std::string HeadBytes;  // with hdBytes: written in front of the first entry
    bool Always = false;    // rewrite even when there is nothing to store
    // A salvage: an entry whose data cannot be copied whole (cut short, its local header lost)
    // is left out instead of failing the rewrite.
    bool Salvage = false;
  };
  struct TRewritePlan;
  // ZipFiles against the entries of target.Source; returns the number of files stored.
  int UpdateArchive(const TRewriteTarget& target);
  // Copies all entries (SaveArchiveChanges, conversions).
  void CopyArchive(const TRewriteTarget& target);
  // Writes the new archive to a temporary file and replaces target.Output with it.
  void Rewrite(const TRewriteTarget& target, TRewritePlan& plan, TRun& run);
  // Copies one entry; false (nothing written) when salvage is set and the entry cannot be copied
  // whole, which otherwise raises EBadZipFile.
  bool CopyEntry(TRun& run, THugeStream& src, const TZipHeaderInfo& entry, bool salvage = false);
  // RepairArchive after its names are known: reads, tests in assume-bad mode, rewrites.
  int RepairInto(const std::string& damaged, const std::string& newName, bool assumeBad);
  // The folder for temporary files: TempPath, else $TMPDIR, else /tmp.
  std::string TempFolder() const;
  // Takes the writer's lock of the archive name (where a link points), waiting at most
  // LockWaitMs while dispatching messages and honouring cancel; then removes the temporaries
  // that interrupted runs left beside it (LeftoversRemoved). Raises kArchiveBusy on time-out.
  void LockArchive(TArchiveLock& lock, const std::string& name);
  // The open archive's file changed since its directory was read (another program rewrote it).
  bool ChangedSinceRead() const;

  // Repairing a set of volumes (zipsalvage.cpp).
  // When damaged belongs to a split set whose end record cannot be read (the file is missing or
  // has none), scans the set's parts present (ScanSetParts) and returns true.
  bool ScanSetWithoutEnd(const std::string& damaged);
  // After a read that failed because the central directory lies on the missing part: scans the
  // parts of the set whose last part is damaged.
  void ScanSetWithMissingDirectory(const std::string& damaged, const std::string& missing);
  // Rebuilds the entry list from the local headers of each run of consecutive parts present
  // (names[k] is the name of disk k, present[k] whether it is there) and opens the runs as the
  // archive. Entries whose data runs on into a missing part are noted in scanLost_.
  void ScanSetParts(const std::vector<std::string>& names, const std::vector<bool>& present);
  // Raises when newName is one of the parts of the set just read: the repair would write over it.
  void RefuseRepairOverPart(const std::string& newName);

  std::unique_ptr<TArchiveAttributes> ownAttributes_;
  int repairRead_ = 0;
  int repairUntested_ = 0;
  std::vector<TLostEntry> repairLost_;
  std::string repairDirectoryPart_;
  // The parts of the set the repair reads (present or not), and after a scan of them, per
  // physical entry the missing part its data runs on into ("" when whole).
  std::vector<std::string> repairParts_;
  std::vector<std::string> scanLost_;
  bool scannedSet_ = false;
};
