#include "disc/rockridge.h"

#include <algorithm>
#include <cstring>
#include <ctime>

namespace rr {

namespace {

constexpr uint32_t kSector = 2048;
constexpr size_t kMaxField = 255;
constexpr size_t kCeLength = 28;

void Both32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) {
    p[i] = static_cast<uint8_t>(v >> (8 * i));
    p[4 + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
  }
}

uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

TField Head(const char* sig, size_t length) {
  TField f(length, 0);
  f[0] = static_cast<uint8_t>(sig[0]);
  f[1] = static_cast<uint8_t>(sig[1]);
  f[2] = static_cast<uint8_t>(length);
  f[3] = 1;
  return f;
}

TField CE(uint32_t block, uint32_t offset, uint32_t length) {
  TField f = Head("CE", kCeLength);
  Both32(&f[4], block);
  Both32(&f[12], offset);
  Both32(&f[20], length);
  return f;
}

size_t SizeOf(const std::vector<TField>& fields, size_t from) {
  size_t n = 0;
  for (size_t i = from; i < fields.size(); ++i) n += fields[i].size();
  return n;
}

// Fields from `from` on into continuation areas; returns the first area's place and length.
void PlaceContinued(const std::vector<TField>& fields, size_t from, TContinuation& ce,
                    uint32_t& block, uint32_t& offset, uint32_t& length) {
  size_t end = fields.size(), bytes = SizeOf(fields, from);
  bool more = false;
  if (bytes > kSector) {
    // As many as fit with a "CE" to the next area.
    bytes = 0;
    end = from;
    while (end < fields.size() && bytes + fields[end].size() + kCeLength <= kSector)
      bytes += fields[end++].size();
    bytes += kCeLength;
    more = true;
  }
  if (ce.Offset + bytes > kSector) {
    ++ce.Sector;
    ce.Offset = 0;
  }
  block = ce.Start + ce.Sector;
  offset = ce.Offset;
  length = static_cast<uint32_t>(bytes);
  ce.Offset += static_cast<uint32_t>(bytes);
  uint8_t* out = ce.Out ? ce.Out + size_t{block - ce.Start} * kSector + offset : nullptr;
  for (size_t i = from; i < end; ++i) {
    if (out) std::memcpy(out, fields[i].data(), fields[i].size());
    if (out) out += fields[i].size();
  }
  if (more) {
    uint32_t b, o, l;
    PlaceContinued(fields, end, ce, b, o, l);
    if (out) {
      const TField next = CE(b, o, l);
      std::memcpy(out, next.data(), next.size());
    }
  }
}

int64_t LongFormDate(const uint8_t* p) {
  int v[7];
  for (int i = 0; i < 7; ++i) {
    const int width = i == 0 ? 4 : 2;
    const uint8_t* q = p + (i == 0 ? 0 : 2 + 2 * i);
    v[i] = 0;
    for (int k = 0; k < width; ++k) {
      if (q[k] < '0' || q[k] > '9') return 0;
      v[i] = v[i] * 10 + (q[k] - '0');
    }
  }
  if (v[0] == 0) return 0;
  struct tm tm {};
  tm.tm_year = v[0] - 1900;
  tm.tm_mon = v[1] - 1;
  tm.tm_mday = v[2];
  tm.tm_hour = v[3];
  tm.tm_min = v[4];
  tm.tm_sec = v[5];
  return static_cast<int64_t>(timegm(&tm)) - int64_t{static_cast<int8_t>(p[16])} * 900;
}

}  // namespace

TField SP() {
  TField f = Head("SP", 7);
  f[4] = 0xBE;
  f[5] = 0xEF;
  return f;
}

TField ER() {
  static const std::string id = "IEEE_P1282";
  static const std::string des =
      "THE IEEE P1282 PROTOCOL PROVIDES SUPPORT FOR POSIX FILE SYSTEM SEMANTICS.";
  static const std::string src =
      "PLEASE CONTACT THE IEEE STANDARDS DEPARTMENT, PISCATAWAY, NJ, USA FOR THE P1282 "
      "SPECIFICATION.";
  TField f = Head("ER", 8 + id.size() + des.size() + src.size());
  f[4] = static_cast<uint8_t>(id.size());
  f[5] = static_cast<uint8_t>(des.size());
  f[6] = static_cast<uint8_t>(src.size());
  f[7] = 1;
  std::copy(id.begin(), id.end(), f.begin() + 8);
  std::copy(des.begin(), des.end(), f.begin() + 8 + static_cast<long>(id.size()));
  std::copy(src.begin(), src.end(), f.begin() + 8 + static_cast<long>(id.size() + des.size()));
  return f;
}

