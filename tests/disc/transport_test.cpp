// The SG_IO transport (a fake ioctl, a fake sysfs, and the real kernel without a drive) and the
// device layer's command execution: statuses, texts, time-outs, selection and the command set.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <scsi/sg.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>

#include "disc/emulation.h"
#include "disc/scsidevice.h"
#include "disc/sgio.h"
#include "scripted.h"
#include "testutil.h"

using testutil::TempDir;
namespace fs = std::filesystem;

namespace {

// A sysfs tree with sr drives ("sr0" at "2:0:0:0", ...) and their device nodes as plain files.
struct TFakeSys {
  TempDir dir;
  std::string Sys() const { return dir / "sys"; }
  std::string Dev() const { return dir / "dev"; }
  void Add(const std::string& node, const std::string& hctl, int type, const std::string& vendor,
           const std::string& model, bool withNode = true) {
    const fs::path devdir = fs::path(dir.path()) / "sys/devices/pci0000:00/host" / hctl;
    fs::create_directories(devdir);
    testutil::WriteFile((devdir / "type").string(), std::to_string(type) + "\n");
    testutil::WriteFile((devdir / "vendor").string(), vendor + "\n");
    testutil::WriteFile((devdir / "model").string(), model + "\n");
    testutil::WriteFile((devdir / "rev").string(), "1.00\n");
    const fs::path block = fs::path(dir.path()) / "sys/class/block" / node;
    fs::create_directories(block);
    fs::create_directory_symlink(devdir, block / "device");
    fs::create_directories(Dev());
    if (withNode) testutil::WriteFile(Dev() + "/" + node, "");
  }
};

// The node an ioctl was made on: "sr0" for an fd of .../dev/sr0.
std::string NodeOf(int fd) {
  std::error_code ec;
  return fs::read_symlink("/proc/self/fd/" + std::to_string(fd), ec).filename().string();
}

// A fake drive behind the fake ioctl: INQUIRY answers with the node's type and names.
int FakeDriveIoctl(int fd, sg_io_hdr* h) {
  const std::string node = NodeOf(fd);
  if (h->cmdp[0] == 0x12 && h->dxfer_len >= 36) {
    auto* b = static_cast<uint8_t*>(h->dxferp);
    std::memset(b, ' ', 36);
    b[0] = node == "sr2" ? 4 : 5;
    b[4] = 31;
    std::memcpy(b + 8, "ACME", 4);
    std::memcpy(b + 16, ("WRITER " + node).data(), 7 + node.size());
    std::memcpy(b + 32, "1.02", 4);
    h->resid = static_cast<int>(h->dxfer_len) - 36;
  }
  return 0;
}

TEST(SgIo, EveryResultMapsToStatusAndText) {
  TFakeSys sys;
  sys.Add("sr0", "2:0:0:0", 5, "ACME", "WRITER");
  const struct {
    int Rc, Errno;
    uint8_t Scsi;
    uint16_t Host, Driver;
    uint8_t SenseLength;
    uint8_t Status, Adapter, Target;
    const char* Text;
  } rows[] = {
      {0, 0, 0, 0, 0, 0, SS_COMP, 0, 0, ""},
      {0, 0, 2, 0, 0x08, 18, SS_ERR, 0, 2, "NOT READY (MEDIUM NOT PRESENT - TRAY CLOSED)"},
      {0, 0, 2, 0, 0, 0, SS_ERR, 0, 2, "CHECK CONDITION"},
      {0, 0, 8, 0, 0, 0, SS_ERR, 0, 8, "TARGET BUSY"},
      {0, 0, 0x18, 0, 0, 0, SS_ERR, 0, 0x18, "TARGET RESERVATION CONFLICT"},
      {0, 0, 0x28, 0, 0, 0, SS_ERR, 0, 0x28, "TARGET QUEUE FULL"},
      {0, 0, 0, 0x03, 0, 0, SS_ERR, 9, 0, "COMMAND TIMEOUT"},
      {-1, ETIMEDOUT, 0, 0, 0, 0, SS_ERR, 9, 0, "COMMAND TIMEOUT"},
      {0, 0, 0, 0x01, 0, 0, SS_ERR, 17, 0, "SELECTION TIMEOUT"},
      {0, 0, 0, 0x04, 0, 0, SS_ERR, 17, 0, "SELECTION TIMEOUT"},
      {0, 0, 0, 0x08, 0, 0, SS_ERR, 14, 0, "BUS RESET"},
      {0, 0, 0, 0x06, 0, 0, SS_ERR, 15, 0, "PARITY ERROR"},
      {0, 0, 0, 0x02, 0, 0, SS_ASPI_IS_BUSY, 0, 0, "ASPI IS BUSY"},
      {0, 0, 0, 0x0B, 0, 0, SS_ASPI_IS_BUSY, 0, 0, "ASPI IS BUSY"},
      {-1, EBUSY, 0, 0, 0, 0, SS_ASPI_IS_BUSY, 0, 0, "ASPI IS BUSY"},
      {0, 0, 0, 0x07, 0, 0, SS_ERR, 16, 0, "REQUEST SENSE FAILED"},
      {0, 0, 0, 0, 0x04, 0, SS_ERR, 16, 0, "REQUEST SENSE FAILED"},
      {0, 0, 0, 0, 0x08, 18, SS_ERR, 0, 2, "NOT READY (MEDIUM NOT PRESENT - TRAY CLOSED)"},
      {-1, ENOTTY, 0, 0, 0, 0, SS_NO_DEVICE, 0, 0, "NO DEVICE"},
      {-1, ENODEV, 0, 0, 0, 0, SS_NO_DEVICE, 0, 0, "NO DEVICE"},
      {-1, ENXIO, 0, 0, 0, 0, SS_NO_DEVICE, 0, 0, "NO DEVICE"},
      {-1, ENOENT, 0, 0, 0, 0, SS_NO_DEVICE, 0, 0, "NO DEVICE"},
      {-1, ENOMEM, 0, 0, 0, 0, SS_BUFFER_TOO_BIG, 0, 0, "BUFFER TOO BIG"},
      {-1, EPERM, 0, 0, 0, 0, SS_INVALID_CMD, 0, 0, "INVALID REQUEST"},
      {-1, EACCES, 0, 0, 0, 0, SS_INVALID_CMD, 0, 0, "INVALID REQUEST"},
      {-1, EIO, 0, 0, 0, 0, SS_ERR, 16, 0, "REQUEST SENSE FAILED"},
  };
  for (const auto& row : rows) {
    auto* t = new TSgIoTransport(sys.Sys(), sys.Dev());
    sg_io_hdr seen{};
    t->Ioctl = [&](int, sg_io_hdr* h) {
      seen = *h;
      h->status = row.Scsi;
      h->host_status = row.Host;
      h->driver_status = row.Driver;
      h->sb_len_wr = row.SenseLength;
      if (row.SenseLength) {
        const uint8_t s[18] = {0x70, 0, 2, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x3A, 0x01};
        std::memcpy(h->sbp, s, sizeof s);
      }
      errno = row.Errno;
      return row.Rc;
    };
    TSCSIDevice dev;
    TVirtualDiscClock clock;
    dev.SetClock(&clock);
    dev.SetTransport(std::unique_ptr<IScsiTransport>(t));
    t->Discover();
    dev.Adapter = 2, dev.Target = 0, dev.Lun = 0;
    uint8_t buf[40] = {};
    TScsiRequest r;
    r.Flags = SRB_EVENT_NOTIFY | SRB_DIR_IN;
    r.BufferLength = 40;
    r.BufferPointer = buf;
    r.CdbLength = 6;
    r.Cdb[0] = 0x03;
    r.Cdb[4] = 40;
    const uint8_t status = dev.ExecCommand(r, 3000);
    SCOPED_TRACE(row.Text);
    EXPECT_EQ(status, row.Status);
    EXPECT_EQ(r.AdapterStatus, row.Adapter);
    EXPECT_EQ(r.TargetStatus, row.Target);
    EXPECT_EQ(dev.LastError(), row.Text);
    EXPECT_EQ(dev.Busy(), row.Scsi == 8);
    // The header as the kernel saw it.
    EXPECT_EQ(seen.interface_id, 'S');
    EXPECT_EQ(seen.dxfer_direction, SG_DXFER_FROM_DEV);
    EXPECT_EQ(seen.mx_sb_len, 24);
    EXPECT_EQ(seen.timeout, 10000u);
    EXPECT_EQ(seen.cmd_len, 6);
    EXPECT_EQ(seen.dxfer_len, 40u);
  }
}

TEST(SgIo, DirectionsTimeoutAndRefusalsBeforeTheKernel) {
  TFakeSys sys;
  sys.Add("sr0", "2:0:0:0", 5, "ACME", "WRITER");
  auto* t = new TSgIoTransport(sys.Sys(), sys.Dev());
  std::vector<sg_io_hdr> seen;
  t->Ioctl = [&](int, sg_io_hdr* h) {
    seen.push_back(*h);
    return 0;
  };
  t->Discover();
  uint8_t buf[2048] = {};
  const struct {
    uint8_t Flags;
    uint32_t Length, Timeout;
    int Direction;
    unsigned KernelTimeout;
  } rows[] = {{0x40, 0, 5000, SG_DXFER_NONE, 10000},
              {0x48, 2048, 60000, SG_DXFER_FROM_DEV, 60000},
              {0x50, 2048, 120000, SG_DXFER_TO_DEV, 120000}};
  for (const auto& row : rows) {
    TScsiRequest r;
    r.Adapter = 2;
    r.Flags = row.Flags;
    r.BufferLength = row.Length;
    r.BufferPointer = buf;
    r.CdbLength = 10;
    t->Send(r, row.Timeout);
    EXPECT_EQ(r.Status, SS_COMP);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back().dxfer_direction, row.Direction);
    EXPECT_EQ(seen.back().timeout, row.KernelTimeout);
  }
  const size_t calls = seen.size();
  TScsiRequest big;
  big.Adapter = 2;
  big.Flags = 0x48;
  big.BufferLength = TSgIoTransport::kMaxTransfer + 1;
  big.BufferPointer = buf;
  t->Send(big, 1000);
  EXPECT_EQ(big.Status, SS_BUFFER_TOO_BIG);
  TScsiRequest elsewhere;
  elsewhere.Adapter = 7;
  t->Send(elsewhere, 1000);
  EXPECT_EQ(elsewhere.Status, SS_NO_DEVICE);
  EXPECT_EQ(seen.size(), calls);
  delete t;
  if (geteuid() != 0) {
    // A node that opens read-only refuses data-out commands itself.
    chmod((sys.Dev() + "/sr0").c_str(), 0444);
    TSgIoTransport ro(sys.Sys(), sys.Dev());
    int kernelCalls = 0;
    ro.Ioctl = [&](int, sg_io_hdr*) { return ++kernelCalls, 0; };
    ro.Discover();
    TScsiRequest w;
    w.Adapter = 2;
    w.Flags = 0x50;
    w.BufferLength = 2048;
    w.BufferPointer = buf;
    ro.Send(w, 1000);
    EXPECT_EQ(w.Status, SS_INVALID_CMD);
    TScsiRequest rd;
    rd.Adapter = 2;
    rd.Flags = 0x48;
    rd.BufferLength = 2048;
    rd.BufferPointer = buf;
    ro.Send(rd, 1000);
    EXPECT_EQ(rd.Status, SS_COMP);
    EXPECT_EQ(kernelCalls, 1);
  }
}

