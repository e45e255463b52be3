// Output side of the writer: a buffered archive stream with in-place patching, and the byte
// layout of local headers, central records and the end records (Zip64 forms included).
#pragma once

#include <cstdint>
#include <string>
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

// The local header of an entry with its current sizes. With zip64Field the header carries a
// Zip64 field with both sizes (its 32-bit sizes then read 0xFFFFFFFF) and version needed 45; the
// header's length is the same whatever sizes it carries, so it can be rewritten in place.
std::string LocalHeaderBytes(const TZipHeaderInfo& h, bool zip64Field);
// The central record of an entry (its central extra field and comment included).
std::string CentralRecordBytes(const TZipHeaderInfo& h);
// The Zip64 end record and locator when some field needs them, then the end record and comment.
// zip64EndPos is where the Zip64 end record would start (the end of the central directory).
std::string EndRecordsBytes(TEndCentral& ec, uint64_t entries, uint64_t cdSize, uint64_t cdOffset,
                            const std::string& comment);

// True when the bytes are valid UTF-8.
bool IsValidUtf8(const std::string& s);
