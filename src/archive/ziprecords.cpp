#include "archive/ziprecords.h"

#include <chrono>

namespace {

constexpr uint16_t kSat16 = 0xFFFF;
constexpr uint32_t kSat32 = 0xFFFFFFFF;

const uint16_t kCp437High[128] = {
    0xc7,   0xfc,   0xe9,   0xe2,   0xe4,   0xe0,   0xe5,   0xe7,   0xea,   0xeb,   0xe8,   0xef,
    0xee,   0xec,   0xc4,   0xc5,   0xc9,   0xe6,   0xc6,   0xf4,   0xf6,   0xf2,   0xfb,   0xf9,
    0xff,   0xd6,   0xdc,   0xa2,   0xa3,   0xa5,   0x20a7, 0x192,  0xe1,   0xed,   0xf3,   0xfa,
    0xf1,   0xd1,   0xaa,   0xba,   0xbf,   0x2310, 0xac,   0xbd,   0xbc,   0xa1,   0xab,   0xbb,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255d, 0x255c, 0x255b, 0x2510, 0x2514, 0x2534, 0x252c, 0x251c, 0x2500, 0x253c, 0x255e, 0x255f,
    0x255a, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256c, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256b, 0x256a, 0x2518, 0x250c, 0x2588, 0x2584, 0x258c, 0x2590, 0x2580,
    0x3b1,  0xdf,   0x393,  0x3c0,  0x3a3,  0x3c3,  0xb5,   0x3c4,  0x3a6,  0x398,  0x3a9,  0x3b4,
    0x221e, 0x3c6,  0x3b5,  0x2229, 0x2261, 0xb1,   0x2265, 0x2264, 0x2320, 0x2321, 0xf7,   0x2248,
    0xb0,   0x2219, 0xb7,   0x221a, 0x207f, 0xb2,   0x25a0, 0xa0,
};

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

uint32_t TEndCentral::GetThisDiskNo() const {
  return (ThisDiskNo == kSat16 && HasZip64) ? Z64ThisDiskNo : ThisDiskNo;
}
uint32_t TEndCentral::GetCentralDiskNo() const {
  return (CentralDiskNo == kSat16 && HasZip64) ? Z64CentralDiskNo : CentralDiskNo;
}
uint64_t TEndCentral::GetEntriesThisDisk() const {
  return (EntriesThisDisk == kSat16 && HasZip64) ? Z64EntriesThisDisk : EntriesThisDisk;
}
uint64_t TEndCentral::GetTotalEntries() const {
  return (TotalEntries == kSat16 && HasZip64) ? Z64TotalEntries : TotalEntries;
}
uint64_t TEndCentral::GetCentralSize() const {
  return (CentralSize == kSat32 && HasZip64) ? Z64CentralSize : CentralSize;
}
uint64_t TEndCentral::GetCentralOffset() const {
  return (CentralOffset == kSat32 && HasZip64) ? Z64CentralOffset : CentralOffset;
}

void TEndCentral::SetThisDiskNo(uint32_t v) {
  Z64ThisDiskNo = v;
  ThisDiskNo = v >= kSat16 ? kSat16 : static_cast<uint16_t>(v);
}
void TEndCentral::SetCentralDiskNo(uint32_t v) {
  Z64CentralDiskNo = v;
  CentralDiskNo = v >= kSat16 ? kSat16 : static_cast<uint16_t>(v);
}
void TEndCentral::SetEntriesThisDisk(uint64_t v) {
  Z64EntriesThisDisk = v;
  EntriesThisDisk = v >= kSat16 ? kSat16 : static_cast<uint16_t>(v);
}
void TEndCentral::SetTotalEntries(uint64_t v) {
  Z64TotalEntries = v;
  TotalEntries = v >= kSat16 ? kSat16 : static_cast<uint16_t>(v);
}
void TEndCentral::SetCentralSize(uint64_t v) {
  Z64CentralSize = v;
  CentralSize = v >= kSat32 ? kSat32 : static_cast<uint32_t>(v);
}
void TEndCentral::SetCentralOffset(uint64_t v) {
  Z64CentralOffset = v;
  CentralOffset = v >= kSat32 ? kSat32 : static_cast<uint32_t>(v);
}

bool TEndCentral::NeedsZip64Record() const {
  return ThisDiskNo == kSat16 || CentralDiskNo == kSat16 || EntriesThisDisk == kSat16 ||
         TotalEntries == kSat16 || CentralSize == kSat32 || CentralOffset == kSat32;
}

void TEndCentral::ParseEndRecord(const uint8_t* p) {
  ThisDiskNo = GetU16(p + 4);
  CentralDiskNo = GetU16(p + 6);
  EntriesThisDisk = GetU16(p + 8);
  TotalEntries = GetU16(p + 10);
  CentralSize = GetU32(p + 12);
  CentralOffset = GetU32(p + 16);
  CommentLen = GetU16(p + 20);
}

bool TEndCentral::ParseZip64EndRecord(const uint8_t* p) {
  if (GetU32(p) != zipsig::kZip64EndCentral) return false;
  Z64VersionMadeBy = GetU16(p + 12);
  Z64VersionNeeded = GetU16(p + 14);
  Z64ThisDiskNo = GetU32(p + 16);
  Z64CentralDiskNo = GetU32(p + 20);
  Z64EntriesThisDisk = GetU64(p + 24);
  Z64TotalEntries = GetU64(p + 32);
  Z64CentralSize = GetU64(p + 40);
  Z64CentralOffset = GetU64(p + 48);
  return true;
}

bool TEndCentral::ParseZip64Locator(const uint8_t* p) {
  if (GetU32(p) != zipsig::kZip64Locator) return false;
  LocDiskNo = GetU32(p + 4);
  LocZip64EndOffset = GetU64(p + 8);
  LocTotalDisks = GetU32(p + 16);
  return true;
}

void ParseCentralFixed(const uint8_t* p, TZipHeaderInfo& h) {
  h.VersionMadeBy = GetU16(p + 4);
  h.VersionNeeded = GetU16(p + 6);
  h.Flag = GetU16(p + 8);
  h.ComprMethod = GetU16(p + 10);
  h.ModifDateTime = GetU32(p + 12);
  h.CRC32 = GetU32(p + 16);
  h.ComprSize = GetU32(p + 20);
  h.UnComprSize = GetU32(p + 24);
  h.FileNameLength = GetU16(p + 28);
  h.ExtraFieldLength = GetU16(p + 30);
  h.FileCommentLen = GetU16(p + 32);
  h.DiskStart = GetU16(p + 34);
  h.IntFileAttrib = GetU16(p + 36);
  h.ExtFileAttrib = GetU32(p + 38);
  h.RelOffLocalHdr = GetU32(p + 42);
}

const uint8_t* FindExtraField(const uint8_t* extra, size_t len, uint16_t id, size_t& dataLen) {
  size_t pos = 0;
  while (pos + 4 <= len) {
    uint16_t tag = GetU16(extra + pos);
    size_t size = GetU16(extra + pos + 2);
    if (pos + 4 + size > len) return nullptr;
    if (tag == id) {
      dataLen = size;
      return extra + pos + 4;
    }
    pos += 4 + size;
  }
  return nullptr;
}

bool ParseZip64Extra(const uint8_t* extra, size_t len, TZipHeaderInfo& h) {
  h.HasUnComprSize64 = h.HasComprSize64 = h.HasRelOffLocalHdr64 = h.HasDiskStart32 = false;
  bool needAny = h.UnComprSize == kSat32 || h.ComprSize == kSat32 || h.RelOffLocalHdr == kSat32 ||
                 h.DiskStart == kSat16;
  if (!needAny) return true;
  size_t n = 0;
  const uint8_t* d = FindExtraField(extra, len, kZip64ExtraId, n);
  if (!d) return true;  // saturated but without a Zip64 field: the small values stand
  size_t pos = 0;
  if (h.UnComprSize == kSat32) {
    if (pos + 8 > n) return false;
    h.UnComprSize64 = GetU64(d + pos);
    h.HasUnComprSize64 = true;
    pos += 8;
  }
  if (h.ComprSize == kSat32) {
    if (pos + 8 > n) return false;
    h.ComprSize64 = GetU64(d + pos);
    h.HasComprSize64 = true;
    pos += 8;
  }
  if (h.RelOffLocalHdr == kSat32) {
    if (pos + 8 > n) return false;
    h.RelOffLocalHdr64 = GetU64(d + pos);
    h.HasRelOffLocalHdr64 = true;
    pos += 8;
  }
  if (h.DiskStart == kSat16) {
    if (pos + 4 > n) return false;
    h.DiskStart32 = GetU32(d + pos);
    h.HasDiskStart32 = true;
  }
  return true;
}

const char* EntryProblemText(TEntryProblem problem) {
  switch (problem) {
    case TEntryProblem::None:
      return "good";
    case TEntryProblem::BadCRC:
      return "bad CRC";
    case TEntryProblem::BadPassword:
      return "bad password";
    case TEntryProblem::UnknownMethod:
      return "unknown compression method";
    case TEntryProblem::Truncated:
      return "truncated data";
    case TEntryProblem::TooLong:
      return "more data than its stated size";
    case TEntryProblem::DamagedData:
      return "damaged compressed data";
    case TEntryProblem::LocalHeader:
      return "local header missing or different from the directory";
    case TEntryProblem::Overlap:
      return "overlaps another entry (possible zip bomb)";
    case TEntryProblem::BadAesHeader:
      return "damaged AES encryption header";
    case TEntryProblem::BadAuthentication:
      return "AES authentication code does not match (data changed after encryption)";
    case TEntryProblem::DecoderMemory:
      return "claims more decoder memory than allowed (refused)";
    case TEntryProblem::MissingVolume:
      return "its data lies on a part of the set that is missing";
  }
  return "";
}

std::string Cp437ToUtf8(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) AppendUtf8(out, c < 0x80 ? c : kCp437High[c - 0x80]);
  return out;
}

