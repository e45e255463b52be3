// TArcUnZip: the reading half of the zip engine. Lists, tests and extracts archives; TArcZip
// (arczip.h) derives from it and adds writing. Synchronous on the caller's thread; keeps the
// host responsive through TZipHost::ProcessMessages between entries and buffers.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "archive/ziphost.h"
#include "archive/ziprecords.h"
#include "archive/zipstream.h"

class TAesCipher;
class TEntryCipher;
class TZipMedia;
struct TExtractTarget;

enum class TZipSortMode {
  ByName,
  ByFileName,
  ByDirectoryName,
  ByDate,
  ByCompressedSize,
  ByUnCompressedSize,
  ByRate,
  ByNone
};
enum class TUZOverwriteMode { Prompt, Always, Never, ifNewer, ifOlder };
enum class TIncompleteZipMode { izAssumeMulti, izAssumeBad, izAssumeNotAZip };
enum class TBlockMode { bmStandard, bmClassic };
enum class TMultiMode { mmNone, mmSpan, mmBlocks };
enum class TSplitPartType { FirstPart = 0, MiddlePart = 1, LastPart = 2 };

enum TSkipReason {
  srBadPassword = 0,
  srNoOverwrite = 1,
  srFileOpenError = 2,
  srCreateError = 3,
  srExcludeList = 4,
  srArchiveBitNotSet = 5,
  srNoFileToFreshen = 6,
  srSkippedInStartZip = 7,
};
// The label the program shows for a skip reason ("Bad Password", "NoOverwrite", ...).
const char* SkipReasonLabel(TSkipReason reason);

struct TMultiZipInfo {
  int64_t BlockSize = 1457600;
  int64_t FirstBlockSize = 0;
  int64_t SaveOnFirstDisk = 0;
  bool SaveZipInfoOnFirstDisk = false;
  TMultiMode MultiMode = TMultiMode::mmNone;
  bool CheckDiskLabels = true;
  bool WriteDiskLabels = true;
};

class TArcUnZip;
// The first argument of every event: the engine that fires it.
using TZipSender = TArcUnZip*;

// The settings of one operation of the reading half; TArcUnZip carries them under these names.
// An operation's session (zipsession.h) gives them back to their idle values when it ends.
struct TUnZipOptions {
  std::string RootDir;
  std::vector<std::string> RelativePathList;
  bool RecreateDirs = false;
  TUZOverwriteMode OverwriteMode = TUZOverwriteMode::Prompt;
  std::vector<std::string> FilesList;
  bool DoAll = false;
  TIncompleteZipMode IncompleteZipMode = TIncompleteZipMode::izAssumeMulti;
  bool KeepZipOpen = false;
  bool DoProcessMessages = true;
  bool RetainAttributes = true;
  bool ReplaceReadOnly = false;
  bool FlushFilesOnClose = false;
  // Symbolic links met on the way to a target below DestDir are followed when they belong to
  // the user running the program or to root (restoring to "/" goes through the system's and the
  // user's own folder links); links of other users are never followed. Off: no link is followed.
  // Stored names are confined by the same rules either way.
  bool FollowOwnLinks = false;
  // Symbolic link entries are recreated as links when their target stays inside the extraction
  // folder; others are skipped with "link points outside the destination". With KeepLinks every
  // link is recreated as stored. Links are made after every file, so nothing extracted is ever
  // written through a link this extraction made.
  bool KeepLinks = false;
  TBlockMode BlockMode = TBlockMode::bmStandard;
  TOEMConvert OEMConvert = TOEMConvert::oemAlways;
  // Spanning and splitting settings; a read sets MultiMode to describe the archive it opened.
  TMultiZipInfo MultiZipInfo;
};

