#include "disc/scsidevice.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "disc/emulation.h"
#include "disc/sensetext.h"
#include "disc/sgio.h"

namespace {

const char* const kDiscTypeNames[15] = {"UNKNOWN", "CD-ROM",  "CD-R",     "CD-RW",  "DVD-ROM",
                                        "DVD-R",   "DVD-RAM", "DVD-RW",   "DVD-RW", "DVD-RW",
                                        "DVD+RW",  "DVD+R",   "DDCD-ROM", "DDCD-R", "DDCD-RW"};

const char kInvalidId[] = "INVALID DEVICE ID / NOT A CD OR DVD DRIVE";

std::string Trim(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  return s.substr(i);
}

std::string Field(const uint8_t* p, size_t n) {
  std::string s(reinterpret_cast<const char*>(p), n);
  for (char& c : s)
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) c = ' ';
  return s;
}

std::string Pad(std::string s, size_t n) {
  s.resize(n, ' ');
  return s;
}

bool IsCd(int type) {
  return type <= dtCdRw;
}

// Commands whose failures are part of normal probing and are not dumped.
bool IsStatusCommand(uint8_t opcode) {
  switch (opcode) {
    case 0x00:  // TEST UNIT READY
    case 0x03:  // REQUEST SENSE
    case 0x12:  // INQUIRY
    case 0x15:  // MODE SELECT(6)
    case 0x1A:  // MODE SENSE(6)
    case 0x55:  // MODE SELECT(10)
    case 0x5A:  // MODE SENSE(10)
    case 0x51:  // READ DISC INFORMATION
    case 0x52:  // READ TRACK INFORMATION
    case 0x46:  // GET CONFIGURATION
    case 0x35:  // SYNCHRONIZE CACHE
      return true;
    default:
      return false;
  }
}

// A reply too short or too garbled to read: the query gives its "unknown" result and says why.
void ShortReply(TSCSIDevice& dev, const char* command, uint32_t got) {
  dev.DebugMessage(
      std::string("SHORT OR GARBLED REPLY TO ") + command + " (" + std::to_string(got) + " BYTES)",
      dmInfo);
}

// Fields of a READ TRACK INFORMATION reply, each valid only when the reply reached it.
struct TTrackInfo {
  bool Ok = false;
  uint32_t Start = 0, Nwa = 0, Free = 0, Size = 0, Lra = 0;
  bool NwaValid = false, LraValid = false;
};

TTrackInfo ParseTrackInfo(TSCSIDevice& dev, const uint8_t* b, uint32_t got) {
  TTrackInfo t;
  // The reply's own length field bounds it as much as the transfer does.
  if (got >= 2) got = std::min(got, BigEndian(b, 2) + 2);
  if (got < 28) return ShortReply(dev, "READ TRACK INFORMATION", got), t;
  t.Ok = true;
  t.NwaValid = (b[7] & 1) != 0;
  t.LraValid = (b[7] & 2) != 0 && got >= 32;
  t.Start = BigEndian(b + 8, 4);
  t.Nwa = BigEndian(b + 12, 4);
  t.Free = BigEndian(b + 16, 4);
  t.Size = BigEndian(b + 24, 4);
  if (t.LraValid) t.Lra = BigEndian(b + 28, 4);
  return t;
}

// Fields of a READ DISC INFORMATION reply.
struct TDiscInfo {
  bool Ok = false;
  uint8_t Status = 0, LastState = 0;
  bool Erasable = false;
  uint32_t Sessions = 0, LastTrack = 0;
};

TDiscInfo ParseDiscInfo(TSCSIDevice& dev, const uint8_t* b, uint32_t got) {
  TDiscInfo d;
  if (got >= 2) got = std::min(got, BigEndian(b, 2) + 2);
  if (got < 7) return ShortReply(dev, "READ DISC INFORMATION", got), d;
  d.Ok = true;
  d.Status = b[2] & 3;
  d.LastState = (b[2] >> 2) & 3;
  d.Erasable = (b[2] & 0x10) != 0;
  d.Sessions = b[4];
  d.LastTrack = b[6];
  if (got >= 12) {
    d.Sessions |= static_cast<uint32_t>(b[9]) << 8;
    d.LastTrack |= static_cast<uint32_t>(b[11]) << 8;
  }
  return d;
}

// The first capacity descriptor of READ FORMAT CAPACITIES: the number of blocks, 0 when absent.
bool ParseFormatCapacity(TSCSIDevice& dev, const uint8_t* b, uint32_t got, uint32_t& blocks) {
  if (got < 12 || b[3] < 8) return ShortReply(dev, "READ FORMAT CAPACITIES", got), false;
  blocks = BigEndian(b + 4, 4);
  return true;
}

TEmulatedTransportFactory& EmulatedFactory() {
  static TEmulatedTransportFactory factory;
  return factory;
}

}  // namespace

void RegisterEmulatedTransport(TEmulatedTransportFactory factory) {
  EmulatedFactory() = std::move(factory);
}

const char* DiscTypeName(int type) {
  return type >= 0 && type < 15 ? kDiscTypeNames[type] : kDiscTypeNames[0];
}

uint8_t DiscTypeOfProfile(uint16_t profile) {
  switch (profile) {
    case 0x08:
      return dtCdRom;
    case 0x09:
      return dtCdR;
    case 0x0A:
      return dtCdRw;
    case 0x10:
      return dtDvdRom;
    case 0x11:
      return dtDvdR;
    case 0x12:
      return dtDvdRam;
    case 0x13:
      return dtDvdRwRestricted;
    case 0x14:
      return dtDvdRwSequential;
    case 0x1A:
      return dtDvdPlusRw;
    case 0x1B:
      return dtDvdPlusR;
    case 0x20:
      return dtDdcdRom;
    case 0x21:
      return dtDdcdR;
    case 0x22:
      return dtDdcdRw;
    default:
      return dtUnknown;
  }
}

TSCSIDevice::TSCSIDevice() : clock_(&SystemDiscClock()), mainThread_(std::this_thread::get_id()) {}

TSCSIDevice::~TSCSIDevice() = default;

