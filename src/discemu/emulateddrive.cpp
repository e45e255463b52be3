#include "discemu/emulateddrive.h"

#include "disc/scsidevice.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "disc/emulation.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kSector = 2048;
constexpr uint32_t kFirstGap = 11400;  // lead-out and lead-in between session 1 and 2
constexpr uint32_t kLaterGap = 6900;   // between later sessions

// Virtual durations of immediate operations.
constexpr uint32_t kBufferBytes = 2u << 20;  // the drive's buffer, as READ BUFFER CAPACITY says
constexpr uint32_t kCloseMs = 3000, kQuickBlankMs = 5000, kFullBlankMs = 60000, kFormatMs = 10000;

struct TProfileInfo {
  const char* Name;
  uint16_t Number;
  uint32_t Capacity;
};
constexpr TProfileInfo kProfiles[] = {
    {"NONE", 0x00, 0},          {"CD-ROM", 0x08, 333000},     {"CD-R", 0x09, 359847},
    {"CD-RW", 0x0A, 359847},    {"DVD-ROM", 0x10, 2295104},   {"DVD-R", 0x11, 2297888},
    {"DVD-RAM", 0x12, 2236704}, {"DVD-RW-RO", 0x13, 2297888}, {"DVD-RW-SEQ", 0x14, 2297888},
    {"DVD+RW", 0x1A, 2295104},  {"DVD+R", 0x1B, 2295104},
};

const TProfileInfo* FindProfile(const std::string& name) {
  for (const auto& p : kProfiles)
    if (name == p.Name) return &p;
  return nullptr;
}

std::string Pad(std::string s, size_t n) {
  s.resize(n, ' ');
  return s;
}

}  // namespace

uint16_t EmuProfileNumber(const std::string& name) {
  const TProfileInfo* p = FindProfile(name);
  return p ? p->Number : 0;
}

TEmuState TEmuState::ForProfile(const std::string& profile) {
  TEmuState s;
  s.Profile = profile;
  const TProfileInfo* p = FindProfile(profile);
  s.Capacity = p ? p->Capacity : 0;
  s.Medium = p && p->Number != 0;
  // Overwritable media come formatted except a DVD+RW fresh from the box; ROM media hold data
  // over their whole capacity and are complete.
  s.Formatted = profile != "DVD+RW";
  if (profile == "CD-ROM" || profile == "DVD-ROM") {
    s.Complete = true;
    s.Sessions.push_back({0, s.Capacity});
  }
  // The write parameters page as a drive powers up: track-at-once, mode 1.
  s.WriteParams[0] = 0x05;
  s.WriteParams[1] = 0x32;
  s.WriteParams[2] = 0x01;
  s.WriteParams[3] = 0x04;
  s.WriteParams[4] = 0x08;
  Put16(s.WriteParams + 14, 150);
  return s;
}

bool TEmuState::Load(const std::string& path, TEmuState& out) {
  std::ifstream in(path);
  if (!in) return false;
  std::map<std::string, std::string> kv;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    kv[line.substr(0, eq)] = line.substr(eq + 1);
  }
  TEmuState s = ForProfile(kv.count("profile") ? kv["profile"] : "CD-R");
  auto num = [&](const char* key, uint32_t def) -> uint32_t {
    auto it = kv.find(key);
    if (it == kv.end() || it->second.empty()) return def;
    return static_cast<uint32_t>(std::strtoul(it->second.c_str(), nullptr, 0));
  };
  auto flag = [&](const char* key, bool def) { return num(key, def ? 1 : 0) != 0; };
  s.Capacity = num("capacity", s.Capacity);
  if (kv.count("sessions")) {
    s.Sessions.clear();
    std::stringstream ss(kv["sessions"]);
    std::string item;
    while (std::getline(ss, item, ',')) {
      unsigned a = 0, b = 0;
      if (std::sscanf(item.c_str(), "%u-%u", &a, &b) == 2 && a <= b) s.Sessions.push_back({a, b});
    }
  }
  s.SessionStart = num("session_start", s.SessionStart);
  s.Nwa = std::max(num("nwa", s.SessionStart), s.SessionStart);
  s.Reserved = num("reserved", 0);
  s.Complete = flag("complete", s.Complete);
  s.Formatted = flag("formatted", s.Formatted);
  s.WriteProtected = flag("write_protected", s.WriteProtected);
  s.Medium = flag("medium", s.Medium);
  s.TrayOpen = flag("tray_open", s.TrayOpen);
  s.Writer = flag("writer", s.Writer);
  if (kv.count("vendor")) s.Vendor = kv["vendor"];
  if (kv.count("product")) s.Product = kv["product"];
  if (kv.count("revision")) s.Revision = kv["revision"];
  if (kv.count("speeds")) {
    s.Speeds.clear();
    std::stringstream ss(kv["speeds"]);
    std::string item;
    while (std::getline(ss, item, ','))
      if (!item.empty()) s.Speeds.push_back(static_cast<uint16_t>(std::atoi(item.c_str())));
  }
  s.ReadSpeed = static_cast<uint16_t>(num("read_speed", s.ReadSpeed));
  s.CurrentWriteSpeed = static_cast<uint16_t>(num("current_write_speed", s.CurrentWriteSpeed));
  s.PageOffset = static_cast<int>(num("page_offset", 8));
  if (s.PageOffset != 16 && s.PageOffset != 7) s.PageOffset = 8;
  s.WriteModesAccepted = static_cast<uint8_t>(num("write_modes", 7));
  s.Realtime = flag("realtime", false);
  if (kv.count("address")) {
    unsigned h = 0, t = 0, l = 0;
    if (std::sscanf(kv["address"].c_str(), "%u:%u:%u", &h, &t, &l) == 3 && h < 254 && t < 254 &&
        l < 8)
      s.Adapter = static_cast<uint8_t>(h), s.Target = static_cast<uint8_t>(t),
      s.Lun = static_cast<uint8_t>(l);
  }
  if (kv.count("write_params")) {
    const std::string& hex = kv["write_params"];
    for (size_t i = 0; i < sizeof s.WriteParams && 2 * i + 1 < hex.size(); ++i)
      s.WriteParams[i] =
          static_cast<uint8_t>(std::strtoul(hex.substr(2 * i, 2).c_str(), nullptr, 16));
  }
  out = s;
  return true;
}