// The events of the reading half (bound callbacks whose first argument is the engine).
struct TUnZipEvents {
  using TSender = TZipSender;
  std::function<void(TSender Sender, TSkipReason Reason, const std::string& FName, int FileIndex,
                     bool& Retry)>
      OnSkippingFile;
  std::function<void(TSender Sender, int Percent)> OnTotalPercentDone;
  std::function<void(TSender Sender, int Percent)> OnFilePercentDone;
  std::function<void(TSender Sender, int NumFiles, int64_t TotalBytes, bool& StopNow)>
      OnStartUnZipInfo;
  std::function<void(TSender Sender, int FileIndex, std::string& FName, bool& Skip)> OnStartUnZip;
  std::function<void(TSender Sender, int FileIndex, const std::string& FName)> OnEndUnZip;
  std::function<void(TSender Sender, bool& OverWriteIt, int FileIndex, std::string& FName)>
      OnPromptForOverwrite;
  std::function<void(TSender Sender, int FileIndex, std::string& NewPassword)> OnBadPassword;
  std::function<void(TSender Sender, uint32_t CalcCRC, uint32_t StoredCRC, int FileIndex)> OnBadCRC;
  std::function<void(TSender Sender, TIncompleteZipMode& IncompleteMode)> OnInCompleteZip;
  std::function<void(TSender Sender, int FileCount)> OnUnZipComplete;
  std::function<void(TSender Sender, int NextDisk, std::string& FName)> OnGetNextDisk;
  std::function<void(TSender Sender, std::string& FName, int PartNum, TSplitPartType SplitType)>
      OnFileNameForSplitPart;
  // A box the engine would show: Msg1 is its text, Msg2 its title, flags TZipBoxFlags; Return
  // arrives as the answer given when nobody is asked (No/Cancel/OK) and is taken as the button.
  std::function<void(TSender Sender, int MessageID, const std::string& Msg1,
                     const std::string& Msg2, uint32_t flags, int& Return)>
      OnHandleMessage;
};

// Inherits its settings and events, so every published name is reached on the engine itself.
class TArcUnZip : public TUnZipOptions, public TUnZipEvents {
 public:
  TArcUnZip();
  virtual ~TArcUnZip();
  TArcUnZip(const TArcUnZip&) = delete;
  TArcUnZip& operator=(const TArcUnZip&) = delete;

  // ---- Published properties ----
  const std::string& ZipName() const { return zipName_; }
  // A different name closes the open archive. A name ending in "?" lets the user choose the file
  // through the host (cancel: EUserCanceled "User canceled setting zip file name.").
  void SetZipName(const std::string& name);
  const std::string& DestDir() const { return destDir_; }
  // A trailing "/" is removed; "?" lets the user choose the folder through the host.
  void SetDestDir(const std::string& dir);
  TZipSortMode SortMode() const { return sortMode_; }
  void SetSortMode(TZipSortMode mode);

  static constexpr int ThisVersion = 306;
  static constexpr int ThisBuild = 1;

  // ---- Public state ----
  std::string Password;
  int SourceShareMode = 0;
  // Where boxes and dialogs go when OnHandleMessage is not assigned; may be null (no screen).
  TZipHost* Host = nullptr;

