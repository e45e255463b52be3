// The disc-writing component's file-system side: the files and folders to burn gathered into an
// in-memory tree, the layout of one new session in ISO 9660 with a Joliet supplementary tree, and
// the session's metadata (system area, volume descriptors, path tables, directory extents)
// serialised into MetaStream. The session's sectors are then MetaStream, the data of each new file
// in entry order, and zeros up to ImageSize (see sessionstream.h).
//
// Paths on the disc use "/" and compare exactly: "a.txt" and "A.txt" are two entries.
#pragma once

#include <sys/stat.h>

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "disc/isonames.h"
#include "disc/rockridge.h"
#include "disc/scsidevice.h"

class TArchiveAttributes;

// Debug message kinds of the image builder (beside dmError and dmInfo).
enum : uint8_t { dmCapacity = 3, dmPath = 4 };

struct TDEntry;

// One file or subdirectory inside a directory.
struct TFEntry {
  std::string ShortName;      // ISO identifier, upper case, without ";1"
  std::string LongName;       // the name as added, a "." appended to a file name without one
  std::u16string JolietName;  // Joliet identifier as recorded, without ";1"
  std::string SourcePath;     // the source file; empty for a directory
  uint8_t Imported = 0;       // 1: the data already lies on the disc at IsoLocation
  int64_t DateTime = 0;       // modification time, seconds since 1970 (UTC)
  int64_t DataSize = 0;       // file size; for a directory its IsoDirSize
  int64_t RecordedSize = 0;   // file size; for a directory its JolietDirSize
  uint32_t IsoLocation = 0;   // see PrepareImage
  uint32_t JolietLocation = 0;
  uint32_t Attr = 0;  // 0x10 directory, 0x02 hidden, 0x20 archive
  uint8_t ArchiveOnly = 0;
  TDEntry* Directory = nullptr;  // for a subdirectory its directory entry
  TFEntry* Next = nullptr;
  std::string Key;  // the name as found on disk (or given), which identifies the entry
  // What the Rock Ridge records keep besides (mode 0: not known, a default by kind).
  uint32_t Mode = 0, Uid = 0, Gid = 0;
  int64_t ATime = 0, CTime = 0;
  bool IsLink = false;     // a symbolic link stored as a link (Rock Ridge tree only, no data)
  std::string LinkTarget;  // its target
  uint32_t Serial = 0;     // the Rock Ridge serial number (set by PrepareImage)
};

// One directory, the root included.
struct TDEntry {
  std::string ShortName;
  std::string LongName;
  std::u16string JolietName;
  int64_t IsoDirSize = 0;
  int64_t JolietDirSize = 0;
  std::string FullPath;  // "/" for the root, else "/" + the long names of the path joined by "/"
  uint32_t IsoDirOffset = 0;
  uint32_t JolietDirOffset = 0;
  uint32_t Level = 1;
  uint32_t Number = 0;        // 1-based place in the ISO path table (0: not in the ISO tree)
  uint32_t JolietNumber = 0;  // 1-based place in the Joliet path table
  bool IsoRecorded = true;    // in the ISO tree (set by PrepareImage)
  TDEntry* Parent = nullptr;
  TFEntry* FirstChild = nullptr;

  TFEntry* LastChild = nullptr;
  bool Imported = false;                            // made by reading back an earlier session
  std::unique_ptr<TFEntry> Record;                  // this directory's entry in its parent
  TNameScope Names;                                 // identifiers taken in this directory
  std::unordered_map<std::string, TFEntry*> Files;  // file entries by Key

  // The ISO tree (set by PrepareImage): with Rock Ridge a folder that would lie deeper than eight
  // levels is relocated into the relocation folder, under a name unique there (MovedName); its
  // place in its real parent holds a file record that points to it.
  TDEntry* IsoParent = nullptr;
  uint32_t IsoLevel = 1;
  bool Relocated = false;
  std::string MovedName;
  uint32_t Serial = 0;
  uint32_t Links = 2;  // the Rock Ridge link count: 2 and one per subfolder
};

