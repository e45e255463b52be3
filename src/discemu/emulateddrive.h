// An emulated MMC drive: a sparse image file holds the disc's sectors, a side-car text file its
// state (medium, sessions, drive strings, speeds). It answers the commands of the device layer as
// a CD/DVD writer does, with the same sense codes, and keeps a log of every command.
//
// The state file "srN.state" beside "srN.img" is one "key=value" per line and may be written by
// hand:
//   profile=CD-R            CD-ROM CD-R CD-RW DVD-ROM DVD-R DVD-RAM DVD-RW-RO DVD-RW-SEQ DVD+RW
//                           DVD+R, or NONE (no medium)
//   capacity=359847         sectors
//   sessions=0-1200,12600-13000   closed sessions as first-last+1
//   session_start=, nwa=    the open session's start and next writable address
//   reserved=0              sectors RESERVE TRACK set aside for the open track (0: none)
//   complete=0|1            the disc is finalised
//   formatted=0|1  write_protected=0|1  medium=0|1  tray_open=0|1
//   writer=0|1              0: the drive reads discs only
//   vendor=, product=, revision=   inquiry strings
//   speeds=7056,5645,2822   write speeds in kB/s, fastest first (a speed asked for is rounded
//                           down to one of them); read_speed=8467
//   page_offset=16|8|7      where mode pages start in MODE SENSE data
//   write_modes=7           bit 0 raw, bit 1 session-at-once, bit 2 track-at-once accepted
//   address=H:T:L           the drive's SCSI address (default N:0:0)
//   realtime=0|1            writes take as long as the current write speed says (the speed in
//                           kB/s, 1000 bytes a second); 0, the default, writes at once
//
// The fault file "srN.faults" beside them, when there is one, makes commands fail on purpose:
// one fault a line, looked at before every command, the first that matches fires. A fault is
// consumed as it is used: its count goes down in the file and the line goes once it reaches 0
// (the file too, once empty). Numbers after "lba>=" and "count=" are decimal, the rest hex.
//   OPCODE [lba>=N] sense KEY ASC ASCQ [count=C]   the command fails with that sense
//   OPCODE [lba>=N] busy [count=C]                  the target answers BUSY
//   OPCODE [lba>=N] stall [count=C]                 the command never completes
//   remove-medium-at OPCODE [lba>=N]                the medium goes out as the command comes;
//                                                   it fails with MEDIUM NOT PRESENT
// C is 1 when not given; "lba>=N" matches READ(10) and WRITE(10) at sector N or past it only.
// Blank lines and lines starting with "#" are kept as they are; so is a line that does not
// read as a fault, which never fires.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "disc/scsi.h"

struct TEmuSession {
  uint32_t Start = 0, End = 0;  // End is one past the last recorded sector
};

struct TEmuState {
  std::string Profile = "CD-R";
  uint32_t Capacity = 0;
  std::vector<TEmuSession> Sessions;
  uint32_t SessionStart = 0, Nwa = 0;
  uint32_t Reserved = 0;
  bool Complete = false, Formatted = true, WriteProtected = false, Medium = true, TrayOpen = false;
  bool Writer = true;  // false: a drive that only reads
  std::string Vendor = "ARCAVO", Product = "EMULATED WRITER", Revision = "1.00";
  std::vector<uint16_t> Speeds = {7056, 5645, 2822};
  uint16_t ReadSpeed = 8467, CurrentWriteSpeed = 0;
  int PageOffset = 8;
  uint8_t WriteModesAccepted = 7;
  bool Realtime = false;
  uint8_t Adapter = 0, Target = 0, Lun = 0;
  uint8_t WriteParams[52] = {};

  // The default state of a new blank medium of `profile`.
  static TEmuState ForProfile(const std::string& profile);
  static bool Load(const std::string& path, TEmuState& out);
  bool Save(const std::string& path) const;
};

// The MMC profile number of a profile name (0 for NONE or unknown names).
uint16_t EmuProfileNumber(const std::string& name);

class TEmulatedDrive {
 public:
  // `base` is the path without extension: base + ".img" and base + ".state".
  TEmulatedDrive(std::string base, IDiscClock* clock);
  ~TEmulatedDrive();

  // Creates a new drive's files for a blank medium of `profile`. False on a bad profile or I/O.
  static bool Create(const std::string& base, const std::string& profile, uint8_t adapter);

  bool Load();
  const std::string& Base() const { return base_; }
  TEmuState State();
  void SetState(const TEmuState& state);

  // Executes one request: fills Status, sense, Transferred; a stalled command stays pending.
  void Execute(TScsiRequest& request);

