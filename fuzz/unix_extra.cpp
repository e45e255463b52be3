// Fuzz target: arbitrary bytes as an entry's extra field (and its name, comment and attributes)
// read for the Unix time, owner, Unicode name and comment, local-name match and folder attribute.
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

#include "archive/zipextra.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8) return 0;
  TZipHeaderInfo h;
  h.VersionMadeBy = static_cast<uint16_t>(data[0] << 8 | 0x1E);
  h.ExtFileAttrib = GetU32(data);
  h.ModifDateTime = GetU32(data + 4);
  const std::string rest(reinterpret_cast<const char*>(data + 8), size - 8);
  // The rest: the extra field, then a name and a comment (split at the first NULs).
  const size_t a = rest.find('\0');
  h.CentralExtra = rest.substr(0, a);
  std::string name, comment;
  if (a != std::string::npos) {
    const size_t b = rest.find('\0', a + 1);
    name = rest.substr(a + 1, b == std::string::npos ? std::string::npos : b - a - 1);
    if (b != std::string::npos) comment = rest.substr(b + 1);
  }
  h.SetNames(name, name);
  h.FileComment = comment;
  std::time_t t;
  bool exact = false;
  (void)EntryModTime(h, t, &exact);
  uid_t uid;
  gid_t gid;
  (void)EntryOwner(h, uid, gid);
  (void)UnicodePathOf(h.CentralExtra, name);
  (void)EntryComment(h);
  (void)LocalNameMatches(h, comment, h.CentralExtra);
  (void)FolderByAttribute(h);
  if (UnixFieldsOf(h.CentralExtra).size() > h.CentralExtra.size()) __builtin_trap();
  return 0;
}