bool TEmuState::Save(const std::string& path) const {
  std::ostringstream o;
  o << "profile=" << Profile << "\ncapacity=" << Capacity << "\nsessions=";
  for (size_t i = 0; i < Sessions.size(); ++i)
    o << (i ? "," : "") << Sessions[i].Start << "-" << Sessions[i].End;
  o << "\nsession_start=" << SessionStart << "\nnwa=" << Nwa << "\nreserved=" << Reserved
    << "\ncomplete=" << Complete << "\nformatted=" << Formatted
    << "\nwrite_protected=" << WriteProtected << "\nmedium=" << Medium << "\ntray_open=" << TrayOpen
    << "\nwriter=" << Writer << "\nvendor=" << Vendor << "\nproduct=" << Product
    << "\nrevision=" << Revision << "\nspeeds=";
  for (size_t i = 0; i < Speeds.size(); ++i) o << (i ? "," : "") << Speeds[i];
  o << "\nread_speed=" << ReadSpeed << "\ncurrent_write_speed=" << CurrentWriteSpeed
    << "\npage_offset=" << PageOffset << "\nwrite_modes=" << int(WriteModesAccepted)
    << "\nrealtime=" << Realtime << "\naddress=" << int(Adapter) << ":" << int(Target) << ":"
    << int(Lun) << "\nwrite_params=";
  char hex[3];
  for (uint8_t b : WriteParams) {
    std::snprintf(hex, sizeof hex, "%02X", b);
    o << hex;
  }
  o << "\n";
  const std::string tmp = path + ".tmp";
  {
    std::ofstream out(tmp, std::ios::trunc);
    if (!(out << o.str())) return false;
  }
  std::error_code ec;
  fs::rename(tmp, path, ec);
  return !ec;
}

// ---------------------------------------------------------------------------------------------

TEmulatedDrive::TEmulatedDrive(std::string base, IDiscClock* clock)
    : base_(std::move(base)), clock_(clock ? clock : &SystemDiscClock()) {}

TEmulatedDrive::~TEmulatedDrive() {
  if (fd_ >= 0) ::close(fd_);
}