// The real kernel, no drive: SG_IO on /dev/null and on a node that does not exist.
TEST(SgIo, RealKernelWithoutDriveSaysNoDevice) {
  TFakeSys sys;
  sys.Add("sr0", "2:0:0:0", 5, "ACME", "WRITER", false);
  sys.Add("sr9", "3:0:0:0", 5, "ACME", "GHOST", false);
  fs::create_symlink("/dev/null", sys.Dev() + "/sr0");
  TSCSIDevice dev;
  TVirtualDiscClock clock;
  dev.SetClock(&clock);
  dev.SetTransport(std::make_unique<TSgIoTransport>(sys.Sys(), sys.Dev()));
  ASSERT_TRUE(dev.InitTransport());
  // INQUIRY fails: the names come from sysfs.
  ASSERT_EQ(dev.DeviceList.size(), 2u);
  EXPECT_EQ(dev.DeviceList[0], "2:0:0,sr0: ACME    WRITER          1.00");
  for (uint8_t adapter : {2, 3}) {
    dev.Adapter = adapter, dev.Target = 0, dev.Lun = 0;
    EXPECT_FALSE(dev.TestUnitReady());
    EXPECT_EQ(dev.LastError(), "NO DEVICE") << int(adapter);
  }
}

TEST(SgIo, EnumerationListsAndSelectsEveryDrive) {
  TFakeSys sys;
  sys.Add("sr0", "2:0:0:0", 5, "ACME", "WRITER sr0");
  sys.Add("sr1", "10:0:0:0", 5, "ACME", "WRITER sr1");
  sys.Add("sr2", "3:0:1:0", 4, "ACME", "WRITER sr2");
  fs::create_directories(sys.Sys() + "/class/block/sda");  // not an sr drive
  auto* t = new TSgIoTransport(sys.Sys(), sys.Dev());
  t->Ioctl = FakeDriveIoctl;
  TSCSIDevice dev;
  TVirtualDiscClock clock;
  dev.SetClock(&clock);
  dev.SetTransport(std::unique_ptr<IScsiTransport>(t));
  ASSERT_TRUE(dev.InitTransport());
  const std::vector<std::string> want = {
      "2:0:0,sr0: ACME    WRITER sr0      1.02",
      "10:0:0,sr1: ACME    WRITER sr1      1.02",
      "3:1:0,sr2: ACME    WRITER sr2      1.02 (not supported)",
  };
  EXPECT_EQ(dev.DeviceList, want);
  const struct {
    uint8_t A, T, L;
    const char* Node;
  } sel[] = {{2, 0, 0, "sr0"}, {10, 0, 0, "sr1"}, {3, 1, 0, "sr2"}};
  for (size_t i = 0; i < want.size(); ++i) {
    dev.SelectDevice(want[i]);
    EXPECT_EQ(dev.Adapter, sel[i].A) << want[i];
    EXPECT_EQ(dev.Target, sel[i].T);
    EXPECT_EQ(dev.Lun, sel[i].L);
    EXPECT_EQ(dev.DriveLetter(), sel[i].Node);
    EXPECT_EQ(dev.DriveRoot(), std::string("/dev/") + sel[i].Node + "/");
    EXPECT_EQ(dev.DeviceId, want[i]);
  }
}