  bool Busy() const { return busy_; }
  // While OnSkippingFile runs: the reason in words when the label of the reason code does not say
  // it ("a FIFO (named pipe), not a file", "link points outside the destination"); else empty.
  const std::string& SkipText() const { return skipText_; }
  // While OnSkippingFile runs for reason 2 (FileOpenError): true when trying again may help (the
  // file could not be opened), false when it cannot (not a file, changed while it was stored).
  bool SkipCanRetry() const { return skipCanRetry_; }
  // True while an operation's session (TZipSession) holds the engine.
  bool SessionOpen() const { return sessionOpen_; }
  int EntryCount() const { return static_cast<int>(order_.size()); }
  // Entry i in SortMode order; an index outside 0..EntryCount-1 raises EListIndexError.
  const TZipHeaderInfo& EntryHeader(int i) const;
  std::string EntryName(int i) const { return EntryHeader(i).FileName; }
  std::string EntryPath(int i) const { return EntryHeader(i).FilePath; }
  std::string EntryFullName(int i) const { return EntryHeader(i).FullName(); }
  // The entry's modification time as seconds since the epoch (its UTC time field, else its DOS
  // date-time); an invalid DOS date gives the time now.
  std::time_t EntryDateTime(int i) const;
  int64_t EntrySize(int i) const;
  // 1-based number of the volume holding the entry's data.
  int EntryDiskNumber(int i) const { return static_cast<int>(EntryHeader(i).DiskNumber()) + 1; }
  bool EntrySelected(int i) const { return EntryHeader(i).Selected; }
  void SetEntrySelected(int i, bool selected);
  int SelectedCount() const { return selectedCount_; }
  std::string ArchiveComment() const { return endCentral_.Comment; }
  void SetArchiveComment(const std::string& comment);
  // True when the archive needs Zip64 records: directory at or beyond 4 GiB - 1, 65535 entries
  // or more, or an entry with Zip64 values.
  bool NeedsZip64() const;
  const TEndCentral& EndCentral() const { return endCentral_; }
  // True when the last directory was read from the zip configuration file (.zfc).
  bool ReadFromConfigFile() const { return fromZfc_; }
  // True when the entry list was rebuilt by the recovery scan of a damaged archive.
  bool RecoveryMode() const { return recoveryMode_; }
  // What was wrong with the directory of the last read ("" when it read as its end record
  // states): a damaged record rebuilt by the recovery scan, an entry count or directory size
  // that disagrees with the records there. The entries are then what could be found, and a
  // rewrite would keep only those.
  const std::string& DirectoryDamage() const { return damage_; }
  // The file name of the part of a split set that entry i needs and that is missing, or "" (the
  // entry's problem is then TEntryProblem::MissingVolume).
  std::string EntryMissingPart(int i) const;
  // Bytes in front of the archive that its stated offsets do not count, as when data was put
  // before an archive without adjusting it (cat stub a.zip > x.exe): the central directory and
  // every local header lie this far behind their stated offsets. 0 for other archives.
  int64_t OffsetShift() const { return offsetShift_; }

  // ---- Operations ----
  // Reads the central directory of ZipName (or of the stream given to OpenArchiveStream). Keeps
  // the list when already read and the file's last-write time is unchanged.
  void ReadArchive();
  // Uses an in-memory (or other) stream as the archive instead of the file ZipName.
  void OpenArchiveStream(std::unique_ptr<THugeStream> stream);
  void CloseArchive();
  // Extracts every entry (DoAll) or those whose EntryFullName matches a FilesList pattern;
  // returns the number extracted. FilesList is cleared at the end whatever the outcome.
  int Extract();
  // Extracts the selected entries, clearing their selection; returns the number extracted.
  int ExtractSelected();
  void ClearSelection();
  // Decompresses every entry into nothing and checks its CRC; true when every entry is good.
  bool TestArchive();
  // Tests entry i once; later calls return the remembered result.
  bool TestEntry(int i);
  void CancelOperation();
  void PauseOperation();
  void ResumeOperation();
  // Dispatches pending host events; true when the application is quitting.
  bool ProcessMessages();

  // ---- Not published ----
  // The media volume files are read from and written to; null: the platform's, made when first
  // needed. A caller that sets it also has ZipName opened through it.
  TZipMedia* Media = nullptr;
  TZipMedia& VolumeMedia();
  // Called when an operation starts or ends (Busy() changed). A standing hook of the program,
  // not an operation's event: sessions leave it alone. It must not throw.
  std::function<void()> OnBusyChanged;

 protected:
  // Marks the engine busy for one operation and restores the previous state.
  class TBusyGuard {
   public:
    explicit TBusyGuard(TArcUnZip& z) : z_(z), was_(z.busy_) {
      z_.busy_ = true;
      if (!was_ && z_.OnBusyChanged) z_.OnBusyChanged();
    }
    ~TBusyGuard() {
      z_.busy_ = was_;
      if (!was_ && z_.OnBusyChanged) z_.OnBusyChanged();
    }

   private:
    TArcUnZip& z_;
    bool was_;
  };