bool TEmulatedDrive::Create(const std::string& base, const std::string& profile, uint8_t adapter) {
  if (!FindProfile(profile)) return false;
  TEmuState s = TEmuState::ForProfile(profile);
  s.Adapter = adapter;
  const int fd = ::open((base + ".img").c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  // The image grows as sectors are written, with holes where none were: sectors past its end
  // read as zeros. (Filling a file pre-sized to the whole disc is much slower on some file
  // systems than appending to it.)
  ::close(fd);
  return s.Save(base + ".state");
}

bool TEmulatedDrive::Load() {
  std::lock_guard<std::mutex> guard(lock_);
  if (!TEmuState::Load(base_ + ".state", s_)) return false;
  if (fd_ < 0) fd_ = ::open((base_ + ".img").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  return fd_ >= 0;
}

TEmuState TEmulatedDrive::State() {
  std::lock_guard<std::mutex> guard(lock_);
  return s_;
}

void TEmulatedDrive::SetState(const TEmuState& state) {
  std::lock_guard<std::mutex> guard(lock_);
  s_ = state;
  Persist();
}

void TEmulatedDrive::Persist() {
  s_.Save(base_ + ".state");
}

void TEmulatedDrive::InjectLocked(const TFault& f) {
  std::lock_guard<std::mutex> guard(lock_);
  faults_.erase(std::remove_if(faults_.begin(), faults_.end(),
                               [&](const TFault& g) { return g.Opcode == f.Opcode; }),
                faults_.end());
  faults_.push_back(f);
}

void TEmulatedDrive::InjectSense(uint8_t opcode, uint8_t key, uint8_t asc, uint8_t ascq,
                                 int count) {
  TFault f;
  f.Opcode = opcode, f.Kind = TFaultKind::Sense, f.Key = key, f.Asc = asc, f.Ascq = ascq;
  f.Count = count;
  InjectLocked(f);
}

void TEmulatedDrive::InjectBusy(uint8_t opcode, int count) {
  TFault f;
  f.Opcode = opcode, f.Kind = TFaultKind::Busy, f.Count = count;
  InjectLocked(f);
}

void TEmulatedDrive::InjectStall(uint8_t opcode) {
  TFault f;
  f.Opcode = opcode, f.Kind = TFaultKind::Stall, f.Count = 1 << 30;
  InjectLocked(f);
}

namespace {

bool ParseHex(const std::string& text, uint8_t& out) {
  if (text.empty() || text.size() > 2) return false;
  for (char c : text)
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  out = static_cast<uint8_t>(std::strtoul(text.c_str(), nullptr, 16));
  return true;
}

bool ParseDecimal(const std::string& text, uint64_t limit, uint64_t& out) {
  if (text.empty() || text.size() > 10) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  out = std::strtoull(text.c_str(), nullptr, 10);
  return out <= limit;
}

std::string Hex2(uint8_t v) {
  char h[3];
  std::snprintf(h, sizeof h, "%02X", v);
  return h;
}

}  // namespace

bool TEmulatedDrive::ParseFault(const std::string& line, TFault& out) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  TFault f;
  size_t i = 0;
  const bool remove = !words.empty() && words[0] == "remove-medium-at";
  if (remove) {
    f.Kind = TFaultKind::RemoveMedium;
    ++i;
  }
  if (i >= words.size() || !ParseHex(words[i++], f.Opcode)) return false;
  uint64_t n = 0;
  if (i < words.size() && words[i].rfind("lba>=", 0) == 0) {
    if (!ParseDecimal(words[i++].substr(5), 0xFFFFFFFFu, n)) return false;
    f.FromLbaSet = true;
    f.FromLba = static_cast<uint32_t>(n);
  }
  if (!remove) {
    if (i >= words.size()) return false;
    const std::string kind = words[i++];
    if (kind == "sense") {
      if (i + 3 > words.size() || !ParseHex(words[i], f.Key) || !ParseHex(words[i + 1], f.Asc) ||
          !ParseHex(words[i + 2], f.Ascq) || f.Key > 0x0F)
        return false;
      i += 3;
    } else if (kind == "busy") {
      f.Kind = TFaultKind::Busy;
    } else if (kind == "stall") {
      f.Kind = TFaultKind::Stall;
    } else {
      return false;
    }
  }
  if (i < words.size() && words[i].rfind("count=", 0) == 0) {
    if (!ParseDecimal(words[i++].substr(6), 1u << 30, n) || n == 0) return false;
    f.Count = static_cast<int>(n);
  }
  if (i != words.size()) return false;
  out = f;
  return true;
}

std::string TEmulatedDrive::FaultText(const TFault& f) {
  std::string text = f.Kind == TFaultKind::RemoveMedium ? "remove-medium-at " : "";
  text += Hex2(f.Opcode);
  if (f.FromLbaSet) text += " lba>=" + std::to_string(f.FromLba);
  switch (f.Kind) {
    case TFaultKind::Sense:
      text += " sense " + Hex2(f.Key) + " " + Hex2(f.Asc) + " " + Hex2(f.Ascq);
      break;
    case TFaultKind::Busy:
      text += " busy";
      break;
    case TFaultKind::Stall:
      text += " stall";
      break;
    case TFaultKind::RemoveMedium:
      break;
  }
  if (f.Count != 1) text += " count=" + std::to_string(f.Count);
  return text;
}

bool TEmulatedDrive::Matches(const TFault& f, const TScsiRequest& r) const {
  if (f.Count <= 0 || r.Cdb[0] != f.Opcode) return false;
  if (!f.FromLbaSet) return true;
  return (r.Cdb[0] == 0x28 || r.Cdb[0] == 0x2A) && BigEndian(r.Cdb + 2, 4) >= f.FromLba;
}

bool TEmulatedDrive::TakeFileFault(const TScsiRequest& r, TFault& out) {
  const std::string path = base_ + ".faults";
  auto stampOf = [&] {
    TFileStamp stamp;
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) {
      stamp.Exists = true;
      stamp.Inode = st.st_ino;
      stamp.Size = static_cast<uint64_t>(st.st_size);
      stamp.MtimeNs = int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
    }
    return stamp;
  };
  const TFileStamp stamp = stampOf();
  if (!(stamp == faultStamp_)) {
    faultStamp_ = stamp;
    faultLines_.clear();
    fileFaults_.clear();
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      faultLines_.push_back(line);
      TFault f;
      if (!line.empty() && line[0] != '#' && ParseFault(line, f)) {
        f.Line = faultLines_.size() - 1;
        fileFaults_.push_back(f);
      }
    }
  }
  for (size_t i = 0; i < fileFaults_.size(); ++i) {
    TFault& f = fileFaults_[i];
    if (!Matches(f, r)) continue;
    out = f;
    // Consumed: the line counts down, and goes at 0 (the file too, once nothing is left in it).
    --f.Count;
    std::string text;
    bool any = false;
    for (size_t l = 0; l < faultLines_.size(); ++l) {
      if (l == f.Line && f.Count == 0) continue;
      const std::string& line = l == f.Line ? FaultText(f) : faultLines_[l];
      text += line + "\n";
      any = any || !line.empty();
    }
    if (f.Count == 0) {
      faultLines_.erase(faultLines_.begin() + static_cast<long>(f.Line));
      for (TFault& g : fileFaults_)
        if (g.Line > f.Line) --g.Line;
      fileFaults_.erase(fileFaults_.begin() + static_cast<long>(i));
    } else {
      faultLines_[f.Line] = FaultText(f);
    }
    std::error_code ec;
    if (!any) {
      fs::remove(path, ec);
    } else {
      const std::string tmp = path + ".tmp";
      {
        std::ofstream o(tmp, std::ios::trunc);
        o << text;
      }
      fs::rename(tmp, path, ec);
    }
    faultStamp_ = stampOf();
    return true;
  }
  return false;
}

void TEmulatedDrive::HoldCommand(uint8_t opcode, uint32_t fromLba) {
  std::lock_guard<std::mutex> guard(holdLock_);
  holdArmed_ = true;
  holdOpcode_ = opcode;
  holdFrom_ = fromLba;
}

void TEmulatedDrive::ReleaseHold() {
  std::lock_guard<std::mutex> guard(holdLock_);
  ++holdReleases_;
  holdWake_.notify_all();
}

void TEmulatedDrive::WaitWhileHeld(const TScsiRequest& r) {
  std::unique_lock<std::mutex> guard(holdLock_);
  if (!holdArmed_ || r.Cdb[0] != holdOpcode_) return;
  if (r.Cdb[0] == 0x2A && BigEndian(r.Cdb + 2, 4) < holdFrom_) return;
  holdArmed_ = false;
  holding_ = true;
  const uint64_t ticket = holdReleases_;
  holdWake_.wait_for(guard, std::chrono::seconds(30), [&] { return holdReleases_ != ticket; });
  holding_ = false;
}

bool TEmulatedDrive::Holding() {
  std::lock_guard<std::mutex> guard(holdLock_);
  return holding_;
}

void TEmulatedDrive::RemoveMedium() {
  std::lock_guard<std::mutex> guard(lock_);
  s_.Medium = false;
  Persist();
}

std::vector<std::string> TEmulatedDrive::CommandLog() {
  std::lock_guard<std::mutex> guard(lock_);
  std::vector<std::string> out;
  out.reserve(log_.size());
  for (const TLoggedCdb& c : log_) {
    std::string hex;
    char h[4];
    for (int i = 0; i < c.Length; ++i) {
      std::snprintf(h, sizeof h, i ? " %02X" : "%02X", c.Bytes[i]);
      hex += h;
    }
    out.push_back(hex);
  }
  return out;
}