TField PX(uint32_t mode, uint32_t links, uint32_t uid, uint32_t gid, uint32_t serial) {
  TField f = Head("PX", 44);
  Both32(&f[4], mode);
  Both32(&f[12], links);
  Both32(&f[20], uid);
  Both32(&f[28], gid);
  Both32(&f[36], serial);
  return f;
}

TField TF(int64_t mtime, int64_t atime, int64_t ctime) {
  TField f = Head("TF", 5 + 3 * 7);
  f[4] = 0x02 | 0x04 | 0x08;  // modify, access, attributes: in that order
  PutRecordDate(&f[5], mtime);
  PutRecordDate(&f[12], atime);
  PutRecordDate(&f[19], ctime);
  return f;
}

std::vector<TField> NM(const std::string& name) {
  std::vector<TField> out;
  constexpr size_t piece = kMaxField - 5;
  for (size_t at = 0; at < name.size() || out.empty(); at += piece) {
    const size_t n = std::min(piece, name.size() - at);
    TField f = Head("NM", 5 + n);
    f[4] = at + n < name.size() ? 1 : 0;  // continued in the next "NM"
    if (n) std::memcpy(f.data() + 5, name.data() + at, n);
    out.push_back(std::move(f));
  }
  return out;
}

std::vector<TField> SL(const std::string& target) {
  // Component records: flags (1 continued, 2 ".", 4 "..", 8 the root), length, text.
  std::vector<std::vector<uint8_t>> parts;
  size_t i = 0;
  if (!target.empty() && target[0] == '/') parts.push_back({8, 0});
  while (i <= target.size()) {
    size_t j = target.find('/', i);
    if (j == std::string::npos) j = target.size();
    const std::string c = target.substr(i, j - i);
    if (c == ".") {
      parts.push_back({2, 0});
    } else if (c == "..") {
      parts.push_back({4, 0});
    } else if (!c.empty()) {
      constexpr size_t piece = kMaxField - 5 - 2;
      for (size_t at = 0; at < c.size(); at += piece) {
        const size_t n = std::min(piece, c.size() - at);
        std::vector<uint8_t> r = {static_cast<uint8_t>(at + n < c.size() ? 1 : 0),
                                  static_cast<uint8_t>(n)};
        r.insert(r.end(), c.begin() + static_cast<long>(at), c.begin() + static_cast<long>(at + n));
        parts.push_back(std::move(r));
      }
    }
    i = j + 1;
  }
  if (parts.empty()) parts.push_back({2, 0});  // an empty target reads as "."
  std::vector<TField> out;
  TField f = Head("SL", 5);
  for (const auto& r : parts) {
    if (f.size() + r.size() > kMaxField) {
      f[2] = static_cast<uint8_t>(f.size());
      f[4] = 1;  // the link goes on in the next "SL"
      out.push_back(std::move(f));
      f = Head("SL", 5);
    }
    f.insert(f.end(), r.begin(), r.end());
  }
  f[2] = static_cast<uint8_t>(f.size());
  out.push_back(std::move(f));
  return out;
}

TField CL(uint32_t extent) {
  TField f = Head("CL", 12);
  Both32(&f[4], extent);
  return f;
}

TField PL(uint32_t extent) {
  TField f = Head("PL", 12);
  Both32(&f[4], extent);
  return f;
}

TField RE() {
  return Head("RE", 4);
}

std::vector<uint8_t> Place(const std::vector<TField>& fields, size_t room, TContinuation& ce) {
  std::vector<uint8_t> out;
  size_t end = fields.size();
  if (SizeOf(fields, 0) > room) {
    end = 0;
    size_t used = 0;
    while (end < fields.size() && used + fields[end].size() + kCeLength <= room)
      used += fields[end++].size();
  }
  for (size_t i = 0; i < end; ++i) out.insert(out.end(), fields[i].begin(), fields[i].end());
  if (end < fields.size()) {
    uint32_t block, offset, length;
    PlaceContinued(fields, end, ce, block, offset, length);
    const TField f = CE(block, offset, length);
    out.insert(out.end(), f.begin(), f.end());
  }
  if (out.size() % 2) out.push_back(0);
  return out;
}

void PutRecordDate(uint8_t* p, int64_t t) {
  time_t tt = static_cast<time_t>(t);
  struct tm tm {};
  if (!localtime_r(&tt, &tm)) {
    tt = time(nullptr);
    localtime_r(&tt, &tm);
  }
  // Years outside 1900-2155 are clamped.
  if (tm.tm_year < 0) {
    tm = {};
    tm.tm_mon = 0, tm.tm_mday = 1, tm.tm_gmtoff = 0;
  } else if (tm.tm_year > 255) {
    tm = {};
    tm.tm_year = 255, tm.tm_mon = 11, tm.tm_mday = 31, tm.tm_hour = 23, tm.tm_min = 59,
    tm.tm_sec = 59, tm.tm_gmtoff = 0;
  }
  p[0] = static_cast<uint8_t>(tm.tm_year);
  p[1] = static_cast<uint8_t>(tm.tm_mon + 1);
  p[2] = static_cast<uint8_t>(tm.tm_mday);
  p[3] = static_cast<uint8_t>(tm.tm_hour);
  p[4] = static_cast<uint8_t>(tm.tm_min);
  p[5] = static_cast<uint8_t>(std::min(tm.tm_sec, 59));
  p[6] = static_cast<uint8_t>(static_cast<int8_t>(tm.tm_gmtoff / 900));
}