TEST(Select, IdsThatClearTheSelection) {
  auto* t = new TScriptedTransport;
  t->Drives = {{1, 0, 0, 5, "sr0", "", "", ""}};
  t->Answer = [](TScsiRequest& r) {
    if (r.Cdb[0] == 0x12) {
      std::memset(r.BufferPointer, ' ', 36);
      r.BufferPointer[0] = 5;
    }
  };
  TSCSIDevice dev;
  TVirtualDiscClock clock;
  dev.SetClock(&clock);
  dev.SetTransport(std::unique_ptr<IScsiTransport>(t));
  std::vector<std::string> messages;
  dev.OnDebugMessage = [&](TSCSIDevice*, const std::string& m, uint8_t) {
    if (m.rfind("SHORT", 0) != 0) messages.push_back(m);
  };
  const struct {
    const char* Id;
    int Adapter;
    bool Reported;
  } rows[] = {
      {"1:0:0,E: ACME    WRITER          1.00", 1, false},
      {"", 254, false},
      {"1:0", 254, true},
      {"1:0:0", 254, true},  // no delimiter after the LUN
      {"x:0:0,sr0: ", 254, true},
      {"1:0:0,sr0: ", 1, false},
      {"254:0:0,sr0: ", 254, true},
  };
  for (const auto& row : rows) {
    messages.clear();
    dev.SelectDevice(row.Id);
    EXPECT_EQ(dev.Adapter, row.Adapter) << row.Id;
    EXPECT_EQ(messages.size(), row.Reported ? 1u : 0u)
        << row.Id << (messages.empty() ? "" : messages[0]);
    if (row.Reported) {
      EXPECT_EQ(messages[0], "INVALID DEVICE ID / NOT A CD OR DVD DRIVE");
    }
    if (row.Adapter == 254) {
      EXPECT_EQ(dev.Target, 254);
      EXPECT_EQ(dev.Lun, 254);
      EXPECT_EQ(dev.DeviceType, 127);
      EXPECT_TRUE(dev.DeviceId.empty());
    }
  }
  // The burner plugged in again: another host adapter and node. The id stored before selects it
  // by its name.
  dev.EnumerateDevices();
  const std::string before = dev.DeviceList.at(0);
  t->Drives = {{4, 0, 0, 5, "sr1", "", "", ""}};
  dev.EnumerateDevices();
  dev.SelectDevice(before);
  EXPECT_EQ(dev.Adapter, 4) << before;
  EXPECT_EQ(dev.DeviceId, dev.DeviceList.at(0));
  EXPECT_EQ(dev.DriveLetter(), "sr1");
}