void TSCSIDevice::SetTransport(std::unique_ptr<IScsiTransport> transport) {
  std::lock_guard<std::recursive_mutex> guard(commandLock_);
  transport_ = std::move(transport);
  initialized_ = false;
  drives_.clear();
}

void TSCSIDevice::Wait(uint32_t ms) {
  clock_->SleepMs(ms);
  if (ProcessMessages && std::this_thread::get_id() == mainThread_) ProcessMessages();
}

void TSCSIDevice::DebugMessage(const std::string& message, uint8_t kind) {
  if (OnDebugMessage) OnDebugMessage(this, message, kind);
}

std::string TSCSIDevice::LastError() const {
  std::lock_guard<std::mutex> guard(stateLock_);
  return lastError_;
}

void TSCSIDevice::SenseCopy(uint8_t out[32]) const {
  std::lock_guard<std::mutex> guard(stateLock_);
  std::memcpy(out, senseCopy_, 32);
}

uint8_t TSCSIDevice::SenseAsc() const {
  std::lock_guard<std::mutex> guard(stateLock_);
  return senseCopy_[12];
}

uint8_t TSCSIDevice::SenseAscq() const {
  std::lock_guard<std::mutex> guard(stateLock_);
  return senseCopy_[13];
}

bool TSCSIDevice::Busy() const {
  std::lock_guard<std::mutex> guard(stateLock_);
  return busy_;
}

// ---------------------------------------------------------------------------------------------
// Transport, enumeration, selection

bool TSCSIDevice::InitTransport(bool preferBuiltIn, const std::string& libraryPath) {
  (void)preferBuiltIn, (void)libraryPath;
  std::lock_guard<std::recursive_mutex> guard(commandLock_);
  if (!transport_) {
    const char* folder = std::getenv("ARCAVO_EMULATED_DRIVES");
    if (folder != nullptr && *folder != '\0') {
      // Emulated drives only: never a real device, even when the emulation is not linked in.
      if (EmulatedFactory()) transport_ = EmulatedFactory()(folder);
    } else {
      transport_ = std::make_unique<TSgIoTransport>();
    }
  }
  if (!transport_) return false;
  EnumerateDevices();
  initialized_ = !DeviceList.empty();
  return initialized_;
}

void TSCSIDevice::EnumerateDevices() {
  std::lock_guard<std::recursive_mutex> guard(commandLock_);
  DeviceList.clear();
  if (!transport_) return;
  const uint8_t savedA = Adapter, savedT = Target, savedL = Lun;
  drives_ = transport_->Discover();
  for (const auto& d : drives_) {
    Adapter = d.Adapter;
    Target = d.Target;
    Lun = d.Lun;
    uint8_t inq[128] = {};
    uint32_t got = 0;
    uint8_t type = d.DeviceType;
    std::string vendor = d.Vendor, product = d.Product, revision = d.Revision;
    if (Inquiry(inq, &got) == SS_COMP && got >= 36) {
      type = inq[0] & 0x1F;
      vendor = Field(inq + 8, 8);
      product = Field(inq + 16, 16);
      revision = Field(inq + 32, 4);
    }
    if (type != 5 && type != 4) continue;
    char head[64];
    std::snprintf(head, sizeof head, "%u:%u:%u,%s: ", d.Adapter, d.Target, d.Lun,
                  d.Node.empty() ? "?" : d.Node.c_str());
    std::string id = head + Pad(vendor, 8) + Pad(product, 16) + Pad(revision, 4);
    if (type == 4) id += " (not supported)";
    DeviceList.push_back(id);
  }
  Adapter = savedA;
  Target = savedT;
  Lun = savedL;
}

void TSCSIDevice::ClearSelection() {
  Adapter = Target = Lun = 254;
  DeviceId.clear();
  DeviceName.clear();
  DeviceType = 127;
  Capabilities = 0;
  WriteModes = 0;
  QuirkUnderrun = QuirkLsv = QuirkTurLoop = false;
  CloseImmediate = true;
}

namespace {

// Reads a decimal number of 1-3 digits ending at `stop`; advances `pos` past the delimiter.
bool ParseNumber(const std::string& s, size_t& pos, char stop, uint8_t& out) {
  const size_t end = s.find(stop, pos);
  if (end == std::string::npos || end == pos || end - pos > 3) return false;
  unsigned v = 0;
  for (size_t i = pos; i < end; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    v = v * 10 + static_cast<unsigned>(s[i] - '0');
  }
  if (v > 253) return false;
  out = static_cast<uint8_t>(v);
  pos = end + 1;
  return true;
}

}  // namespace

std::string TSCSIDevice::CurrentIdOf(const std::string& id) const {
  if (DeviceList.empty() || std::find(DeviceList.begin(), DeviceList.end(), id) != DeviceList.end())
    return id;
  // "H:T:L,node: " and then the drive's vendor, product and revision. The address changes when a
  // drive is plugged in again (a USB burner gets a new host number, maybe a new node): the drive
  // is then the one listed under the same name, on the same node when several share it.
  const size_t comma = id.find(',');
  const size_t colon = comma == std::string::npos ? comma : id.find(": ", comma);
  if (colon == std::string::npos) return id;
  const std::string node = id.substr(comma + 1, colon - comma - 1), name = id.substr(colon + 2);
  std::vector<std::string> same;
  for (const std::string& d : DeviceList) {
    const size_t c = d.find(',');
    const size_t n = c == std::string::npos ? c : d.find(": ", c);
    if (n == std::string::npos || d.compare(n + 2, std::string::npos, name) != 0) continue;
    if (d.compare(c + 1, n - c - 1, node) == 0) return d;
    same.push_back(d);
  }
  return same.size() == 1 ? same.front() : id;
}

