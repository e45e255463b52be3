// The SCSI request block the device layer sends, the transports that carry it and the clock its
// waits run on.
//
// A request block has the fields of an ASPI execute-SCSI-command request: the caller fills the
// command descriptor block, the data direction flags and the buffer; the transport fills Status,
// the adapter and target status bytes, the sense data and the number of bytes transferred.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

// Request kinds (TScsiRequest::Command).
enum : uint8_t {
  SC_HA_INQUIRY = 0,
  SC_GET_DEV_TYPE = 1,
  SC_EXEC_SCSI_CMD = 2,
  SC_ABORT_SRB = 3,
  SC_GET_DISK_INFO = 6,
};

// Request status (TScsiRequest::Status).
enum : uint8_t {
  SS_PENDING = 0,
  SS_COMP = 1,
  SS_ABORTED = 2,
  SS_ABORT_FAIL = 3,
  SS_ERR = 4,
  SS_INVALID_CMD = 0x80,
  SS_INVALID_HA = 0x81,
  SS_NO_DEVICE = 0x82,
  SS_INVALID_SRB = 0xE0,
  SS_BUFFER_ALIGN = 0xE1,
  SS_NO_TRANSPORT = 0xE2,  // set by the device layer itself: no transport or no drive selected
  SS_ASPI_IS_BUSY = 0xE5,
  SS_BUFFER_TOO_BIG = 0xE6,
};

// Request flags: the program uses 0x40 (no data), 0x48 (data in) and 0x50 (data out).
enum : uint8_t {
  SRB_DIR_IN = 0x08,
  SRB_DIR_OUT = 0x10,
  SRB_EVENT_NOTIFY = 0x40,
};

// Host adapter status (TScsiRequest::AdapterStatus).
enum : uint8_t {
  HASTAT_OK = 0,
  HASTAT_TIMEOUT = 9,
  HASTAT_COMMAND_TIMEOUT = 11,
  HASTAT_MESSAGE_REJECT = 13,
  HASTAT_BUS_RESET = 14,
  HASTAT_PARITY_ERROR = 15,
  HASTAT_REQUEST_SENSE_FAILED = 16,
  HASTAT_SEL_TO = 17,
  HASTAT_DO_DU = 18,
  HASTAT_BUS_FREE = 19,
};

// SCSI status (TScsiRequest::TargetStatus).
enum : uint8_t {
  STATUS_GOOD = 0,
  STATUS_CHKCOND = 2,
  STATUS_BUSY = 8,
  STATUS_RESCONF = 0x18,
  STATUS_QUEUE_FULL = 0x28,
};

constexpr uint8_t kSenseLength = 24;
constexpr uint32_t kMinCommandWaitMs = 10000;

struct TScsiRequest {
  uint8_t Command = 0;
  uint8_t Status = 0;
  uint8_t Adapter = 0;
  uint8_t Flags = 0;
  uint8_t Target = 0;
  uint8_t Lun = 0;
  uint32_t BufferLength = 0;
  uint8_t* BufferPointer = nullptr;
  uint8_t SenseLength = 0;
  uint8_t CdbLength = 0;
  uint8_t AdapterStatus = 0;
  uint8_t TargetStatus = 0;
  uint8_t Cdb[16] = {};
  uint8_t Sense[32] = {};
  // Filled by the transport: the bytes actually moved and the sense bytes actually returned.
  // Replies are read no further than these.
  uint32_t Transferred = 0;
  uint8_t SenseReturned = 0;
};

// One drive a transport can reach, as discovery found it.
struct TScsiDriveEntry {
  uint8_t Adapter = 0;
  uint8_t Target = 0;
  uint8_t Lun = 0;
  uint8_t DeviceType = 0x1F;              // peripheral device type
  std::string Node;                       // "sr0": the short name of the drive
  std::string Vendor, Product, Revision;  // when the drive could not be asked itself
};

// Carries request blocks to drives. Send either completes the request (Status set) or leaves it
// pending; a pending request is polled until it completes or is aborted.
class IScsiTransport {
 public:
  virtual ~IScsiTransport() = default;
  virtual std::vector<TScsiDriveEntry> Discover() = 0;
  virtual void Send(TScsiRequest& request, uint32_t timeoutMs) = 0;
  virtual uint8_t Poll(TScsiRequest& request) { return request.Status; }
  virtual void Abort(TScsiRequest& request) { (void)request; }
  // Reopens the drive for exclusive use (burns, erases) or back for shared use.
  virtual bool SetExclusive(uint8_t adapter, uint8_t target, uint8_t lun, bool exclusive) {
    (void)adapter, (void)target, (void)lun, (void)exclusive;
    return true;
  }
};

// The clock every wait of the device layer runs on; tests and the emulated drive use virtual time.
class IDiscClock {
 public:
  virtual ~IDiscClock() = default;
  virtual uint64_t NowMs() = 0;
  virtual void SleepMs(uint32_t ms) = 0;
};

// Real time: a monotonic clock and real sleeps.
IDiscClock& SystemDiscClock();

// Virtual time: SleepMs advances the clock at once. Safe to share between threads.
class TVirtualDiscClock : public IDiscClock {
 public:
  explicit TVirtualDiscClock(uint64_t startMs = 0) : now_(startMs) {}
  uint64_t NowMs() override;
  void SleepMs(uint32_t ms) override;
  void Advance(uint64_t ms) { SleepMs(static_cast<uint32_t>(ms)); }

 private:
  std::atomic<uint64_t> now_;
};
