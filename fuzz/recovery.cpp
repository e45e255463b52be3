// Fuzz target: arbitrary bytes read as a damaged archive in assume-bad mode, so that the recovery
// scan rebuilds the list, once from memory and once as a self-extractor file (".EXE"); every entry
// found is tested with a password set. The file read is never changed.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "archive/arcunzip.h"
#include "archive/zipexceptions.h"

namespace {

void ScanAndTest(TArcUnZip& zip) {
  zip.DoProcessMessages = false;
  zip.IncompleteZipMode = TIncompleteZipMode::izAssumeBad;
  zip.Password = "secret";
  try {
    zip.ReadArchive();
    bool all = zip.TestArchive();
    int good = 0;
    for (int i = 0; i < zip.EntryCount(); ++i) good += zip.TestEntry(i) ? 1 : 0;
    if (all != (good == zip.EntryCount())) __builtin_trap();
  } catch (const EArcZipException&) {
  } catch (const std::system_error&) {
  }
}

std::string ExePath() {
  const char* tmp = std::getenv("TMPDIR");
  return std::string(tmp && *tmp ? tmp : "/tmp") + "/arcavo-fuzz-recovery-" +
         std::to_string(::getpid()) + ".EXE";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  {
    TArcUnZip zip;
    zip.OpenArchiveStream(std::make_unique<TMemoryStream>(data, size));
    ScanAndTest(zip);
  }
  static const std::string path = ExePath();
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  {
    TArcUnZip zip;
    zip.SetZipName(path);
    ScanAndTest(zip);
  }
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> after((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (after.size() != size || (size > 0 && std::memcmp(after.data(), data, size) != 0))
    __builtin_trap();
  ::unlink(path.c_str());
  return 0;
}