void TSCSIDevice::SelectDevice(const std::string& given) {
  std::lock_guard<std::recursive_mutex> guard(commandLock_);
  const std::string id = CurrentIdOf(given);
  if (id.size() < 5) {
    ClearSelection();
    if (!id.empty()) DebugMessage(kInvalidId, dmError);
    return;
  }
  // "H:T:L,node: ..." read by its delimiters, so adapters of any width select.
  size_t pos = 0;
  uint8_t a, t, l;
  if (!ParseNumber(id, pos, ':', a) || !ParseNumber(id, pos, ':', t) ||
      !ParseNumber(id, pos, ',', l)) {
    ClearSelection();
    DebugMessage(kInvalidId, dmError);
    return;
  }
  ClearSelection();
  Adapter = a;
  Target = t;
  Lun = l;
  DeviceId = id;
  dumped_ = false;
  ReadCapabilities();
  uint8_t inq[128] = {};
  uint32_t got = 0;
  if (Inquiry(inq, &got) != SS_COMP || got < 36 || ((inq[0] & 0x1F) != 5 && (inq[0] & 0x1F) != 4)) {
    ClearSelection();
    DebugMessage(kInvalidId, dmError);
    return;
  }
  DeviceType = inq[0] & 0x1F;
  const std::string vendor = Field(inq + 8, 8), product = Field(inq + 16, 16),
                    revision = Field(inq + 32, 4);
  DeviceName = vendor + product + revision;
  SetQuirks(vendor, product);
  if (OnDeviceChange) OnDeviceChange(this);
  ProbeWriteModes();
}

void TSCSIDevice::SetQuirks(const std::string& vendor, const std::string& product) {
  const std::string p = Trim(product), v = Trim(vendor);
  QuirkUnderrun = p == "CD-W512EB";
  if (QuirkUnderrun) Capabilities |= capUnderrunProtection;
  QuirkLsv = p == "CRX175E" || p == "CD-RW  CRX800E";
  QuirkTurLoop = p.rfind("UJDA", 0) == 0 || v.rfind("TDK", 0) == 0 ||
                 product == "DVD-RW  DVR-103 " || product == "DVD-RW  DVR-104 ";
  CloseImmediate = p != "CDRW321040X";
}

void TSCSIDevice::ProbeWriteModes() {
  WriteModes = 0;
  uint8_t buf[512] = {};
  uint32_t got = 0;
  if (ModeSense(0x05, false, buf, sizeof buf, &got) != SS_COMP) return;
  const int off = FindPage(buf, got, 0x05);
  if (off < 0) return;
  uint8_t page[54] = {};
  std::memcpy(page, buf + off, std::min<uint32_t>(sizeof page, got - off));
  struct {
    uint8_t WriteType, BlockType, Bit;
  } const modes[] = {{3, 1, 1}, {2, 8, 2}, {1, 8, 4}};
  for (const auto& m : modes) {
    uint8_t out[8 + 52] = {};
    std::memcpy(out + 8, page, 52);
    out[8] = 0x05;
    out[9] = 0x32;
    out[10] = static_cast<uint8_t>((page[2] & 0xF0) | m.WriteType);
    out[12] = m.BlockType;
    Put16(out + 8 + 14, 150);
    if (ModeSelect(out, sizeof out) == SS_COMP) WriteModes |= m.Bit;
  }
}

bool TSCSIDevice::SetExclusive(bool exclusive) {
  std::lock_guard<std::recursive_mutex> guard(commandLock_);
  return transport_ && Adapter != 254 && transport_->SetExclusive(Adapter, Target, Lun, exclusive);
}

std::string TSCSIDevice::DriveLetter() const {
  for (const auto& d : drives_)
    if (d.Adapter == Adapter && d.Target == Target && d.Lun == Lun) return d.Node;
  return "";
}

std::string TSCSIDevice::DriveRoot() const {
  const std::string node = DriveLetter();
  return node.empty() ? "" : "/dev/" + node + "/";
}

// ---------------------------------------------------------------------------------------------
// Commands

uint8_t TSCSIDevice::ExecCommand(TScsiRequest& r, uint32_t timeoutMs) {
  std::lock_guard<std::recursive_mutex> guard(commandLock_);
  {
    std::lock_guard<std::mutex> state(stateLock_);
    lastError_.clear();
    std::memset(senseCopy_, 0, sizeof senseCopy_);
    busy_ = false;
  }
  if (!transport_ || Adapter == 254) {
    r.Status = SS_NO_TRANSPORT;
    return r.Status;
  }
  r.Command = SC_EXEC_SCSI_CMD;
  r.Adapter = Adapter;
  r.Target = Target;
  r.Lun = Lun;
  r.SenseLength = kSenseLength;
  r.Cdb[1] = static_cast<uint8_t>((r.Cdb[1] & 0x1F) | ((Lun & 7) << 5));
  r.Status = SS_PENDING;
  r.AdapterStatus = HASTAT_OK;
  r.TargetStatus = STATUS_GOOD;
  const uint32_t wait = std::max(timeoutMs, kMinCommandWaitMs);
  transport_->Send(r, timeoutMs);
  if (transport_->Poll(r) == SS_PENDING) {
    const uint64_t deadline = clock_->NowMs() + wait;
    for (uint64_t now = clock_->NowMs(); transport_->Poll(r) == SS_PENDING && now < deadline;
         now = clock_->NowMs())
      Wait(static_cast<uint32_t>(std::min<uint64_t>(deadline - now, 100)));
    if (transport_->Poll(r) == SS_PENDING) {
      transport_->Abort(r);
      r.Status = SS_ERR;
      r.AdapterStatus = HASTAT_TIMEOUT;
    }
  }
  if (r.Status == SS_COMP || r.Status == SS_PENDING) return r.Status;
  bool busy = false;
  std::string text = RequestFailureText(r, busy);
  if (text.empty()) text = "UNKNOWN";
  uint8_t asc = 0, ascq = 0;
  {
    std::lock_guard<std::mutex> state(stateLock_);
    lastError_ = text;
    busy_ = busy;
    const size_t n = std::min<size_t>(r.SenseReturned, sizeof senseCopy_);
    std::memcpy(senseCopy_, r.Sense, n);
    asc = senseCopy_[12];
    ascq = senseCopy_[13];
  }
  if (!dumped_ && !IsStatusCommand(r.Cdb[0]) && !(asc == 0x04 && ascq == 0x08)) {
    dumped_ = true;
    std::string dump = "<<< ";
    char hex[8];
    auto add = [&](uint8_t v) {
      std::snprintf(hex, sizeof hex, "%02X ", v);
      dump += hex;
    };
    for (uint8_t v : {r.Command, r.Status, r.Adapter, r.Flags, r.Target, r.Lun}) add(v);
    for (int i = 0; i < 4; ++i) add(static_cast<uint8_t>(r.BufferLength >> (8 * i)));
    for (uint8_t v : {r.SenseLength, r.CdbLength, r.AdapterStatus, r.TargetStatus}) add(v);
    for (int i = 0; i < r.CdbLength && i < 16; ++i) add(r.Cdb[i]);
    std::snprintf(hex, sizeof hex, "%02X", asc);
    dump += std::string("ASC:") + hex;
    std::snprintf(hex, sizeof hex, "%02X", ascq);
    dump += std::string(",ASQ:") + hex + " " + text;
    DebugMessage(dump, dmError);
  }
  return r.Status;
}

