#include "zipbuilder.h"

#include <zlib.h>

#include <random>
#include <stdexcept>

#include "archive/zipcrypt.h"
#include "archive/ziprecords.h"

std::string RawDeflate(const std::string& data, int level) {
  z_stream z{};
  if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::runtime_error("deflateInit2");
  std::string out(deflateBound(&z, data.size()) + 16, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

std::string ZipBuilder::Build() const {
  std::string out = prefix;
  std::string central;
  std::mt19937 rng(7);
  for (const auto& e : entries_) {
    uint64_t offset = out.size();
    uint32_t crc = ZipCrc32(0, e.data.data(), e.data.size());
    if (e.crcOverride >= 0) crc = static_cast<uint32_t>(e.crcOverride);
    std::string body = e.method == 8 ? RawDeflate(e.data) : e.method == 0 ? e.data : e.compressed;
    uint16_t flags = e.flags;
    if (!e.password.empty()) {
      flags |= 1;
      TZipCrypt c(e.password);
      std::string head(12, '\0');
      for (int i = 0; i < 10; ++i) head[i] = static_cast<char>(rng());
      uint8_t check = e.dataDescriptor ? static_cast<uint8_t>((e.dosDateTime >> 8) & 0xff)
                                       : static_cast<uint8_t>(crc >> 24);
      head[10] = static_cast<char>(e.dataDescriptor ? (e.dosDateTime & 0xff) : (crc >> 16));
      head[11] = static_cast<char>(check);
      body = head + body;
      c.Encrypt(reinterpret_cast<uint8_t*>(body.data()), body.size());
    }
    if (e.dataDescriptor) flags |= 8;
    uint64_t usize = e.declaredSize >= 0 ? static_cast<uint64_t>(e.declaredSize) : e.data.size();
    uint64_t csize = body.size();

    std::string z64;
    if (e.zip64) {
      PutU16(z64, 1);
      PutU16(z64, 24);
      PutU64(z64, usize);
      PutU64(z64, csize);
      PutU64(z64, offset);
    }
    // Local header.
    PutU32(out, zipsig::kLocalHeader);
    PutU16(out, e.zip64 ? 45 : 20);
    PutU16(out, flags);
    PutU16(out, e.method);
    PutU32(out, e.dosDateTime);
    PutU32(out, e.dataDescriptor ? 0 : crc);
    PutU32(out, e.dataDescriptor ? 0 : static_cast<uint32_t>(csize));
    PutU32(out, e.dataDescriptor ? 0 : static_cast<uint32_t>(usize));
    const std::string& localName = e.localName.empty() ? e.name : e.localName;
    PutU16(out, static_cast<uint16_t>(localName.size()));
    PutU16(out, static_cast<uint16_t>(e.localExtraLength >= 0 ? e.localExtraLength
                                                              : e.localExtra.size()));
    out += localName + e.localExtra + body;
    if (e.dataDescriptor) {
      PutU32(out, zipsig::kDataDescriptor);
      PutU32(out, crc);
      PutU32(out, static_cast<uint32_t>(csize));
      PutU32(out, static_cast<uint32_t>(usize));
    }
    // Central record.
    std::string extra = z64 + e.centralExtra;
    PutU32(central, zipsig::kCentralHeader);
    PutU16(central, e.versionMadeBy);
    PutU16(central, e.zip64 ? 45 : 20);
    PutU16(central, flags);
    PutU16(central, e.method);
    PutU32(central, e.dosDateTime);
    PutU32(central, crc);
    PutU32(central, e.zip64 ? 0xFFFFFFFF : static_cast<uint32_t>(csize));
    PutU32(central, e.zip64 ? 0xFFFFFFFF : static_cast<uint32_t>(usize));
    PutU16(central, static_cast<uint16_t>(e.name.size()));
    PutU16(central, static_cast<uint16_t>(extra.size()));
    PutU16(central, static_cast<uint16_t>(e.comment.size()));
    PutU16(central, 0);
    PutU16(central, 0);
    PutU32(central, e.extAttr);
    if (e.offsetOverride >= 0) offset = static_cast<uint64_t>(e.offsetOverride);
    PutU32(central, e.zip64 ? 0xFFFFFFFF : static_cast<uint32_t>(offset));
    central += e.name + extra + e.comment;
  }
  uint64_t cdOffset = out.size();
  out += central;
  uint64_t n = entries_.size();
  if (zip64End) {
    uint64_t z64Pos = out.size();
    PutU32(out, zipsig::kZip64EndCentral);
    PutU64(out, 44);
    PutU16(out, 45);
    PutU16(out, 45);
    PutU32(out, 0);
    PutU32(out, 0);
    PutU64(out, n);
    PutU64(out, n);
    PutU64(out, central.size());
    PutU64(out, cdOffset);
    PutU32(out, zipsig::kZip64Locator);
    PutU32(out, 0);
    PutU64(out, z64Pos);
    PutU32(out, 1);
  }
  PutU32(out, zipsig::kEndCentral);
  PutU16(out, 0);
  PutU16(out, 0);
  PutU16(out, zip64End ? 0xFFFF : static_cast<uint16_t>(n));
  PutU16(out, zip64End ? 0xFFFF : static_cast<uint16_t>(n));
  PutU32(out, zip64End ? 0xFFFFFFFF : static_cast<uint32_t>(central.size()));
  PutU32(out, zip64End ? 0xFFFFFFFF : static_cast<uint32_t>(cdOffset));
  PutU16(out, static_cast<uint16_t>(comment.size()));
  out += comment;
  return out;
}