uint16_t TEmulatedDrive::Profile() const {
  return s_.Medium && !s_.TrayOpen ? EmuProfileNumber(s_.Profile) : 0;
}

bool TEmulatedDrive::IsCd() const {
  const uint16_t p = Profile();
  return p >= 0x08 && p <= 0x0A;
}

bool TEmulatedDrive::WriteOnce() const {
  switch (Profile()) {
    case 0x09:
    case 0x0A:
    case 0x11:
    case 0x14:
    case 0x1B:
      return true;
    default:
      return false;
  }
}

bool TEmulatedDrive::Overwritable() const {
  const uint16_t p = Profile();
  return p == 0x12 || p == 0x13 || p == 0x1A;
}

uint32_t TEmulatedDrive::ReadableEnd() const {
  if (Overwritable() || Profile() == 0x08 || Profile() == 0x10) return s_.Capacity;
  return std::max(s_.Nwa, s_.Sessions.empty() ? 0u : s_.Sessions.back().End);
}

void TEmulatedDrive::Sense(TScsiRequest& r, uint8_t key, uint8_t asc, uint8_t ascq) {
  r.Status = SS_ERR;
  r.TargetStatus = STATUS_CHKCOND;
  r.Transferred = 0;
  std::memset(r.Sense, 0, sizeof r.Sense);
  r.Sense[0] = 0x70;
  r.Sense[2] = key;
  r.Sense[7] = 10;
  r.Sense[12] = asc;
  r.Sense[13] = ascq;
  r.SenseReturned = 18;
}

void TEmulatedDrive::Reply(TScsiRequest& r, const std::vector<uint8_t>& data) {
  const uint32_t n = std::min<uint32_t>(static_cast<uint32_t>(data.size()), r.BufferLength);
  if (n && r.BufferPointer) std::memcpy(r.BufferPointer, data.data(), n);
  r.Transferred = n;
}

void TEmulatedDrive::StartBusy(uint32_t ms, uint8_t ascq) {
  busyUntil_ = clock_->NowMs() + ms;
  busyAscq_ = ascq;
}

bool TEmulatedDrive::BusyNow(TScsiRequest& r) {
  if (busyUntil_ == 0) return false;
  if (clock_->NowMs() >= busyUntil_) {
    busyUntil_ = 0;
    return false;
  }
  Sense(r, 0x02, 0x04, busyAscq_);
  return true;
}

void TEmulatedDrive::Execute(TScsiRequest& r) {
  WaitWhileHeld(r);
  uint32_t sleepMs = 0;
  {
    std::lock_guard<std::mutex> guard(lock_);
    ExecuteLocked(r);
    std::swap(sleepMs, sleepMs_);
  }
  // A write at the drive's speed: other commands may come meanwhile.
  if (sleepMs) clock_->SleepMs(sleepMs);
}

void TEmulatedDrive::ExecuteLocked(TScsiRequest& r) {
  r.Status = SS_COMP;
  r.TargetStatus = STATUS_GOOD;
  r.AdapterStatus = HASTAT_OK;
  r.Transferred = 0;
  r.SenseReturned = 0;
  TLoggedCdb logged;
  logged.Length = std::min<uint8_t>(r.CdbLength, 16);
  std::memcpy(logged.Bytes, r.Cdb, logged.Length);
  log_.push_back(logged);
  TFault f;
  bool fired = false;
  for (auto it = faults_.begin(); it != faults_.end(); ++it) {
    if (!Matches(*it, r)) continue;
    f = *it;
    fired = true;
    if (--it->Count == 0) faults_.erase(it);
    break;
  }
  if (!fired) fired = TakeFileFault(r, f);
  if (!fired) return Dispatch(r);
  switch (f.Kind) {
    case TFaultKind::Stall:
      r.Status = SS_PENDING;
      return;
    case TFaultKind::Busy:
      r.Status = SS_ERR;
      r.TargetStatus = STATUS_BUSY;
      return;
    case TFaultKind::RemoveMedium:
      // As every later command finds it: no medium, the tray closed again.
      s_.Medium = false;
      Persist();
      return Sense(r, 0x02, 0x3A, s_.TrayOpen ? 0x02 : 0x01);
    case TFaultKind::Sense:
      return Sense(r, f.Key, f.Asc, f.Ascq);
  }
}

std::vector<uint8_t> TEmulatedDrive::ModePage(uint8_t page, bool defaults) {
  std::vector<uint8_t> p;
  if (page == 0x2A) {
    p.assign(32, 0);
    p[0] = 0x2A;
    p[1] = 30;
    p[2] = 0x3F;                  // reads CD-R, CD-RW, method 2, DVD-ROM, DVD-R, DVD-RAM
    p[3] = s_.Writer ? 0x37 : 0;  // writes CD-R, CD-RW, test write, DVD-R, DVD-RAM
    p[4] = 0x80;                  // buffer underrun protection
    const uint16_t maxWrite = s_.Speeds.empty() ? 0 : s_.Speeds.front();
    Put16(p.data() + 8, s_.ReadSpeed);
    Put16(p.data() + 18, maxWrite);
    Put16(p.data() + 20,
          defaults ? maxWrite : (s_.CurrentWriteSpeed ? s_.CurrentWriteSpeed : maxWrite));
    Put16(p.data() + 28,
          defaults ? maxWrite : (s_.CurrentWriteSpeed ? s_.CurrentWriteSpeed : maxWrite));
  } else if (page == 0x05) {
    p.assign(s_.WriteParams, s_.WriteParams + sizeof s_.WriteParams);
  }
  return p;
}