// A file or folder that an addition left out, and why.
struct TSkippedFile {
  std::string Path;
  std::string Reason;
};

class TDiscBurner;
class TCacheThread;
// A burn ended: error is empty on success.
using TWriteDoneEvent = std::function<void(TDiscBurner* sender, const std::string& error)>;
// An erase ended.
using TEraseDoneEvent = std::function<void(TDiscBurner* sender, bool withError)>;
// Called before a file is added; may change the names and the date, or set skip.
using TAddFileEvent = std::function<void(
    TDiscBurner* sender, const std::string& fullPath, std::string& longFileName,
    std::string& shortFileName, int64_t& dateTime, uint32_t attr, int64_t fileSize, bool& skip)>;
// Called before a subdirectory found on disk is added; skip leaves the whole subtree out.
using TAddDirEvent = std::function<void(TDiscBurner* sender, const std::string& longName,
                                        std::string& shortName, bool& skip)>;

class TDiscBurner : public TSCSIDevice {
 public:
  TDiscBurner();
  ~TDiscBurner() override;

  // --- identifiers and dates of the volume descriptors (empty and 0 by default); dates are day
  // numbers counted from 30 December 1899, local time, fractions being the time of day
  std::string IdVolume, IdSystem, IdVolumeSet, IdPublisher, IdPreparer, IdApplication;
  std::string FileCopyright, FileAbstract, FileBibliographic;
  double DateCreation = 0, DateModification = 0, DateEffective = 0, DateExpiration = 0;
  bool JolietFileSystem = true;
  // The ISO tree carries Rock Ridge (real names, modes, owners, times, links, deep folders).
  bool RockRidge = true;
  // With Rock Ridge: symbolic links found in folders are stored as links (and left out of the
  // Joliet tree), not followed.
  bool LinksAsLinks = false;
  bool ReplaceFile = false;
  bool WritePostGap = true;
  // 0: start with an empty tree; -1: read back the last session; n: read back session n.
  int16_t ImportSession = 0;
  // Set by the writer: PrepareImage asks the drive for the next writable address.
  bool AskNextWritableAddress = false;
  TAddFileEvent OnAddFile;
  TAddDirEvent OnAddDir;
  // Answers ArchiveOnly; one with the default state file is made when needed and none was set.
  TArchiveAttributes* ArchiveAttributes = nullptr;

  // --- building the tree (while a burn reads the image, every change is refused: ClearImage
  // and the additions do nothing, PrepareImage returns false)
  void ClearImage(uint32_t maxFiles, uint32_t maxDirs);
  TDEntry* FindDir(const std::string& path) const;
  TDEntry* MakeDir(const std::string& path);
  // 1: added; 255: no file matches sourceFile; 0: not added (no destination, capacity, a file
  // too large, an entry of that name already there, left out by OnAddFile).
  int AddFile(const std::string& destDir, const std::string& sourceFile, bool savePath);
  // 0 only when the destination cannot be found or made or a capacity runs out; files and folders
  // left out for other reasons are listed in SkippedFiles and the addition goes on.
  int AddDir(const std::string& destDir, const std::string& sourceDir, bool archiveOnly,
             bool savePath, bool recursive, uint32_t attr = 63, const std::string& mask = "*.*");
  uint32_t DirCount() const { return static_cast<uint32_t>(dirs_.size() - 1); }
  uint32_t FileCount() const { return static_cast<uint32_t>(files_.size()); }
  const std::vector<TSkippedFile>& SkippedFiles() const { return skipped_; }
  // What the image holds otherwise than it was given, though nothing of it is lost: files and
  // folders whose names are recorded differently (characters the disc cannot hold, too long, or
  // numbered to stay unique), and links to nothing, left out.
  std::vector<TSkippedFile> Notices() const;