uint8_t TSCSIDevice::CommandCdb(const uint8_t* cdb, uint8_t cdbLength, TDir dir, void* buffer,
                                uint32_t length, uint32_t timeoutMs, uint32_t* received) {
  TScsiRequest r;
  r.Flags = SRB_EVENT_NOTIFY | (dir == TDir::In ? SRB_DIR_IN : dir == TDir::Out ? SRB_DIR_OUT : 0);
  r.BufferLength = dir == TDir::None ? 0 : length;
  r.BufferPointer = dir == TDir::None ? nullptr : static_cast<uint8_t*>(buffer);
  r.CdbLength = cdbLength;
  std::memcpy(r.Cdb, cdb, std::min<uint8_t>(cdbLength, 16));
  const uint8_t status = ExecCommand(r, timeoutMs);
  if (received) *received = status == SS_COMP ? std::min(r.Transferred, r.BufferLength) : 0;
  return status;
}

uint8_t TSCSIDevice::Command(std::initializer_list<uint8_t> cdb, TDir dir, void* buffer,
                             uint32_t length, uint32_t timeoutMs, uint32_t* received) {
  uint8_t bytes[16] = {};
  std::copy(cdb.begin(), cdb.begin() + std::min<size_t>(cdb.size(), 16), bytes);
  return CommandCdb(bytes, static_cast<uint8_t>(cdb.size()), dir, buffer, length, timeoutMs,
                    received);
}

namespace {
uint8_t B(uint32_t v, int shift) {
  return static_cast<uint8_t>(v >> shift);
}
}  // namespace

bool TSCSIDevice::TestUnitReady(uint32_t timeoutMs) {
  return Command({0x00, 0, 0, 0, 0, 0}, TDir::None, nullptr, 0, timeoutMs) == SS_COMP;
}

uint8_t TSCSIDevice::Rezero() {
  return Command({0x01, 0, 0, 0, 0, 0}, TDir::None, nullptr, 0, 10000);
}

uint8_t TSCSIDevice::RequestSense(uint8_t* buffer, uint32_t* received) {
  const uint8_t s = Command({0x03, 0, 0, 0, 40, 0}, TDir::In, buffer, 40, 10000, received);
  return s;
}

uint8_t TSCSIDevice::FormatUnit(const uint8_t parameterList[12]) {
  uint8_t list[12];
  std::memcpy(list, parameterList, 12);
  return Command({0x04, 0x11, 0, 0, 0, 0}, TDir::Out, list, 12, 10000);
}

uint8_t TSCSIDevice::Inquiry(uint8_t* buffer, uint32_t* received) {
  const uint8_t s = Command({0x12, 0, 0, 0, 128, 0}, TDir::In, buffer, 128, 10000, received);
  return s;
}

uint8_t TSCSIDevice::StartStop(bool eject) {
  return Command({0x1B, 0, 0, 0, static_cast<uint8_t>(eject ? 2 : 3), 0}, TDir::None, nullptr, 0,
                 20000);
}

uint8_t TSCSIDevice::PreventRemoval(bool prevent) {
  return Command({0x1E, 0, 0, 0, static_cast<uint8_t>(prevent ? 1 : 0), 0}, TDir::None, nullptr, 0,
                 10000);
}

uint8_t TSCSIDevice::ReadFormatCapacities(uint8_t* buffer, uint32_t* received) {
  const uint8_t s =
      Command({0x23, 0, 0, 0, 0, 0, 0, 0, 248, 0}, TDir::In, buffer, 248, 10000, received);
  return s;
}

