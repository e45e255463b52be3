// Records of the zip format as the engine keeps them in memory: one central directory entry
// (TZipHeaderInfo) and the end of the central directory with its Zip64 forms (TEndCentral).
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace zipsig {
inline constexpr uint32_t kLocalHeader = 0x04034b50;
inline constexpr uint32_t kCentralHeader = 0x02014b50;
inline constexpr uint32_t kEndCentral = 0x06054b50;
inline constexpr uint32_t kZip64EndCentral = 0x06064b50;
inline constexpr uint32_t kZip64Locator = 0x07064b50;
inline constexpr uint32_t kSpanning = 0x08074b50;
inline constexpr uint32_t kDataDescriptor = 0x08074b50;
}  // namespace zipsig

inline constexpr size_t kCentralHeaderSize = 46;
inline constexpr size_t kLocalHeaderSize = 30;
inline constexpr size_t kEndCentralSize = 22;
inline constexpr size_t kZip64EndCentralSize = 56;
inline constexpr size_t kZip64LocatorSize = 20;
// End record plus the longest comment: the tail searched for the end record.
inline constexpr size_t kEndCentralSearch = 65535 + kEndCentralSize;

inline constexpr uint16_t kZip64ExtraId = 0x0001;
inline constexpr uint16_t kUnicodePathExtraId = 0x7075;

