#include "disc/sgio.h"

#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

// Host byte values of the SCSI midlayer.
enum : uint16_t {
  kDidOk = 0x00,
  kDidNoConnect = 0x01,
  kDidBusBusy = 0x02,
  kDidTimeOut = 0x03,
  kDidBadTarget = 0x04,
  kDidParity = 0x06,
  kDidReset = 0x08,
  kDidSoftError = 0x0B,
};
// Driver byte values.
enum : uint16_t { kDriverTimeout = 0x06, kDriverSense = 0x08 };

std::string ReadLine(const fs::path& p) {
  std::ifstream in(p);
  std::string s;
  std::getline(in, s);
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ' || s.back() == '\r')) s.pop_back();
  return s;
}

}  // namespace

void MapSgIoResult(int rc, int error, const sg_io_hdr& h, TScsiRequest& r) {
  r.AdapterStatus = HASTAT_OK;
  r.TargetStatus = STATUS_GOOD;
  if (rc < 0) {
    r.Transferred = 0;
    switch (error) {
      case ENOTTY:
      case ENODEV:
      case ENXIO:
      case ENOENT:
        r.Status = SS_NO_DEVICE;
        break;
      case EPERM:
      case EACCES:
      case EINVAL:
      case EFAULT:
        r.Status = SS_INVALID_CMD;
        break;
      case EBUSY:
        r.Status = SS_ASPI_IS_BUSY;
        break;
      case ENOMEM:
      case EOVERFLOW:
        r.Status = SS_BUFFER_TOO_BIG;
        break;
      case ETIMEDOUT:
        r.Status = SS_ERR;
        r.AdapterStatus = HASTAT_TIMEOUT;
        break;
      default:
        r.Status = SS_ERR;
        r.AdapterStatus = HASTAT_REQUEST_SENSE_FAILED;
        break;
    }
    return;
  }
  const uint32_t moved = h.resid > 0 && static_cast<uint32_t>(h.resid) <= h.dxfer_len
                             ? h.dxfer_len - static_cast<uint32_t>(h.resid)
                             : (h.resid > 0 ? 0 : h.dxfer_len);
  r.Transferred = moved;
  const uint8_t senseLength = std::min<uint8_t>(h.sb_len_wr, sizeof r.Sense);
  r.SenseReturned = senseLength;
  if (h.sbp != nullptr && h.sbp != r.Sense && senseLength > 0)
    std::memcpy(r.Sense, h.sbp, senseLength);
  const uint8_t scsiStatus = h.status & 0x7E;
  const uint16_t host = h.host_status;
  const uint16_t driver = h.driver_status & 0x0F;
  if (scsiStatus != STATUS_GOOD) {
    r.Status = SS_ERR;
    r.TargetStatus = scsiStatus;
    return;
  }
  if (host == kDidOk && driver == 0) {
    r.Status = SS_COMP;
    return;
  }
  r.Status = SS_ERR;
  switch (host) {
    case kDidTimeOut:
      r.AdapterStatus = HASTAT_TIMEOUT;
      return;
    case kDidNoConnect:
    case kDidBadTarget:
      r.AdapterStatus = HASTAT_SEL_TO;
      return;
    case kDidReset:
      r.AdapterStatus = HASTAT_BUS_RESET;
      return;
    case kDidParity:
      r.AdapterStatus = HASTAT_PARITY_ERROR;
      return;
    case kDidBusBusy:
    case kDidSoftError:
      r.Status = SS_ASPI_IS_BUSY;
      return;
    default:
      break;
  }
  if (driver == kDriverTimeout) {
    r.AdapterStatus = HASTAT_TIMEOUT;
    return;
  }
  if (senseLength > 0) {
    // The drive sent sense data without a check condition status: read it as one.
    r.TargetStatus = STATUS_CHKCOND;
    return;
  }
  r.AdapterStatus = HASTAT_REQUEST_SENSE_FAILED;
}

TSgIoTransport::TSgIoTransport(std::string sysRoot, std::string devRoot)
    : sysRoot_(std::move(sysRoot)), devRoot_(std::move(devRoot)) {
  Ioctl = [](int fd, sg_io_hdr* header) { return ::ioctl(fd, SG_IO, header); };
}

TSgIoTransport::~TSgIoTransport() {
  for (auto& [address, node] : nodes_) Close(node);
}