struct TDevFixture {
  std::vector<TRecordedRequest> log;
  TScriptedTransport* t = new TScriptedTransport;
  TVirtualDiscClock clock{1000};
  TSCSIDevice dev;
  TDevFixture() {
    t->Log = &log;
    dev.SetClock(&clock);
    dev.SetTransport(std::unique_ptr<IScsiTransport>(t));
    dev.Adapter = 2, dev.Target = 0, dev.Lun = 0;
  }
};

TEST(Exec, NoTransportNoDriveLunBitsAndStalls) {
  TSCSIDevice bare;
  TScsiRequest r;
  EXPECT_EQ(bare.ExecCommand(r, 1000), SS_NO_TRANSPORT);
  EXPECT_EQ(bare.LastError(), "");

  TDevFixture f;
  f.dev.Adapter = 254;
  EXPECT_EQ(f.dev.ExecCommand(r, 1000), SS_NO_TRANSPORT);
  EXPECT_TRUE(f.log.empty());

  f.dev.Adapter = 2, f.dev.Lun = 3;
  TScsiRequest lun;
  lun.CdbLength = 10;
  lun.Cdb[0] = 0x51;
  lun.Cdb[1] = 0x01;
  EXPECT_EQ(f.dev.ExecCommand(lun, 1000), SS_COMP);
  EXPECT_EQ(f.log.back().Cdb[1], 0x61);
  EXPECT_EQ(lun.SenseLength, 24);
  EXPECT_EQ(lun.Command, SC_EXEC_SCSI_CMD);
  f.dev.Lun = 0;

  // A command that never completes: aborted after at least 10 s, however short its time-out.
  int pumped = 0;
  f.dev.ProcessMessages = [&] { ++pumped; };
  f.t->Answer = [](TScsiRequest& r) { r.Status = SS_PENDING; };
  for (uint32_t timeout : {1000u, 30000u}) {
    const uint64_t before = f.clock.NowMs();
    EXPECT_FALSE(f.dev.TestUnitReady(timeout));
    EXPECT_EQ(f.dev.LastError(), "COMMAND TIMEOUT");
    EXPECT_GE(f.clock.NowMs() - before, std::max(timeout, 10000u));
    EXPECT_LT(f.clock.NowMs() - before, std::max(timeout, 10000u) + 200);
  }
  EXPECT_EQ(f.t->Aborts, 2);
  EXPECT_GT(pumped, 0);
}