bool IsPlainAscii(const std::string& s) {
  for (unsigned char c : s)
    if (c >= 0x80) return false;
  return true;
}

void TZipHeaderInfo::SetNames(const std::string& stored, const std::string& shown) {
  SplitStoredName(shown, FilePath, FileName);
  if (stored == shown)
    std::string().swap(RawName);
  else
    RawName = stored;
}

void SplitStoredName(const std::string& full, std::string& path, std::string& name) {
  size_t slash = full.rfind('/');
  if (slash == std::string::npos) {
    path.clear();
    name = full;
  } else {
    path = full.substr(0, slash + 1);
    name = full.substr(slash + 1);
  }
}

bool DosDateTimeToTime(uint32_t dos, std::time_t& out) {
  unsigned date = dos >> 16, time = dos & 0xFFFF;
  struct tm tm {};
  tm.tm_year = static_cast<int>((date >> 9) & 0x7F) + 80;
  tm.tm_mon = static_cast<int>((date >> 5) & 0x0F) - 1;
  tm.tm_mday = static_cast<int>(date & 0x1F);
  tm.tm_hour = static_cast<int>((time >> 11) & 0x1F);
  tm.tm_min = static_cast<int>((time >> 5) & 0x3F);
  tm.tm_sec = static_cast<int>((time & 0x1F) * 2);
  if (tm.tm_mon < 0 || tm.tm_mon > 11 || tm.tm_mday < 1 || tm.tm_mday > 31 || tm.tm_hour > 23 ||
      tm.tm_min > 59 || tm.tm_sec > 59)
    return false;
  tm.tm_isdst = -1;
  std::time_t t = std::mktime(&tm);
  if (t == static_cast<std::time_t>(-1)) return false;
  out = t;
  return true;
}

uint32_t TimeToDosDateTime(std::time_t t) {
  struct tm tm {};
  localtime_r(&t, &tm);
  if (tm.tm_year < 80) return (1 << 5 | 1) << 16;  // 1980-01-01 00:00:00
  if (tm.tm_year > 207) tm.tm_year = 207;
  uint32_t date =
      static_cast<uint32_t>(((tm.tm_year - 80) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
  uint32_t time = static_cast<uint32_t>((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
  return (date << 16) | time;
}