  // --- layout and metadata
  // Reads back the earlier session when ImportSession is set (entries already in the tree keep
  // their place: a read-back file of the same name is left out), then lays the session out.
  // Running it again reads the disc again and gives the same tree. False when the session
  // cannot be represented (more than 2^32 sectors).
  bool PrepareImage();
  // Reads back the session ImportSession names into the tree now, so that callers can see what
  // the disc already holds before adding (PrepareImage reads it again).
  void ImportSessionTree();
  uint32_t ImageSize() const;
  void WriteImageMetadata();

  // --- burning and erasing (started and watched from the main thread)
  // Lays the image out at the drive's next writable address, starts the read-ahead cache and,
  // once it is primed, the writer thread. False when the cache failed before the writer could
  // start; OnWriteDone has then been called already.
  bool BurnImage();
  // The sectors a burn of the laid-out session sends to a disc of this type (DiscType), and the
  // sectors the disc in the drive has free for it. BurnImage refuses to start when the first
  // is larger.
  uint64_t SectorsToWrite(int type) const;
  uint32_t Room(int type);
  // Asks the running burn to stop at its next block and returns at once; OnWriteDone tells when
  // the writer has wound down.
  void AbortWrite();
  // Waits until the writer and eraser threads have ended (closing the program).
  void WaitForWorkers();
  // A burn (from BurnImage until its OnWriteDone) or an erase runs: the image and the drive are
  // in use, and a second burn or erase is refused. (Busy() is the drive's busy answer.)
  bool InUse() const;
  // What holds a rewritable disc (DVD+RW, DVD-RAM, DVD-RW in restricted overwrite) that a burn
  // would overwrite from sector 0: "UDF", "UNKNOWN" (data without an ISO 9660 volume), or ""
  // (blank, an ISO 9660 volume, or another kind of disc).
  std::string ForeignFileSystem();
  // BurnImage overwrites a disc that holds another file system (else it refuses to start).
  bool OverwriteForeign = false;
  // Starts blanking (CD-RW, DVD-RW) or formatting (DVD+RW, DVD-RAM); true when started.
  bool EraseDisc(bool quick);
  // 0-100 while an erase runs, else 0.
  int EraseProgress() const { return erasing_ ? eraseProgress_.load() : 0; }
  bool Erasing() const { return erasing_; }
  bool Writing() const { return writing_; }
  bool Aborted() const { return aborted_; }
  // Bytes the writer has sent (at most ImageSize sectors' worth).
  int64_t WrittenBytes() const { return writtenBytes_; }
  // Milliseconds the writer of the last burn waited for the cache once writing had begun (the
  // drive was then starved of data).
  int64_t WriterWaitedMs() const { return writerWaitedUs_ / 1000; }
  std::string CurrentFile() const;
  std::string WriteError() const;
  uint32_t CacheSize() const { return cacheSize_; }
  // Values below 2 MB become 2 MB; others are rounded down to whole sectors.
  void SetCacheSize(uint32_t bytes);
  bool PerformOPC = true;
  bool FinalizeTrack = true;
  TWriteDoneEvent OnWriteDone;
  TEraseDoneEvent OnEraseDone;
  // Fired on the writer thread before the track is closed.
  std::function<void(TDiscBurner* sender)> OnFinalizingTrack;
  // Runs a completion event on the main thread without waiting for it (the application posts a
  // queued call). Unset, the event runs on the thread that finished the work. An event that runs
  // after the burner began to be destroyed does nothing.
  std::function<void(std::function<void()> call)> PostToMain;