std::vector<uint8_t> TEmulatedDrive::TrackInfo(uint32_t track, bool& ok) {
  ok = true;
  std::vector<uint8_t> d(48, 0);
  Put16(d.data(), 46);
  const uint32_t closed = static_cast<uint32_t>(s_.Sessions.size());
  uint32_t start = 0, size = 0, free = 0, nwa = 0, lra = 0;
  bool nwaValid = false, lraValid = false, blank = false;
  uint32_t number = track;
  if (Overwritable()) {
    if (track != 1 && track != 0xFF) return ok = false, d;
    number = 1;
    start = 0, size = s_.Capacity, free = s_.Formatted ? s_.Capacity : 0, nwa = 0;
    nwaValid = s_.Formatted;
  } else if (track == 0xFF || track == closed + 1) {
    if (s_.Complete || !WriteOnce()) return ok = false, d;
    number = closed + 1;
    start = s_.SessionStart;
    nwa = s_.Nwa;
    nwaValid = true;
    size = s_.Capacity > start ? s_.Capacity - start : 0;
    if (s_.Reserved) size = std::min(size, s_.Reserved);
    free = start + size > nwa ? start + size - nwa : 0;
    blank = nwa == start;
    lraValid = nwa > start;
    lra = nwa > start ? nwa - 1 : 0;
  } else if (track >= 1 && track <= closed) {
    const TEmuSession& ses = s_.Sessions[track - 1];
    start = ses.Start, size = ses.End - ses.Start, lra = ses.End ? ses.End - 1 : 0;
    lraValid = true;
  } else {
    return ok = false, d;
  }
  d[2] = static_cast<uint8_t>(number);
  d[3] = static_cast<uint8_t>(std::min(number, closed + 1));
  d[5] = 0x04;  // data track
  d[6] = static_cast<uint8_t>((blank ? 0x40 : 0) | 0x01);
  d[7] = static_cast<uint8_t>((nwaValid ? 1 : 0) | (lraValid ? 2 : 0));
  Put32(d.data() + 8, start);
  Put32(d.data() + 12, nwaValid ? nwa : 0);
  Put32(d.data() + 16, free);
  Put32(d.data() + 24, size);
  Put32(d.data() + 28, lra);
  return d;
}