std::vector<TScsiDriveEntry> TSgIoTransport::Discover() {
  std::vector<TScsiDriveEntry> found;
  std::error_code ec;
  const fs::path block = fs::path(sysRoot_) / "class" / "block";
  for (const auto& e : fs::directory_iterator(block, ec)) {
    const std::string name = e.path().filename().string();
    if (name.size() < 3 || name.compare(0, 2, "sr") != 0 ||
        !std::all_of(name.begin() + 2, name.end(), [](char c) { return c >= '0' && c <= '9'; }))
      continue;
    const fs::path device = e.path() / "device";
    std::error_code lec;
    const fs::path target = fs::read_symlink(device, lec);
    if (lec) continue;
    // The link ends in "H:C:T:L".
    unsigned h, c, t, l;
    char tail;
    if (std::sscanf(target.filename().string().c_str(), "%u:%u:%u:%u%c", &h, &c, &t, &l, &tail) !=
            4 ||
        h > 253 || t > 253 || l > 253)
      continue;
    TScsiDriveEntry d;
    d.Adapter = static_cast<uint8_t>(h);
    d.Target = static_cast<uint8_t>(t);
    d.Lun = static_cast<uint8_t>(l);
    d.Node = name;
    const std::string type = ReadLine(device / "type");
    d.DeviceType = type.empty() ? 0x1F : static_cast<uint8_t>(std::atoi(type.c_str()) & 0x1F);
    d.Vendor = ReadLine(device / "vendor");
    d.Product = ReadLine(device / "model");
    d.Revision = ReadLine(device / "rev");
    found.push_back(d);
  }
  std::sort(found.begin(), found.end(), [](const TScsiDriveEntry& a, const TScsiDriveEntry& b) {
    return std::make_tuple(a.Node.size(), a.Node) < std::make_tuple(b.Node.size(), b.Node);
  });
  std::lock_guard<std::mutex> guard(lock_);
  for (const auto& d : found) {
    auto& node = nodes_[{d.Adapter, d.Target, d.Lun}];
    if (node.Name != d.Node) {
      Close(node);
      node.Name = d.Node;
    }
  }
  return found;
}

int TSgIoTransport::Open(TNode& node, bool exclusive) {
  if (node.Fd >= 0) return 0;
  const std::string path = devRoot_ + "/" + node.Name;
  const int excl = exclusive ? O_EXCL : 0;
  int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC | excl);
  bool readOnly = false;
  if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS)) {
    fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | excl);
    readOnly = true;
  }
  if (fd < 0) return errno;
  node.Fd = fd;
  node.ReadOnly = readOnly;
  node.Exclusive = exclusive;
  return 0;
}

void TSgIoTransport::Close(TNode& node) {
  if (node.Fd >= 0) ::close(node.Fd);
  node.Fd = -1;
}

bool TSgIoTransport::SetExclusive(uint8_t adapter, uint8_t target, uint8_t lun, bool exclusive) {
  std::lock_guard<std::mutex> guard(lock_);
  auto it = nodes_.find({adapter, target, lun});
  if (it == nodes_.end()) return false;
  if (it->second.Exclusive == exclusive && it->second.Fd >= 0) return true;
  Close(it->second);
  return Open(it->second, exclusive) == 0;
}

void TSgIoTransport::Send(TScsiRequest& r, uint32_t timeoutMs) {
  r.Transferred = 0;
  r.SenseReturned = 0;
  sg_io_hdr h{};
  int fd = -1;
  {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = nodes_.find({r.Adapter, r.Target, r.Lun});
    if (it == nodes_.end()) {
      r.Status = SS_NO_DEVICE;
      return;
    }
    if (const int err = Open(it->second, it->second.Exclusive)) {
      MapSgIoResult(-1, err, h, r);
      return;
    }
    if (it->second.ReadOnly && (r.Flags & SRB_DIR_OUT)) {
      // The node opened read-only: the kernel would refuse a data-out command anyway.
      r.Status = SS_INVALID_CMD;
      return;
    }
    fd = it->second.Fd;
  }
  if (r.BufferLength > kMaxTransfer) {
    r.Status = SS_BUFFER_TOO_BIG;
    return;
  }
  h.interface_id = 'S';
  if (r.BufferLength == 0 || (r.Flags & (SRB_DIR_IN | SRB_DIR_OUT)) == 0)
    h.dxfer_direction = SG_DXFER_NONE;
  else if (r.Flags & SRB_DIR_IN)
    h.dxfer_direction = SG_DXFER_FROM_DEV;
  else
    h.dxfer_direction = SG_DXFER_TO_DEV;
  h.cmd_len = r.CdbLength;
  h.mx_sb_len = kSenseLength;
  h.dxfer_len = h.dxfer_direction == SG_DXFER_NONE ? 0 : r.BufferLength;
  h.dxferp = h.dxfer_len ? r.BufferPointer : nullptr;
  h.cmdp = r.Cdb;
  h.sbp = r.Sense;
  h.timeout = std::max(timeoutMs, kMinCommandWaitMs);
  errno = 0;
  const int rc = Ioctl(fd, &h);
  MapSgIoResult(rc, rc < 0 ? errno : 0, h, r);
}
