// Fuzz target: a mount table as the kernel lists it in /proc/self/mountinfo. Every entry is
// looked up again by its own mount point and by paths below it, and the label-link names are
// decoded as udev writes them.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/mounts.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::vector<TMountEntry> mounts = ParseMountInfo(text);
  for (const TMountEntry& m : mounts) {
    const TMountEntry* found = MountOfPath(mounts, m.mountPoint);
    if (!found || found->mountPoint.size() < m.mountPoint.size()) __builtin_trap();
    MountOfPath(mounts, m.mountPoint + "/a/b");
    (void)m.ReadOnly();
  }
  MountOfPath(mounts, "/");
  (void)DecodeUdevName(text);
  (void)DecodeMountField(text);
  return 0;
}
