// The device layer against emulated drives: disc types and their fallbacks, capabilities, the
// disc queries on typical discs, write parameters, waiting, quirks, and the drive's own rules
// (write addresses, sessions, senses of a real writer).
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <thread>

#include "disc/scsidevice.h"
#include "discemu/emulateddrive.h"
#include "testutil.h"

using testutil::TempDir;

namespace {

// One emulated drive "sr0" in a scratch folder, selected on a device running on virtual time.
struct TEmu {
  TempDir dir;
  TVirtualDiscClock clock{5000};
  TSCSIDevice dev;
  TEmulatedTransport* transport = nullptr;
  TEmulatedDrive* drive = nullptr;
  std::vector<std::string> messages;
  int deviceChanges = 0;

  explicit TEmu(const std::string& profile, const std::function<void(TEmuState&)>& edit = nullptr) {
    EXPECT_TRUE(TEmulatedDrive::Create(dir / "sr0", profile, 1));
    if (edit) {
      TEmuState s;
      EXPECT_TRUE(TEmuState::Load(dir / "sr0.state", s));
      edit(s);
      EXPECT_TRUE(s.Save(dir / "sr0.state"));
    }
    dev.SetClock(&clock);
    dev.OnDebugMessage = [this](TSCSIDevice*, const std::string& m, uint8_t) {
      messages.push_back(m);
    };
    dev.OnDeviceChange = [this](TSCSIDevice*) { ++deviceChanges; };
    transport = new TEmulatedTransport(dir.path(), &clock);
    dev.SetTransport(std::unique_ptr<IScsiTransport>(transport));
    EXPECT_TRUE(dev.InitTransport());
    EXPECT_EQ(dev.DeviceList.size(), 1u);
    if (!dev.DeviceList.empty()) dev.SelectDevice(dev.DeviceList[0]);
    drive = transport->DriveByNode("sr0");
  }
  // Writes `count` sectors filled with `fill` at the drive's next writable address.
  uint8_t Write(uint32_t lba, uint16_t count, uint8_t fill = 0x5A) {
    std::vector<uint8_t> data(count * 2048u, fill);
    return dev.WriteSectors(lba, count, 0, static_cast<uint32_t>(data.size()), data.data());
  }
};

// A primary volume descriptor at sector 16 with the given volume space size, then a terminator.
void WriteVolume(TEmu& e, uint32_t sectors) {
  std::vector<uint8_t> pvd(2 * 2048, 0);
  pvd[0] = 1;
  std::memcpy(pvd.data() + 1, "CD001", 5);
  pvd[6] = 1;
  for (int i = 0; i < 4; ++i) {
    pvd[80 + i] = static_cast<uint8_t>(sectors >> (8 * i));
    pvd[84 + 3 - i] = static_cast<uint8_t>(sectors >> (8 * i));
  }
  pvd[2048] = 255;
  std::memcpy(pvd.data() + 2049, "CD001", 5);
  ASSERT_EQ(e.dev.WriteSectors(16, 2, 0, static_cast<uint32_t>(pvd.size()), pvd.data()), SS_COMP);
}

TEST(Emulated, ProfilesGiveTypesNamesAndFallbacks) {
  const struct {
    const char* Profile;
    int Type;
    const char* Name;
  } rows[] = {{"CD-ROM", 1, "CD-ROM"},    {"CD-R", 2, "CD-R"},         {"CD-RW", 3, "CD-RW"},
              {"DVD-ROM", 4, "DVD-ROM"},  {"DVD-R", 5, "DVD-R"},       {"DVD-RAM", 6, "DVD-RAM"},
              {"DVD-RW-RO", 8, "DVD-RW"}, {"DVD-RW-SEQ", 9, "DVD-RW"}, {"DVD+RW", 10, "DVD+RW"},
              {"DVD+R", 11, "DVD+R"},     {"NONE", 0, "UNKNOWN"}};
  for (const auto& row : rows) {
    TEmu e(row.Profile);
    EXPECT_EQ(e.dev.DiscType(), row.Type) << row.Profile;
    EXPECT_STREQ(DiscTypeName(row.Type), row.Name);
  }
  EXPECT_STREQ(DiscTypeName(7), "DVD-RW");
  EXPECT_STREQ(DiscTypeName(12), "DDCD-ROM");
  EXPECT_STREQ(DiscTypeName(14), "DDCD-RW");
  EXPECT_STREQ(DiscTypeName(15), "UNKNOWN");

  // Without GET CONFIGURATION: the ATIP, then READ DISC INFORMATION, then readiness.
  const struct {
    const char* Profile;
    std::vector<uint8_t> Failing;
    int Type;
  } fallbacks[] = {{"CD-R", {0x46}, 2},
                   {"CD-RW", {0x46}, 3},
                   {"CD-RW", {0x46, 0x43}, 3},
                   {"CD-R", {0x46, 0x43}, 2},
                   {"CD-R", {0x46, 0x43, 0x51}, 1},
                   {"NONE", {0x46}, 0}};
  for (const auto& f : fallbacks) {
    TEmu e(f.Profile);
    for (uint8_t op : f.Failing) e.drive->InjectSense(op, 5, 0x20, 0);
    EXPECT_EQ(e.dev.DiscType(), f.Type) << f.Profile << " " << f.Failing.size();
  }
}

TEST(Emulated, CapabilitiesReadTheSameWhereverThePageStands) {
  for (int offset : {16, 8, 7}) {
    TEmu e("DVD+RW", [&](TEmuState& s) {
      s.PageOffset = offset;
      s.Speeds = {2770, 1385};
      s.ReadSpeed = 5540;
    });
    SCOPED_TRACE(offset);
    ASSERT_TRUE(e.dev.ReadCapabilities());
    EXPECT_EQ(e.dev.Capabilities, capReadCdR | capReadCdRw | capReadMethod2 | capReadDvdRom |
                                      capReadDvdR | capReadDvdRam | capWriteCdR | capWriteCdRw |
                                      capTestWrite | capWriteDvdR | capWriteDvdRam |
                                      capUnderrunProtection | capDvdPlusRw | capDvdRwSeq);
    EXPECT_EQ(e.dev.DeviceMaxWriteSpeed, 2770);
    EXPECT_EQ(e.dev.DeviceMaxReadSpeed, 5540);
    EXPECT_EQ(e.dev.MaxWriteSpeed(), 2770);
    e.dev.SetWriteSpeed(1385);
    EXPECT_EQ(e.dev.CurrentWriteSpeed(), 1385);
    e.dev.SetWriteSpeed(0);
    EXPECT_EQ(e.dev.CurrentWriteSpeed(), 2770);
  }
  // A drive that reports no speeds: 1385 stands in.
  TEmu slow("CD-R", [](TEmuState& s) { s.Speeds = {0}; });
  ASSERT_TRUE(slow.dev.ReadCapabilities());
  EXPECT_EQ(slow.dev.DeviceMaxWriteSpeed, 1385);
  EXPECT_EQ(slow.dev.CurrentWriteSpeed(), 1385);
}

TEST(Emulated, DiscQueriesOnTypicalDiscs) {
  struct TWant {
    uint32_t Free, Capacity;
    TDisc Disc;
    int Sessions, Status;
  };
  auto disc = [](uint8_t present, uint32_t cap, uint32_t used, uint8_t first, uint8_t last,
                 uint8_t state, uint8_t status, uint16_t profile, const char* name,
                 uint8_t erasable) {
    TDisc d;
    d.Present = present, d.Capacity = cap, d.Used = used, d.FirstSession = first,
    d.LastSession = last, d.SessionState = state, d.DiscStatus = status, d.Profile = profile,
    d.MediaName = name, d.Erasable = erasable;
    return d;
  };
  const struct {
    const char* Name;
    const char* Profile;
    std::function<void(TEmuState&)> Edit;
    std::function<void(TEmu&)> Prepare;
    TWant Want;
  } rows[] = {
      {"blank CD-R",
       "CD-R",
       nullptr,
       nullptr,
       {359847, 359847, disc(1, 359847, 0, 0, 0, 0, 0, 0x09, "CD-R", 0), 0, 0}},
      {"CD-R with one session",
       "CD-R",
       [](TEmuState& s) {
         s.Sessions = {{0, 1000}};
         s.SessionStart = s.Nwa = 12400;
       },
       nullptr,
       {347447, 359847, disc(1, 359847, 12400, 1, 1, 0, 1, 0x09, "CD-R", 0), 1, 1}},
      {"full CD-RW",
       "CD-RW",
       [](TEmuState& s) {
         s.Sessions = {{0, 359847}};
         s.Complete = true;
       },
       nullptr,
       {0, 359847, disc(1, 359847, 359847, 1, 1, 3, 2, 0x0A, "CD-RW", 1), 1, 2}},
      {"DVD+RW holding a volume",
       "DVD+RW",
       [](TEmuState& s) { s.Formatted = true; },
       [](TEmu& e) { WriteVolume(e, 5000); },
       {2290104, 2295104, disc(1, 2295104, 5000, 0, 0, 3, 2, 0x1A, "DVD+RW", 1), 1, 2}},
      {"blank DVD-R",
       "DVD-R",
       nullptr,
       nullptr,
       {2297888, 2297888, disc(1, 2297888, 0, 0, 0, 0, 0, 0x11, "DVD-R", 0), 0, 0}},
      {"no medium", "NONE", nullptr, nullptr, {0, 0, TDisc{}, 0, -1}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Name);
    TEmu e(row.Profile, row.Edit);
    if (row.Prepare) row.Prepare(e);
    EXPECT_EQ(e.dev.FreeSectors(), row.Want.Free);
    EXPECT_EQ(e.dev.DiscCapacity(), row.Want.Capacity);
    EXPECT_EQ(e.dev.SessionCount(), row.Want.Sessions);
    EXPECT_EQ(e.dev.DiscStatus(), row.Want.Status);
    const TDisc d = e.dev.GetDiscInfo();
    const TDisc& w = row.Want.Disc;
    EXPECT_EQ(d.Present, w.Present);
    EXPECT_EQ(d.Capacity, w.Capacity);
    EXPECT_EQ(d.Used, w.Used);
    EXPECT_EQ(d.BlockSize, 2048u);
    EXPECT_EQ(d.FirstSession, w.FirstSession);
    EXPECT_EQ(d.LastSession, w.LastSession);
    EXPECT_EQ(d.SessionState, w.SessionState);
    EXPECT_EQ(d.DiscStatus, w.DiscStatus);
    EXPECT_EQ(d.Profile, w.Profile);
    EXPECT_EQ(d.MediaName, w.MediaName);
    EXPECT_EQ(d.Erasable, w.Erasable);
  }
}

TEST(Emulated, WriteParametersPagePerDiscType) {
  const struct {
    int Type;
    bool Test, Finalize;
    uint8_t Byte2, Byte3, Link;
    uint32_t Packet;
  } rows[] = {
      {dtCdR, false, false, 0x41, 0xC4, 0, 0},
      {dtCdR, false, true, 0x41, 0x04, 0, 0},
      {dtCdRw, true, false, 0x51, 0x04, 0, 0},
      {dtUnknown, false, false, 0x41, 0xC4, 0, 0},
      {dtDvdR, true, false, 0x70, 0xE5, 16, 16},
      {dtDvdRwSequential, true, false, 0x20, 0xC5, 16, 0},
      {dtDvdRwRestricted, false, false, 0x20, 0xC5, 16, 0},
      {dtDvdPlusR, false, false, 0x62, 0xC4, 0, 16},
      {dtDvdPlusRw, false, false, 0x62, 0x04, 16, 0},
  };
  TEmu e("CD-R");
  for (const auto& row : rows) {
    e.dev.FinalizeDisc = row.Finalize;
    ASSERT_TRUE(e.dev.SetWriteParameters(row.Test, true, row.Type)) << row.Type;
    const TEmuState s = e.drive->State();
    SCOPED_TRACE(row.Type);
    EXPECT_EQ(s.WriteParams[0], 0x05);
    EXPECT_EQ(s.WriteParams[1], 0x32);
    EXPECT_EQ(s.WriteParams[2], row.Byte2);
    EXPECT_EQ(s.WriteParams[3], row.Byte3);
    EXPECT_EQ(s.WriteParams[4], 8);
    EXPECT_EQ(s.WriteParams[5], row.Link);
    EXPECT_EQ(BigEndian(s.WriteParams + 10, 4), row.Packet);
    EXPECT_EQ(BigEndian(s.WriteParams + 14, 2), 150u);
  }
  // DVD-RAM: nothing is sent.
  const size_t before = e.drive->CommandLog().size();
  EXPECT_TRUE(e.dev.SetWriteParameters(false, true, dtDvdRam));
  EXPECT_EQ(e.drive->CommandLog().size(), before);
}

TEST(Emulated, QuirksAndWriteModesFromTheInquiry) {
  const struct {
    const char *Vendor, *Product;
    uint8_t Modes;
    bool Underrun, Lsv, TurLoop, CloseImmediate;
  } rows[] = {
      {"ARCAVO", "EMULATED WRITER", 7, false, false, false, true},
      {"ARCAVO", "CD-W512EB", 5, true, false, false, true},
      {"ARCAVO", "CRX175E", 7, false, true, false, true},
      {"ARCAVO", "CD-RW  CRX800E", 7, false, true, false, true},
      {"ARCAVO", "UJDA750", 7, false, false, true, true},
      {"TDK", "CDRW4800B", 7, false, false, true, true},
      {"PIONEER", "DVD-RW  DVR-104", 7, false, false, true, true},
      {"ARCAVO", "CDRW321040X", 6, false, false, false, false},
  };
  for (const auto& row : rows) {
    TEmu e("CD-R", [&](TEmuState& s) {
      s.Vendor = row.Vendor;
      s.Product = row.Product;
      s.WriteModesAccepted = row.Modes;
    });
    SCOPED_TRACE(row.Product);
    EXPECT_EQ(e.dev.WriteModes, row.Modes);
    EXPECT_EQ(e.dev.QuirkUnderrun, row.Underrun);
    EXPECT_EQ(e.dev.QuirkLsv, row.Lsv);
    EXPECT_EQ(e.dev.QuirkTurLoop, row.TurLoop);
    EXPECT_EQ(e.dev.CloseImmediate, row.CloseImmediate);
    EXPECT_EQ(e.deviceChanges, 1);
    // Waiting after an immediate close: the quirk drives poll TEST UNIT READY first.
    ASSERT_TRUE(e.dev.SetWriteParameters(false, false, dtCdR));
    ASSERT_EQ(e.Write(0, 1), SS_COMP);
    ASSERT_EQ(e.dev.CloseTrackSession(true, 2, 0), SS_COMP);
    const size_t mark = e.drive->CommandLog().size();
    EXPECT_TRUE(e.dev.WaitReady(10000, 500));
    const std::string first = e.drive->CommandLog().at(mark).substr(0, 2);
    EXPECT_EQ(first, row.TurLoop ? "00" : "51");
    EXPECT_EQ(e.dev.DeviceType, 5);
    EXPECT_EQ(e.dev.DeviceName.substr(0, 8), (std::string(row.Vendor) + "        ").substr(0, 8));
    EXPECT_EQ(e.drive->State().WriteParams[2] & 0x20, row.Lsv ? 0x20 : 0);
  }
}

// Sessions, write addresses, immediate operations and the senses of a real writer.
TEST(Emulated, DriveRulesAndSenses) {
  TEmu e("CD-R");
  e.dev.FinalizeDisc = false;
  ASSERT_TRUE(e.dev.SetWriteParameters(false, true, dtCdR));
  EXPECT_EQ(e.Write(5, 1), SS_ERR);
  EXPECT_EQ(e.dev.LastError(), "ILLEGAL REQUEST (INVALID ADDRESS FOR WRITE)");
  ASSERT_EQ(e.Write(0, 32, 0x11), SS_COMP);
  ASSERT_EQ(e.Write(32, 8, 0x22), SS_COMP);
  std::vector<uint8_t> back(40 * 2048);
  ASSERT_EQ(e.dev.ReadSectors(0, 40, back.data()), SS_COMP);
  EXPECT_EQ(back[0], 0x11);
  EXPECT_EQ(back[39 * 2048], 0x22);

  // An immediate session close: the drive is busy with a long write while virtual time runs.
  const uint64_t t0 = e.clock.NowMs();
  ASSERT_EQ(e.dev.CloseTrackSession(true, 2, 0), SS_COMP);
  EXPECT_FALSE(e.dev.TestUnitReady());
  EXPECT_EQ(e.dev.LastError(), "NOT READY (LOGICAL UNIT NOT READY, LONG WRITE IN PROGRESS)");
  EXPECT_TRUE(e.dev.WaitReady(10000, 500));
  EXPECT_GE(e.clock.NowMs() - t0, 3000u);
  EXPECT_EQ(e.dev.SessionCount(), 1);
  EXPECT_EQ(e.dev.LastSessionStart(), 0u);
  EXPECT_EQ(e.dev.NextWritableAddress(), 40u + 11400u);
  ASSERT_EQ(e.Write(11440, 16), SS_COMP);
  ASSERT_EQ(e.dev.CloseTrackSession(false, 2, 0), SS_COMP);
  EXPECT_EQ(e.dev.NextWritableAddress(), 11456u + 6900u);
  EXPECT_EQ(e.dev.SessionCount(), 2);
  EXPECT_EQ(e.dev.LastSessionStart(), 11440u);
  EXPECT_EQ(e.Write(359847 - 1, 2), SS_ERR);
  EXPECT_EQ(e.dev.LastError(), "ILLEGAL REQUEST (LOGICAL BLOCK ADDRESS OUT OF RANGE)");

  // Eject and load: the next command reports the medium change once.
  ASSERT_EQ(e.dev.StartStop(true), SS_COMP);
  EXPECT_FALSE(e.dev.TestUnitReady());
  EXPECT_EQ(e.dev.LastError(), "NOT READY (MEDIUM NOT PRESENT - TRAY OPEN)");
  ASSERT_EQ(e.dev.StartStop(false), SS_COMP);
  EXPECT_FALSE(e.dev.TestUnitReady());
  EXPECT_EQ(e.dev.LastError(),
            "UNIT ATTENTION (NOT READY TO READY CHANGE, MEDIUM MAY HAVE CHANGED)");
  EXPECT_TRUE(e.dev.TestUnitReady());

  // Injected faults: a sense, a busy target, a command that never completes, a removed medium.
  e.drive->InjectBusy(0x2A);
  EXPECT_EQ(e.Write(18356, 1), SS_ERR);
  EXPECT_EQ(e.dev.LastError(), "TARGET BUSY");
  EXPECT_TRUE(e.dev.Busy());
  e.drive->InjectSense(0x28, 3, 0x11, 0x05);
  EXPECT_EQ(e.dev.ReadSectors(0, 1, back.data()), SS_ERR);
  EXPECT_EQ(e.dev.LastError(), "MEDIUM ERROR (L-EC UNCORRECTABLE ERROR)");
  e.drive->InjectStall(0x35);
  const uint64_t t1 = e.clock.NowMs();
  EXPECT_EQ(e.dev.SyncCache(1000, false), SS_ERR);
  EXPECT_EQ(e.dev.LastError(), "COMMAND TIMEOUT");
  EXPECT_GE(e.clock.NowMs() - t1, 10000u);
  e.drive->RemoveMedium();
  EXPECT_FALSE(e.dev.TestUnitReady());
  EXPECT_EQ(e.dev.LastError(), "NOT READY (MEDIUM NOT PRESENT - TRAY CLOSED)");
  EXPECT_FALSE(e.dev.WaitReady(8000, 1000));

  const struct {
    const char* Profile;
    std::function<uint8_t(TEmu&)> Call;
    const char* Text;
  } rows[] = {
      {"CD-ROM", [](TEmu& x) { return x.Write(0, 1); }, "DATA PROTECT (WRITE PROTECTED)"},
      {"DVD+RW", [](TEmu& x) { return x.Write(0, 1); },
       "ILLEGAL REQUEST (CANNOT WRITE MEDIUM - INCOMPATIBLE FORMAT)"},
      {"CD-R",
       [](TEmu& x) {
         return x.dev.Command({0xEE, 0, 0, 0, 0, 0}, TDir::None, nullptr, 0, 1000);
       },
       "ILLEGAL REQUEST (INVALID COMMAND OPERATION CODE)"},
      {"CD-R",
       [](TEmu& x) {
         uint8_t b[64];
         return x.dev.ModeSense(0x3F, false, b, 64);
       },
       "ILLEGAL REQUEST (INVALID FIELD IN CDB)"},
      {"CD-R", [](TEmu& x) { return x.dev.Blank(true); },
       "ILLEGAL REQUEST (CANNOT WRITE MEDIUM - INCOMPATIBLE FORMAT)"},
  };
  for (const auto& row : rows) {
    TEmu x(row.Profile);
    EXPECT_EQ(row.Call(x), SS_ERR) << row.Text;
    EXPECT_EQ(x.dev.LastError(), row.Text);
  }

  // Immediate blank and format report their progress until virtual time has passed.
  const struct {
    const char* Profile;
    std::function<uint8_t(TEmu&)> Call;
    const char* Busy;
  } immediate[] = {
      {"CD-RW", [](TEmu& x) { return x.dev.Blank(true); },
       "NOT READY (LOGICAL UNIT NOT READY, OPERATION IN PROGRESS)"},
      {"DVD+RW",
       [](TEmu& x) {
         const uint8_t list[12] = {0, 0x82, 0, 8, 0, 0x23, 0x05, 0x40, 0x98, 0, 0, 0};
         return x.dev.FormatUnit(list);
       },
       "NOT READY (LOGICAL UNIT NOT READY, FORMAT IN PROGRESS)"},
  };
  for (const auto& row : immediate) {
    TEmu x(row.Profile);
    ASSERT_EQ(row.Call(x), SS_COMP) << x.dev.LastError();
    EXPECT_FALSE(x.dev.TestUnitReady());
    EXPECT_EQ(x.dev.LastError(), row.Busy);
    EXPECT_TRUE(x.dev.WaitReady(120000, 1000));
    EXPECT_EQ(x.Write(0, 1), SS_COMP) << x.dev.LastError();
  }
}

// The commands a write sends on the write-once DVD media, as the drive logs them: DVD-R with
// streaming, timestamp and a track reserved for the image rounded up to 32 sectors (a write past
// the reservation is refused), DVD+R closed track then session, sequential DVD-RW quick-formatted
// first and closed in the background. Each ends with one closed session.
TEST(Emulated, WriteSequencesOnWriteOnceDvds) {
  const uint8_t stream[28] = {0,    0,    0,    0,    0,    0,    0,    0,   0,    0x23,
                              0x12, 0x7F, 0,    0,    0xAB, 0xBD, 0,    0,   0x03, 0xE8,
                              0,    0,    0x05, 0x8A, 0,    0,    0x03, 0xE8};
  const uint8_t quickFormat[12] = {0, 0xA2, 0, 8, 0, 0, 0x03, 0xE8, 0x54, 0, 0, 0x10};
  using V = std::vector<std::string>;
  const struct {
    const char* Profile;
    std::function<void(TEmu&)> Write;
    V Log;
    uint32_t End;  // where the closed session ends
  } rows[] = {
      {"DVD-R",
       [&](TEmu& e) {
         EXPECT_EQ(e.dev.SetStreaming(stream), SS_COMP);
         EXPECT_EQ(e.dev.SendDvdTimestamp("20261209120000"), SS_COMP);
         EXPECT_EQ(e.dev.ReserveTrack(64), SS_COMP);  // an image of 50 sectors
         EXPECT_EQ(e.dev.ReserveTrack(64), SS_ERR);
         EXPECT_EQ(e.dev.LastError(), "ILLEGAL REQUEST (COMMAND SEQUENCE ERROR)");
         EXPECT_EQ(e.Write(0, 32), SS_COMP);
         EXPECT_EQ(e.Write(32, 32), SS_COMP);
         EXPECT_EQ(e.Write(64, 32), SS_ERR);
         EXPECT_EQ(e.dev.LastError(), "ILLEGAL REQUEST (INVALID ADDRESS FOR WRITE)");
         EXPECT_EQ(e.dev.SyncCache(1800000, true), SS_COMP);
         EXPECT_EQ(e.dev.CloseTrackSession(false, 1, 1), SS_COMP);
         EXPECT_EQ(e.dev.CloseTrackSession(false, 1, 2), SS_COMP);
         EXPECT_EQ(e.dev.CloseTrackSession(false, 2, 3), SS_COMP);
       },
       V{"B6 00 00 00 00 00 00 00 00 00 1C 00", "BF 00 00 00 00 00 00 0F 00 16 00 00",
         "53 00 00 00 00 00 00 00 40 00", "53 00 00 00 00 00 00 00 40 00",
         "2A 00 00 00 00 00 00 00 20 00", "2A 00 00 00 00 20 00 00 20 00",
         "2A 00 00 00 00 40 00 00 20 00", "35 02 00 00 00 00 00 00 00 00",
         "5B 00 01 00 00 01 00 00 00 00", "5B 00 01 00 00 02 00 00 00 00",
         "5B 00 02 00 00 03 00 00 00 00"},
       64},
      {"DVD+R",
       [](TEmu& e) {
         EXPECT_EQ(e.Write(0, 32), SS_COMP);
         EXPECT_EQ(e.dev.SyncCache(120000, false), SS_COMP);
         EXPECT_EQ(e.dev.CloseTrackSession(false, 1, 1), SS_COMP);
         EXPECT_EQ(e.dev.CloseTrackSession(false, 2, 0xFF), SS_COMP);
       },
       V{"2A 00 00 00 00 00 00 00 20 00", "35 00 00 00 00 00 00 00 00 00",
         "5B 00 01 00 00 01 00 00 00 00", "5B 00 02 00 00 FF 00 00 00 00"},
       32},
      {"DVD-RW-SEQ",
       [&](TEmu& e) {
         EXPECT_EQ(e.dev.FormatUnit(quickFormat), SS_COMP);
         EXPECT_TRUE(e.dev.WaitReady(120000, 5000));
         EXPECT_EQ(e.Write(0, 32), SS_COMP);
         EXPECT_EQ(e.dev.SyncCache(1800000, true), SS_COMP);
         EXPECT_EQ(e.dev.CloseTrackSession(true, 2, 0), SS_COMP);
         EXPECT_TRUE(e.dev.WaitReady(240000, 5000));
       },
       V{"04 11 00 00 00 00", "2A 00 00 00 00 00 00 00 20 00", "35 02 00 00 00 00 00 00 00 00",
         "5B 01 02 00 00 00 00 00 00 00"},
       32},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Profile);
    TEmu e(row.Profile);
    const size_t mark = e.drive->CommandLog().size();
    row.Write(e);
    // Waiting polls the drive (TEST UNIT READY, READ DISC INFORMATION); the polls are not part
    // of the sequence.
    V sent;
    const V log = e.drive->CommandLog();
    for (size_t i = mark; i < log.size(); ++i)
      if (log[i].compare(0, 2, "00") != 0 && log[i].compare(0, 2, "51") != 0)
        sent.push_back(log[i]);
    EXPECT_EQ(sent, row.Log);
    const TEmuState state = e.drive->State();
    ASSERT_EQ(state.Sessions.size(), 1u);
    EXPECT_EQ(state.Sessions[0].End, row.End);
    EXPECT_EQ(state.Reserved, 0u);
  }

