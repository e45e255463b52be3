#include "archive/zipvolumes.h"

#include <algorithm>
#include <cstring>
#include <system_error>
#include <vector>

#include "archive/zipexceptions.h"
#include "archive/zipmedia.h"
#include "archive/ziprecords.h"

namespace {

constexpr uint64_t kOffsetMask = (uint64_t{1} << TVolumeSetStream::kShift) - 1;
constexpr size_t kCopyPiece = 16384;        // data copied to a part between progress checks
constexpr uint32_t kSetOfOne = 0x30304b50;  // "PK00": a split archive that needed one part

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

// ---- Reading ----

TVolumeSetStream::TVolumeSetStream(uint32_t lastDisk, TOpen open)
    : last_(lastDisk), open_(std::move(open)) {
  if (last_ > kMaxDisk) throw EBadZipFile();
}

void TVolumeSetStream::Seed(uint32_t disk, std::unique_ptr<THugeStream> stream) {
  if (disk > last_) throw EBadZipFile();
  open1_ = std::move(stream);
  openDisk_ = disk;
  sizes_[disk] = open1_->Size();
}

THugeStream& TVolumeSetStream::Volume(uint32_t disk) {
  if (disk > last_) throw EFatalUnzipError();
  if (openDisk_ != disk || !open1_) {
    open1_.reset();
    openDisk_ = UINT32_MAX;
    open1_ = open_(disk);
    if (!open1_) throw EUserCanceled(zipmsg::kUserCanceledNewDisk);
    openDisk_ = disk;
    sizes_[disk] = open1_->Size();
  }
  return *open1_;
}

int64_t TVolumeSetStream::VolumeSize(uint32_t disk) {
  if (auto it = sizes_.find(disk); it != sizes_.end()) return it->second;
  return Volume(disk).Size();
}

int64_t TVolumeSetStream::Size() {
  return Address(last_, static_cast<uint64_t>(VolumeSize(last_)));
}

void TVolumeSetStream::SetSize(int64_t) {
  throw std::system_error(EROFS, std::generic_category(), "volume set");
}

size_t TVolumeSetStream::ReadAt(int64_t pos, void* buffer, size_t n) {
  if (pos < 0) return 0;
  auto* out = static_cast<uint8_t*>(buffer);
  size_t done = 0;
  uint64_t disk = static_cast<uint64_t>(pos) >> kShift;
  uint64_t off = static_cast<uint64_t>(pos) & kOffsetMask;
  while (done < n) {
    if (disk > last_) break;
    // An offset past a volume's end lies on the volumes that follow it.
    int64_t size = VolumeSize(static_cast<uint32_t>(disk));
    if (off >= static_cast<uint64_t>(size)) {
      if (disk == last_) break;
      off -= static_cast<uint64_t>(size);
      ++disk;
      continue;
    }
    size_t want = static_cast<size_t>(std::min<uint64_t>(n - done, size - off));
    size_t r =
        Volume(static_cast<uint32_t>(disk)).ReadAt(static_cast<int64_t>(off), out + done, want);
    if (r == 0) break;
    done += r;
    off += r;
  }
  return done;
}

// ---- Writing ----

TVolumeWriter::~TVolumeWriter() = default;

void TVolumeWriter::Open(const std::string& name, int64_t room) {
  out_.reset();
  out_ = s_.Media->CreateVolume(name);
  names_.push_back(name);
  pos_ = 0;
  // A part never outgrows the largest file the file system holding it can take.
  const int64_t largest = s_.Media->LargestFile(FolderOf(name));
  room_ = largest > 0 ? std::min(room, largest) : room;
  fresh_ = true;
}

void TVolumeWriter::Start() {
  disk_ = 0;
  if (s_.Span)
    OpenSpanned(1, 5);
  else
    Open(s_.Name(1, TSplitPartType::FirstPart), s_.FirstRoom);
  uint8_t sig[4];
  const uint32_t v = zipsig::kSpanning;
  for (int i = 0; i < 4; ++i) sig[i] = static_cast<uint8_t>(v >> (8 * i));
  if (room_ < 4) throw ENotEnoughRoom();
  Write(sig, sizeof sig);
  fresh_ = true;
}

void TVolumeWriter::Write(const void* p, size_t n) {
  if (n == 0) return;
  if (out_->WriteAt(pos_, p, n) != n) throw ENotEnoughRoom();
  pos_ += static_cast<int64_t>(n);
  room_ -= static_cast<int64_t>(n);
  fresh_ = false;
  // The last bytes of the volume, to recognise it should it be offered again as the next one.
  constexpr size_t kTail = 32;
  const auto* b = static_cast<const char*>(p);
  if (n >= kTail) {
    tail_.assign(b + n - kTail, kTail);
  } else {
    tail_.append(b, n);
    if (tail_.size() > kTail) tail_.erase(0, tail_.size() - kTail);
  }
}

void TVolumeWriter::CloseVolume() {
  out_.reset();
  const std::string& name = names_.back();
  closedName_ = name;
  closedTail_ = tail_;
  closedSize_ = pos_;
  int64_t size = 0;
  if (!s_.Media->Stat(name, size, closedTime_)) closedTime_ = -1;
  tail_.clear();
  if (s_.Span && s_.WriteLabels && s_.Media->IsRemovable(name)) {
    // The old label goes first, so that a medium is never left with a wrong number.
    s_.Media->WriteLabel(name, "");
    s_.Media->WriteLabel(name, SpanVolumeLabel(static_cast<int>(disk_) + 1));
  }
}

bool TVolumeWriter::IsVolumeJustWritten(const std::string& name) {
  if (closedSize_ < 0 || name != closedName_) return false;
  int64_t size = 0, time = 0;
  if (!s_.Media->Stat(name, size, time) || size != closedSize_ || time != closedTime_) return false;
  try {
    auto in = s_.Media->OpenVolume(name);
    std::string tail(closedTail_.size(), '\0');
    const int64_t at = size - static_cast<int64_t>(tail.size());
    return in->ReadAt(at, tail.data(), tail.size()) == tail.size() && tail == closedTail_;
  } catch (const std::system_error&) {
    return false;
  }
}

void TVolumeWriter::OpenSpanned(int volume, int64_t need) {
  for (;;) {
    const std::string name = s_.Ask(volume);
    // The medium just written, still in the drive, is asked for again rather than emptied.
    if (IsVolumeJustWritten(name)) continue;
    if (s_.Media->Exists(name)) s_.Media->Remove(name);
    if (s_.Prepare) s_.Prepare(volume);
    int64_t room = s_.Media->Room(name);
    if (volume == 1) room -= s_.FirstReserve;
    // A medium that cannot take what comes next is asked for again: no empty volume.
    if (room < need) continue;
    Open(name, room);
    return;
  }
}

void TVolumeWriter::NextVolume(int64_t need) {
  CloseVolume();
  ++disk_;
  if (s_.Span)
    OpenSpanned(static_cast<int>(disk_) + 1, need);
  else
    Open(s_.Name(static_cast<int>(disk_) + 1, TSplitPartType::MiddlePart), s_.BlockSize());
}

int64_t TVolumeWriter::PlaceWhole(const void* p, size_t n, bool keepWithNext) {
  const int64_t need = static_cast<int64_t>(n) + (keepWithNext ? 1 : 0);
  if (room_ < need) {
    // A volume that has taken nothing yet cannot take this either: moving on would only make
    // more volumes that cannot.
    if (fresh_) throw ENotEnoughRoom();
    NextVolume(need);
    if (room_ < need) throw ENotEnoughRoom();
  }
  const int64_t at = pos_;
  Write(p, n);
  return at;
}

void TVolumeWriter::Copy(THugeStream& src, int64_t from, int64_t n) {
  std::vector<uint8_t> buf(kCopyPiece);
  while (n > 0) {
    if (room_ <= 0) {
      NextVolume(1);
      if (room_ <= 0) throw ENotEnoughRoom();
    }
    size_t k = static_cast<size_t>(std::min<int64_t>({n, room_, int64_t{kCopyPiece}}));
    src.ReadExactAt(from, buf.data(), k);
    Write(buf.data(), k);
    from += static_cast<int64_t>(k);
    n -= static_cast<int64_t>(k);
    if (s_.Between) s_.Between();
  }
}

std::string TVolumeWriter::Finish() {
  if (disk_ == 0) {
    uint8_t sig[4];
    for (int i = 0; i < 4; ++i) sig[i] = static_cast<uint8_t>(kSetOfOne >> (8 * i));
    if (out_->WriteAt(0, sig, sizeof sig) != sizeof sig) throw ENotEnoughRoom();
  }
  CloseVolume();
  if (s_.Span) return names_.back();
  const std::string last = s_.Name(static_cast<int>(disk_) + 1, TSplitPartType::LastPart);
  if (last != names_.back()) {
    if (!s_.Media->Rename(names_.back(), last))
      throw std::system_error(errno, std::generic_category(), "rename " + names_.back());
    names_.back() = last;
  }
  return last;
}

void TVolumeWriter::Discard() {
  out_.reset();
  for (const auto& name : names_) s_.Media->Remove(name);
  names_.clear();
}