int64_t RecordDate(const uint8_t* p) {
  if (p[0] == 0 && p[1] == 0 && p[2] == 0) return 0;  // not recorded
  struct tm tm {};
  tm.tm_year = p[0];
  tm.tm_mon = p[1] - 1;
  tm.tm_mday = p[2];
  tm.tm_hour = p[3];
  tm.tm_min = p[4];
  tm.tm_sec = p[5];
  const int offset = static_cast<int8_t>(p[6]);
  return static_cast<int64_t>(timegm(&tm)) - int64_t{offset} * 900;
}

void ReadSystemUse(const uint8_t* area, size_t length, uint32_t volumeEnd,
                   const TSectorReader& read, TEntryInfo& out) {
  std::vector<uint8_t> sector;
  bool linkContinues = false;  // the last component read goes on in the next one
  for (int areas = 0; areas <= 32; ++areas) {
    uint32_t nextBlock = 0, nextOffset = 0, nextLength = 0;
    bool next = false, stop = false;
    size_t at = 0;
    while (at + 4 <= length && !stop) {
      const uint8_t* f = area + at;
      const size_t n = f[2];
      if (n < 4 || at + n > length) break;
      at += n;
      const uint16_t sig = static_cast<uint16_t>(f[0] << 8 | f[1]);
      switch (sig) {
        case 'S' << 8 | 'T':
          stop = true;
          break;
        case 'S' << 8 | 'P':
          if (n >= 7 && f[4] == 0xBE && f[5] == 0xEF) {
            out.HasSP = true;
            out.Skip = f[6];
          }
          break;
        case 'C' << 8 | 'E':
          if (n >= 28) {
            next = true;
            nextBlock = Le32(f + 4);
            nextOffset = Le32(f + 12);
            nextLength = Le32(f + 20);
          }
          break;
        case 'P' << 8 | 'X':
          if (n >= 36) {
            out.HasMode = true;
            out.Mode = Le32(f + 4);
            out.Uid = Le32(f + 20);
            out.Gid = Le32(f + 28);
          }
          break;
        case 'T' << 8 | 'F': {
          const uint8_t flags = f[4];
          const size_t width = (flags & 0x80) ? 17 : 7;
          size_t p = 5;
          for (int bit = 0; bit < 7; ++bit) {
            if (!(flags & (1 << bit))) continue;
            if (p + width > n) break;
            const int64_t t = width == 17 ? LongFormDate(f + p) : RecordDate(f + p);
            if (bit == 1) out.MTime = t, out.HasTimes = true;
            if (bit == 2) out.ATime = t;
            if (bit == 3) out.CTime = t;
            p += width;
          }
          break;
        }
        case 'N' << 8 | 'M':
          if (n >= 5 && !(f[4] & 0x06)) {
            out.HasName = true;
            out.Name.append(reinterpret_cast<const char*>(f + 5), n - 5);
          }
          break;
        case 'S' << 8 | 'L': {
          out.HasLink = true;
          size_t p = 5;
          while (p + 2 <= n && p + 2 + f[p + 1] <= n) {
            const uint8_t flags = f[p];
            const std::string text(reinterpret_cast<const char*>(f + p + 2), f[p + 1]);
            std::string& l = out.Link;
            if (flags & 0x08) {
              l.assign(1, '/');
            } else {
              if (!linkContinues && !l.empty() && l.back() != '/') l += '/';
              l += (flags & 0x02) ? "." : (flags & 0x04) ? ".." : text;
            }
            linkContinues = (flags & 0x01) != 0;
            p += 2 + f[p + 1];
          }
          break;
        }
        case 'C' << 8 | 'L':
          if (n >= 12) {
            out.HasChild = true;
            out.Child = Le32(f + 4);
          }
          break;
        case 'R' << 8 | 'E':
          out.Relocated = true;
          break;
        default:
          break;
      }
    }
    if (!next || nextOffset >= kSector || nextLength > kSector - nextOffset ||
        nextBlock >= volumeEnd)
      return;
    sector.resize(kSector);
    if (!read(nextBlock, sector.data())) return;
    area = sector.data() + nextOffset;
    length = nextLength;
  }
}

}  // namespace rr
