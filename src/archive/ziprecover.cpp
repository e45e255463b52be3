// The recovery scan: the entry list of a damaged archive rebuilt from its local headers.
//
// The search for the first local header starts past a self-extractor stub, looks at memchr speed
// and dispatches messages every 10240 bytes. From a header that reads, the walk takes header
// after header; an entry with a data descriptor (flag bit 3) whose header states no sizes ends
// where its deflated data ends, or at a descriptor whose compressed size equals its distance. The
// central records found where the walk ends are merged by name. Names that occur twice get " (2)",
// " (3)" before their extension, so the list reads like any other.
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <vector>

#include "archive/arcunzip.h"
#include "archive/zipaes.h"
#include "archive/zipexceptions.h"

namespace {

constexpr int64_t kDispatchEvery = 10240;
constexpr int64_t kExeStubSkip = 14000;

std::string LowerAscii(std::string s) {
  for (auto& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return s;
}

bool EndsWithExe(const std::string& name) {
  return name.size() >= 4 && LowerAscii(name.substr(name.size() - 4)) == ".exe";
}

// The end of an ELF image at the start of s (its headers, segments and sections), or 0 when s
// does not start with a little-endian ELF image that fits in the file.
int64_t ElfImageEnd(THugeStream& s, int64_t size) {
  uint8_t h[64];
  if (size < 64 || s.ReadAt(0, h, sizeof h) != sizeof h) return 0;
  if (std::memcmp(h,
                  "\x7f"
                  "ELF",
                  4) != 0 ||
      h[5] != 1)
    return 0;
  const bool is64 = h[4] == 2;
  if (!is64 && h[4] != 1) return 0;
  auto u16 = [&](const uint8_t* p) { return static_cast<uint64_t>(GetU16(p)); };
  auto word = [&](const uint8_t* p) { return is64 ? GetU64(p) : GetU32(p); };
  const uint64_t phoff = word(h + (is64 ? 0x20 : 0x1C));
  const uint64_t shoff = word(h + (is64 ? 0x28 : 0x20));
  const uint64_t phentsize = u16(h + (is64 ? 0x36 : 0x2A)), phnum = u16(h + (is64 ? 0x38 : 0x2C));
  const uint64_t shentsize = u16(h + (is64 ? 0x3A : 0x2E)), shnum = u16(h + (is64 ? 0x3C : 0x30));
  const uint64_t limit = static_cast<uint64_t>(size);
  uint64_t end = is64 ? 64 : 52;
  auto table = [&](uint64_t off, uint64_t entsize, uint64_t num, auto&& each) {
    if (num == 0) return true;
    if (entsize < (is64 ? 0x28u : 0x20u) || off > limit || entsize * num > limit - off)
      return false;
    end = std::max(end, off + entsize * num);
    std::vector<uint8_t> e(entsize);
    for (uint64_t i = 0; i < num; ++i) {
      if (s.ReadAt(static_cast<int64_t>(off + i * entsize), e.data(), e.size()) != e.size())
        return false;
      each(e.data());
    }
    return true;
  };
  bool ok = table(phoff, phentsize, phnum, [&](const uint8_t* p) {
    uint64_t o = word(p + (is64 ? 0x08 : 0x04)), n = word(p + (is64 ? 0x20 : 0x10));
    if (o <= limit && n <= limit - o) end = std::max(end, o + n);
  });
  ok = ok && table(shoff, shentsize, shnum, [&](const uint8_t* p) {
         if (GetU32(p + 4) == 8) return;  // SHT_NOBITS takes no room in the file
         uint64_t o = word(p + (is64 ? 0x18 : 0x10)), n = word(p + (is64 ? 0x20 : 0x14));
         if (o <= limit && n <= limit - o) end = std::max(end, o + n);
       });
  return ok && end <= limit ? static_cast<int64_t>(end) : 0;
}

// A local header as stored.
struct TLocal {
  int64_t pos = 0;
  uint16_t version = 0, flags = 0, method = 0, nameLen = 0, extraLen = 0;
  uint32_t dosTime = 0, crc = 0;
  uint64_t csize = 0, usize = 0;
  bool zip64 = false;
  std::string name, extra;
  int64_t DataStart() const {
    return pos + static_cast<int64_t>(kLocalHeaderSize) + nameLen + extraLen;
  }
};

// Reads the local header at pos; false when none is there (signature, version, a name, and the
// header within the file).
bool ReadLocal(THugeStream& s, int64_t pos, int64_t size, TLocal& l) {
  uint8_t f[kLocalHeaderSize];
  if (pos < 0 || size - pos < static_cast<int64_t>(sizeof f)) return false;
  if (s.ReadAt(pos, f, sizeof f) != sizeof f || GetU32(f) != zipsig::kLocalHeader) return false;
  l = TLocal();
  l.pos = pos;
  l.version = GetU16(f + 4);
  if ((l.version >> 8) >= 10) return false;
  l.flags = GetU16(f + 6);
  l.method = GetU16(f + 8);
  l.dosTime = GetU32(f + 10);
  l.crc = GetU32(f + 14);
  l.csize = GetU32(f + 18);
  l.usize = GetU32(f + 22);
  l.nameLen = GetU16(f + 26);
  l.extraLen = GetU16(f + 28);
  if (l.nameLen == 0 || l.DataStart() > size) return false;
  l.name.resize(l.nameLen);
  l.extra.resize(l.extraLen);
  s.ReadExactAt(pos + static_cast<int64_t>(sizeof f), l.name.data(), l.nameLen);
  if (l.extraLen)
    s.ReadExactAt(pos + static_cast<int64_t>(sizeof f) + l.nameLen, l.extra.data(), l.extraLen);
  if (l.name.find('\0') != std::string::npos) return false;
  if (l.csize == 0xFFFFFFFF || l.usize == 0xFFFFFFFF) {
    size_t n = 0;
    const uint8_t* z = FindExtraField(reinterpret_cast<const uint8_t*>(l.extra.data()),
                                      l.extra.size(), kZip64ExtraId, n);
    // A local Zip64 field holds both sizes.
    if (z && n >= 16) {
      l.usize = GetU64(z);
      l.csize = GetU64(z + 8);
      l.zip64 = true;
    }
  }
  return true;
}

// A data descriptor: CRC and sizes after an entry's data.
struct TDescriptor {
  uint32_t crc = 0;
  uint64_t csize = 0, usize = 0;
  int64_t length = 0;
};

// The descriptor at pos for data of csize bytes, in any of its forms (signature or not, 32-bit
// or 64-bit sizes), or false.
bool DescriptorAt(THugeStream& s, int64_t pos, int64_t size, uint64_t csize, TDescriptor& d) {
  uint8_t b[24] = {};
  size_t n = s.ReadAt(pos, b,
                      static_cast<size_t>(std::min<int64_t>(24, std::max<int64_t>(0, size - pos))));
  for (int sig = 1; sig >= 0; --sig) {
    const uint8_t* p = b + (sig ? 4 : 0);
    if (sig && (n < 4 || GetU32(b) != zipsig::kDataDescriptor)) continue;
    for (int wide = 0; wide <= 1; ++wide) {
      size_t len = (sig ? 4u : 0u) + (wide ? 20u : 12u);
      if (n < len) continue;
      uint64_t c = wide ? GetU64(p + 4) : GetU32(p + 4);
      if (c != csize) continue;
      d.crc = GetU32(p);
      d.csize = c;
      d.usize = wide ? GetU64(p + 12) : GetU32(p + 8);
      d.length = static_cast<int64_t>(len);
      return true;
    }
  }
  return false;
}

// Where raw deflate data starting at pos ends, or -1 when it does not inflate to its end.
int64_t DeflateEnd(THugeStream& s, int64_t pos, int64_t size,
                   const std::function<void()>& dispatch) {
  z_stream z{};
  if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return -1;
  std::vector<uint8_t> in(65536), out(65536);
  int64_t at = pos;
  int64_t result = -1;
  int64_t sinceDispatch = 0;
  for (;;) {
    if (z.avail_in == 0) {
      size_t n =
          s.ReadAt(at, in.data(), static_cast<size_t>(std::min<int64_t>(in.size(), size - at)));
      if (n == 0) break;
      at += static_cast<int64_t>(n);
      z.next_in = in.data();
      z.avail_in = static_cast<uInt>(n);
      if ((sinceDispatch += static_cast<int64_t>(n)) >= kDispatchEvery) {
        sinceDispatch = 0;
        dispatch();
      }
    }
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    int rc = inflate(&z, Z_NO_FLUSH);
    if (rc == Z_STREAM_END) {
      result = pos + static_cast<int64_t>(z.total_in);
      break;
    }
    if (rc != Z_OK && rc != Z_BUF_ERROR) break;
  }
  inflateEnd(&z);
  return result;
}

// The first descriptor after dataStart whose compressed size equals its distance from dataStart:
// one with its signature, or one right before the next header or directory record.
bool FindDescriptor(THugeStream& s, int64_t dataStart, int64_t size, TDescriptor& d, int64_t& end,
                    const std::function<void()>& dispatch) {
  std::vector<uint8_t> buf(1 << 20);
  int64_t pos = dataStart;
  while (size - pos >= 4) {
    size_t n =
        s.ReadAt(pos, buf.data(), static_cast<size_t>(std::min<int64_t>(buf.size(), size - pos)));
    if (n < 4) break;
    for (size_t off = 0; off + 4 <= n; off += kDispatchEvery) {
      const uint8_t* from = buf.data() + off;
      const uint8_t* to = buf.data() + std::min(n, off + kDispatchEvery + 3);
      for (const uint8_t* p = from; (p = static_cast<const uint8_t*>(std::memchr(p, 'P', to - p)));
           ++p) {
        if (to - p < 4 || p[1] != 'K') continue;
        int64_t at = pos + (p - buf.data());
        if (p[2] == 7 && p[3] == 8 &&
            DescriptorAt(s, at, size, static_cast<uint64_t>(at - dataStart), d)) {
          end = at;
          return true;
        }
        bool next =
            (p[2] == 3 && p[3] == 4) || (p[2] == 1 && p[3] == 2) || (p[2] == 5 && p[3] == 6);
        if (!next) continue;
        for (int64_t len : {12, 20}) {
          int64_t q = at - len;
          if (q >= dataStart && DescriptorAt(s, q, at, static_cast<uint64_t>(q - dataStart), d) &&
              d.length == len) {
            end = q;
            return true;
          }
        }
      }
      dispatch();
    }
    if (static_cast<int64_t>(n) == size - pos) break;
    pos += static_cast<int64_t>(n) - 3;
  }
  // The last entry of a file cut right after it.
  for (int64_t len : {12, 20}) {
    int64_t q = size - len;
    if (q >= dataStart && DescriptorAt(s, q, size, static_cast<uint64_t>(q - dataStart), d) &&
        d.length == len) {
      end = q;
      return true;
    }
  }
  return false;
}

// Extra data without its Zip64 field (which describes the record it came from).
std::string WithoutZip64(const std::string& extra) {
  std::string out;
  size_t i = 0;
  while (i + 4 <= extra.size()) {
    uint16_t id = GetU16(reinterpret_cast<const uint8_t*>(extra.data()) + i);
    size_t len = GetU16(reinterpret_cast<const uint8_t*>(extra.data()) + i + 2);
    if (i + 4 + len > extra.size()) break;
    if (id != kZip64ExtraId) out.append(extra, i, 4 + len);
    i += 4 + len;
  }
  return out;
}

// "name (k).ext" for a stored full name; the extension is what follows the last dot of the last
// part (a leading dot does not start one).
std::string NumberedName(const std::string& full, int k) {
  size_t slash = full.rfind('/');
  size_t base = slash == std::string::npos ? 0 : slash + 1;
  size_t dot = full.rfind('.');
  std::string tag = " (" + std::to_string(k) + ")";
  if (dot == std::string::npos || dot <= base) return full + tag;
  return full.substr(0, dot) + tag + full.substr(dot);
}

}  // namespace

bool TArcUnZip::RecoveryScan() {
  if (scanned_) return false;
  scanned_ = true;
  recoveryMode_ = true;
  entries_.clear();
  order_.clear();
  selectedCount_ = 0;
  fromZfc_ = false;

  THugeStream& s = ArchiveStream();
  const int64_t size = s.Size();
  auto dispatch = [this] { CheckCancel(); };

  // A self-extractor's stub is passed over: an ELF image as a whole, another ".EXE" stub by its
  // usual size.
  int64_t from = ElfImageEnd(s, size);
  if (from == 0 && EndsWithExe(zipName_)) from = std::min(kExeStubSkip, size);

  std::vector<uint8_t> buf(1 << 20);
  auto findSignature = [&](int64_t start) -> int64_t {
    int64_t pos = start;
    while (size - pos >= 4) {
      size_t n =
          s.ReadAt(pos, buf.data(), static_cast<size_t>(std::min<int64_t>(buf.size(), size - pos)));
      if (n < 4) break;
      for (size_t off = 0; off + 4 <= n; off += kDispatchEvery) {
        const uint8_t* p = buf.data() + off;
        const uint8_t* to = buf.data() + std::min(n, off + kDispatchEvery + 3);
        while (p < to && (p = static_cast<const uint8_t*>(memmem(p, to - p, "PK\3\4", 4)))) {
          int64_t at = pos + (p - buf.data());
          uint8_t v[2];
          if (s.ReadAt(at + 4, v, 2) == 2 && v[1] < 10) return at;
          ++p;
        }
        dispatch();
      }
      if (static_cast<int64_t>(n) == size - pos) break;
      pos += static_cast<int64_t>(n) - 3;
    }
    return -1;
  };

  // The walk from a header: every header that follows its predecessor's data.
  int64_t walkEnd = 0;
  for (int64_t candidate = findSignature(from); candidate >= 0;
       candidate = findSignature(candidate + 1)) {
    int64_t pos = candidate;
    TLocal l;
    while (ReadLocal(s, pos, size, l)) {
      dispatch();
      TZipHeaderInfo h;
      h.VersionMadeBy = static_cast<uint16_t>(0x0300 | (l.version & 0xFF));
      h.VersionNeeded = l.version;
      h.Flag = l.flags;
      h.ComprMethod = l.method;
      h.ModifDateTime = l.dosTime;
      h.CRC32 = l.crc;
      h.FileNameLength = l.nameLen;
      h.LocalExtraFieldLength = l.extraLen;
      h.IntFileAttrib = 0;
      const bool folder = l.name.back() == '/';
      h.ExtFileAttrib = folder ? (040755u << 16) | 0x10 : 0100644u << 16;
      uint64_t csize = l.csize, usize = l.usize;
      const int64_t dataStart = l.DataStart();
      int64_t dataEnd = -1, next = -1;
      if (l.flags & 8) {
        // Sizes and CRC follow the data; a header may state them as 0.
        TDescriptor d;
        int64_t end = -1;
        if (csize > 0 && csize <= static_cast<uint64_t>(size - dataStart) &&
            DescriptorAt(s, dataStart + static_cast<int64_t>(csize), size, csize, d))
          end = dataStart + static_cast<int64_t>(csize);
        if (end < 0 && l.method == 8 && !(l.flags & 1)) {
          int64_t e = DeflateEnd(s, dataStart, size, dispatch);
          if (e >= 0 && DescriptorAt(s, e, size, static_cast<uint64_t>(e - dataStart), d)) end = e;
        }
        if (end < 0 && !FindDescriptor(s, dataStart, size, d, end, dispatch)) end = -1;
        if (end >= 0) {
          csize = d.csize;
          usize = d.usize;
          h.CRC32 = d.crc;
          dataEnd = end;
          next = end + d.length;
        }
      } else if (csize <= static_cast<uint64_t>(size - dataStart)) {
        dataEnd = dataStart + static_cast<int64_t>(csize);
        next = dataEnd;
      }
      if (dataEnd < 0) {
        // Cut short: the entry is listed with the bytes it would need, and the walk ends.
        if (!(l.flags & 8) && csize > static_cast<uint64_t>(INT64_MAX - dataStart)) break;
        if (l.flags & 8) csize = static_cast<uint64_t>(size - dataStart) + 1;
      }
      if (csize >= 0xFFFFFFFF || usize >= 0xFFFFFFFF || pos >= 0xFFFFFFFF) {
        h.ComprSize = h.UnComprSize = 0xFFFFFFFF;
        h.ComprSize64 = csize;
        h.UnComprSize64 = usize;
        h.HasComprSize64 = h.HasUnComprSize64 = true;
        if (pos >= 0xFFFFFFFF) {
          h.RelOffLocalHdr = 0xFFFFFFFF;
          h.RelOffLocalHdr64 = static_cast<uint64_t>(pos);
          h.HasRelOffLocalHdr64 = true;
        }
      } else {
        h.ComprSize = static_cast<uint32_t>(csize);
        h.UnComprSize = static_cast<uint32_t>(usize);
      }
      if (!h.HasRelOffLocalHdr64) h.RelOffLocalHdr = static_cast<uint32_t>(pos);
      // An AES entry's field (its real method and key strength) is in its local header too.
      if (h.IsAes()) {
        h.CentralExtra = FindAesFieldBytes(l.extra);
        h.ExtraFieldLength = static_cast<uint16_t>(h.CentralExtra.size());
      }
      h.OEMMode = OEMConvert;
      h.SetNames(l.name, DecodedName(h, l.name));
      entries_.push_back(std::move(h));
      if (dataEnd < 0) {
        // The directory would begin where the cut entry's data would end, so that the entry's
        // range reads as its own (and tests as cut short).
        walkEnd = dataStart + static_cast<int64_t>(csize);
        break;
      }
      pos = next;
      walkEnd = pos;
    }
    if (!entries_.empty()) break;
    // Not a header after all (a signature inside a stub or data): the search goes on after it.
  }
  if (entries_.empty()) return false;

  // The directory after the walk: records matched by stored name take over the entry's fields
  // but keep the offset the walk found. The first record that does not read ends the merge.
  {
    std::multimap<std::string, size_t> byName;
    for (size_t i = 0; i < entries_.size(); ++i) byName.emplace(entries_[i].StoredName(), i);
    int64_t pos = walkEnd;
    for (;;) {
      dispatch();
      uint8_t f[kCentralHeaderSize];
      if (size - pos < static_cast<int64_t>(sizeof f) || s.ReadAt(pos, f, sizeof f) != sizeof f ||
          GetU32(f) != zipsig::kCentralHeader)
        break;
      TZipHeaderInfo c;
      ParseCentralFixed(f, c);
      int64_t len =
          static_cast<int64_t>(sizeof f) + c.FileNameLength + c.ExtraFieldLength + c.FileCommentLen;
      if (size - pos < len) break;
      std::string raw(c.FileNameLength, '\0');
      c.CentralExtra.resize(c.ExtraFieldLength);
      c.FileComment.resize(c.FileCommentLen);
      int64_t at = pos + static_cast<int64_t>(sizeof f);
      s.ReadExactAt(at, raw.data(), raw.size());
      s.ReadExactAt(at + c.FileNameLength, c.CentralExtra.data(), c.CentralExtra.size());
      s.ReadExactAt(at + c.FileNameLength + c.ExtraFieldLength, c.FileComment.data(),
                    c.FileComment.size());
      if (!ParseZip64Extra(reinterpret_cast<const uint8_t*>(c.CentralExtra.data()),
                           c.CentralExtra.size(), c))
        break;
      auto it = byName.lower_bound(raw);  // equal names: the first one walked first
      if (it != byName.end() && it->first == raw) {
        // The record brings what only it holds: the system that made the entry, attributes,
        // comment and extra fields. Method, flags, CRC, sizes and date stay those of the local
        // header (or descriptor) the walk read, which the data was found to match.
        TZipHeaderInfo& h = entries_[it->second];
        byName.erase(it);
        h.CentralOffset = pos;
        h.VersionMadeBy = c.VersionMadeBy;
        h.IntFileAttrib = c.IntFileAttrib;
        h.ExtFileAttrib = c.ExtFileAttrib;
        h.FileComment = std::move(c.FileComment);
        h.FileCommentLen = c.FileCommentLen;
        h.CentralExtra = WithoutZip64(c.CentralExtra);
        h.ExtraFieldLength = static_cast<uint16_t>(h.CentralExtra.size());
        h.SetNames(raw, DecodedName(h, raw));
      }
      pos += len;
    }
  }

  // Names that occur more than once: the later entries are numbered; a repeated folder entry,
  // which holds nothing, is listed once.
  {
    std::set<std::string> taken, seen;
    for (const auto& h : entries_) taken.insert(h.FullName());
    std::vector<TZipHeaderInfo> kept;
    kept.reserve(entries_.size());
    for (auto& h : entries_) {
      std::string full = h.FullName();
      if (seen.insert(full).second) {
        kept.push_back(std::move(h));
        continue;
      }
      if (h.IsFolder()) continue;
      std::string renamed;
      for (int k = 2;; ++k) {
        renamed = NumberedName(full, k);
        if (taken.insert(renamed).second) break;
      }
      h.SetNames(h.StoredName(), renamed);
      kept.push_back(std::move(h));
    }
    entries_ = std::move(kept);
  }

  // Each entry's data must end where the next header (or the walk) ends.
  for (size_t i = 0; i < entries_.size(); ++i)
    entries_[i].NextOffset = i + 1 < entries_.size() ? entries_[i + 1].LocalHeaderOffset()
                                                     : static_cast<uint64_t>(walkEnd);

  endCentral_ = TEndCentral();
  endCentral_.SetCentralOffset(static_cast<uint64_t>(walkEnd));
  endCentral_.SetTotalEntries(entries_.size());
  endCentral_.SetEntriesThisDisk(entries_.size());
  MultiZipInfo.MultiMode = TMultiMode::mmNone;
  Resort();
  return true;
}
