// The SCSI/MMC device layer of the disc writer: finds the CD/DVD drives, selects one by its id
// string, sends commands through a transport, turns every failure into an upper-case text and
// offers the queries and settings that burning and erasing need.
//
// Every command waits on the disc clock; on the thread that made the device, waits also call
// ProcessMessages so a window stays alive. Commands are issued one at a time (a lock keeps
// concurrent callers apart).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "disc/scsi.h"

// Disc type codes.
enum : uint8_t {
  dtUnknown = 0,
  dtCdRom = 1,
  dtCdR = 2,
  dtCdRw = 3,
  dtDvdRom = 4,
  dtDvdR = 5,
  dtDvdRam = 6,
  dtDvdRw = 7,
  dtDvdRwRestricted = 8,
  dtDvdRwSequential = 9,
  dtDvdPlusRw = 10,
  dtDvdPlusR = 11,
  dtDdcdRom = 12,
  dtDdcdR = 13,
  dtDdcdRw = 14,
};

// The display name of a disc type code ("UNKNOWN" outside 0-14).
const char* DiscTypeName(int type);
// The disc type code of an MMC current profile (0 when the profile has no code).
uint8_t DiscTypeOfProfile(uint16_t profile);

// Capability bits.
enum : uint32_t {
  capReadCdR = 0x1,
  capReadCdRw = 0x2,
  capReadMethod2 = 0x4,
  capReadDvdRom = 0x8,
  capReadDvdR = 0x30,
  capReadDvdRam = 0x40,
  capWriteCdR = 0x200,
  capWriteCdRw = 0x400,
  capTestWrite = 0x800,
  capWriteDvdR = 0x3000,
  capWriteDvdRam = 0x4000,
  capUnderrunProtection = 0x40000,
  capDvdPlusRw = 0x18180,
  capDvdRwSeq = 0x3030,
};

// Debug message kinds.
enum : uint8_t { dmError = 0, dmInfo = 1 };

struct TDisc {
  uint8_t Present = 0;
  uint32_t Capacity = 0;
  uint32_t Used = 0;
  uint32_t BlockSize = 2048;
  uint8_t FirstSession = 0;
  uint8_t LastSession = 0;
  uint8_t SessionState = 0;
  uint8_t DiscStatus = 0;
  uint16_t Profile = 0;
  std::string MediaName;
  uint8_t Erasable = 0;
};

// Data direction of one command.
enum class TDir : uint8_t { None, In, Out };

class TSCSIDevice;
using TOnDebugMsg =
    std::function<void(TSCSIDevice* sender, const std::string& message, uint8_t kind)>;
using TDeviceChangedEvent = std::function<void(TSCSIDevice* sender)>;

class TSCSIDevice {
 public:
  TSCSIDevice();
  virtual ~TSCSIDevice();
  TSCSIDevice(const TSCSIDevice&) = delete;
  TSCSIDevice& operator=(const TSCSIDevice&) = delete;

  // --- seams: the transport, the clock, the message pump
  // Uses `transport` for every command (ownership passes); nullptr returns to no transport.
  void SetTransport(std::unique_ptr<IScsiTransport> transport);
  IScsiTransport* Transport() const { return transport_.get(); }
  void SetClock(IDiscClock* clock) { clock_ = clock ? clock : &SystemDiscClock(); }
  IDiscClock& Clock() const { return *clock_; }
  // Called during waits on the thread that created the device (the main thread).
  std::function<void()> ProcessMessages;

  // --- transport and drives
  // Makes a transport available: the emulated drives of ARCAVO_EMULATED_DRIVES when set, else
  // the SG_IO transport (there is no library to load: PreferBuiltIn and LibraryPath are ignored).
  // True when a drive is found; the drives are enumerated.
  bool InitTransport(bool preferBuiltIn = false, const std::string& libraryPath = "");
  void ReleaseTransport() {}
  bool ASPIInitialized() const { return initialized_; }
  void EnumerateDevices();
  // Selects the drive of an id as listed. An id that the last enumeration no longer lists (the
  // drive was plugged in again and got another address) selects the drive listed under the same
  // vendor, product and revision: the one on the same node, or the only one of that name.
  void SelectDevice(const std::string& id);
  // The listed id that SelectDevice takes for id.
  std::string CurrentIdOf(const std::string& id) const;
  // The short name of the selected drive ("sr0"), empty when unknown.
  std::string DriveLetter() const;
  // Reopens the selected drive for exclusive use (burns, erases) or back for shared use.
  bool SetExclusive(bool exclusive);
  // The drive's root: the pseudo-folder "/dev/srN/".
  std::string DriveRoot() const;

  uint8_t Adapter = 254, Target = 254, Lun = 254;
  std::string DeviceId, DeviceName;
  uint8_t DeviceType = 127;
  std::vector<std::string> DeviceList;
  uint32_t Capabilities = 0;
  uint8_t CapabilitiesPage[256] = {};
  uint8_t WriteParams[54] = {};
  uint8_t WriteModes = 0;
  uint16_t DeviceMaxWriteSpeed = 0, DeviceMaxReadSpeed = 0;
  uint32_t DeviceBufferSize = 0, DeviceFreeBufferSize = 0;
  uint16_t ReadSpeed = 0;
  bool UnderrunProtection = true, TestWrite = false, FinalizeDisc = false, DoDebug = false;
  TOnDebugMsg OnDebugMessage;
  TDeviceChangedEvent OnDeviceChange;

  // Quirks set at selection.
  bool QuirkUnderrun = false, QuirkLsv = false, QuirkTurLoop = false, CloseImmediate = true;