  // Fires OnSkippingFile with the reason in words (SkipText) for the handler; returns Retry.
  bool SkipBecause(TSkipReason reason, const std::string& name, int index, const std::string& why,
                   bool canRetry = false);
  std::string skipText_;
  bool skipCanRetry_ = true;
  // Dispatches messages and honours pause and cancel; a seen cancel is cleared and raises
  // EUserCanceled "User Aborted Operation".
  void CheckCancel();
  // Shows a box through OnHandleMessage, else the host; without either, the answer is Cancel or
  // No (nothing destructive happens without someone to ask).
  int ShowMessage(int messageId, const std::string& title, const std::string& text, uint32_t flags);
  // Reads the directory unless it is loaded and unchanged; opens the archive file as needed.
  void EnsureDirectory();
  // Closes the archive file unless KeepZipOpen (memory archives stay).
  void CloseFileUnlessKept();
  // The archive stream, opened on demand.
  THugeStream& ArchiveStream();
  // Physical index of the entry shown at position i.
  size_t PhysicalIndex(int i) const;
  void Resort();
  // Reads the directory of the archive file at path, as the writer checks an archive it wrote
  // before it replaces the old one: no message is dispatched, no recovery scan is tried and no
  // zip configuration file is looked for. Raises when it does not read; the list then describes
  // that file until AdoptDirectory names it (or the next read replaces it).
  void ReadWrittenDirectory(const std::string& path);
  // The list read by ReadWrittenDirectory is the directory of the archive now at name.
  void AdoptDirectory(const std::string& name);
  // The recovery scan of a damaged archive (at most once per read): rebuilds the entry list from
  // the local headers, merges the central records found after them, and returns true when it
  // found an entry.
  virtual bool RecoveryScan();
  // The shown name of an entry stored as raw, as reading decodes it.
  std::string DecodedName(const TZipHeaderInfo& h, const std::string& raw) const;
  // Refuses to rewrite an archive whose directory was found damaged, unless forced: the rewrite
  // would keep only the entries that could be found.
  void RefuseDamagedRewrite(bool forced) const;
  // Adds what is wrong with the directory being read to DirectoryDamage.
  void NoteDamage(const std::string& what);
  // Finds the end record at the end of s (and the Zip64 records it points to); false when s has
  // none.
  bool FindEndCentral(THugeStream& s, TEndCentral& ec);
  // Hook for loading another volume of a multi-volume archive (disk is 0-based).
  virtual void LoadVolume(uint32_t disk);
  // The file name of volume disk (0-based) of a set whose last volume is last: the base name of
  // ZipName through OnFileNameForSplitPart, or the default part names.
  std::string VolumeFileName(uint32_t disk, uint32_t last);
  // The name of spanned volume (1-based) on the medium the user inserts: OnGetNextDisk, else the
  // insert-disk box; no name raises EUserCanceled with cancelText.
  std::string AskForVolume(int volume, const char* cancelText);
  // Spanned volume (1-based) for reading, asked for until the medium holds it.
  std::unique_ptr<THugeStream> OpenSpannedVolume(int volume);
  // The open archive is a set of volumes read as one stream (offsets per volume).
  bool volumeSet_ = false;
  uint32_t lastVolume_ = 0;

  std::vector<TZipHeaderInfo> entries_;  // physical order
  std::vector<size_t> order_;            // presentation order (SortMode)
  TEndCentral endCentral_;
  std::unique_ptr<THugeStream> stream_;
  bool memoryArchive_ = false;
  bool loaded_ = false;
  bool fromZfc_ = false;
  bool repairing_ = false;
  bool scanned_ = false;       // the recovery scan ran during this read
  bool recoveryMode_ = false;  // the entry list of this read comes from the recovery scan
  int64_t offsetShift_ = 0;    // OffsetShift()
  std::string damage_;         // DirectoryDamage()
  std::map<size_t, std::string> missingParts_;  // physical entry -> missing part it needs
  int64_t archiveTimeNs_ = 0;
  bool cancel_ = false;
  bool pause_ = false;

