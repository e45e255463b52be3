// Fuzz target: arbitrary bytes read as a damaged archive in assume-bad mode, so that the recovery
// scan rebuilds the list, once from memory and once as a self-extractor file (".EXE"); every entry
// found is tested with a password set. The file is then repaired into a new archive, by name
// (nothing tested) and from the list the scan read (the entries that test bad left out): what is
// written must read back as written, and the file read is never changed.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "archive/arczip.h"
#include "archive/zipexceptions.h"
#include "scratch.h"

namespace {

void Prepare(TArcUnZip& zip) {
  zip.DoProcessMessages = false;
  zip.IncompleteZipMode = TIncompleteZipMode::izAssumeBad;
  zip.Password = "secret";
}

void ScanAndTest(TArcUnZip& zip) {
  Prepare(zip);
  try {
    zip.ReadArchive();
    bool all = zip.TestArchive();
    int good = 0;
    for (int i = 0; i < zip.EntryCount(); ++i) good += zip.TestEntry(i) ? 1 : 0;
    // All good: every entry tests good and the directory was read as it is stated.
    if (all != (good == zip.EntryCount() && zip.DirectoryDamage().empty())) __builtin_trap();
  } catch (const EArcZipException&) {
  } catch (const std::system_error&) {
  }
}

// The archive a repair wrote: it reads without the recovery scan, with the entries written;
// tested is set when only entries that tested good were written.
void CheckRepaired(const std::string& path, int written, bool tested) {
  TArcUnZip out;
  out.DoProcessMessages = false;
  out.IncompleteZipMode = TIncompleteZipMode::izAssumeNotAZip;
  out.Password = "secret";
  out.SetZipName(path);
  out.ReadArchive();
  if (out.RecoveryMode() || out.EntryCount() != written) __builtin_trap();
  if (tested && !out.TestArchive()) __builtin_trap();
  ::unlink(path.c_str());
}

void Repair(const std::string& damaged) {
  const std::string fixed = FuzzScratch() + "/fixed.zip";
  // By name: the archive read as a damaged one is, every entry that is whole written.
  try {
    TArcZip zip;
    Prepare(zip);
    int written = zip.RepairArchive(damaged, fixed);
    if (written < 0 || written > zip.RepairEntriesRead()) __builtin_trap();
    if (written > 0) CheckRepaired(fixed, written, false);
  } catch (const EArcZipException&) {
  } catch (const std::system_error&) {
  }
  // From the list the scan read: the entries are tested, the bad ones left out.
  try {
    TArcZip zip;
    Prepare(zip);
    zip.SetZipName(damaged);
    zip.ReadArchive();
    if (!zip.RecoveryMode()) return;
    int written = zip.RepairArchive("", fixed);
    if (written < 0 || written > zip.RepairEntriesRead()) __builtin_trap();
    if (written > 0) CheckRepaired(fixed, written, true);
  } catch (const EArcZipException&) {
  } catch (const std::system_error&) {
  }
  ::unlink(fixed.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  {
    TArcUnZip zip;
    zip.OpenArchiveStream(std::make_unique<TMemoryStream>(data, size));
    ScanAndTest(zip);
  }
  static const std::string path = FuzzScratch() + "/damaged.EXE";
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  {
    TArcUnZip zip;
    zip.SetZipName(path);
    ScanAndTest(zip);
  }
  Repair(path);
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> after((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
  if (after.size() != size || (size > 0 && std::memcmp(after.data(), data, size) != 0))
    __builtin_trap();
  ::unlink(path.c_str());
  return 0;
}