TEST(Exec, FirstFailureOfADriveIsDumpedOnce) {
  TDevFixture f;
  std::vector<std::string> messages;
  f.dev.OnDebugMessage = [&](TSCSIDevice*, const std::string& m, uint8_t kind) {
    EXPECT_EQ(kind, 0);
    messages.push_back(m);
  };
  uint8_t asc = 0x04, ascq = 0x08;
  f.t->Answer = [&](TScsiRequest& r) { CheckCondition(r, 2, asc, ascq); };
  uint8_t buf[2048];
  f.dev.TestUnitReady();         // status command: not dumped
  f.dev.ReadSectors(0, 1, buf);  // long write in progress: not dumped
  EXPECT_TRUE(messages.empty());
  asc = 0x3A, ascq = 0x00;
  f.dev.ReadSectors(0, 1, buf);
  f.dev.ReadSectors(0, 1, buf);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].rfind("<<< ", 0), 0u);
  EXPECT_NE(messages[0].find("28 00 00 00 00 00 00 00 01 00 "), std::string::npos) << messages[0];
  EXPECT_NE(messages[0].find("ASC:3A,ASQ:00 NOT READY (MEDIUM NOT PRESENT)"), std::string::npos)
      << messages[0];
  uint8_t sense[32];
  f.dev.SenseCopy(sense);
  EXPECT_EQ(sense[12], 0x3A);
  // A success clears the failure.
  f.t->Answer = [](TScsiRequest&) {};
  EXPECT_TRUE(f.dev.TestUnitReady());
  EXPECT_EQ(f.dev.LastError(), "");
  EXPECT_EQ(f.dev.SenseAsc(), 0);
}

