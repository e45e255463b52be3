#include "archive/zipwriter.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include "archive/zipaes.h"
#include "archive/zipexceptions.h"
#include "archive/zipextra.h"

namespace {

// Extra data without the fields of one id (a malformed tail is dropped).
std::string WithoutZip64Field(const std::string& extra) {
  std::string out;
  size_t p = 0;
  const auto* b = reinterpret_cast<const uint8_t*>(extra.data());
  while (p + 4 <= extra.size()) {
    uint16_t fid = GetU16(b + p), len = GetU16(b + p + 2);
    if (p + 4 + len > extra.size()) break;
    if (fid != kZip64ExtraId) out.append(extra, p, 4 + len);
    p += 4 + len;
  }
  return out;
}

// Version needed to extract: 2.0, 4.5 with Zip64 fields, 5.1 for AES.
uint16_t NeededVersion(const TZipHeaderInfo& h, bool zip64) {
  if (h.IsAes()) return kAesVersionNeeded;
  return zip64 ? 45 : 20;
}

}  // namespace

void TZipOutput::WriteOut(int64_t pos, const void* p, size_t n) {
  if (n == 0) return;
  if (s_.WriteAt(pos, p, n) != n) throw ENotEnoughRoom();
}

void TZipOutput::Append(const void* p, size_t n) {
  auto* b = static_cast<const uint8_t*>(p);
  if (buf_.size() + n > kBufSize) {
    Flush();
    if (n >= kBufSize) {
      WriteOut(bufStart_, b, n);
      bufStart_ += static_cast<int64_t>(n);
      return;
    }
  }
  buf_.insert(buf_.end(), b, b + n);
}

void TZipOutput::Flush() {
  WriteOut(bufStart_, buf_.data(), buf_.size());
  bufStart_ += static_cast<int64_t>(buf_.size());
  buf_.clear();
}

void TZipOutput::PatchAt(int64_t pos, const void* p, size_t n) {
  auto* b = static_cast<const uint8_t*>(p);
  // The part before the buffer is already in the stream; the rest is still buffered.
  size_t before = pos < bufStart_ ? static_cast<size_t>(std::min<int64_t>(bufStart_ - pos, n)) : 0;
  WriteOut(pos, b, before);
  if (before < n) {
    size_t off = static_cast<size_t>(pos + static_cast<int64_t>(before) - bufStart_);
    std::memcpy(buf_.data() + off, b + before, n - before);
  }
}

void TZipOutput::Truncate(int64_t pos) {
  if (pos >= bufStart_) {
    buf_.resize(static_cast<size_t>(pos - bufStart_));
    return;
  }
  buf_.clear();
  s_.SetSize(pos);
  bufStart_ = pos;
}

void SetEntrySizes(TZipHeaderInfo& h, uint64_t uncompressed, uint64_t compressed, uint64_t offset) {
  h.HasUnComprSize64 = uncompressed >= kSat32Value;
  h.UnComprSize64 = uncompressed;
  h.UnComprSize = h.HasUnComprSize64 ? kSat32Value : static_cast<uint32_t>(uncompressed);
  h.HasComprSize64 = compressed >= kSat32Value;
  h.ComprSize64 = compressed;
  h.ComprSize = h.HasComprSize64 ? kSat32Value : static_cast<uint32_t>(compressed);
  h.HasRelOffLocalHdr64 = offset >= kSat32Value;
  h.RelOffLocalHdr64 = offset;
  h.RelOffLocalHdr = h.HasRelOffLocalHdr64 ? kSat32Value : static_cast<uint32_t>(offset);
  h.HasDiskStart32 = false;
  h.DiskStart = 0;
  std::string z;
  if (h.HasUnComprSize64) PutU64(z, uncompressed);
  if (h.HasComprSize64) PutU64(z, compressed);
  if (h.HasRelOffLocalHdr64) PutU64(z, offset);
  // The Zip64 field first, then the entry's other fields (its AES field).
  const std::string others = WithoutZip64Field(h.CentralExtra);
  h.CentralExtra.clear();
  if (!z.empty()) {
    PutU16(h.CentralExtra, kZip64ExtraId);
    PutU16(h.CentralExtra, static_cast<uint16_t>(z.size()));
    h.CentralExtra += z;
  }
  h.CentralExtra += others;
  h.ExtraFieldLength = static_cast<uint16_t>(h.CentralExtra.size());
  h.VersionNeeded = NeededVersion(h, !z.empty());
}