void TEmulatedDrive::Dispatch(TScsiRequest& r) {
  const uint8_t* c = r.Cdb;
  const uint8_t op = c[0];
  const uint16_t profile = Profile();
  const bool noMedium = profile == 0;
  // Commands that answer without a medium and without reporting a pending condition.
  const bool always = op == 0x12 || op == 0x03 || op == 0x46 || op == 0x5A || op == 0x55 ||
                      op == 0xBB || op == 0x1B || op == 0x1E || op == 0x5C;
  switch (op) {
    case 0x00:
    case 0x01:
    case 0x03:
    case 0x04:
    case 0x12:
    case 0x1B:
    case 0x1E:
    case 0x23:
    case 0x25:
    case 0x28:
    case 0x2A:
    case 0x35:
    case 0x43:
    case 0x46:
    case 0x51:
    case 0x52:
    case 0x53:
    case 0x54:
    case 0x55:
    case 0x5A:
    case 0x5B:
    case 0x5C:
    case 0xA1:
    case 0xB6:
    case 0xBB:
    case 0xBF:
      break;
    default:
      return Sense(r, 0x05, 0x20, 0x00);
  }
  if (op == 0x03) {
    std::vector<uint8_t> s(18, 0);
    s[0] = 0x70;
    s[7] = 10;
    if (busyUntil_ && clock_->NowMs() < busyUntil_) {
      s[2] = 0x02, s[12] = 0x04, s[13] = busyAscq_;
    } else if (noMedium) {
      s[2] = 0x02, s[12] = 0x3A, s[13] = s_.TrayOpen ? 0x02 : 0x01;
    }
    return Reply(r, s);
  }
  if (!always) {
    if (unitAttention_) {
      unitAttention_ = false;
      return Sense(r, 0x06, 0x28, 0x00);
    }
    if (BusyNow(r)) return;
    if (noMedium) return Sense(r, 0x02, 0x3A, s_.TrayOpen ? 0x02 : 0x01);
  }
  const bool in = (r.Flags & SRB_DIR_IN) != 0, out = (r.Flags & SRB_DIR_OUT) != 0;
  switch (op) {
    case 0x00:  // TEST UNIT READY
    case 0x01:  // REZERO UNIT
    case 0x1E:  // PREVENT ALLOW MEDIUM REMOVAL
    case 0x54:  // SEND OPC INFORMATION
      return;
    case 0x12: {  // INQUIRY
      std::vector<uint8_t> d(36, ' ');
      d[0] = 0x05, d[1] = 0x80, d[2] = 0x05, d[3] = 0x32, d[4] = 31, d[5] = d[6] = d[7] = 0;
      const std::string names = Pad(s_.Vendor, 8) + Pad(s_.Product, 16) + Pad(s_.Revision, 4);
      std::memcpy(d.data() + 8, names.data(), 28);
      return Reply(r, d);
    }
    case 0x1B:  // START STOP UNIT
      if ((c[4] & 3) == 2) {
        s_.TrayOpen = true;
      } else if ((c[4] & 3) == 3) {
        const bool wasOpen = s_.TrayOpen;
        s_.TrayOpen = false;
        if (wasOpen && s_.Medium) unitAttention_ = true;
      }
      Persist();
      return;
    case 0x23: {  // READ FORMAT CAPACITIES
      std::vector<uint8_t> d(12, 0);
      d[3] = 8;
      Put32(d.data() + 4, s_.Capacity);
      d[8] = Overwritable() && !s_.Formatted ? 0x01 : 0x02;
      d[10] = 0x08;  // block length 2048
      return Reply(r, d);
    }
    case 0x25: {  // READ CAPACITY
      std::vector<uint8_t> d(8, 0);
      const uint32_t end = ReadableEnd();
      Put32(d.data(), end ? end - 1 : 0);
      Put32(d.data() + 4, kSector);
      return Reply(r, d);
    }
    case 0x28: {  // READ(10)
      const uint32_t lba = BigEndian(c + 2, 4), count = BigEndian(c + 7, 2);
      if (!in || r.BufferLength < count * kSector) return Sense(r, 0x05, 0x24, 0x00);
      if (static_cast<uint64_t>(lba) + count > ReadableEnd()) return Sense(r, 0x05, 0x21, 0x00);
      const ssize_t got = ::pread(fd_, r.BufferPointer, static_cast<size_t>(count) * kSector,
                                  static_cast<off_t>(lba) * kSector);
      if (got < 0) return Sense(r, 0x03, 0x11, 0x00);
      std::memset(r.BufferPointer + got, 0, count * kSector - static_cast<uint32_t>(got));
      r.Transferred = count * kSector;
      return;
    }
    case 0x2A: {  // WRITE(10)
      const uint32_t lba = BigEndian(c + 2, 4), count = BigEndian(c + 7, 2);
      if (!out || r.BufferLength < count * kSector) return Sense(r, 0x05, 0x24, 0x00);
      if (profile == 0x08 || profile == 0x10 || s_.WriteProtected)
        return Sense(r, 0x07, 0x27, 0x00);
      if (profile == 0x1A && !s_.Formatted) return Sense(r, 0x05, 0x30, 0x05);
      if (static_cast<uint64_t>(lba) + count > s_.Capacity) return Sense(r, 0x05, 0x21, 0x00);
      if (WriteOnce()) {
        if (s_.Complete || lba != s_.Nwa) return Sense(r, 0x05, 0x21, 0x02);
        // A reserved track ends where its reservation does.
        if (s_.Reserved &&
            static_cast<uint64_t>(lba) + count > uint64_t{s_.SessionStart} + s_.Reserved)
          return Sense(r, 0x05, 0x21, 0x02);
      }
      const bool test = (s_.WriteParams[2] & 0x10) != 0;
      if (!test) {
        if (::pwrite(fd_, r.BufferPointer, static_cast<size_t>(count) * kSector,
                     static_cast<off_t>(lba) * kSector) != static_cast<ssize_t>(count) * kSector)
          return Sense(r, 0x03, 0x0C, 0x00);
        if (WriteOnce()) {
          s_.Nwa += count;
          Persist();
        }
      }
      if (s_.Realtime) {
        const uint32_t rate = s_.CurrentWriteSpeed ? s_.CurrentWriteSpeed
                              : s_.Speeds.empty()  ? 0
                                                   : s_.Speeds.front();
        if (rate) {
          // The data goes to the disc after what came before it, at rate kB/s; the command
          // returns once the rest fits in the drive's buffer.
          const uint64_t now = clock_->NowMs() * 1000;
          writeDoneUs_ = std::max(writeDoneUs_, now) + uint64_t{count} * kSector * 1000 / rate;
          const uint64_t buffered = uint64_t{kBufferBytes} * 1000 / rate;
          if (writeDoneUs_ >= now + buffered + 1000)
            sleepMs_ = static_cast<uint32_t>((writeDoneUs_ - now - buffered) / 1000);
        }
      }
      r.Transferred = count * kSector;
      return;
    }
    case 0x35: {  // SYNCHRONIZE CACHE
      if (fd_ >= 0) ::fdatasync(fd_);
      // With realtime, the buffer is emptied onto the disc first.
      const uint64_t now = clock_->NowMs() * 1000;
      if (s_.Realtime && writeDoneUs_ > now)
        sleepMs_ = static_cast<uint32_t>((writeDoneUs_ - now + 999) / 1000);
      return;
    }
    case 0x43: {  // READ TOC/PMA/ATIP
      const uint8_t format = c[2] & 0x0F;
      std::vector<uint8_t> d;
      if (format == 4) {
        if (!IsCd() || profile == 0x08) return Sense(r, 0x05, 0x24, 0x00);
        d.assign(28, 0);
        Put16(d.data(), 26);
        d[4] = 0x50;
        d[6] = static_cast<uint8_t>(0x80 | (profile == 0x0A ? 0x40 : 0));
        d[8] = 97, d[9] = 26, d[10] = 66;
        d[12] = static_cast<uint8_t>(s_.Capacity / 4500);
        d[13] = static_cast<uint8_t>(s_.Capacity % 4500 / 75);
        d[14] = static_cast<uint8_t>(s_.Capacity % 75);
        return Reply(r, d);
      }
      if (s_.Sessions.empty()) return Sense(r, 0x05, 0x24, 0x00);
      if (format == 1) {
        d.assign(12, 0);
        Put16(d.data(), 10);
        d[2] = 1;
        d[3] = static_cast<uint8_t>(s_.Sessions.size());
        d[5] = 0x14;
        d[6] = static_cast<uint8_t>(s_.Sessions.size());
        Put32(d.data() + 8, s_.Sessions.back().Start);
        return Reply(r, d);
      }
      if (format == 0) {
        const size_t n = s_.Sessions.size();
        d.assign(4 + 8 * (n + 1), 0);
        Put16(d.data(), static_cast<uint32_t>(d.size() - 2));
        d[2] = 1;
        d[3] = static_cast<uint8_t>(n);
        for (size_t i = 0; i <= n; ++i) {
          uint8_t* e = d.data() + 4 + 8 * i;
          e[1] = 0x14;
          e[2] = i < n ? static_cast<uint8_t>(i + 1) : 0xAA;
          Put32(e + 4, i < n ? s_.Sessions[i].Start : s_.Sessions.back().End);
        }
        return Reply(r, d);
      }
      return Sense(r, 0x05, 0x24, 0x00);
    }
    case 0x46: {  // GET CONFIGURATION
      const uint8_t rt = c[1] & 3;
      const uint16_t feature = static_cast<uint16_t>(BigEndian(c + 2, 2));
      std::vector<uint8_t> d(8, 0);
      Put16(d.data() + 6, profile);
      auto add = [&](uint16_t code, std::vector<uint8_t> data, bool current) {
        const size_t at = d.size();
        d.resize(at + 4 + data.size());
        Put16(d.data() + at, code);
        d[at + 2] = static_cast<uint8_t>(0x02 | (current ? 1 : 0));
        d[at + 3] = static_cast<uint8_t>(data.size());
        std::copy(data.begin(), data.end(), d.begin() + static_cast<long>(at) + 4);
      };
      if (rt == 2 || feature == 0) {
        if (feature == 0) {
          std::vector<uint8_t> list;
          for (const auto& p : kProfiles) {
            if (p.Number == 0) continue;
            list.push_back(static_cast<uint8_t>(p.Number >> 8));
            list.push_back(static_cast<uint8_t>(p.Number));
            list.push_back(p.Number == profile ? 1 : 0);
            list.push_back(0);
          }
          add(0x0000, list, true);
        } else if (feature == 0x2A) {
          add(0x2A, {0x01, 0, 0, 0}, profile == 0x1A);
        } else if (feature == 0x2F) {
          add(0x2F, {0x46, 0, 0, 0}, profile == 0x11 || profile == 0x14);
        }
      }
      Put32(d.data(), static_cast<uint32_t>(d.size() - 4));
      return Reply(r, d);
    }
    case 0x51: {  // READ DISC INFORMATION
      std::vector<uint8_t> d(34, 0);
      Put16(d.data(), 32);
      const bool erasable = profile == 0x0A || profile == 0x12 || profile == 0x13 ||
                            profile == 0x14 || profile == 0x1A;
      uint8_t status, lastState;
      uint32_t sessions = static_cast<uint32_t>(s_.Sessions.size());
      if (Overwritable() || profile == 0x08 || profile == 0x10 || s_.Complete) {
        status = 2, lastState = 3;
        sessions = std::max<uint32_t>(sessions, 1);
      } else {
        const bool open = s_.Nwa > s_.SessionStart;
        status = sessions == 0 && !open ? 0 : 1;
        lastState = open ? 1 : 0;
        sessions += 1;
      }
      d[2] = static_cast<uint8_t>((erasable ? 0x10 : 0) | (lastState << 2) | status);
      d[3] = 1;
      d[4] = static_cast<uint8_t>(sessions);
      d[5] = d[6] = static_cast<uint8_t>(sessions);
      d[9] = d[10] = d[11] = static_cast<uint8_t>(sessions >> 8);
      d[7] = 0x20;  // unrestricted use
      Put32(d.data() + 16, s_.SessionStart);
      Put32(d.data() + 20, s_.Capacity);
      return Reply(r, d);
    }
    case 0x52: {  // READ TRACK INFORMATION
      if ((c[1] & 3) != 1) return Sense(r, 0x05, 0x24, 0x00);
      bool ok = false;
      const std::vector<uint8_t> d = TrackInfo(BigEndian(c + 2, 4), ok);
      if (!ok) return Sense(r, 0x05, 0x24, 0x00);
      return Reply(r, d);
    }
    case 0x53: {  // RESERVE TRACK
      if (!WriteOnce() || IsCd()) return Sense(r, 0x05, 0x24, 0x00);
      // One reservation, for a track nothing has been written to, within the room left.
      if (s_.Complete || s_.Reserved || s_.Nwa != s_.SessionStart)
        return Sense(r, 0x05, 0x2C, 0x00);
      const uint32_t size = BigEndian(c + 5, 4);
      if (size == 0 || size > s_.Capacity - std::min(s_.Nwa, s_.Capacity))
        return Sense(r, 0x05, 0x24, 0x00);
      s_.Reserved = size;
      Persist();
      return;
    }
    case 0x55: {  // MODE SELECT(10)
      if (!out || r.BufferLength < 8) return Sense(r, 0x05, 0x24, 0x00);
      const uint8_t* b = r.BufferPointer;
      const uint32_t at = 8 + BigEndian(b + 6, 2);
      if (at + 2 > r.BufferLength) return Sense(r, 0x05, 0x1A, 0x00);
      const uint8_t* p = b + at;
      if ((p[0] & 0x3F) != 0x05 || p[1] != 0x32 || at + 52 > r.BufferLength)
        return Sense(r, 0x05, 0x24, 0x00);
      const uint8_t writeType = p[2] & 0x0F;
      const uint8_t bit = writeType == 3 ? 1 : writeType == 2 ? 2 : writeType == 1 ? 4 : 0;
      if (writeType > 4 || (bit && !(s_.WriteModesAccepted & bit)) || (p[4] & 0x0F) > 13)
        return Sense(r, 0x05, 0x24, 0x00);
      std::memcpy(s_.WriteParams, p, sizeof s_.WriteParams);
      s_.WriteParams[0] &= 0x3F;
      Persist();
      return;
    }
    case 0x5A: {  // MODE SENSE(10)
      const uint8_t page = c[2] & 0x3F;
      if (page != 0x2A && page != 0x05) return Sense(r, 0x05, 0x24, 0x00);
      const std::vector<uint8_t> p = ModePage(page, (c[2] & 0xC0) == 0x80);
      std::vector<uint8_t> d(static_cast<size_t>(s_.PageOffset), 0);
      if (s_.PageOffset == 16) d[7] = 8;  // a block descriptor follows the header
      d.insert(d.end(), p.begin(), p.end());
      Put16(d.data(), static_cast<uint32_t>(d.size() - 2));
      return Reply(r, d);
    }
    case 0x5B: {  // CLOSE TRACK/SESSION
      const uint8_t function = c[2] & 7;
      const bool immediate = c[1] & 1;
      if (function == 1) {
        if (immediate) StartBusy(kCloseMs, 0x08);
        return;
      }
      if (function != 2 && function != 3) return Sense(r, 0x05, 0x24, 0x00);
      if (WriteOnce()) {
        if (s_.Nwa == s_.SessionStart) return Sense(r, 0x05, 0x2C, 0x00);
        s_.Sessions.push_back({s_.SessionStart, s_.Nwa});
        s_.Reserved = 0;
        // The multi-session field of the write parameters page decides: 00b closes the disc.
        const bool finalize = (s_.WriteParams[3] >> 6) == 0;
        if (finalize) {
          s_.Complete = true;
        } else {
          s_.SessionStart = s_.Nwa + (s_.Sessions.size() == 1 ? kFirstGap : kLaterGap);
          s_.Nwa = s_.SessionStart;
          if (s_.SessionStart >= s_.Capacity) s_.Complete = true;
        }
        Persist();
      }
      if (immediate) StartBusy(kCloseMs, 0x08);
      return;
    }
    case 0x5C: {  // READ BUFFER CAPACITY
      std::vector<uint8_t> d(12, 0);
      Put16(d.data(), 10);
      Put32(d.data() + 4, kBufferBytes);
      Put32(d.data() + 8, kBufferBytes);
      return Reply(r, d);
    }
    case 0xA1: {  // BLANK
      if (profile != 0x0A && profile != 0x13 && profile != 0x14) return Sense(r, 0x05, 0x30, 0x05);
      const bool quick = (c[1] & 7) == 1;
      if ((c[1] & 7) > 1) return Sense(r, 0x05, 0x24, 0x00);
      s_.Sessions.clear();
      s_.SessionStart = s_.Nwa = 0;
      s_.Reserved = 0;
      s_.Complete = false;
      if (profile == 0x13) s_.Profile = "DVD-RW-SEQ";
      if (::ftruncate(fd_, 0) != 0) return Sense(r, 0x03, 0x51, 0x00);
      Persist();
      if (c[1] & 0x10) StartBusy(quick ? kQuickBlankMs : kFullBlankMs, 0x07);
      return;
    }
    case 0x04: {  // FORMAT UNIT
      if (!out || r.BufferLength < 12 || (c[1] & 0x17) != 0x11) return Sense(r, 0x05, 0x24, 0x00);
      if (profile != 0x12 && profile != 0x13 && profile != 0x14 && profile != 0x1A)
        return Sense(r, 0x05, 0x30, 0x06);
      const uint8_t* list = r.BufferPointer;
      const uint8_t type = list[8] >> 2;
      if (type == 0x13) s_.Profile = "DVD-RW-RO";
      // A full format of a DVD-RAM writes the whole disc: what it held is gone.
      if (type == 0x00 && profile == 0x12 && ::ftruncate(fd_, 0) != 0)
        return Sense(r, 0x03, 0x31, 0x00);
      s_.Formatted = true;
      Persist();
      if (list[1] & 0x02) StartBusy(kFormatMs, 0x04);
      return;
    }
    case 0xB6:  // SET STREAMING
      if (!out || r.BufferLength < 28 || BigEndian(c + 9, 2) < 28)
        return Sense(r, 0x05, 0x24, 0x00);
      return;
    case 0xBB: {  // SET CD SPEED
      // As a drive does, it settles on the fastest of its speeds not above the one asked for
      // (its slowest when every one is above; 0 and FFFFh ask for the fastest).
      const uint16_t write = static_cast<uint16_t>(BigEndian(c + 4, 2));
      const uint16_t max = s_.Speeds.empty() ? 0 : s_.Speeds.front();
      uint16_t settled = write == 0 ? 0 : max;
      if (write != 0 && write != 0xFFFF && !s_.Speeds.empty()) {
        settled = s_.Speeds.back();
        for (uint16_t v : s_.Speeds)
          if (v <= write && (settled > write || v > settled)) settled = v;
      }
      s_.CurrentWriteSpeed = settled;
      Persist();
      return;
    }
    case 0xBF:  // SEND DVD STRUCTURE
      if (!out || c[7] != 0x0F || r.BufferLength < 22) return Sense(r, 0x05, 0x24, 0x00);
      return;
    default:
      return Sense(r, 0x05, 0x20, 0x00);
  }
}

