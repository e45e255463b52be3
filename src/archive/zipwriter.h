// Output side of the writer: a buffered archive stream with in-place patching, and the byte
// layout of local headers, central records and the end records (Zip64 forms included).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "archive/ziprecords.h"
#include "archive/zipstream.h"

// Appends to a stream through a buffer. Every short write raises ENotEnoughRoom.
class TZipOutput {
 public:
  explicit TZipOutput(THugeStream& s, int64_t start = 0) : s_(s), bufStart_(start) {}
  int64_t Pos() const { return bufStart_ + static_cast<int64_t>(buf_.size()); }
  void Append(const void* p, size_t n);
  void Append(const std::string& s) { Append(s.data(), s.size()); }
  // Overwrites bytes already appended (still buffered or already written).
  void PatchAt(int64_t pos, const void* p, size_t n);
  // Cuts the output back to pos (everything from pos on is discarded).
  void Truncate(int64_t pos);
  void Flush();

 private:
  void WriteOut(int64_t pos, const void* p, size_t n);
  THugeStream& s_;
  int64_t bufStart_;
  std::vector<uint8_t> buf_;
  static constexpr size_t kBufSize = 256 * 1024;
};

inline constexpr uint32_t kSat32Value = 0xFFFFFFFF;
inline constexpr uint16_t kSat16Value = 0xFFFF;

// Sets the entry's sizes and local header offset, moving values that do not fit their 32-bit
// field into the Zip64 values, and rebuilds its central extra field (the Zip64 field only).
void SetEntrySizes(TZipHeaderInfo& h, uint64_t uncompressed, uint64_t compressed, uint64_t offset);

// One entry of an archive being written, as its central record needs it. A run keeps one per
// entry until the central directory is written, so it is small: the name, the central extra
// fields other than Zip64 (rebuilt from the sizes and offset when the record is written) and the
// comment lie one after the other in the run's TByteStore.
struct TCentralEntry {
  uint64_t Uncompressed = 0;
  uint64_t Compressed = 0;
  uint64_t Offset = 0;
  const char* Bytes = nullptr;
  uint32_t Crc = 0;
  uint32_t DosTime = 0;
  uint32_t ExtAttr = 0;
  uint16_t NameLen = 0;
  uint16_t ExtraLen = 0;
  uint16_t CommentLen = 0;
  uint16_t VersionMadeBy = 0;
  uint16_t VersionNeeded = 20;  // before the Zip64 field raises it to 45
  uint16_t Flag = 0;
  uint16_t Method = 0;
  uint16_t IntAttr = 0;
  uint32_t Disk = 0;  // the volume holding the local header (0-based)

  std::string_view Name() const { return {Bytes, NameLen}; }
  std::string_view Extra() const { return {Bytes + NameLen, ExtraLen}; }
  std::string_view Comment() const { return {Bytes + NameLen + ExtraLen, CommentLen}; }
};

// Append-only storage of byte strings in large blocks: no allocation per string, and nothing is
// moved as it grows, so the pointers it hands out stay valid.
class TByteStore {
 public:
  // Stores the three strings one after the other and returns where they start.
  const char* Add(std::string_view a, std::string_view b = {}, std::string_view c = {});

 private:
  static constexpr size_t kBlock = size_t{1} << 20;
  std::vector<std::unique_ptr<char[]>> blocks_;
  char* next_ = nullptr;
  size_t left_ = 0;
};

// The entries written so far by their stored names, for the duplicate check: an open-addressing
// table of entry numbers, compared through the names the entries hold.
class TNameIndex {
 public:
  explicit TNameIndex(const std::vector<TCentralEntry>& entries) : entries_(entries) {}
  bool Contains(std::string_view name) const;
  // Indexes entry number i (already in the list).
  void Add(size_t i);
  void Clear() {
    std::vector<uint32_t>().swap(slots_);
    count_ = 0;
  }

 private:
  void Grow();
  const std::vector<TCentralEntry>& entries_;
  std::vector<uint32_t> slots_;  // entry number + 1; 0 is free
  size_t count_ = 0;
};

// The compact record of a header: its name, central extra fields other than Zip64 and comment are
// copied into store.
TCentralEntry CentralEntryOf(const TZipHeaderInfo& h, TByteStore& store);

// The local header of an entry with its current sizes. With zip64Field the header carries a
// Zip64 field with both sizes (its 32-bit sizes then read 0xFFFFFFFF) and version needed 45; the
// header's length is the same whatever sizes it carries, so it can be rewritten in place.
std::string LocalHeaderBytes(const TZipHeaderInfo& h, bool zip64Field);
// Appends the central record of an entry to out: its Zip64 field holds the sizes and offset that
// do not fit 32 bits (version needed then at least 45), followed by its other extra fields.
void AppendCentralRecord(std::string& out, const TCentralEntry& e);
// The Zip64 end record and locator when some field needs them, then the end record and comment.
// zip64EndPos is where the Zip64 end record would start (the end of the central directory).
std::string EndRecordsBytes(TEndCentral& ec, uint64_t entries, uint64_t cdSize, uint64_t cdOffset,
                            const std::string& comment);
// Where the end records of a multi-volume archive go: the volume they are on and where on it, the
// volume where the central directory starts and how many of its records the last volume holds.
struct TEndPlacement {
  uint32_t ThisDisk = 0;
  uint32_t CentralDisk = 0;
  uint64_t EntriesThisDisk = 0;
  uint64_t Pos = 0;  // the offset on ThisDisk where the end records start
};
std::string EndRecordsBytes(TEndCentral& ec, uint64_t entries, uint64_t cdSize, uint64_t cdOffset,
                            const std::string& comment, const TEndPlacement& at);

// True when the bytes are valid UTF-8.
bool IsValidUtf8(const std::string& s);