// Every operation: its CDB, data direction, length and time-out.
TEST(Exec, CommandSet) {
  TDevFixture f;
  uint8_t buf[4096] = {};
  const uint8_t list[28] = {};
  using V = std::vector<uint8_t>;
  const struct {
    std::function<void()> Call;
    V Cdb;
    uint8_t Flags;
    uint32_t Length, Timeout;
  } rows[] = {
      {[&] { f.dev.TestUnitReady(5000); }, V{0, 0, 0, 0, 0, 0}, 0x40, 0, 5000},
      {[&] { f.dev.Rezero(); }, V{1, 0, 0, 0, 0, 0}, 0x40, 0, 10000},
      {[&] { f.dev.RequestSense(buf); }, V{3, 0, 0, 0, 40, 0}, 0x48, 40, 10000},
      {[&] { f.dev.FormatUnit(list); }, V{4, 0x11, 0, 0, 0, 0}, 0x50, 12, 10000},
      {[&] { f.dev.Inquiry(buf); }, V{0x12, 0, 0, 0, 128, 0}, 0x48, 128, 10000},
      {[&] { f.dev.StartStop(true); }, V{0x1B, 0, 0, 0, 2, 0}, 0x40, 0, 20000},
      {[&] { f.dev.StartStop(false); }, V{0x1B, 0, 0, 0, 3, 0}, 0x40, 0, 20000},
      {[&] { f.dev.PreventRemoval(true); }, V{0x1E, 0, 0, 0, 1, 0}, 0x40, 0, 10000},
      {[&] { f.dev.PreventRemoval(false); }, V{0x1E, 0, 0, 0, 0, 0}, 0x40, 0, 10000},
      {[&] { f.dev.ReadFormatCapacities(buf); }, V{0x23, 0, 0, 0, 0, 0, 0, 0, 248, 0}, 0x48, 248,
       10000},
      {[&] { f.dev.ReadCapacity(buf); }, V{0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0x48, 8, 10000},
      {[&] { f.dev.ReadSectors(0x01020304, 2, buf); }, V{0x28, 0, 1, 2, 3, 4, 0, 0, 2, 0}, 0x48,
       4096, 10000},
      {[&] { f.dev.WriteSectors(0x0A0B0C0D, 0x0102, 0, 2048, buf); },
       V{0x2A, 0, 0x0A, 0x0B, 0x0C, 0x0D, 0, 1, 2, 0}, 0x50, 2048, 120000},
      {[&] { f.dev.SyncCache(1800000, true); }, V{0x35, 2, 0, 0, 0, 0, 0, 0, 0, 0}, 0x40, 0,
       1800000},
      {[&] { f.dev.SyncCache(120000, false); }, V{0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0x40, 0,
       120000},
      {[&] { f.dev.GetConfiguration(2, 0x2A, buf); }, V{0x46, 2, 0, 0x2A, 0, 0, 0, 0, 114, 0}, 0x48,
       114, 30000},
      {[&] { f.dev.ReadDiscInfo(buf); }, V{0x51, 0, 0, 0, 0, 0, 0, 0, 56, 0}, 0x48, 56, 10000},
      {[&] { f.dev.ReadTrackInfo(0xFF, buf); }, V{0x52, 1, 0, 0, 0, 0xFF, 0, 0, 40, 0}, 0x48, 40,
       60000},
      {[&] { f.dev.ReserveTrack(0x00012345); }, V{0x53, 0, 0, 0, 0, 0, 0x01, 0x23, 0x45, 0}, 0x40,
       0, 10000},
      {[&] { f.dev.SendOpc(); }, V{0x54, 1, 0, 0, 0, 0, 0, 0, 0, 0}, 0x40, 0, 150000},
      {[&] { f.dev.ModeSelect(buf, 60); }, V{0x55, 0x10, 0, 0, 0, 0, 0, 0, 60, 0}, 0x50, 60, 10000},
      {[&] { f.dev.ModeSense(0x2A, true, buf, 255); }, V{0x5A, 0, 0xAA, 0, 0, 0, 0, 0, 255, 0},
       0x48, 255, 20000},
      {[&] { f.dev.ModeSense(0x05, false, buf, 512); }, V{0x5A, 0, 0x05, 0, 0, 0, 0, 2, 0, 0}, 0x48,
       512, 20000},
      {[&] { f.dev.CloseTrackSession(true, 2, 0x0102); }, V{0x5B, 1, 2, 0, 1, 2, 0, 0, 0, 0}, 0x40,
       0, 180000},
      {[&] { f.dev.ReadBufferCapacity(); }, V{0x5C, 0, 0, 0, 0, 0, 0, 0, 32, 0}, 0x48, 32, 10000},
      {[&] { f.dev.ReadToc(4, true, 0, buf, 26); }, V{0x43, 2, 4, 0, 0, 0, 0, 0, 26, 0}, 0x48, 26,
       10000},
      {[&] { f.dev.ReadToc(0, false, 1, buf, 1000); }, V{0x43, 0, 0, 0, 0, 0, 1, 0, 255, 0}, 0x48,
       255, 10000},
      {[&] { f.dev.Blank(true); }, V{0xA1, 0x11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0x40, 0, 4800000},
      {[&] { f.dev.Blank(false); }, V{0xA1, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0x40, 0, 4800000},
      {[&] { f.dev.SetStreaming(list); }, V{0xB6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 28, 0}, 0x50, 28,
       10000},
      {[&] { f.dev.SetSpeed(1385, 2770); }, V{0xBB, 0, 0x05, 0x69, 0x0A, 0xD2, 0, 0, 0, 0, 0, 0},
       0x40, 0, 10000},
      {[&] {
         f.dev.ReadSpeed = 1385;
         f.dev.SetWriteSpeed(0);
       },
       V{0xBB, 0, 0x05, 0x69, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0}, 0x40, 0, 10000},
      {[&] { f.dev.SendDvdTimestamp("20240102030405"); },
       V{0xBF, 0, 0, 0, 0, 0, 0, 0x0F, 0, 22, 0, 0}, 0x50, 22, 10000},
  };
  for (const auto& row : rows) {
    f.log.clear();
    row.Call();
    ASSERT_EQ(f.log.size(), 1u);
    SCOPED_TRACE(testing::PrintToString(row.Cdb));
    EXPECT_EQ(f.log[0].Cdb, row.Cdb);
    EXPECT_EQ(f.log[0].Flags, row.Flags);
    EXPECT_EQ(f.log[0].Length, row.Length);
    EXPECT_EQ(f.log[0].TimeoutMs, row.Timeout);
  }
  f.log.clear();
  f.dev.SendDvdTimestamp("20240102030405");
  EXPECT_EQ(std::string(f.log[0].Out.begin() + 8, f.log[0].Out.end()), "20240102030405");
  EXPECT_EQ(f.log[0].Out[1], 0x14);
}

}  // namespace

namespace {

// Replies cut short by the transfer or by their own length fields: the query's unknown result
// and a debug message; a mode page found by the header, not by a speed byte that looks like it.
TEST(Exec, ShortAndGarbledReplies) {
  const struct {
    const char* Name;
    uint8_t Opcode;
    std::vector<uint8_t> Reply;
    std::function<int64_t(TSCSIDevice&)> Query;
    int64_t Unknown;
  } rows[] = {
      {"disc info cut by the transfer",
       0x51,
       {0, 32, 0x01, 1},
       [](TSCSIDevice& d) { return d.DiscStatus(); },
       -1},
      {"disc info cut by its length",
       0x51,
       {0, 2, 0x01, 1, 2, 2, 2, 0, 0, 0, 0, 0},
       [](TSCSIDevice& d) { return d.SessionCount(); },
       0},
      {"track info cut short", 0x52, std::vector<uint8_t>(20, 0xFF),
       [](TSCSIDevice& d) { return static_cast<int>(d.GetDiscInfo().Used); }, 0},
      {"format capacities without a descriptor",
       0x23,
       {0, 0, 0, 0},
       [](TSCSIDevice& d) { return d.DiscCapacity(); },
       0},
  };
  for (const auto& row : rows) {
    TDevFixture f;
    std::vector<std::string> messages;
    f.dev.OnDebugMessage = [&](TSCSIDevice*, const std::string& m, uint8_t) {
      messages.push_back(m);
    };
    const uint8_t opcode = row.Opcode;
    const std::vector<uint8_t> reply = row.Reply;
    f.t->Answer = [&](TScsiRequest& r) {
      if (r.Cdb[0] == 0x46) {  // a DVD-RAM, so the capacity query asks for format capacities
        const uint8_t cfg[8] = {0, 0, 0, 4, 0, 0, 0, 0x12};
        std::memcpy(r.BufferPointer, cfg, 8);
        r.Transferred = 8;
      } else if (r.Cdb[0] == opcode) {
        std::memcpy(r.BufferPointer, reply.data(), std::min<size_t>(reply.size(), r.BufferLength));
        r.Transferred = static_cast<uint32_t>(std::min<size_t>(reply.size(), r.BufferLength));
      } else if (r.Cdb[0] == 0x51) {
        const uint8_t di[12] = {0, 10, 0x01, 1, 1, 1, 1, 0, 0, 0, 0, 0};
        std::memcpy(r.BufferPointer, di, sizeof di);
        r.Transferred = sizeof di;
      } else {
        r.Transferred = 0;
      }
    };
    SCOPED_TRACE(row.Name);
    EXPECT_EQ(row.Query(f.dev), row.Unknown);
    bool said = false;
    for (const auto& m : messages) said = said || m.rfind("SHORT OR GARBLED REPLY TO ", 0) == 0;
    EXPECT_TRUE(said);
  }

  // MODE SENSE data without block descriptors whose page holds a read speed of 2Axxh: the page
  // stands where the header says (8), although its speed byte puts the page code at 16 too.
  TDevFixture f;
  f.t->Answer = [](TScsiRequest& r) {
    if (r.Cdb[0] != 0x5A) return (void)(r.Transferred = 0);
    std::vector<uint8_t> d(8 + 32, 0);
    d[1] = static_cast<uint8_t>(d.size() - 2);
    uint8_t* p = d.data() + 8;
    p[0] = 0x2A, p[1] = 30, p[2] = 0x01, p[3] = 0x01;
    p[8] = 0x2A, p[9] = 0x40;
    p[18] = 0x1B, p[19] = 0x90;
    std::memcpy(r.BufferPointer, d.data(), std::min<size_t>(d.size(), r.BufferLength));
    r.Transferred = static_cast<uint32_t>(std::min<size_t>(d.size(), r.BufferLength));
  };
  ASSERT_TRUE(f.dev.ReadCapabilities());
  EXPECT_EQ(f.dev.Capabilities, capReadCdR | capWriteCdR);
  EXPECT_EQ(f.dev.DeviceMaxReadSpeed, 0x2A40);
  EXPECT_EQ(f.dev.DeviceMaxWriteSpeed, 0x1B90);
}

}  // namespace

namespace {

// ARCAVO_EMULATED_DRIVES: only the emulated drives, and no transport at all when the emulation is
// not linked in: never a real device.
TEST(Select, EmulatedDrivesOnlyFromTheEnvironment) {
  TempDir dir;
  setenv("ARCAVO_EMULATED_DRIVES", dir.path().c_str(), 1);
  RegisterEmulatedTransport(nullptr);
  {
    TSCSIDevice dev;
    EXPECT_FALSE(dev.InitTransport());
    EXPECT_EQ(dev.Transport(), nullptr);
  }
  std::string seen;
  RegisterEmulatedTransport([&](const std::string& folder) {
    seen = folder;
    auto t = std::make_unique<TScriptedTransport>();
    t->Answer = [](TScsiRequest& r) {
      if (r.Cdb[0] == 0x12) r.BufferPointer[0] = 5;
    };
    return t;
  });
  {
    TSCSIDevice dev;
    EXPECT_TRUE(dev.InitTransport());
    EXPECT_EQ(seen, dir.path());
    EXPECT_EQ(dev.DeviceList.size(), 1u);
  }
  RegisterEmulatedTransport(nullptr);
  unsetenv("ARCAVO_EMULATED_DRIVES");
}

}  // namespace
