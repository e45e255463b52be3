// Fuzz target: arbitrary bytes read as an archive from memory and every entry tested with a
// password set (stored, deflated and encrypted paths, bombs, damaged data).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <system_error>

#include "archive/arcunzip.h"
#include "archive/zipexceptions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TArcUnZip zip;
  zip.DoProcessMessages = false;
  zip.IncompleteZipMode = TIncompleteZipMode::izAssumeNotAZip;
  zip.Password = "secret";
  zip.OpenArchiveStream(std::make_unique<TMemoryStream>(data, size));
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
  return 0;
}