// Little-endian field access.
inline uint16_t GetU16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t GetU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t GetU64(const uint8_t* p) {
  return static_cast<uint64_t>(GetU32(p)) | (static_cast<uint64_t>(GetU32(p + 4)) << 32);
}
inline void PutU16(std::string& out, uint16_t v) {
  out.push_back(static_cast<char>(v & 0xff));
  out.push_back(static_cast<char>(v >> 8));
}
inline void PutU32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}
inline void PutU64(std::string& out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

enum class TZipTestState : uint8_t { Untested, Good, Bad };

// Why an entry tested or extracted bad.
enum class TEntryProblem : uint8_t {
  None,
  BadCRC,         // the data does not give the stored CRC
  BadPassword,    // an encrypted entry fails the password check or its CRC
  UnknownMethod,  // a compression method (or encryption) this engine does not decode
  Truncated,      // the data ends before its stated size
  TooLong,        // the data holds more than its stated size
  DamagedData,    // the compressed data does not decompress
  LocalHeader,    // the local header is missing or names another entry than the directory
  Overlap,        // the entry's data runs into the next entry's (possible zip bomb)
  BadAesHeader,   // an AES entry's extra field is missing or wrong, or its data too short for it
  BadAuthentication,  // an AES entry's data does not give its authentication code
  DecoderMemory,      // the compressed data claims more dictionary memory than it may have
  MissingVolume,      // the entry's data lies on a part of the set that is missing
};
// A short description of a problem ("bad CRC", "truncated data", ...).
const char* EntryProblemText(TEntryProblem problem);

// How an entry's name is converted between the archive and this system. Names with the UTF-8
// flag (bit 11), and names from Unix-like and other non-DOS hosts, are always taken as stored.
//  oemAlways:   names from DOS and Windows hosts (0, 6, 11, 14) without the UTF-8 flag are read
//               as code page 437 (or from a valid Unicode path field) and converted to UTF-8;
//               names are written as UTF-8 with bit 11 when they are not plain ASCII.
//  oemNever:    names are taken byte for byte, without conversion, in both directions.
//  oemFlexible: as oemAlways, except that names from host 11 (written by Windows programs in the
//               ANSI code page) are taken byte for byte.
enum class TOEMConvert : uint8_t { oemAlways, oemNever, oemFlexible };

// One entry: the central directory record's fields in their order, then what the engine derives.
struct TZipHeaderInfo {
  uint16_t VersionMadeBy = 45;
  uint16_t VersionNeeded = 20;
  uint16_t Flag = 0;
  uint16_t ComprMethod = 8;
  uint32_t ModifDateTime = 0;  // DOS time in the low 16 bits, DOS date in the high 16 bits
  uint32_t CRC32 = 0xFFFFFFFF;
  uint32_t ComprSize = 0;
  uint32_t UnComprSize = 0;
  uint16_t FileNameLength = 0;
  uint16_t ExtraFieldLength = 0;
  uint16_t LocalExtraFieldLength = 0;
  uint16_t FileCommentLen = 0;
  uint16_t DiskStart = 0;
  uint16_t IntFileAttrib = 1;
  uint32_t ExtFileAttrib = 0x20;
  uint32_t RelOffLocalHdr = 0;

  int64_t CentralOffset = 0;  // position of the central record in the archive
  std::string FileName;       // name without folder (empty for a folder entry)
  std::string FilePath;       // stored folder, empty or ending in "/"
  // The name bytes exactly as stored, kept only when they differ from FullName() (a name decoded
  // from code page 437 or a Unicode path field); StoredName() gives them in every case. A list of
  // a million entries then holds one copy of each name.
  std::string RawName;
  std::string CentralExtra;  // the central extra field as stored

  // Zip64 values, present only when the small field holds its saturated value.
  uint64_t UnComprSize64 = 0;
  uint64_t ComprSize64 = 0;
  uint64_t RelOffLocalHdr64 = 0;
  uint32_t DiskStart32 = 0;
  bool HasUnComprSize64 = false;
  bool HasComprSize64 = false;
  bool HasRelOffLocalHdr64 = false;
  bool HasDiskStart32 = false;

  std::string FileComment;

  // Where the next entry's local header (or, for the last one, the central directory) begins on
  // the entry's volume, leading bytes the offsets do not count included: the entry's data must
  // end there. UINT64_MAX when not known.
  uint64_t NextOffset = UINT64_MAX;

  // Per-entry state.
  bool TakeMark = false;
  TEntryProblem Problem = TEntryProblem::None;  // why the last test or extraction failed
  TZipTestState TestState = TZipTestState::Untested;
  bool Selected = false;
  TOEMConvert OEMMode = TOEMConvert::oemAlways;

  // Effective (64-bit) values.
  uint64_t UncompressedSize() const { return HasUnComprSize64 ? UnComprSize64 : UnComprSize; }
  uint64_t CompressedSize() const { return HasComprSize64 ? ComprSize64 : ComprSize; }
  uint64_t LocalHeaderOffset() const {
    return HasRelOffLocalHdr64 ? RelOffLocalHdr64 : RelOffLocalHdr;
  }
  uint32_t DiskNumber() const { return HasDiskStart32 ? DiskStart32 : DiskStart; }
  bool HasZip64() const {
    return HasUnComprSize64 || HasComprSize64 || HasRelOffLocalHdr64 || HasDiskStart32;
  }
  std::string FullName() const { return FilePath + FileName; }
  std::string StoredName() const { return RawName.empty() ? FullName() : RawName; }
  // Sets the stored bytes and the shown name (folder and name) of the entry.
  void SetNames(const std::string& stored, const std::string& shown);
  uint8_t HostByte() const { return static_cast<uint8_t>(VersionMadeBy >> 8); }
  bool IsEncrypted() const { return (Flag & 0x0001) != 0; }
  // WinZip AES (method 99): the real method is in the entry's 0x9901 field.
  bool IsAes() const { return ComprMethod == 99; }
  bool IsFolder() const { return FileName.empty(); }
};

// The end of the central directory, with the Zip64 end record and locator when the archive has
// them.
struct TEndCentral {
  // 22-byte end record.
  uint16_t ThisDiskNo = 0;
  uint16_t CentralDiskNo = 0;
  uint16_t EntriesThisDisk = 0;
  uint16_t TotalEntries = 0;
  uint32_t CentralSize = 0;
  uint32_t CentralOffset = 0;
  uint16_t CommentLen = 0;
  std::string Comment;
  int64_t CommentPos = 0;  // position of the comment in the file
  int64_t EndCentralPos = 0;
  int64_t Zip64EndPos = 0;  // position of the Zip64 end record in the file (with HasZip64)
  bool Modified = false;

  // Zip64 end record (56 bytes) and locator (20 bytes).
  bool HasZip64 = false;
  uint16_t Z64VersionMadeBy = 45;
  uint16_t Z64VersionNeeded = 45;
  uint32_t Z64ThisDiskNo = 0;
  uint32_t Z64CentralDiskNo = 0;
  uint64_t Z64EntriesThisDisk = 0;
  uint64_t Z64TotalEntries = 0;
  uint64_t Z64CentralSize = 0;
  uint64_t Z64CentralOffset = 0;
  uint32_t LocDiskNo = 0;  // disk holding the Zip64 end record
  uint64_t LocZip64EndOffset = 0;
  uint32_t LocTotalDisks = 1;

  // Getters: the Zip64 value whenever the small field is saturated and a Zip64 record exists.
  uint32_t GetThisDiskNo() const;
  uint32_t GetCentralDiskNo() const;
  uint64_t GetEntriesThisDisk() const;
  uint64_t GetTotalEntries() const;
  uint64_t GetCentralSize() const;
  uint64_t GetCentralOffset() const;
  // Setters: large values go to the Zip64 record and saturate the small field.
  void SetThisDiskNo(uint32_t v);
  void SetCentralDiskNo(uint32_t v);
  void SetEntriesThisDisk(uint64_t v);
  void SetTotalEntries(uint64_t v);
  void SetCentralSize(uint64_t v);
  void SetCentralOffset(uint64_t v);
  // True when some field of the small record is saturated.
  bool NeedsZip64Record() const;

  // Parses the 22 fixed bytes of an end record (signature included).
  void ParseEndRecord(const uint8_t* p);
  // Parses the 56 fixed bytes of a Zip64 end record; false when the signature is wrong.
  bool ParseZip64EndRecord(const uint8_t* p);
  // Parses the 20-byte Zip64 locator; false when the signature is wrong.
  bool ParseZip64Locator(const uint8_t* p);
};

// Parses the 46 fixed bytes of a central record into h (signature checked by the caller).
void ParseCentralFixed(const uint8_t* p, TZipHeaderInfo& h);
// Reads the Zip64 extended information field of extra data into h: only the fields whose small
// field is saturated are present, in the order uncompressed size, compressed size, local header
// offset, disk number. Returns false when the field is shorter than the saturated fields need.
bool ParseZip64Extra(const uint8_t* extra, size_t len, TZipHeaderInfo& h);
// Finds an extra field block by id; returns its data and length, or nullptr.
const uint8_t* FindExtraField(const uint8_t* extra, size_t len, uint16_t id, size_t& dataLen);

// Code page 437 to UTF-8.
std::string Cp437ToUtf8(const std::string& bytes);
// True when every byte is below 0x80.
bool IsPlainAscii(const std::string& s);
// Splits a stored full name at its last "/" into folder (with the "/") and name.
void SplitStoredName(const std::string& full, std::string& path, std::string& name);

// DOS date-time (date in the high 16 bits) to seconds since the epoch, read as local time.
// Returns false when the DOS value is not a valid date.
bool DosDateTimeToTime(uint32_t dos, std::time_t& out);
// Seconds since the epoch to a DOS date-time in local time (2-second resolution).
uint32_t TimeToDosDateTime(std::time_t t);