std::string LocalHeaderBytes(const TZipHeaderInfo& h, bool zip64Field) {
  std::string out;
  const std::string name = h.StoredName();
  // An AES entry's field is in both headers: readers of the local headers alone need it too.
  const std::string aes = h.IsAes() ? FindAesFieldBytes(h.CentralExtra) : std::string();
  // The time and owner fields stand in both headers, in the same form.
  const std::string meta = UnixFieldsOf(h.CentralExtra);
  out.reserve(kLocalHeaderSize + name.size() + 20 + aes.size() + meta.size());
  PutU32(out, zipsig::kLocalHeader);
  PutU16(out, NeededVersion(h, zip64Field));
  PutU16(out, h.Flag);
  PutU16(out, h.ComprMethod);
  PutU32(out, h.ModifDateTime);
  PutU32(out, h.CRC32);
  PutU32(out, zip64Field ? kSat32Value : h.ComprSize);
  PutU32(out, zip64Field ? kSat32Value : h.UnComprSize);
  PutU16(out, static_cast<uint16_t>(name.size()));
  PutU16(out, static_cast<uint16_t>((zip64Field ? 20 : 0) + aes.size() + meta.size()));
  out += name;
  if (zip64Field) {
    PutU16(out, kZip64ExtraId);
    PutU16(out, 16);
    PutU64(out, h.UncompressedSize());
    PutU64(out, h.CompressedSize());
  }
  out += aes;
  out += meta;
  return out;
}

const char* TByteStore::Add(std::string_view a, std::string_view b, std::string_view c) {
  const size_t n = a.size() + b.size() + c.size();
  if (n > left_) {
    size_t size = std::max(kBlock, n);
    blocks_.push_back(std::make_unique<char[]>(size));
    next_ = blocks_.back().get();
    left_ = size;
  }
  char* at = next_;
  if (!a.empty()) std::memcpy(at, a.data(), a.size());
  if (!b.empty()) std::memcpy(at + a.size(), b.data(), b.size());
  if (!c.empty()) std::memcpy(at + a.size() + b.size(), c.data(), c.size());
  next_ += n;
  left_ -= n;
  return at;
}

bool TNameIndex::Contains(std::string_view name) const {
  if (slots_.empty()) return false;
  const size_t mask = slots_.size() - 1;
  for (size_t k = std::hash<std::string_view>{}(name)&mask;; k = (k + 1) & mask) {
    uint32_t s = slots_[k];
    if (s == 0) return false;
    if (entries_[s - 1].Name() == name) return true;
  }
}

void TNameIndex::Add(size_t i) {
  if ((count_ + 1) * 2 > slots_.size()) Grow();
  const size_t mask = slots_.size() - 1;
  size_t k = std::hash<std::string_view>{}(entries_[i].Name()) & mask;
  while (slots_[k] != 0) k = (k + 1) & mask;
  slots_[k] = static_cast<uint32_t>(i + 1);
  ++count_;
}

void TNameIndex::Grow() {
  std::vector<uint32_t> old = std::move(slots_);
  slots_.assign(std::max<size_t>(1024, old.size() * 2), 0);
  const size_t mask = slots_.size() - 1;
  for (uint32_t s : old) {
    if (s == 0) continue;
    size_t k = std::hash<std::string_view>{}(entries_[s - 1].Name()) & mask;
    while (slots_[k] != 0) k = (k + 1) & mask;
    slots_[k] = s;
  }
}

TCentralEntry CentralEntryOf(const TZipHeaderInfo& h, TByteStore& store) {
  TCentralEntry e;
  const std::string extra = WithoutZip64Field(h.CentralExtra);
  const std::string name = h.StoredName();
  e.NameLen = static_cast<uint16_t>(std::min<size_t>(name.size(), 0xFFFF));
  e.ExtraLen = static_cast<uint16_t>(std::min<size_t>(extra.size(), 0xFFFF - 28));
  e.CommentLen = static_cast<uint16_t>(std::min<size_t>(h.FileComment.size(), 0xFFFF));
  e.Bytes = store.Add(std::string_view(name).substr(0, e.NameLen),
                      std::string_view(extra).substr(0, e.ExtraLen),
                      std::string_view(h.FileComment).substr(0, e.CommentLen));
  e.Uncompressed = h.UncompressedSize();
  e.Compressed = h.CompressedSize();
  e.Offset = h.LocalHeaderOffset();
  e.Crc = h.CRC32;
  e.DosTime = h.ModifDateTime;
  e.ExtAttr = h.ExtFileAttrib;
  e.VersionMadeBy = h.VersionMadeBy;
  e.VersionNeeded = h.VersionNeeded;
  e.Flag = h.Flag;
  e.Method = h.ComprMethod;
  e.IntAttr = h.IntFileAttrib;
  return e;
}

