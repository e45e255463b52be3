// Burning and erasing on threads of their own: BurnImage lays the session out at the drive's
// next writable address and starts the read-ahead cache; once it is primed the writer thread
// sends its blocks with WRITE(10), closes the track or session and reports through OnWriteDone.
// EraseDisc starts the blank or format command and a thread that waits for the drive.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "disc/cachethread.h"
#include "disc/discburner.h"

namespace {

bool IsCdType(int type) {
  return type == dtCdR || type == dtCdRw || type == dtCdRom;
}
bool IsDvdRw(int type) {
  return type == dtDvdRw || type == dtDvdRwRestricted || type == dtDvdRwSequential;
}

// "7,056" for 7056.
std::string Thousands(unsigned value) {
  std::string digits = std::to_string(value), out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

// The speed as a multiple of the medium's base rate and in kB/s: "4.0X (5,540 KB/s)".
std::string SpeedText(int type, unsigned kbs, bool dvdDecimals) {
  char x[32];
  if (type >= 5 && type <= 11)
    std::snprintf(x, sizeof x, dvdDecimals ? "%.1fX" : "%.0fX", kbs / 1385.0);
  else
    std::snprintf(x, sizeof x, "%.0fX", kbs / 176.4);
  return std::string(x) + " (" + Thousands(kbs) + " KB/s)";
}

const uint8_t kPlusRwFormat[12] = {0, 0x82, 0, 8, 0, 0x23, 0x05, 0x40, 0x98, 0, 0, 0};

}  // namespace

void TDiscBurner::SetCacheSize(uint32_t bytes) {
  cacheSize_ = bytes < 2097152 ? 2097152 : bytes / 2048 * 2048;
}

std::string TDiscBurner::CurrentFile() const {
  std::lock_guard<std::mutex> l(stateMutex_);
  return currentFile_;
}

std::string TDiscBurner::WriteError() const {
  std::lock_guard<std::mutex> l(stateMutex_);
  return writeError_;
}

void TDiscBurner::Post(std::function<void()> call) {
  auto guarded = [alive = alive_, call = std::move(call)] {
    if (*alive) call();
  };
  if (PostToMain)
    PostToMain(std::move(guarded));
  else
    guarded();
}

bool TDiscBurner::Pause(uint32_t ms) {
  while (ms > 0 && !stop_) {
    const uint32_t step = std::min<uint32_t>(ms, 100);
    Clock().SleepMs(step);
    ms -= step;
  }
  return !stop_;
}

void TDiscBurner::JoinWorkers() {
  const auto self = std::this_thread::get_id();
  if (writer_.joinable() && writer_.get_id() != self) writer_.join();
  if (eraser_.joinable() && eraser_.get_id() != self) eraser_.join();
}

void TDiscBurner::AbortWrite() {
  // Returns at once: the writer stops at its next block, winds down (the drive's cache is still
  // emptied onto the disc) and reports through OnWriteDone.
  aborted_ = true;
  std::lock_guard<std::mutex> l(stateMutex_);
  if (cache_) cache_->Abort();
}

void TDiscBurner::WaitForWorkers() {
  JoinWorkers();
}

bool TDiscBurner::InUse() const {
  return burning_ || writing_ || erasing_;
}

std::string TDiscBurner::ForeignFileSystem() {
  const int type = DiscType();
  if (type != dtDvdPlusRw && type != dtDvdRam && type != dtDvdRwRestricted) return "";
  std::vector<uint8_t> sectors(size_t{33} * 2048);
  // A disc that cannot be read here holds nothing a burn could overwrite unseen.
  if (ReadSectors(0, 33, sectors.data()) != SS_COMP) return "";
  auto at = [&](uint32_t lba) { return sectors.data() + size_t{lba} * 2048; };
  // An ISO 9660 volume (ours, or a bridge disc whose UDF follows it) is read back and extended.
  for (uint32_t lba = 16; lba <= 32; ++lba)
    if (std::memcmp(at(lba) + 1, "CD001", 5) == 0) return "";
  for (uint32_t lba = 16; lba <= 32; ++lba)
    for (const char* id : {"BEA01", "NSR02", "NSR03", "TEA01"})
      if (std::memcmp(at(lba) + 1, id, 5) == 0) return "UDF";
  const bool blank = std::all_of(sectors.begin(), sectors.end(), [](uint8_t b) { return b == 0; });
  return blank ? "" : "UNKNOWN";
}

uint64_t TDiscBurner::SectorsToWrite(int type) const {
  // Blocks of 27 sectors on CD, the last one as long as it is; on DVD every block is 32 sectors.
  if (type == dtCdR || type == dtCdRw) return ImageSize();
  return (uint64_t{ImageSize()} + 31) / 32 * 32;
}

uint32_t TDiscBurner::Room(int type) {
  if (type == dtDvdPlusRw || type == dtDvdRam || type == dtDvdRwRestricted) {
    // One volume grows from sector 0: the room is what lies after its end.
    const uint32_t capacity = DiscCapacity(), used = VolumeSpaceSize();
    return capacity > used ? capacity - used : 0;
  }
  return FreeSectors();
}

bool TDiscBurner::BurnImage() {
  JoinWorkers();
  // One burn or erase at a time: a second one would lay out and read the image (and talk to the
  // drive) under the running one.
  if (InUse()) {
    DebugMessage(">>> BURNER BUSY", dmError);
    return false;
  }
  stop_ = false;
  aborted_ = false;
  writtenBytes_ = 0;
  {
    std::lock_guard<std::mutex> l(stateMutex_);
    writeError_.clear();
    currentFile_.clear();
    cache_.reset();
  }
  // Ends a burn that could not start: nothing was written.
  auto refuse = [&](const std::string& error) {
    SetExclusive(false);
    {
      std::lock_guard<std::mutex> l(stateMutex_);
      writeError_ = error;
    }
    burning_ = false;
    if (OnWriteDone) OnWriteDone(this, error);
    return false;
  };
  // Nobody else writes to the drive while this burn does.
  if (!SetExclusive(true)) return refuse("THE DRIVE IS IN USE BY ANOTHER PROGRAM");
  const int type = DiscType();
  const uint32_t blockSize = (type == dtCdR || type == dtCdRw) ? 55296 : 65536;

  // A rewritable disc that holds another file system is overwritten only when that was agreed.
  if (!OverwriteForeign) {
    const std::string foreign = ForeignFileSystem();
    if (!foreign.empty())
      return refuse("THE DISC HOLDS ANOTHER FILE SYSTEM (" + foreign + "): NOT OVERWRITTEN");
  }

  // A rewritable DVD in restricted-overwrite mode is formatted for writing first, and so is a
  // blank one in sequential mode (formatting a sequential disc that holds sessions can drop
  // them).
  if (type == dtDvdRwRestricted || (type == dtDvdRwSequential && DiscStatus() == 0)) {
    const uint8_t quick[12] = {0, 0xA2, 0, 8, 0, 0, 0x03, 0xE8, 0x54, 0, 0, 0x10};
    const uint8_t restricted[12] = {0, 0x82, 0, 8, 0, 0, 0, 0, 0x4C, 0, 0, 0x10};
    const uint8_t fallback[12] = {0, 0x82, 0, 8, 0, 0, 0, 0, 0x54, 0, 0, 0x10};
    if (FormatUnit(type == dtDvdRwSequential ? quick : restricted) != SS_COMP) FormatUnit(fallback);
    uint8_t d[56];
    while (ReadDiscInfo(d) != SS_COMP && SenseAsc() == 0x04 && Pause(5000)) {
    }
  }

  AskNextWritableAddress = true;
  const bool laidOut = PrepareImage();
  AskNextWritableAddress = false;
  if (!laidOut) return refuse("IMAGE TOO LARGE FOR ISO 9660");

  // The session must fit in what the disc has left from its next writable address: a burn that
  // runs out of room leaves a write-once disc with a half-written open track.
  const uint64_t need = SectorsToWrite(type), room = Room(type);
  if (need > room)
    return refuse("NOT ENOUGH ROOM ON THE DISC: THE SESSION NEEDS " + std::to_string(need) +
                  " SECTORS, " + std::to_string(room) + " ARE FREE");
  WriteImageMetadata();

  // From here on the cache reads the image (while events are processed below and while the
  // writer runs): the image stays as it is until the writer has ended.
  burning_ = true;
  auto cache = std::make_unique<TCacheThread>(*this, cacheSize_, blockSize);
  TCacheThread* c = cache.get();
  {
    std::lock_guard<std::mutex> l(stateMutex_);
    cache_ = std::move(cache);
  }
  c->Start();
  for (;;) {
    c->WaitPrimed(100);
    const std::string error = c->Error();
    if (!error.empty()) {
      c->Join();
      {
        std::lock_guard<std::mutex> l(stateMutex_);
        currentFile_ = c->CurrentFile();
      }
      return refuse(error);
    }
    if (c->Primed()) break;
    if (ProcessMessages) ProcessMessages();
  }
  writing_ = true;
  writer_ = std::thread(&TDiscBurner::WriterMain, this, type, blockSize);
  return true;
}

bool TDiscBurner::WriteBlock(uint32_t lba, uint16_t sectors, const uint8_t* data,
                             std::string& error) {
  for (int tries = 0; tries < 10000; ++tries) {
    if (WriteSectors(lba, sectors, 0, sectors * 2048u, data) == SS_COMP) return true;
    if (!(Busy() || SenseAsc() == 0x04 || SenseAsc() == 0x00)) {
      error = "WRITER ERROR [" + LastError() + "]";
      return false;
    }
    if (aborted_ || !Pause(600)) {
      error = "OPERATION ABORTED BY USER";
      return false;
    }
  }
  error = "WRITER BUSY/BUFFER FULL";
  return false;
}

// The drive set back to its usual state after a burn or an erase: plain write parameters, its
// read speed, the tray unlocked and the motor stopped.
void TDiscBurner::SetDriveBack() {
  SetWriteParameters(false, false, dtCdR);
  SetSpeed(DeviceMaxReadSpeed ? DeviceMaxReadSpeed : 0xFFFF, 2);
  Rezero();
  PreventRemoval(false);
  StartStop(false);
  Rezero();
  TestUnitReady();
}

void TDiscBurner::WriterMain(int type, uint32_t blockSize) {
  TCacheThread* cache = nullptr;
  {
    std::lock_guard<std::mutex> l(stateMutex_);
    cache = cache_.get();
  }
  std::string error;
  const int64_t limit = int64_t{ImageSize()} * 2048;

  // Preparation.
  const bool bufferCapacity = ReadBufferCapacity() == SS_COMP;
  StartStop(false);
  if (type != dtDvdPlusRw) Rezero();
  SetSpeed(ReadSpeed, WriteSpeed());
  WaitReady(10000, 1000);
  const uint16_t speed = CurrentWriteSpeed();
  const bool finalize = FinalizeDisc;
  FinalizeDisc = true;
  SetWriteParameters(TestWrite, UnderrunProtection, type);
  FinalizeDisc = finalize;
  const int track = std::max(SessionCount(), 0) + 1;

  if (type == dtDvdR) {
    const uint8_t stream[28] = {0,    0,    0,    0,    0,    0,    0,    0,   0,    0x23,
                                0x12, 0x7F, 0,    0,    0xAB, 0xBD, 0,    0,   0x03, 0xE8,
                                0,    0,    0x05, 0x8A, 0,    0,    0x03, 0xE8};
    SetStreaming(stream);
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char stamp[16];
    std::strftime(stamp, sizeof stamp, "%Y%m%d%H%M%S", &tm);
    SendDvdTimestamp(stamp);
    ReserveTrack((ImageSize() + 31) / 32 * 32);
    WaitReady(10000, 1000);
  }
  if (type != dtDvdRam && !TestWrite && PerformOPC) SendOpc();
  DebugMessage(">>> STARTING WRITE PROCESS ON " + std::string(DiscTypeName(type)) + " AT " +
                   SpeedText(type, speed, true),
               dmInfo);
  if (TestWrite) DebugMessage(">>> TEST/DUMMY WRITE", dmInfo);

  const bool cd = type == dtCdR || type == dtCdRw;
  std::vector<uint8_t> block(std::max<uint32_t>(blockSize, 65536), 0);
  // Takes the next block: its size, 0 at the end (error says why when it is not the end). Time
  // spent waiting for the cache once writing has begun is time the drive had no data.
  writerWaitedUs_ = 0;
  bool begun = false;
  auto next = [&]() -> int {
    using TSteady = std::chrono::steady_clock;
    TSteady::time_point waitStart;
    bool waiting = false;
    auto took = [&](int n) {
      if (waiting && begun)
        writerWaitedUs_ +=
            std::chrono::duration_cast<std::chrono::microseconds>(TSteady::now() - waitStart)
                .count();
      begun = true;
      return n;
    };
    for (;;) {
      if (aborted_) {
        error = "OPERATION ABORTED BY USER";
        return 0;
      }
      const int n = cache->GetBlock(block.data());
      if (n > 0) return took(n);
      const std::string cacheError = cache->Error();
      if (!cacheError.empty()) {
        error = cacheError;
        return 0;
      }
      if (n == 0) return took(0);
      if (!waiting) {
        waiting = true;
        waitStart = TSteady::now();
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  };

  auto formatPlusRw = [&] {
    FormatUnit(kPlusRwFormat);
    uint8_t d[56];
    while (ReadDiscInfo(d) != SS_COMP && SenseAsc() == 0x04 && Pause(2000)) {
    }
  };
  // The first failure of the burn is the one it reports.
  auto fail = [&](const std::string& text) {
    if (error.empty()) error = text;
  };
  // The drive's text of the last failure (a wait that ran out has none of its own).
  auto driveError = [&] {
    const std::string why = LastError();
    fail("WRITER ERROR [" + (why.empty() ? std::string("THE DRIVE DID NOT BECOME READY") : why) +
         "]");
  };

  // Empties the drive's cache onto the disc; a cache that could not be written is the burn's
  // failure, whatever came before it.
  auto flush = [&] {
    if (type == dtDvdR || IsDvdRw(type)) {
      const bool accepted = SyncCache(1800000, true) == SS_COMP;
      if (!accepted) driveError();
      // The drive answers again once the cache is on the disc.
      uint8_t d[56];
      bool answered = false;
      for (int i = 0; i < 1800 && !answered; ++i) {
        answered = ReadDiscInfo(d) == SS_COMP;
        if (!answered && (SenseAsc() != 0x04 || !Pause(1000))) break;
      }
      if (accepted && !answered) driveError();
      return;
    }
    if (SyncCache(120000, false) == SS_COMP) return;
    if (SyncCache(120000, true) != SS_COMP || !WaitReady(240000, 5000)) driveError();
  };

  int n = next();
  // On overwritable DVDs one volume grows from sector 0: the new session goes after the old
  // volume, and the descriptors at the start of the disc are rewritten to describe the merged
  // tree. They are rewritten last, once the new session is on the disc, so that the disc reads
  // as its earlier volume until then whatever happens (a write error, the disc taken out, the
  // program killed). A session that itself starts at sector 0 already carries them.
  const bool rewriteHead =
      NextAddress() > 0 && (type == dtDvdPlusRw || type == dtDvdRam || type == dtDvdRwRestricted);

  // The write loop.
  uint32_t written = 0;  // sectors from the next writable address
  int blocks = 0;
  while (n > 0 && error.empty()) {
    uint16_t sectors = static_cast<uint16_t>((n + 2047) / 2048);
    if (!cd) {
      std::fill(block.begin() + n, block.begin() + 65536, 0);
      sectors = 32;
    } else if (n % 2048) {
      std::fill(block.begin() + n, block.begin() + sectors * 2048, 0);
    }
    if (!WriteBlock(NextAddress() + written, sectors, block.data(), error)) {
      // A DVD+RW that was never formatted refuses the first write: format it and try again.
      if (type != dtDvdPlusRw || written != 0 || rewriteHead || SenseAsc() != 0x30) break;
      error.clear();
      formatPlusRw();
      if (!WriteBlock(NextAddress(), sectors, block.data(), error)) break;
    }
    written += sectors;
    writtenBytes_ = std::min<int64_t>(writtenBytes_ + n, limit);
    if (++blocks % 5 == 0 && bufferCapacity) ReadBufferCapacity();
    n = next();
  }

  // Closing: the cache is emptied onto the disc in every case; after a failure the track stays
  // open.
  if (type != dtDvdRam) ReadBufferCapacity();
  if (OnFinalizingTrack) OnFinalizingTrack(this);
  flush();

  if (error.empty() && rewriteHead) {
    // Only the system area and the descriptors change: the sectors after the terminator keep
    // what the disc holds there (another program's volume may keep file data right after its
    // descriptors). When they cannot be read, only the descriptor sectors are written.
    const uint32_t descriptorSectors = 18 + (JolietFileSystem ? 1 : 0);
    uint16_t sectors = 32;
    std::vector<uint8_t> head(size_t{sectors} * 2048);
    if (ReadSectors(0, sectors, head.data()) != SS_COMP) sectors = descriptorSectors;
    std::memcpy(head.data(), ImageHead().data(), size_t{descriptorSectors} * 2048);
    if (WriteBlock(0, sectors, head.data(), error)) flush();
  }

  if (error.empty()) {
    bool closed = true;
    if (!TestWrite && type != dtDvdRam && FinalizeTrack) {
      if (type != dtDvdR) SetWriteParameters(TestWrite, UnderrunProtection, type);
      // A track or session the drive would not close leaves a disc that readers cannot use:
      // that is the burn's error, so nobody deletes the only other copy of what it holds.
      auto close = [&](bool immediate, uint8_t function, uint16_t t) {
        if (!error.empty()) return;
        for (int i = 0; i < 1000; ++i) {
          if (CloseTrackSession(immediate, function, t) == SS_COMP) return;
          if (!Busy() && SenseAsc() != 0x04) {
            if (CloseTrackSession(immediate, function, t) != SS_COMP) driveError();
            return;
          }
          if (!Pause(1000)) {
            fail("OPERATION ABORTED BY USER");
            return;
          }
        }
        fail("WRITER BUSY/BUFFER FULL");
      };
      switch (type) {
        case dtDvdPlusR:
          close(false, 1, static_cast<uint16_t>(track));
          close(false, 2, 0xFF);
          break;
        case dtDvdR:
          close(false, 1, static_cast<uint16_t>(track));
          close(false, 1, static_cast<uint16_t>(track + 1));
          close(false, 2, static_cast<uint16_t>(track + 2));
          break;
        case dtDvdRw:
        case dtDvdRwRestricted:
        case dtDvdRwSequential:
          close(true, 2, 0);
          break;
        case dtDvdPlusRw:
          close(false, 3, 0xFF);
          break;
        default:
          close(CloseImmediate, 2, 0);
          break;
      }
      closed = error.empty();
    }
    // A close sent with the immediate bit goes on in the drive: it has succeeded only once the
    // drive is ready again.
    if (closed && !WaitReady(240000, 5000)) driveError();
    if (error.empty()) {
      if (type != dtDvdRam) ReadBufferCapacity();
      SetDriveBack();
    }
  }

  cache->Abort();
  cache->Join();
  {
    std::lock_guard<std::mutex> l(stateMutex_);
    currentFile_ = cache->CurrentFile();
    writeError_ = error;
  }
  SetExclusive(false);
  writing_ = false;
  burning_ = false;
  Post([this, error] {
    if (OnWriteDone) OnWriteDone(this, error);
  });
}

bool TDiscBurner::EraseDisc(bool quick) {
  JoinWorkers();
  if (InUse()) return false;
  stop_ = false;
  eraseProgress_ = 0;
  // Nobody else uses the drive while it is erased.
  if (!SetExclusive(true)) {
    DebugMessage(">>> THE DRIVE IS IN USE BY ANOTHER PROGRAM", dmError);
    return false;
  }
  auto notStarted = [&] {
    SetExclusive(false);
    return false;
  };
  if (!TestUnitReady()) {
    StartStop(false);
    if (!WaitReady(30000, 5000)) return notStarted();
  }
  const int type = DiscType();
  if (type != dtDvdRam) {
    SetSpeed(ReadSpeed, WriteSpeed());
    SetWriteParameters(false, false, type);
  }
  const uint16_t speed = CurrentWriteSpeed();
  if (!TestUnitReady() && !WaitReady(30000, 5000)) return notStarted();
  const bool dvdRate = type == dtDvdRam || IsDvdRw(type) || type == dtDvdPlusRw;
  char x[32];
  std::snprintf(x, sizeof x, dvdRate ? "%.1fX" : "%.0fX", dvdRate ? speed / 1385.0 : speed / 176.4);
  DebugMessage(">>> STARTING ERASE PROCESS ON " + std::string(DiscTypeName(type)) + " AT " + x +
                   " (" + Thousands(speed) + " KB/s)",
               dmInfo);

  bool accepted = false;
  if (type == dtDvdPlusRw) {
    accepted = FormatUnit(kPlusRwFormat) == SS_COMP;
    if (!accepted) {
      Rezero();
      Clock().SleepMs(1000);
      accepted = FormatUnit(kPlusRwFormat) == SS_COMP;
    }
  } else if (type == dtDvdRam) {
    if (quick) {
      std::vector<uint8_t> zeros(32 * 2048, 0);
      accepted = true;
      for (uint32_t i = 0; i < 11 && accepted; ++i)
        accepted = WriteSectors(i * 32, 32, 0, 32 * 2048, zeros.data()) == SS_COMP;
      if (accepted) accepted = SyncCache(120000, false) == SS_COMP;
    } else {
      const uint8_t full[12] = {0, 0x82, 0, 8, 0, 0x22, 0x21, 0x20, 0, 0, 0x08, 0};
      accepted = FormatUnit(full) == SS_COMP;
    }
  } else {
    accepted = Blank(quick) == SS_COMP;
  }
  if (!accepted) {
    erasing_ = false;
    SetExclusive(false);
    if (OnEraseDone) OnEraseDone(this, true);
    return false;
  }
  const bool cdMedium = IsCdType(type);
  const uint32_t expected = cdMedium ? (quick ? 150 : 4500) : (quick ? 600 : 4440);
  erasing_ = true;
  eraser_ = std::thread(&TDiscBurner::EraserMain, this, type, quick, expected);
  return true;
}

void TDiscBurner::EraserMain(int type, bool quick, uint32_t expectedSeconds) {
  uint64_t elapsedMs = 0;
  const uint64_t expectedMs = uint64_t{expectedSeconds} * 1000;
  // One waiting step; false when a stop was asked for.
  auto step = [&](uint32_t ms) {
    if (!Pause(ms)) return false;
    elapsedMs += ms;
    eraseProgress_ = static_cast<int>(std::min<uint64_t>(99, elapsedMs * 100 / expectedMs));
    return true;
  };
  auto timeLeft = [&] { return elapsedMs < expectedMs; };
  bool sawError = false;
  uint8_t d[56] = {};

  if (type == dtDvdPlusRw) {
    while (ReadDiscInfo(d) != SS_COMP && SenseAsc() == 0x04 && step(2000)) {
    }
    const uint32_t writes = quick ? 65 : 71001;
    std::vector<uint8_t> zeros(32 * 2048, 0);
    uint32_t done = 0;
    while (done < writes && !stop_ &&
           WriteSectors(done * 32, 32, 0, 32 * 2048, zeros.data()) == SS_COMP)
      ++done;
    // Zeros the drive did not put on the disc leave the old volume readable: not erased.
    if (done != writes || SyncCache(30000, false) != SS_COMP ||
        CloseTrackSession(false, 3, 0xFF) != SS_COMP)
      sawError = true;
  } else if (type == dtDvdRam) {
    if (quick) {
      std::vector<uint8_t> zeros(32 * 2048, 0);
      for (uint32_t i = 0; i < 65 && !stop_; ++i)
        if (WriteSectors(i * 32, 32, 0, 32 * 2048, zeros.data()) != SS_COMP) sawError = true;
      if (SyncCache(120000, false) != SS_COMP) sawError = true;
    }
  } else if (IsDvdRw(type)) {
    for (int pass = 0; pass < 2 && !stop_; ++pass) {
      while (!TestUnitReady() && SenseAsc() == 0x04 && timeLeft() && step(1000)) {
      }
      step(5000);
    }
  }
  // Wait until the drive is done: disc information answers, the unit is ready and the sense
  // shows no pending condition.
  if (!stop_ && (!TestUnitReady() || ReadDiscInfo(d) != SS_COMP)) {
    if (type != dtDvdRam)
      while (ReadDiscInfo(d) != SS_COMP && SenseAsc() == 0x04 && timeLeft() && step(5000)) {
      }
    while (!TestUnitReady() && SenseAsc() == 0x04 && timeLeft() && step(2000)) {
    }
    for (;;) {
      uint8_t sense[40] = {};
      uint32_t got = 0;
      const bool ok = RequestSense(sense, &got) == SS_COMP;
      const bool deferred = ok && (sense[0] & 0x7F) == 0x71;
      if (ok && !deferred && (sense[0] & 0x7F) != 0x70) break;
      if (ok && sense[12] == 0 && !deferred) break;
      if (ok && (sense[2] & 0x0F) == 3) {  // a medium error: the erase failed
        sawError = true;
        break;
      }
      if (!timeLeft() || !step(2000)) break;
    }
  }
  // The erase succeeded only when the disc now reads as empty (formatted, for the media that are
  // formatted rather than blanked).
  if (!stop_) {
    std::memset(d, 0, sizeof d);
    uint32_t got = 0;
    if (ReadDiscInfo(d, &got) != SS_COMP || got < 3) {
      sawError = true;
    } else if (type != dtDvdPlusRw && type != dtDvdRam && (d[2] & 0x03) != 0) {
      sawError = true;  // not blank
    }
  }
  eraseProgress_ = 100;
  if (!stop_) {
    SetDriveBack();
  }
  SetExclusive(false);
  erasing_ = false;
  const bool withError = sawError || stop_;
  Post([this, withError] {
    if (OnEraseDone) OnEraseDone(this, withError);
  });
}
