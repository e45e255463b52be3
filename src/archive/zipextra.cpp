#include "archive/zipextra.h"

#include <sys/stat.h>

#include "archive/zipcrypt.h"
#include "archive/zipwriter.h"

namespace {

// Seconds between 1601-01-01 (the NTFS epoch) and 1970-01-01.
constexpr int64_t kNtfsEpochShift = 11644473600LL;
constexpr int64_t kNtfsTicks = 10000000LL;  // 100 ns steps per second

const uint8_t* Field(const std::string& extra, uint16_t id, size_t& len) {
  return FindExtraField(reinterpret_cast<const uint8_t*>(extra.data()), extra.size(), id, len);
}

uint32_t Crc32Of(const std::string& s) {
  return ZipCrc32(0, s.data(), s.size());
}

// The UTF-8 text of an Info-ZIP Unicode field (0x7075 or 0x6375) that belongs to raw.
std::string UnicodeFieldOf(const std::string& extra, uint16_t id, const std::string& raw) {
  size_t n = 0;
  const uint8_t* d = Field(extra, id, n);
  if (!d || n < 5 || d[0] != 1 || GetU32(d + 1) != Crc32Of(raw)) return "";
  std::string text(reinterpret_cast<const char*>(d + 5), n - 5);
  if (!IsValidUtf8(text) || text.find('\0') != std::string::npos) return "";
  return text;
}

}  // namespace

std::string UnixExtraFields(int64_t mtime, uid_t uid, gid_t gid) {
  std::string out;
  if (mtime >= INT32_MIN && mtime <= INT32_MAX) {
    PutU16(out, kExtTimeExtraId);
    PutU16(out, 5);
    out.push_back(1);  // the modification time follows
    PutU32(out, static_cast<uint32_t>(static_cast<int32_t>(mtime)));
  } else {
    // Beyond January 2038 (or before December 1901): the 64-bit NTFS times.
    const uint64_t ft = static_cast<uint64_t>((mtime + kNtfsEpochShift) * kNtfsTicks);
    PutU16(out, kNtfsExtraId);
    PutU16(out, 32);
    PutU32(out, 0);       // reserved
    PutU16(out, 0x0001);  // the times attribute
    PutU16(out, 24);
    for (int i = 0; i < 3; ++i) PutU64(out, ft);
  }
  PutU16(out, kUnixOwnerExtraId);
  PutU16(out, 11);
  out.push_back(1);  // version
  out.push_back(4);
  PutU32(out, static_cast<uint32_t>(uid));
  out.push_back(4);
  PutU32(out, static_cast<uint32_t>(gid));
  return out;
}

std::string UnixFieldsOf(const std::string& extra) {
  std::string out;
  const auto* b = reinterpret_cast<const uint8_t*>(extra.data());
  size_t p = 0;
  while (p + 4 <= extra.size()) {
    const uint16_t id = GetU16(b + p), len = GetU16(b + p + 2);
    if (p + 4 + len > extra.size()) break;
    if (id == kExtTimeExtraId || id == kNtfsExtraId || id == kUnixOwnerExtraId)
      out.append(extra, p, 4 + len);
    p += 4 + len;
  }
  return out;
}

bool EntryModTime(const TZipHeaderInfo& h, std::time_t& out, bool* exact) {
  if (exact) *exact = true;
  size_t n = 0;
  // 0x5455: a flags byte, then the times it announces; the central record has at most the
  // modification time.
  if (const uint8_t* d = Field(h.CentralExtra, kExtTimeExtraId, n); d && n >= 5 && (d[0] & 1)) {
    out = static_cast<std::time_t>(static_cast<int32_t>(GetU32(d + 1)));
    return true;
  }
  // 0x000A: 4 reserved bytes, then attributes (tag, size); tag 1 holds the three times.
  if (const uint8_t* d = Field(h.CentralExtra, kNtfsExtraId, n); d && n >= 4) {
    size_t p = 4;
    while (p + 4 <= n) {
      const uint16_t tag = GetU16(d + p), size = GetU16(d + p + 2);
      if (p + 4 + size > n) break;
      if (tag == 0x0001 && size >= 24) {
        const uint64_t ft = GetU64(d + p + 4);
        if (ft != 0) {
          out = static_cast<std::time_t>(static_cast<int64_t>(ft / kNtfsTicks) - kNtfsEpochShift);
          return true;
        }
      }
      p += 4 + size;
    }
  }
  if (exact) *exact = false;
  return DosDateTimeToTime(h.ModifDateTime, out);
}

bool EntryOwner(const TZipHeaderInfo& h, uid_t& uid, gid_t& gid) {
  size_t n = 0;
  const uint8_t* d = Field(h.CentralExtra, kUnixOwnerExtraId, n);
  if (!d || n < 3 || d[0] != 1) return false;
  // Version 1: the uid's size and value, then the gid's; little-endian, at most 8 bytes each.
  size_t p = 1;
  uint64_t ids[2] = {0, 0};
  for (auto& id : ids) {
    if (p >= n) return false;
    const size_t size = d[p++];
    if (size == 0 || size > 8 || p + size > n) return false;
    for (size_t k = 0; k < size; ++k) id |= static_cast<uint64_t>(d[p + k]) << (8 * k);
    p += size;
  }
  if (ids[0] > UINT32_MAX || ids[1] > UINT32_MAX) return false;
  uid = static_cast<uid_t>(ids[0]);
  gid = static_cast<gid_t>(ids[1]);
  return true;
}

std::string UnicodePathOf(const std::string& extra, const std::string& raw) {
  return UnicodeFieldOf(extra, kUnicodePathExtraId, raw);
}

std::string EntryComment(const TZipHeaderInfo& h) {
  std::string text = UnicodeFieldOf(h.CentralExtra, kUnicodeCommentExtraId, h.FileComment);
  return text.empty() ? h.FileComment : text;
}

bool LocalNameMatches(const TZipHeaderInfo& h, const std::string& localName,
                      const std::string& localExtra) {
  if (localName == h.StoredName()) return true;
  // The local header may hold a legacy form of the name beside its own Unicode path field, or
  // the Unicode name itself; either names the entry the directory shows.
  std::string full = h.FullName();
  if (FolderByAttribute(h) && !full.empty() && full.back() == '/') full.pop_back();
  if (localName == full) return true;
  const std::string unicode = UnicodePathOf(localExtra, localName);
  return !unicode.empty() && unicode == full;
}

bool FolderByAttribute(const TZipHeaderInfo& h) {
  if (h.UncompressedSize() != 0) return false;
  const uint32_t mode = h.ExtFileAttrib >> 16;
  if (h.HostByte() == 3 && mode != 0) return S_ISDIR(mode);
  return (h.ExtFileAttrib & 0x10) != 0;
}
