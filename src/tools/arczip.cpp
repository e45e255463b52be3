// arczip: a command-line driver of the zip engine.
//   arczip l ARCHIVE     list the entries and the archive comment
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "archive/arczip.h"
#include "archive/zipexceptions.h"

namespace {

int Usage() {
  std::fprintf(stderr, "usage: arczip l ARCHIVE\n");
  return 2;
}

std::string MethodName(uint16_t method) {
  switch (method) {
    case 0:
      return "Stored";
    case 8:
      return "Deflated";
    default:
      return "Method" + std::to_string(method);
  }
}

int List(TArcZip& zip) {
  zip.ReadArchive();
  std::printf("%12s %12s %-9s %-19s %-8s %s\n", "Length", "Compressed", "Method", "Date", "CRC-32",
              "Name");
  uint64_t total = 0;
  for (int i = 0; i < zip.EntryCount(); ++i) {
    const TZipHeaderInfo& h = zip.EntryHeader(i);
    unsigned date = h.ModifDateTime >> 16, time = h.ModifDateTime & 0xFFFF;
    std::printf("%12llu %12llu %-9s %04u-%02u-%02u %02u:%02u:%02u %08x %s\n",
                static_cast<unsigned long long>(h.UncompressedSize()),
                static_cast<unsigned long long>(h.CompressedSize()),
                MethodName(h.ComprMethod).c_str(), ((date >> 9) & 0x7F) + 1980, (date >> 5) & 0x0F,
                date & 0x1F, (time >> 11) & 0x1F, (time >> 5) & 0x3F, (time & 0x1F) * 2, h.CRC32,
                h.FullName().c_str());
    total += h.UncompressedSize();
  }
  std::printf("%12llu %d entries\n", static_cast<unsigned long long>(total), zip.EntryCount());
  std::string comment = zip.ArchiveComment();
  if (!comment.empty()) std::printf("Comment:\n%s\n", comment.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  std::string command = argv[1];
  TArcZip zip;
  // Without a window, a file without an end record is reported, not taken as a volume of a set.
  zip.IncompleteZipMode = TIncompleteZipMode::izAssumeNotAZip;
  try {
    zip.SetZipName(argv[2]);
    if (command == "l") return List(zip);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "arczip: %s\n", e.what());
    return 1;
  }
  return Usage();
}
