// Fuzz target: arbitrary bytes read as an archive's directory from memory, then every listed
// property of every entry touched, in two sort orders.
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
  zip.OpenArchiveStream(std::make_unique<TMemoryStream>(data, size));
  try {
    zip.ReadArchive();
  } catch (const EArcZipException&) {
    return 0;
  } catch (const std::system_error&) {
    return 0;
  }
  size_t sum = zip.ArchiveComment().size() + (zip.NeedsZip64() ? 1 : 0);
  for (TZipSortMode mode : {TZipSortMode::ByName, TZipSortMode::ByRate}) {
    zip.SetSortMode(mode);
    for (int i = 0; i < zip.EntryCount(); ++i) {
      sum += zip.EntryFullName(i).size() + zip.EntryPath(i).size();
      sum += static_cast<size_t>(zip.EntrySize(i)) + static_cast<size_t>(zip.EntryDiskNumber(i));
      sum += static_cast<size_t>(zip.EntryDateTime(i) & 1);
      zip.SetEntrySelected(i, true);
    }
  }
  if (zip.SelectedCount() != zip.EntryCount()) __builtin_trap();
  zip.ClearSelection();
  return sum == 42 ? 0 : 0;
}
