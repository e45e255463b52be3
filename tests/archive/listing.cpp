#include "listing.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "archive/arcunzip.h"
#include "testutil.h"

namespace {

const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::string After(const std::string& line, const std::string& key) {
  size_t p = line.find(key);
  if (p == std::string::npos) return "";
  std::string v = line.substr(p + key.size());
  size_t b = v.find_first_not_of(' ');
  return b == std::string::npos ? "" : v.substr(b);
}

std::string FirstWord(const std::string& s) {
  return s.substr(0, s.find(' '));
}

}  // namespace

std::vector<std::string> ZipInfoListing(const std::string& archive) {
  auto r = testutil::Run("LC_ALL=C.UTF-8 zipinfo -v " + testutil::Quote(archive));
  EXPECT_EQ(r.status, 0) << r.out;
  std::vector<std::string> out;
  std::istringstream in(r.out);
  std::string line, name, size, csize, crc, date, offset;
  bool inEntry = false, wantName = false;
  auto flush = [&] {
    if (inEntry)
      out.push_back(name + "|" + size + "|" + csize + "|" + crc + "|" + date + "|" + offset);
  };
  while (std::getline(in, line)) {
    if (line.rfind("Central directory entry #", 0) == 0) {
      flush();
      inEntry = true;
      wantName = true;
      name = size = csize = crc = date = offset = "";
      continue;
    }
    if (!inEntry) continue;
    if (wantName) {
      if (line.size() > 2 && line[0] == ' ' && line[1] == ' ' && line[2] != ' ' &&
          line.find("There are an extra") == std::string::npos) {
        name = line.substr(2);
        wantName = false;
      }
      continue;
    }
    if (line.find("offset of local header from start of archive:") != std::string::npos)
      offset = FirstWord(After(line, "archive:"));
    else if (line.find("(DOS date/time):") != std::string::npos)
      date = After(line, "(DOS date/time):");
    else if (line.find("32-bit CRC value (hex):") != std::string::npos)
      crc = After(line, "(hex):");
    else if (line.find("  compressed size:") != std::string::npos)
      csize = FirstWord(After(line, "compressed size:"));
    else if (line.find("  uncompressed size:") != std::string::npos)
      size = FirstWord(After(line, "uncompressed size:"));
  }
  flush();
  return out;
}

std::vector<std::string> EngineListing(TArcUnZip& zip) {
  std::vector<std::string> out;
  for (int i = 0; i < zip.EntryCount(); ++i) {
    const TZipHeaderInfo& h = zip.EntryHeader(i);
    unsigned d = h.ModifDateTime >> 16, t = h.ModifDateTime & 0xFFFF;
    unsigned mon = (d >> 5) & 0x0F;
    char date[64], crc[16];
    std::snprintf(date, sizeof date, "%u %s %u %02u:%02u:%02u", ((d >> 9) & 0x7F) + 1980,
                  mon >= 1 && mon <= 12 ? kMonths[mon - 1] : "???", d & 0x1F, (t >> 11) & 0x1F,
                  (t >> 5) & 0x3F, (t & 0x1F) * 2);
    std::snprintf(crc, sizeof crc, "%08x", h.CRC32);
    out.push_back(h.FullName() + "|" + std::to_string(h.UncompressedSize()) + "|" +
                  std::to_string(h.CompressedSize()) + "|" + crc + "|" + date + "|" +
                  std::to_string(h.LocalHeaderOffset()));
  }
  return out;
}