  // Fault injection from C++ (beside the fault file): the next `count` commands with `opcode` fail
  // with the sense, or with target status BUSY, or never complete (stall). A new fault for an
  // opcode replaces the one injected before for it.
  void InjectSense(uint8_t opcode, uint8_t key, uint8_t asc, uint8_t ascq, int count = 1);
  void InjectBusy(uint8_t opcode, int count = 1);
  void InjectStall(uint8_t opcode);
  void RemoveMedium();
  // Holds the next command with `opcode` (a WRITE only at or past sector `fromLba`) before it is
  // carried out, until ReleaseHold, or 30 s at most: a test sees the burn stand still at a point
  // of its choosing (its progress, what was written by then) without timing races.
  void HoldCommand(uint8_t opcode, uint32_t fromLba = 0);
  void ReleaseHold();
  // A command is held now.
  bool Holding();

  // Every command received, as its CDB in hex ("2A 00 00 00 00 10 00 00 20 00").
  std::vector<std::string> CommandLog();

 private:
  enum class TFaultKind { Sense, Busy, Stall, RemoveMedium };
  struct TFault {
    uint8_t Opcode = 0;
    TFaultKind Kind = TFaultKind::Sense;
    uint8_t Key = 0, Asc = 0, Ascq = 0;
    bool FromLbaSet = false;
    uint32_t FromLba = 0;
    int Count = 1;
    size_t Line = 0;  // the line of the fault file it was read from
  };
  static bool ParseFault(const std::string& line, TFault& out);
  static std::string FaultText(const TFault& f);
  bool Matches(const TFault& f, const TScsiRequest& r) const;
  // Rereads the fault file when it changed; the fault of it that matches r, consumed, or false.
  bool TakeFileFault(const TScsiRequest& r, TFault& out);
  void InjectLocked(const TFault& f);
  void ExecuteLocked(TScsiRequest& r);
  void WaitWhileHeld(const TScsiRequest& r);
  void Dispatch(TScsiRequest& r);
  void Sense(TScsiRequest& r, uint8_t key, uint8_t asc, uint8_t ascq);
  void Persist();
  uint16_t Profile() const;
  bool WriteOnce() const;
  bool Overwritable() const;
  bool IsCd() const;
  uint32_t ReadableEnd() const;
  bool BusyNow(TScsiRequest& r);
  void StartBusy(uint32_t ms, uint8_t ascq);
  void Reply(TScsiRequest& r, const std::vector<uint8_t>& data);
  std::vector<uint8_t> ModePage(uint8_t page, bool defaults);
  std::vector<uint8_t> TrackInfo(uint32_t track, bool& ok);

  std::string base_;
  IDiscClock* clock_;
  std::mutex lock_;
  TEmuState s_;
  int fd_ = -1;
  bool unitAttention_ = false;
  uint64_t busyUntil_ = 0;
  uint64_t writeDoneUs_ = 0;  // with realtime: when the data written so far is on the disc
  uint32_t sleepMs_ = 0;      // how long the command in hand takes beyond its work
  uint8_t busyAscq_ = 0;
  struct TLoggedCdb {
    uint8_t Bytes[16];
    uint8_t Length;
  };
  std::vector<TFault> faults_;  // injected from C++
  // The fault file as last read: its lines, the faults among them, and what it looked like.
  std::vector<std::string> faultLines_;
  std::vector<TFault> fileFaults_;
  struct TFileStamp {
    bool Exists = false;
    uint64_t Inode = 0, Size = 0;
    int64_t MtimeNs = 0;
    bool operator==(const TFileStamp&) const = default;
  } faultStamp_;
  std::vector<TLoggedCdb> log_;
  // The held command (HoldCommand); its own lock, as the held command waits outside lock_.
  std::mutex holdLock_;
  std::condition_variable holdWake_;
  bool holdArmed_ = false, holding_ = false;
  uint8_t holdOpcode_ = 0;
  uint32_t holdFrom_ = 0;
  uint64_t holdReleases_ = 0;
};

// The transport over a folder of emulated drives (srN.state + srN.img).
class TEmulatedTransport : public IScsiTransport {
 public:
  explicit TEmulatedTransport(std::string folder, IDiscClock* clock = nullptr);
  std::vector<TScsiDriveEntry> Discover() override;
  void Send(TScsiRequest& request, uint32_t timeoutMs) override;
  uint8_t Poll(TScsiRequest& request) override { return request.Status; }
  void Abort(TScsiRequest& request) override;

  // The drive at an address (after Discover), or nullptr.
  TEmulatedDrive* Drive(uint8_t adapter, uint8_t target, uint8_t lun);
  TEmulatedDrive* DriveByNode(const std::string& node);

 private:
  std::string folder_;
  IDiscClock* clock_;
  std::mutex lock_;
  std::map<std::string, std::unique_ptr<TEmulatedDrive>> drives_;  // by node name
  std::map<std::tuple<uint8_t, uint8_t, uint8_t>, TEmulatedDrive*> byAddress_;
};

// Makes ARCAVO_EMULATED_DRIVES serve these drives (called once by programs that link them).
void InstallEmulatedDrives();