  // --- the image state
  const std::vector<uint8_t>& MetaStream() const { return metaStream_; }
  void ReleaseMetaStream() { std::vector<uint8_t>().swap(metaStream_); }
  // The system area and volume descriptors of the last serialisation in a 65 537-byte buffer of
  // FFh, for writers that put them again at the start of the disc.
  const std::vector<uint8_t>& ImageHead() const { return imageHead_; }
  int64_t DataBytes() const { return dataBytes_; }
  int64_t ImageEnd() const { return imageEnd_; }
  int64_t TrackSize() const { return trackSize_; }
  uint32_t NextAddress() const { return nwa_; }
  uint32_t FirstFileLocation() const { return firstFile_; }
  bool ImageBuilt() const { return imageBuilt_; }
  int8_t GmtOffset() const { return gmtOffset_; }
  TDEntry* Root() const { return dirs_.front().get(); }
  // Directories in creation order (the root first) and in the order of the ISO and the Joliet
  // path tables (the ISO one without the folders deeper than its eight levels).
  std::vector<TDEntry*> Dirs() const;
  const std::vector<TDEntry*>& PathTableOrder() const { return pathOrder_; }
  const std::vector<TDEntry*>& JolietPathTableOrder() const { return jolietPathOrder_; }
  static constexpr uint32_t kMaxIsoLevels = 8;
  // The folders of the ISO tree in the order of their extents: Dirs() and the relocation folder.
  std::vector<TDEntry*> IsoDirs() const;
  // The relocation folder of the ISO tree (after PrepareImage), or null when none is needed.
  const TDEntry* RelocationDir() const { return moved_.get(); }
  // File entries in creation order: the order of their data.
  const std::vector<TFEntry*>& Entries() const { return files_; }

  // Bytes of the ISO and Joliet path tables (known after PrepareImage).
  uint32_t IsoPathTableSize() const { return isoPtSize_; }
  uint32_t JolietPathTableSize() const { return jolietPtSize_; }

 private:
  enum class TEntryResult { Added, Refused, Full };
  TEntryResult AddEntry(TDEntry* dir, const std::string& sourcePath, const std::string& name,
                        const struct stat& st, bool archiveOnly,
                        const std::string* linkTarget = nullptr);
  int AddDirInto(TDEntry* dest, const std::string& sourceDir, bool archiveOnly, bool recursive,
                 uint32_t attr, const std::string& mask);
  TDEntry* NewDir(TDEntry* parent, const std::string& name, std::string shortName, int64_t dateTime,
                  uint32_t attr);
  // A new file entry in dir under its three names (an empty Joliet name is made from the key),
  // the names taken in the folder's scope.
  TFEntry* NewFile(TDEntry* dir, const std::string& name, const std::string& shortName,
                   const std::string& longName, const std::u16string& jolietName);
  // The Joliet name for name in dir (not taken yet); displaced is the entry that must give it up
  // (RenameJoliet, once the new holder has taken it).
  std::u16string JolietNameIn(TDEntry* dir, const std::string& name, bool isFile,
                              TFEntry*& displaced);
  void RenameJoliet(TDEntry* dir, TFEntry* entry);
  void AppendChild(TDEntry* dir, TFEntry* entry);
  void UnlinkChild(TDEntry* dir, TFEntry* entry);
  void RemoveSubtree(TDEntry* dir);
  void Skip(const std::string& path, const std::string& reason);
  static std::string NormalDiscPath(const std::string& path);
  // Which directories the ISO tree records (IsoRecorded) and where: without Rock Ridge those
  // within its eight levels, with it all, deeper ones relocated.
  void PlaceIsoTree();
  // The ISO identifier of a directory in its ISO parent.
  static const std::string& IsoIdOf(const TDEntry* d) {
    return d->Relocated ? d->MovedName : d->ShortName;
  }
  // The System Use fields of a record: of dir's "." (self) or ".." (parent), or of entry e in dir.
  std::vector<std::vector<uint8_t>> SystemUse(const TDEntry* dir, const TFEntry* e, int dots,
                                              int64_t now) const;
  void NumberDirectories();
  void SizeExtents();
  // The records of a directory's extent in their order (ECMA-119 9.3) in one tree.
  std::vector<const TFEntry*> Records(const TDEntry* dir, bool joliet) const;
  // Lays out (out null: only counts) or writes the directory's extent; returns its sectors.
  uint32_t WriteExtent(const TDEntry* dir, bool joliet, uint8_t* out, int64_t now,
                       rr::TContinuation* ce) const;