void AppendCentralRecord(std::string& out, const TCentralEntry& e) {
  std::string z;
  if (e.Uncompressed >= kSat32Value) PutU64(z, e.Uncompressed);
  if (e.Compressed >= kSat32Value) PutU64(z, e.Compressed);
  if (e.Offset >= kSat32Value) PutU64(z, e.Offset);
  if (e.Disk >= kSat16Value) PutU32(z, e.Disk);
  const size_t extraLen = (z.empty() ? 0 : 4 + z.size()) + e.ExtraLen;
  PutU32(out, zipsig::kCentralHeader);
  PutU16(out, e.VersionMadeBy);
  PutU16(out, z.empty() ? e.VersionNeeded : std::max<uint16_t>(e.VersionNeeded, 45));
  PutU16(out, e.Flag);
  PutU16(out, e.Method);
  PutU32(out, e.DosTime);
  PutU32(out, e.Crc);
  PutU32(out, static_cast<uint32_t>(std::min<uint64_t>(e.Compressed, kSat32Value)));
  PutU32(out, static_cast<uint32_t>(std::min<uint64_t>(e.Uncompressed, kSat32Value)));
  PutU16(out, e.NameLen);
  PutU16(out, static_cast<uint16_t>(extraLen));
  PutU16(out, e.CommentLen);
  PutU16(out, static_cast<uint16_t>(std::min<uint32_t>(e.Disk, kSat16Value)));
  PutU16(out, e.IntAttr);
  PutU32(out, e.ExtAttr);
  PutU32(out, static_cast<uint32_t>(std::min<uint64_t>(e.Offset, kSat32Value)));
  out.append(e.Name());
  if (!z.empty()) {
    PutU16(out, kZip64ExtraId);
    PutU16(out, static_cast<uint16_t>(z.size()));
    out += z;
  }
  out.append(e.Extra());
  out.append(e.Comment());
}

std::string EndRecordsBytes(TEndCentral& ec, uint64_t entries, uint64_t cdSize, uint64_t cdOffset,
                            const std::string& comment) {
  TEndPlacement at;
  at.EntriesThisDisk = entries;
  at.Pos = cdOffset + cdSize;
  return EndRecordsBytes(ec, entries, cdSize, cdOffset, comment, at);
}

std::string EndRecordsBytes(TEndCentral& ec, uint64_t entries, uint64_t cdSize, uint64_t cdOffset,
                            const std::string& comment, const TEndPlacement& at) {
  ec.SetThisDiskNo(at.ThisDisk);
  ec.SetCentralDiskNo(at.CentralDisk);
  ec.SetEntriesThisDisk(at.EntriesThisDisk);
  ec.SetTotalEntries(entries);
  ec.SetCentralSize(cdSize);
  ec.SetCentralOffset(cdOffset);
  ec.Comment = comment.substr(0, 0xFFFF);
  ec.CommentLen = static_cast<uint16_t>(ec.Comment.size());
  std::string out;
  ec.HasZip64 = ec.NeedsZip64Record();
  if (ec.HasZip64) {
    uint64_t z64Pos = at.Pos;
    PutU32(out, zipsig::kZip64EndCentral);
    PutU64(out, kZip64EndCentralSize - 12);
    PutU16(out, 45);
    PutU16(out, 45);
    PutU32(out, at.ThisDisk);
    PutU32(out, at.CentralDisk);
    PutU64(out, at.EntriesThisDisk);
    PutU64(out, entries);
    PutU64(out, cdSize);
    PutU64(out, cdOffset);
    PutU32(out, zipsig::kZip64Locator);
    PutU32(out, at.ThisDisk);
    PutU64(out, z64Pos);
    PutU32(out, at.ThisDisk + 1);
    ec.LocZip64EndOffset = z64Pos;
    ec.LocTotalDisks = at.ThisDisk + 1;
  }
  PutU32(out, zipsig::kEndCentral);
  PutU16(out, ec.ThisDiskNo);
  PutU16(out, ec.CentralDiskNo);
  PutU16(out, ec.EntriesThisDisk);
  PutU16(out, ec.TotalEntries);
  PutU32(out, ec.CentralSize);
  PutU32(out, ec.CentralOffset);
  PutU16(out, ec.CommentLen);
  out += ec.Comment;
  return out;
}

bool IsValidUtf8(const std::string& s) {
  size_t i = 0, n = s.size();
  while (i < n) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t len;
    uint32_t cp;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      len = 2;
      cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      len = 3;
      cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      len = 4;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + len > n) return false;
    for (size_t k = 1; k < len; ++k) {
      unsigned char d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    if ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) ||
        cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += len;
  }
  return true;
}
