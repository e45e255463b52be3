// Builds small zip archives in memory for tests, with control over the fields that matter to a
// reader: flags, methods, extra fields, Zip64 values, comments and encryption.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct BuildEntry {
  std::string name;
  std::string data;     // uncompressed content
  uint16_t method = 0;  // 0 stored, 8 deflated; any other method writes `compressed`
  std::string compressed;
  uint16_t flags = 0;
  uint16_t versionMadeBy = 0x031E;    // Unix, 3.0
  uint32_t dosDateTime = 0x5A8A6000;  // 2025-04-10 12:00:00
  uint32_t extAttr = 0100644u << 16;
  std::string centralExtra;
  std::string localExtra;
  std::string comment;
  bool zip64 = false;           // sizes and offset through the Zip64 extra field
  std::string password;         // traditional encryption when not empty
  bool dataDescriptor = false;  // bit 3: sizes and CRC after the data
  int64_t declaredSize = -1;    // overrides the stated uncompressed size
  int64_t crcOverride = -1;     // overrides the stated CRC
  // Hostile forms: the central record points at another offset, the local header names another
  // entry, or states another extra-field length than the bytes written.
  int64_t offsetOverride = -1;
  std::string localName;
  int localExtraLength = -1;
};

class ZipBuilder {
 public:
  void Add(const BuildEntry& e) { entries_.push_back(e); }
  void Add(const std::string& name, const std::string& data, uint16_t method = 0) {
    BuildEntry e;
    e.name = name;
    e.data = data;
    e.method = method;
    Add(e);
  }
  std::string comment;
  bool zip64End = false;  // write the Zip64 end record and locator
  std::string prefix;     // bytes in front of the archive (offsets count from the file)
  std::string Build() const;

 private:
  std::vector<BuildEntry> entries_;
};

// Raw deflate of data (zlib, level 6 unless another is given).
std::string RawDeflate(const std::string& data, int level = 6);