  // Reading back an earlier session (sessionimport.cpp).
  struct TImport;
  // Removes what the last read-back added: its files, and its folders unless they hold entries
  // added since.
  void DropImported();
  // Reads one directory extent into dir; false when the read-back must stop.
  bool ImportExtent(TImport& im, TDEntry* dir, uint32_t extent, uint32_t size);
  TEntryResult AddImported(TDEntry* dir, const std::string& name, uint32_t location, uint32_t size,
                           int64_t dateTime, bool hidden, const rr::TEntryInfo* info);
  // Leaves out read-back files whose data the new session would overwrite.
  void DropOverwritten();

  void WriterMain(int type, uint32_t blockSize);
  void SetDriveBack();
  void EraserMain(int type, bool quick, uint32_t expectedSeconds);
  void Post(std::function<void()> call);
  void JoinWorkers();
  // Sleeps ms on the disc clock in short steps; false when a stop was asked for meanwhile.
  bool Pause(uint32_t ms);
  // One WRITE(10) with the busy retries; the failure text in error.
  bool WriteBlock(uint32_t lba, uint16_t sectors, const uint8_t* data, std::string& error);

  // False once destruction has begun: completion events still queued are then dropped.
  std::shared_ptr<std::atomic<bool>> alive_ = std::make_shared<std::atomic<bool>>(true);
  uint32_t cacheSize_ = 4194304;
  std::unique_ptr<TCacheThread> cache_;
  std::thread writer_, eraser_;
  std::atomic<bool> writing_{false}, aborted_{false}, erasing_{false}, stop_{false};
  // From the start of a burn's cache until its writer has ended: the image is being read.
  std::atomic<bool> burning_{false};
  // True (with a message) when the image may not change now.
  bool ImageLocked();
  std::atomic<int64_t> writtenBytes_{0};
  std::atomic<int64_t> writerWaitedUs_{0};
  std::atomic<int> eraseProgress_{0};
  mutable std::mutex stateMutex_;  // currentFile_, writeError_
  std::string currentFile_, writeError_;

  uint32_t maxFiles_ = 65535, maxDirs_ = 8191;
  std::vector<std::unique_ptr<TDEntry>> dirs_;  // creation order; owns the directories
  std::unordered_map<std::string, TDEntry*> dirIndex_;
  std::vector<TDEntry*> pathOrder_, jolietPathOrder_;
  std::unique_ptr<TDEntry> moved_;   // the relocation folder of the ISO tree, when one is needed
  std::vector<TDEntry*> movedDirs_;  // the folders relocated into it
  std::vector<TFEntry*> files_;  // creation order; owns the file entries
  std::vector<TSkippedFile> skipped_;
  std::vector<TSkippedFile> notices_;
  std::unique_ptr<TArchiveAttributes> ownAttributes_;

  std::vector<uint8_t> metaStream_;
  std::vector<uint8_t> imageHead_;
  int64_t dataBytes_ = 0;
  int64_t imageEnd_ = 0, trackSize_ = 0;
  bool imageBuilt_ = false;
  bool prepared_ = false;  // the layout matches the tree
  int8_t gmtOffset_ = 0;

  // layout, absolute sectors
  uint32_t nwa_ = 0;
  uint32_t isoPtSize_ = 0, jolietPtSize_ = 0;
  uint32_t isoPtL_ = 0, isoPtM_ = 0, jolietPtL_ = 0, jolietPtM_ = 0;
  uint32_t isoDirStart_ = 0, jolietDirStart_ = 0, metaEnd_ = 0;
  uint32_t ceStart_ = 0, ceSectors_ = 0;  // Rock Ridge continuation areas
  uint32_t firstFile_ = 0;
};