// ---------------------------------------------------------------------------------------------

TEmulatedTransport::TEmulatedTransport(std::string folder, IDiscClock* clock)
    : folder_(std::move(folder)), clock_(clock ? clock : &SystemDiscClock()) {}

std::vector<TScsiDriveEntry> TEmulatedTransport::Discover() {
  std::vector<TScsiDriveEntry> found;
  std::lock_guard<std::mutex> guard(lock_);
  std::error_code ec;
  std::vector<std::string> nodes;
  byAddress_.clear();
  for (const auto& e : fs::directory_iterator(folder_, ec)) {
    const std::string name = e.path().filename().string();
    if (name.size() > 8 && name.compare(0, 2, "sr") == 0 &&
        name.compare(name.size() - 6, 6, ".state") == 0)
      nodes.push_back(name.substr(0, name.size() - 6));
  }
  std::sort(nodes.begin(), nodes.end(), [](const std::string& a, const std::string& b) {
    return std::make_pair(a.size(), a) < std::make_pair(b.size(), b);
  });
  for (const std::string& node : nodes) {
    auto& drive = drives_[node];
    if (!drive) drive = std::make_unique<TEmulatedDrive>(folder_ + "/" + node, clock_);
    if (!drive->Load()) continue;
    const TEmuState s = drive->State();
    byAddress_[{s.Adapter, s.Target, s.Lun}] = drive.get();
    TScsiDriveEntry d;
    d.Adapter = s.Adapter, d.Target = s.Target, d.Lun = s.Lun;
    d.DeviceType = 5;
    d.Node = node;
    d.Vendor = s.Vendor, d.Product = s.Product, d.Revision = s.Revision;
    found.push_back(d);
  }
  return found;
}

TEmulatedDrive* TEmulatedTransport::Drive(uint8_t adapter, uint8_t target, uint8_t lun) {
  std::lock_guard<std::mutex> guard(lock_);
  auto it = byAddress_.find({adapter, target, lun});
  return it == byAddress_.end() ? nullptr : it->second;
}

TEmulatedDrive* TEmulatedTransport::DriveByNode(const std::string& node) {
  std::lock_guard<std::mutex> guard(lock_);
  auto it = drives_.find(node);
  return it == drives_.end() ? nullptr : it->second.get();
}

void TEmulatedTransport::Send(TScsiRequest& r, uint32_t) {
  r.Transferred = 0;
  r.SenseReturned = 0;
  TEmulatedDrive* d = Drive(r.Adapter, r.Target, r.Lun);
  if (!d) {
    r.Status = SS_NO_DEVICE;
    return;
  }
  d->Execute(r);
}

void TEmulatedTransport::Abort(TScsiRequest& r) {
  r.Status = SS_ABORTED;
}

void InstallEmulatedDrives() {
  RegisterEmulatedTransport([](const std::string& folder) -> std::unique_ptr<IScsiTransport> {
    return std::make_unique<TEmulatedTransport>(folder);
  });
}