 private:
  enum class TTake { All, Selected, Patterns };
  struct TExtractRun;
  int RunExtraction(TTake take, bool testing, int onlyIndex = -1);
  bool ExtractOne(size_t phys, int index, bool testing, TExtractRun& run);
  // The steps of extracting one entry.
  enum class TPasswordCheck { Good, Retry, Refused };
  enum class TDataOutcome { Written, NotCreated, Bad, Unauthentic };
  bool ChooseTarget(const TZipHeaderInfo& h, int index, bool testing, std::string& target);
  bool ExtractFolder(const TZipHeaderInfo& h, int index, const std::string& target,
                     TExtractRun& run);
  int64_t FindEntryData(TZipHeaderInfo& h);
  bool MethodKnown(TZipHeaderInfo& h, bool testing);
  TPasswordCheck CheckPassword(TZipHeaderInfo& h, int index, int64_t dataPos,
                               std::unique_ptr<TEntryCipher>& crypt);
  bool DecideOverwrite(const TZipHeaderInfo& h, int index, std::string& target,
                       TExtractTarget& where, const TExtractRun& run);
  TDataOutcome WriteEntryData(TZipHeaderInfo& h, int index, int64_t dataPos, TEntryCipher* crypt,
                              TExtractTarget* where, uint32_t& crc, bool& dataError,
                              TExtractRun& run, int sinkFd = -1);
  // Symbolic links: the target read from the entry's data and checked, then made at the end.
  TDataOutcome ReadLinkText(TZipHeaderInfo& h, int index, int64_t dataPos, TEntryCipher* crypt,
                            std::string& text, uint32_t& crc, bool& dataError, TExtractRun& run);
  void QueueLink(const TZipHeaderInfo& h, int index, const std::string& target,
                 const std::string& text, TExtractRun& run);
  int MakeLinks(TExtractRun& run);
  void Decompress(const TZipHeaderInfo& h, int64_t dataPos, TEntryCipher* crypt, int outFd,
                  uint32_t& crc, uint64_t& written, bool& dataError, TExtractRun& run);
  bool Authentic(const TZipHeaderInfo& h, int64_t dataStart, TAesCipher& aes, TExtractRun& run);
  std::string TargetName(const TZipHeaderInfo& h) const;
  bool AskNewPassword(int index);
  void Skip(TSkipReason reason, const std::string& name, int index);
  void ReadDirectory();
  // Reads the directory of s; strict: as ReadWrittenDirectory.
  void ReadDirectoryOf(THugeStream& s, bool strict);
  // The shift of an archive whose directory is not at its stated offset start: the distance
  // from where the directory should end by its stated offset and size to where it does end (the
  // Zip64 end record, else the end record), provided a central record stands there. 0 when the
  // directory is where it is said to be, or when the distance is negative or leads nowhere.
  int64_t FindOffsetShift(THugeStream& s, uint64_t start);
  // Reads the records from start on until the directory's stated size is used up and as many as
  // the end record counts have been read (records found beyond either are read too, up to end,
  // where the end records begin); a disagreement is noted as damage.
  void ReadCentralRecords(THugeStream& s, int64_t start, int64_t end, bool strict);
  // Refuses entries whose data ranges overlap and notes where each entry's data must end.
  void CheckDataRanges(bool strict);
  void ForgetArchive();

  friend class TZipSession;
  bool sessionOpen_ = false;
  std::string zipName_;
  std::string destDir_;
  TZipSortMode sortMode_ = TZipSortMode::ByNone;
  int selectedCount_ = 0;
  bool busy_ = false;
  std::unique_ptr<TZipMedia> ownMedia_;
};

// The name of an entry as its central record in s holds it (before any SetEntryPath), or "" when
// the record cannot be read.
std::string StoredCentralName(THugeStream& s, const TZipHeaderInfo& h);

// True when path names an existing folder.
bool DirectoryExists(const std::string& path);