uint8_t TSCSIDevice::ReadCapacity(uint8_t* buffer, uint32_t* received) {
  const uint8_t s =
      Command({0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, TDir::In, buffer, 8, 10000, received);
  return s;
}

uint8_t TSCSIDevice::ReadSectors(uint32_t lba, uint16_t count, void* buffer) {
  return Command(
      {0x28, 0, B(lba, 24), B(lba, 16), B(lba, 8), B(lba, 0), 0, B(count, 8), B(count, 0), 0},
      TDir::In, buffer, count * 2048u, 10000);
}

uint8_t TSCSIDevice::WriteSectors(uint32_t lba, uint16_t count, uint8_t flags, uint32_t bytes,
                                  const void* buffer) {
  return Command(
      {0x2A, flags, B(lba, 24), B(lba, 16), B(lba, 8), B(lba, 0), 0, B(count, 8), B(count, 0), 0},
      TDir::Out, const_cast<void*>(buffer), bytes, 120000);
}

uint8_t TSCSIDevice::SyncCache(uint32_t timeoutMs, bool immediate) {
  return Command({0x35, static_cast<uint8_t>(immediate ? 2 : 0), 0, 0, 0, 0, 0, 0, 0, 0},
                 TDir::None, nullptr, 0, timeoutMs);
}

uint8_t TSCSIDevice::GetConfiguration(uint8_t rt, uint16_t feature, uint8_t* buffer,
                                      uint32_t* received) {
  const uint8_t s = Command({0x46, rt, B(feature, 8), B(feature, 0), 0, 0, 0, 0, 114, 0}, TDir::In,
                            buffer, 114, 30000, received);
  return s;
}

uint8_t TSCSIDevice::ReadDiscInfo(uint8_t* buffer, uint32_t* received) {
  const uint8_t s =
      Command({0x51, 0, 0, 0, 0, 0, 0, 0, 56, 0}, TDir::In, buffer, 56, 10000, received);
  return s;
}

uint8_t TSCSIDevice::ReadTrackInfo(uint32_t track, uint8_t* buffer, uint32_t* received) {
  const uint8_t s =
      Command({0x52, 1, B(track, 24), B(track, 16), B(track, 8), B(track, 0), 0, 0, 40, 0},
              TDir::In, buffer, 40, 60000, received);
  return s;
}

uint8_t TSCSIDevice::ReserveTrack(uint32_t sectors) {
  return Command(
      {0x53, 0, 0, 0, 0, B(sectors, 24), B(sectors, 16), B(sectors, 8), B(sectors, 0), 0},
      TDir::None, nullptr, 0, 10000);
}

uint8_t TSCSIDevice::SendOpc() {
  return Command({0x54, 1, 0, 0, 0, 0, 0, 0, 0, 0}, TDir::None, nullptr, 0, 150000);
}

uint8_t TSCSIDevice::ModeSelect(const uint8_t* buffer, uint16_t length) {
  return Command({0x55, 0x10, 0, 0, 0, 0, 0, B(length, 8), B(length, 0), 0}, TDir::Out,
                 const_cast<uint8_t*>(buffer), length, 10000);
}

uint8_t TSCSIDevice::ModeSense(uint8_t page, bool defaults, uint8_t* buffer, uint16_t length,
                               uint32_t* received) {
  const uint8_t pc = static_cast<uint8_t>((page & 0x3F) | (defaults ? 0x80 : 0));
  const uint8_t s = Command({0x5A, 0, pc, 0, 0, 0, 0, B(length, 8), B(length, 0), 0}, TDir::In,
                            buffer, length, 20000, received);
  return s;
}

uint8_t TSCSIDevice::CloseTrackSession(bool immediate, uint8_t function, uint16_t track) {
  return Command({0x5B, static_cast<uint8_t>(immediate ? 1 : 0), function, 0, B(track, 8),
                  B(track, 0), 0, 0, 0, 0},
                 TDir::None, nullptr, 0, 180000);
}

uint8_t TSCSIDevice::ReadBufferCapacity() {
  uint8_t b[32] = {};
  uint32_t got = 0;
  const uint8_t s = Command({0x5C, 0, 0, 0, 0, 0, 0, 0, 32, 0}, TDir::In, b, 32, 10000, &got);
  if (s == SS_COMP && got >= 12) {
    DeviceBufferSize = BigEndian(b + 4, 4);
    DeviceFreeBufferSize = BigEndian(b + 8, 4);
  }
  return s;
}

uint8_t TSCSIDevice::ReadToc(uint8_t format, bool msf, uint8_t track, uint8_t* buffer,
                             uint16_t length, uint32_t* received) {
  length = std::min<uint16_t>(length, 255);
  const uint8_t s =
      Command({0x43, static_cast<uint8_t>(msf ? 2 : 0), static_cast<uint8_t>(format & 0x0F), 0, 0,
               0, track, B(length, 8), B(length, 0), 0},
              TDir::In, buffer, length, 10000, received);
  return s;
}

uint8_t TSCSIDevice::Blank(bool quick) {
  return Command({0xA1, static_cast<uint8_t>(0x10 | (quick ? 1 : 0)), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
                 TDir::None, nullptr, 0, 4800000);
}

uint8_t TSCSIDevice::SetStreaming(const uint8_t descriptor[28]) {
  uint8_t d[28];
  std::memcpy(d, descriptor, 28);
  return Command({0xB6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 28, 0}, TDir::Out, d, 28, 10000);
}

uint8_t TSCSIDevice::SetSpeed(uint16_t readSpeed, uint16_t writeSpeed) {
  // 0 asks for the drive's maximum.
  const uint16_t rd = readSpeed ? readSpeed : 0xFFFF, wr = writeSpeed ? writeSpeed : 0xFFFF;
  return Command({0xBB, 0, B(rd, 8), B(rd, 0), B(wr, 8), B(wr, 0), 0, 0, 0, 0, 0, 0}, TDir::None,
                 nullptr, 0, 10000);
}

void TSCSIDevice::SetWriteSpeed(uint16_t speed) {
  writeSpeed_ = speed;
  SetSpeed(ReadSpeed, speed);
}

uint8_t TSCSIDevice::SendDvdTimestamp(const std::string& time14) {
  uint8_t d[22] = {0x00, 0x14, 0x00, 0x00};
  std::memcpy(d + 8, time14.data(), std::min<size_t>(time14.size(), 14));
  return Command({0xBF, 0, 0, 0, 0, 0, 0, 0x0F, 0, 22, 0, 0}, TDir::Out, d, 22, 10000);
}

// ---------------------------------------------------------------------------------------------
// Capabilities and queries

int TSCSIDevice::FindPage(const uint8_t* data, uint32_t received, uint8_t page) {
  // Where the mode header says the page starts (after its block descriptors), when the page is
  // there: a speed byte of the page that happens to equal the page code cannot mislead it.
  if (received >= 8) {
    const uint32_t at = 8 + BigEndian(data + 6, 2);
    if (at + 2 <= received && (data[at] & 0x3F) == page) return static_cast<int>(at);
  }
  for (int off : {16, 8, 7})
    if (static_cast<uint32_t>(off) + 2 <= received && (data[off] & 0x3F) == page) return off;
  return -1;
}

bool TSCSIDevice::ReadCapabilities() {
  uint8_t buf[256] = {};
  uint32_t got = 0;
  Capabilities = 0;
  if (ModeSense(0x2A, true, buf, 255, &got) != SS_COMP) return false;
  const int off = FindPage(buf, got, 0x2A);
  if (off < 0) return ShortReply(*this, "MODE SENSE", got), false;
  const uint32_t n = got - static_cast<uint32_t>(off);
  std::memset(CapabilitiesPage, 0, sizeof CapabilitiesPage);
  std::memcpy(CapabilitiesPage, buf + off, n);
  const uint8_t* p = CapabilitiesPage;
  // Bits past the transferred part read as zero.
  static const struct {
    int Byte, Bit;
    uint32_t Cap;
  } kBits[] = {{2, 0, capReadCdR},    {2, 1, capReadCdRw},    {2, 2, capReadMethod2},
               {2, 3, capReadDvdRom}, {2, 4, capReadDvdR},    {2, 5, capReadDvdRam},
               {3, 0, capWriteCdR},   {3, 1, capWriteCdRw},   {3, 2, capTestWrite},
               {3, 4, capWriteDvdR},  {3, 5, capWriteDvdRam}, {4, 7, capUnderrunProtection}};
  for (const auto& b : kBits)
    if (p[b.Byte] & (1u << b.Bit)) Capabilities |= b.Cap;
  if (QuirkUnderrun) Capabilities |= capUnderrunProtection;
  DeviceMaxWriteSpeed = static_cast<uint16_t>(BigEndian(p + 18, 2));
  DeviceMaxReadSpeed = static_cast<uint16_t>(BigEndian(p + 8, 2));
  if (DeviceMaxWriteSpeed == 0 && (Capabilities & capWriteDvdRam)) DeviceMaxWriteSpeed = 1;
  if (DeviceMaxReadSpeed == 0 && (Capabilities & capWriteDvdRam)) DeviceMaxReadSpeed = 1;
  for (const auto& [feature, bit, cap] :
       {std::tuple<uint16_t, uint8_t, uint32_t>{0x2A, 0x01, capDvdPlusRw},
        {0x2F, 0x02, capDvdRwSeq}}) {
    uint8_t f[114] = {};
    uint32_t fg = 0;
    if (GetConfiguration(2, feature, f, &fg) == SS_COMP && fg >= 13 &&
        BigEndian(f + 8, 2) == feature && f[11] >= 1 && (f[12] & bit))
      Capabilities |= cap;
  }
  // The page with current values: the selected speeds.
  uint8_t cur[128] = {};
  uint32_t cg = 0;
  if (ModeSense(0x2A, false, cur, 128, &cg) == SS_COMP) {
    const int co = FindPage(cur, cg, 0x2A);
    if (co >= 0) {
      const uint8_t* c = cur + co;
      const uint32_t cn = cg - static_cast<uint32_t>(co);
      std::memset(CapabilitiesPage, 0, sizeof CapabilitiesPage);
      std::memcpy(CapabilitiesPage, c, cn);
      uint8_t* q = CapabilitiesPage;
      if (BigEndian(q + 28, 2) == 0) Put16(q + 28, 1385);
      if (BigEndian(q + 18, 2) == 0) Put16(q + 18, 1385);
      DeviceMaxWriteSpeed = std::max<uint16_t>(DeviceMaxWriteSpeed, BigEndian(q + 18, 2));
      DeviceMaxReadSpeed = std::max<uint16_t>(DeviceMaxReadSpeed, BigEndian(q + 8, 2));
    }
  }
  return true;
}

uint16_t TSCSIDevice::MaxWriteSpeed() {
  return ReadCapabilities() ? DeviceMaxWriteSpeed : 0;
}
uint16_t TSCSIDevice::MaxReadSpeed() {
  return ReadCapabilities() ? DeviceMaxReadSpeed : 0;
}
uint16_t TSCSIDevice::CurrentWriteSpeed() {
  return ReadCapabilities() ? static_cast<uint16_t>(BigEndian(CapabilitiesPage + 28, 2)) : 0;
}

int TSCSIDevice::DiscType() {
  uint8_t b[114] = {};
  uint32_t got = 0;
  int type = dtUnknown;
  if (GetConfiguration(2, 0, b, &got) == SS_COMP && got >= 8)
    type = DiscTypeOfProfile(static_cast<uint16_t>(BigEndian(b + 6, 2)));
  else if (LastError().empty())
    ShortReply(*this, "GET CONFIGURATION", got);
  if (type == dtUnknown) {
    uint8_t t[26] = {};
    uint32_t tg = 0;
    if (ReadToc(4, true, 0, t, 26, &tg) == SS_COMP) {
      if (tg >= 7 && (t[6] & 0x80))
        type = (t[6] & 0x40) ? dtCdRw : dtCdR;
      else
        type = dtCdRom;
    }
  }
  if (type == dtUnknown) {
    uint8_t d[56] = {};
    uint32_t dg = 0;
    if (ReadDiscInfo(d, &dg) == SS_COMP) {
      const TDiscInfo di = ParseDiscInfo(*this, d, dg);
      if (di.Ok) type = di.Erasable ? dtCdRw : dtCdR;
    }
  }
  if (type == dtUnknown && TestUnitReady(5000)) type = dtCdRom;
  lastDiscType_ = type;
  return type;
}

bool TSCSIDevice::IsErasable() {
  uint8_t d[56] = {};
  uint32_t dg = 0;
  if (ReadDiscInfo(d, &dg) == SS_COMP) {
    const TDiscInfo di = ParseDiscInfo(*this, d, dg);
    if (di.Ok) return di.Erasable;
  }
  const int t = DiscType();
  return t == dtDvdRam || t == dtDvdRwRestricted || t == dtDvdRwSequential || t == dtDvdPlusRw;
}

int TSCSIDevice::SessionCount() {
  uint8_t d[56] = {};
  uint32_t dg = 0;
  if (ReadDiscInfo(d, &dg) != SS_COMP) return 0;
  const TDiscInfo di = ParseDiscInfo(*this, d, dg);
  if (!di.Ok || di.Status == 0) return 0;
  int n = static_cast<int>(di.Sessions);
  if (di.LastState == 0 && n > 0) --n;
  return n;
}

int TSCSIDevice::DiscStatus() {
  uint8_t d[56] = {};
  uint32_t dg = 0;
  if (ReadDiscInfo(d, &dg) != SS_COMP) return -1;
  const TDiscInfo di = ParseDiscInfo(*this, d, dg);
  return di.Ok ? di.Status : -1;
}

uint32_t TSCSIDevice::VolumeSpaceSize() {
  uint8_t sector[2048];
  for (uint32_t lba = 16; lba <= 32; ++lba) {
    uint32_t got = 0;
    if (Command({0x28, 0, 0, 0, 0, static_cast<uint8_t>(lba), 0, 0, 1, 0}, TDir::In, sector, 2048,
                10000, &got) != SS_COMP ||
        got < 2048)
      return 0;
    if (std::memcmp(sector + 1, "CD001", 5) == 0 && (sector[0] == 1 || sector[0] == 2))
      return BigEndian(sector + 84, 4);  // the big-endian copy of the volume space size
    if (std::memcmp(sector + 1, "CD001", 5) == 0 && sector[0] == 255) return 0;
  }
  return 0;
}

uint32_t TSCSIDevice::FreeSectors() {
  const int type = DiscType();
  const bool saved = FinalizeDisc;
  FinalizeDisc = true;
  SetWriteParameters(false, UnderrunProtection, type);
  FinalizeDisc = saved;
  uint8_t d[56] = {};
  uint32_t dg = 0;
  if (ReadDiscInfo(d, &dg) != SS_COMP) return 0;
  const TDiscInfo di = ParseDiscInfo(*this, d, dg);
  if (!di.Ok) return 0;
  uint8_t t[40] = {};
  uint32_t tg = 0;
  if (IsCd(type)) {
    if (di.Status == 2) return 0;
    if (ReadTrackInfo(di.LastTrack, t, &tg) != SS_COMP) return 0;
    const TTrackInfo ti = ParseTrackInfo(*this, t, tg);
    return ti.Ok ? std::max(ti.Free, ti.Size) : 0;
  }
  if (ReadTrackInfo(di.LastTrack, t, &tg) != SS_COMP) return 0;
  const TTrackInfo ti = ParseTrackInfo(*this, t, tg);
  if (!ti.Ok) return 0;
  if (type == dtDvdRam || type == dtDvdPlusRw) {
    const uint32_t used = VolumeSpaceSize();
    return ti.Size > used ? ti.Size - used : 0;
  }
  if (type == dtDvdRwRestricted) {
    if (ti.NwaValid) return ti.Free;
    uint8_t f[248] = {};
    uint32_t fg = 0;
    uint32_t formatted = 0;
    if (ReadFormatCapacities(f, &fg) == SS_COMP && ParseFormatCapacity(*this, f, fg, formatted)) {
      if (ti.Free == ti.Size) return ti.Free;
      return formatted > ti.Size ? formatted - ti.Size : 0;
    }
  }
  if (ti.Size == 0xFFFFFFFFu) return 0;
  if (ti.LraValid) return ti.Free;
  return ti.Size;
}

uint32_t TSCSIDevice::DiscCapacity() {
  const int type = DiscType();
  uint8_t f[248] = {};
  uint32_t fg = 0, formatted = 0;
  if (IsCd(type)) {
    uint8_t a[26] = {};
    uint32_t ag = 0;
    if (ReadToc(4, true, 0, a, 26, &ag) == SS_COMP && ag >= 15) {
      uint32_t cap = a[12] * 4500u + a[13] * 75u + a[14];
      if (cap < 20000) {
        uint8_t c[8] = {};
        uint32_t cg = 0;
        if (ReadCapacity(c, &cg) == SS_COMP && cg >= 4) cap = std::max(cap, BigEndian(c, 4));
      }
      return cap;
    }
    if (ReadFormatCapacities(f, &fg) == SS_COMP && ParseFormatCapacity(*this, f, fg, formatted))
      return formatted;
  } else if (type == dtDvdRam || type == dtDvdRwRestricted || type == dtDvdPlusRw) {
    if (ReadFormatCapacities(f, &fg) == SS_COMP && ParseFormatCapacity(*this, f, fg, formatted))
      return formatted;
    return 0;
  }
  uint8_t d[56] = {};
  uint32_t dg = 0;
  if (ReadDiscInfo(d, &dg) != SS_COMP) return 0;
  const TDiscInfo di = ParseDiscInfo(*this, d, dg);
  if (!di.Ok) return 0;
  uint8_t t[40] = {};
  uint32_t tg = 0;
  if (ReadTrackInfo(di.LastTrack, t, &tg) != SS_COMP) return 0;
  const TTrackInfo ti = ParseTrackInfo(*this, t, tg);
  if (!ti.Ok) return 0;
  return IsCd(type) ? ti.Start + ti.Free : ti.Free + ti.Nwa;
}

uint32_t TSCSIDevice::LastSessionStart() {
  // The session information of the TOC: the start of the first track of the last complete
  // session.
  uint8_t b[12] = {};
  uint32_t got = 0;
  if (ReadToc(1, false, 0, b, sizeof b, &got) != SS_COMP) return 0;
  if (got >= 2) got = std::min(got, BigEndian(b, 2) + 2);
  return got >= 12 ? BigEndian(b + 8, 4) : 0;
}

uint32_t TSCSIDevice::NextWritableAddress() {
  // Overwritable media (a DVD-RW in restricted overwrite mode among them) hold one growing
  // volume: the next session goes after its end.
  const int type = DiscType();
  if (type == dtDvdRam || type == dtDvdPlusRw || type == dtDvdRwRestricted)
    return VolumeSpaceSize();
  // CD and sequential DVD media: the incomplete track, numbered one more than the sessions on
  // the disc (track 1 of a disc whose first session is closed has no writable address).
  uint8_t t[40] = {};
  uint32_t tg = 0;
  const uint32_t track = static_cast<uint32_t>(SessionCount() + 1);
  if (ReadTrackInfo(track, t, &tg) != SS_COMP) {
    DebugMessage(">>> ERROR GETTING NEXT WRITABLE ADDRESS", dmError);
    return 0;
  }
  const TTrackInfo ti = ParseTrackInfo(*this, t, tg);
  if (!ti.Ok || !ti.NwaValid || ti.Nwa > 0xFF000000u) return 0;
  return ti.Nwa;
}

TDisc TSCSIDevice::GetDiscInfo() {
  TDisc disc;
  if (!TestUnitReady(5000)) {
    WaitReady(3000, 5000);
    if (!TestUnitReady(5000)) return disc;
  }
  disc.Present = 1;
  uint8_t b[256] = {};
  uint32_t got = 0;
  ReadToc(0, false, 0, b, 255, &got);
  std::memset(b, 0, sizeof b);
  if (ReadToc(1, false, 0, b, 12, &got) == SS_COMP && got >= 4) {
    disc.FirstSession = b[2];
    disc.LastSession = b[3];
  }
  std::memset(b, 0, sizeof b);
  if (ReadToc(4, true, 0, b, 26, &got) == SS_COMP && got >= 15)
    disc.Capacity = b[12] * 4500u + b[13] * 75u + b[14];
  std::memset(b, 0, sizeof b);
  if (GetConfiguration(2, 0, b, &got) == SS_COMP && got >= 8) {
    disc.Profile = static_cast<uint16_t>(BigEndian(b + 6, 2));
    const uint8_t type = DiscTypeOfProfile(disc.Profile);
    if (type != dtUnknown) disc.MediaName = DiscTypeName(type);
    switch (disc.Profile) {
      case 0x03:
      case 0x0A:
      case 0x13:
      case 0x14:
      case 0x1A:
      case 0x22:
        disc.Erasable = 1;
        break;
      default:
        break;
    }
  }
  const uint8_t type = DiscTypeOfProfile(disc.Profile);
  const bool cd = disc.Profile == 0 || IsCd(type);
  std::memset(b, 0, sizeof b);
  bool usedKnown = false;
  if (ReadTrackInfo(cd ? 0xFF : 1, b, &got) == SS_COMP) {
    const TTrackInfo ti = ParseTrackInfo(*this, b, got);
    usedKnown = ti.Ok;
    if (ti.Ok) {
      if (cd)
        disc.Used = ti.Start;
      else if (type == dtDvdPlusRw || type == dtDvdRam || type == dtDvdRwRestricted)
        disc.Used = VolumeSpaceSize();
      else
        disc.Used = ti.Size >= ti.Free ? ti.Size - ti.Free : 0;
    }
  }
  // A closed disc has no writable track: what it holds is what READ CAPACITY reports, not 0.
  std::memset(b, 0, sizeof b);
  if (!usedKnown && ReadCapacity(b, &got) == SS_COMP && got >= 4 && BigEndian(b, 4) > 0)
    disc.Used = BigEndian(b, 4) + 1;
  std::memset(b, 0, sizeof b);
  uint32_t formatted = 0;
  if (ReadFormatCapacities(b, &got) == SS_COMP && ParseFormatCapacity(*this, b, got, formatted) &&
      disc.Capacity == 0)
    disc.Capacity = formatted;
  std::memset(b, 0, sizeof b);
  TDiscInfo di;
  if (ReadDiscInfo(b, &got) == SS_COMP) di = ParseDiscInfo(*this, b, got);
  if (di.Ok) {
    disc.SessionState = di.LastState;
    disc.DiscStatus = di.Status;
    if (di.Erasable) disc.Erasable = 1;
  } else {
    std::memset(b, 0, sizeof b);
    if (ReadCapacity(b, &got) == SS_COMP && got >= 4) {
      disc.Used = BigEndian(b, 4) + 1;
    }
  }
  disc.Capacity = std::max(disc.Capacity, disc.Used);
  return disc;
}

bool TSCSIDevice::SetWriteParameters(bool test, bool bufe, int type) {
  if (type == dtDvdRam) return true;
  uint8_t buf[512] = {};
  uint32_t got = 0;
  if (ModeSense(0x05, false, buf, sizeof buf, &got) != SS_COMP) return false;
  const int off = FindPage(buf, got, 0x05);
  if (off < 0) return ShortReply(*this, "MODE SENSE", got), false;
  std::memset(WriteParams, 0, sizeof WriteParams);
  std::memcpy(WriteParams, buf + off, std::min<uint32_t>(sizeof WriteParams, got - off));
  uint8_t* p = WriteParams;
  p[0] = 0x05;
  p[1] = 0x32;
  p[4] = 8;
  p[6] = p[7] = p[8] = p[9] = 0;
  Put16(p + 14, 150);
  uint8_t b2 = 0x01, b3 = (!test && !FinalizeDisc) ? 0xC4 : 0x04, link = 0;
  uint32_t packet = 0;
  const bool dvdRw = type == dtDvdRw || type == dtDvdRwRestricted || type == dtDvdRwSequential;
  switch (type) {
    case dtDvdR:
      b2 = 0x20, b3 = 0xE5, link = 16, packet = 16;
      break;
    case dtDvdRw:
    case dtDvdRwRestricted:
    case dtDvdRwSequential:
      b2 = 0x20, b3 = 0xC5, link = 16, packet = 0;
      break;
    case dtDvdPlusR:
      b2 = 0x22, b3 = 0xC4, link = 0, packet = 16;
      break;
    case dtDvdPlusRw:
      b2 = 0x22, b3 = 0x04, link = 16, packet = 0;
      break;
    default:
      break;
  }
  if (!dvdRw) {
    if (bufe && (Capabilities & capUnderrunProtection)) b2 |= 0x40;
    if (test && (Capabilities & capTestWrite)) b2 |= 0x10;
    if (QuirkLsv) b2 |= 0x20;
  }
  p[2] = b2;
  p[3] = b3;
  p[5] = link;
  Put32(p + 10, packet);
  uint8_t out[8 + 52] = {};
  std::memcpy(out + 8, p, 52);
  return ModeSelect(out, sizeof out) == SS_COMP;
}

bool TSCSIDevice::WaitReady(uint32_t totalMs, uint32_t intervalMs) {
  const uint64_t start = clock_->NowMs();
  auto timeLeft = [&] { return clock_->NowMs() - start < totalMs; };
  if (QuirkTurLoop) {
    while (!TestUnitReady(5000) && SenseAsc() == 0x04) {
      if (!timeLeft()) return false;
      Wait(1500);
    }
  }
  if (lastDiscType_ != dtDvdRam) {
    uint8_t d[56];
    while (ReadDiscInfo(d) != SS_COMP && SenseAsc() == 0x04) {
      if (!timeLeft()) return false;
      Wait(intervalMs);
    }
    if (TestUnitReady(5000)) return true;
    while (!TestUnitReady(5000) && SenseAsc() == 0x04) {
      if (!timeLeft()) return false;
      Wait(intervalMs);
    }
  }
  for (;;) {
    uint8_t s[40] = {};
    uint32_t sg = 0;
    uint8_t asc = 0x04;
    if (RequestSense(s, &sg) == SS_COMP && sg >= 13) asc = s[0] == 0xF0 ? 0x04 : s[12];
    if (asc == 0) return true;
    if (!timeLeft()) return false;
    Wait(intervalMs);
  }
}