  // --- the last failure
  std::string LastError() const;
  void SenseCopy(uint8_t out[32]) const;
  uint8_t SenseAsc() const;
  uint8_t SenseAscq() const;
  bool Busy() const;

  // The critical section shared with the cache thread.
  void Lock() { blockLock_.lock(); }
  void Unlock() { blockLock_.unlock(); }

  // --- commands
  uint8_t ExecCommand(TScsiRequest& request, uint32_t timeoutMs);
  // One command: CDB bytes, direction, buffer and time-out. Returns the status.
  uint8_t Command(std::initializer_list<uint8_t> cdb, TDir dir, void* buffer, uint32_t length,
                  uint32_t timeoutMs, uint32_t* received = nullptr);
  uint8_t CommandCdb(const uint8_t* cdb, uint8_t cdbLength, TDir dir, void* buffer, uint32_t length,
                     uint32_t timeoutMs, uint32_t* received = nullptr);

  bool TestUnitReady(uint32_t timeoutMs = 5000);
  bool WaitReady(uint32_t totalMs, uint32_t intervalMs);
  bool ReadCapabilities();
  uint16_t MaxWriteSpeed();
  uint16_t MaxReadSpeed();
  uint16_t CurrentWriteSpeed();
  uint8_t SetSpeed(uint16_t readSpeed, uint16_t writeSpeed);
  uint16_t WriteSpeed() const { return writeSpeed_; }
  void SetWriteSpeed(uint16_t speed);

  int DiscType();
  bool IsErasable();
  int SessionCount();
  int DiscStatus();
  uint32_t FreeSectors();
  uint32_t DiscCapacity();
  uint32_t LastSessionStart();
  TDisc GetDiscInfo();
  bool SetWriteParameters(bool test, bool bufe, int type);

  // Replies land in `buffer`; the number of bytes received comes back in `received`.
  uint8_t Inquiry(uint8_t* buffer /*128*/, uint32_t* received = nullptr);
  uint8_t ReadTrackInfo(uint32_t track, uint8_t* buffer /*40*/, uint32_t* received = nullptr);
  uint8_t ReadDiscInfo(uint8_t* buffer /*56*/, uint32_t* received = nullptr);
  uint8_t ReadBufferCapacity();
  uint8_t ReadToc(uint8_t format, bool msf, uint8_t track, uint8_t* buffer, uint16_t length,
                  uint32_t* received = nullptr);
  uint8_t ReadFormatCapacities(uint8_t* buffer /*248*/, uint32_t* received = nullptr);
  uint8_t ReadCapacity(uint8_t* buffer /*8*/, uint32_t* received = nullptr);
  uint8_t GetConfiguration(uint8_t rt, uint16_t feature, uint8_t* buffer /*114*/,
                           uint32_t* received = nullptr);
  uint8_t ModeSense(uint8_t page, bool defaults, uint8_t* buffer, uint16_t length,
                    uint32_t* received = nullptr);
  uint8_t ModeSelect(const uint8_t* buffer, uint16_t length);
  uint8_t ReadSectors(uint32_t lba, uint16_t count, void* buffer);
  uint8_t WriteSectors(uint32_t lba, uint16_t count, uint8_t flags, uint32_t bytes,
                       const void* buffer);
  uint8_t SyncCache(uint32_t timeoutMs, bool immediate);
  uint8_t CloseTrackSession(bool immediate, uint8_t function, uint16_t track);
  uint8_t Blank(bool quick);
  uint8_t FormatUnit(const uint8_t parameterList[12]);
  uint8_t StartStop(bool eject);
  uint8_t PreventRemoval(bool prevent);
  uint8_t Rezero();
  uint8_t RequestSense(uint8_t* buffer /*40*/, uint32_t* received = nullptr);
  uint8_t SendOpc();
  uint8_t ReserveTrack(uint32_t sectors);
  uint8_t SetStreaming(const uint8_t descriptor[28]);
  uint8_t SendDvdTimestamp(const std::string& time14);

  // The next writable address of the incomplete track (0 when unknown).
  uint32_t NextWritableAddress();
  // The volume space size of the ISO 9660 volume at the start of the disc (0 when none).
  uint32_t VolumeSpaceSize();
  // Sends a debug message through OnDebugMessage.
  void DebugMessage(const std::string& message, uint8_t kind);

 private:
  void Wait(uint32_t ms);
  void ClearSelection();
  void SetQuirks(const std::string& vendor, const std::string& product);
  void ProbeWriteModes();
  // Locates a mode page in MODE SENSE data (offset 16, 8 or 7), -1 when not there.
  static int FindPage(const uint8_t* data, uint32_t received, uint8_t page);

  std::unique_ptr<IScsiTransport> transport_;
  IDiscClock* clock_;
  std::thread::id mainThread_;
  bool initialized_ = false;
  uint16_t writeSpeed_ = 0;
  int lastDiscType_ = dtUnknown;         // from the last DiscType
  std::vector<TScsiDriveEntry> drives_;  // from the last enumeration

  mutable std::mutex stateLock_;  // LastError, SenseCopy, Busy
  std::string lastError_;
  uint8_t senseCopy_[32] = {};
  bool busy_ = false;
  bool dumped_ = false;  // the "<<< " dump was given for this drive
  std::recursive_mutex commandLock_;
  std::mutex blockLock_;
};

// Reads a big-endian number of `n` bytes.
inline uint32_t BigEndian(const uint8_t* p, int n) {
  uint32_t v = 0;
  for (int i = 0; i < n; ++i) v = (v << 8) | p[i];
  return v;
}
// Writes v as a big-endian number of 2 or 4 bytes.
inline void Put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
inline void Put32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}