  // A reservation needs a size and room for it.
  TEmu e("DVD-R");
  EXPECT_EQ(e.dev.ReserveTrack(0), SS_ERR);
  EXPECT_EQ(e.dev.LastError(), "ILLEGAL REQUEST (INVALID FIELD IN CDB)");
  EXPECT_EQ(e.dev.ReserveTrack(e.drive->State().Capacity + 1), SS_ERR);
  EXPECT_EQ(e.dev.LastError(), "ILLEGAL REQUEST (INVALID FIELD IN CDB)");
}

// Commands from three threads at once (run under TSan by the thread sanitizer job).
TEST(Emulated, ThreeThreadsSendCommands) {
  TEmu e("DVD+RW", [](TEmuState& s) { s.Formatted = true; });
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&e, t] {
      std::vector<uint8_t> buf(16 * 2048, static_cast<uint8_t>(t));
      for (int i = 0; i < 50; ++i) {
        const uint32_t lba = static_cast<uint32_t>(1000 * (t + 1) + 16 * i);
        EXPECT_EQ(e.dev.WriteSectors(lba, 16, 0, static_cast<uint32_t>(buf.size()), buf.data()),
                  SS_COMP);
        EXPECT_TRUE(e.dev.TestUnitReady());
        uint8_t di[56];
        EXPECT_EQ(e.dev.ReadDiscInfo(di), SS_COMP);
      }
    });
  }
  for (auto& th : threads) th.join();
  std::vector<uint8_t> back(2048);
  for (int t = 0; t < 3; ++t) {
    ASSERT_EQ(e.dev.ReadSectors(static_cast<uint32_t>(1000 * (t + 1) + 16 * 49), 1, back.data()),
              SS_COMP);
    EXPECT_EQ(back[0], t);
  }
}

}  // namespace
