// Fuzz target: arbitrary bytes as names on a disc. The input is split at line feeds; the first byte
// of each piece says whether it names a file, a folder found on disk or a folder made from a path.
// Every name must come out valid and unique in its directory, in both trees, with a directory
// record of at most 255 bytes; the same names made into folders must give a session whose
// directory extents hold only such records, none crossing a sector end.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "disc/discburner.h"
#include "disc/isonames.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

bool ValidIso(const std::string& name, bool file) {
  if (name.empty() || name.size() > 31) return false;
  for (char c : name)
    if (c <= ' ' || c > '~' || c == ';' || c == '/' || (c >= 'a' && c <= 'z')) return false;
  return !file || name.find('.') != std::string::npos;
}

bool ValidJoliet(const std::u16string& name) {
  if (name.empty() || name.size() > kMaxJolietFileChars) return false;
  for (char16_t c : name) {
    if (c < 0x20 || (c >= 0xD800 && c <= 0xDFFF)) return false;
    if (c == u'*' || c == u'/' || c == u':' || c == u';' || c == u'?' || c == u'\\') return false;
  }
  return true;
}

// Walks one directory extent: every record within its sector, at most 255 bytes.
void CheckExtent(const uint8_t* p, size_t size) {
  for (size_t sector = 0; sector < size; sector += 2048) {
    size_t off = 0;
    while (off < 2048 && p[sector + off] != 0) {
      const size_t len = p[sector + off];
      Check(len >= 34 && off + len <= 2048);
      Check(33u + p[sector + off + 32] <= len);
      off += len;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> pieces(1);
  for (size_t i = 0; i < size && pieces.size() <= 300; ++i) {
    if (data[i] == '\n')
      pieces.emplace_back();
    else
      pieces.back().push_back(static_cast<char>(data[i]));
  }
  TNameScope scope;
  std::set<std::string> isoSeen;
  std::set<std::u16string> jolietSeen;
  TDiscBurner burner;
  for (const auto& piece : pieces) {
    if (piece.size() < 2) continue;
    const uint8_t head = static_cast<uint8_t>(piece[0]);
    const int kind = head % 4;
    const std::string name = piece.substr(1);
    const bool file = kind == 0 || (kind == 3 && (head & 4));
    std::string iso;
    if (kind == 0)  // a file: a "." is appended to a name without one, as the builder does
      iso = scope.ShortName83(name.find('.') == std::string::npos ? name + "." : name, true);
    else if (kind == 1)
      iso = scope.ShortName83(name, false);
    else if (kind == 2)
      iso = scope.ShortName13(name);
    else
      iso = scope.FixShortName(name, file);
    const std::u16string joliet = scope.JolietName(name, file);
    scope.Take(iso, joliet);
    Check(ValidIso(iso, file));
    Check(ValidJoliet(joliet));
    Check(isoSeen.insert(iso).second);
    Check(jolietSeen.insert(joliet).second);
    Check(DirRecordLength(iso.size() + (file ? 2 : 0)) <= 255);
    Check(DirRecordLength(2 * (joliet.size() + (file ? 2 : 0))) <= 255);
    // Folders made from the name as a path (its "/" separating components).
    if (!file && burner.DirCount() < 200) burner.MakeDir("/" + name);
  }
  Check(burner.PrepareImage());
  burner.WriteImageMetadata();
  const auto& meta = burner.MetaStream();
  for (TDEntry* d : burner.Dirs()) {
    Check(ValidJoliet(d == burner.Root() ? u"_" : d->JolietName));
    Check(d == burner.Root() || ValidIso(d->ShortName, false));
  }
  // The directory area runs from the first extent to the first-file location.
  const size_t start = size_t{burner.FirstFileLocation()} * 2048;
  Check(meta.size() == start);
  // Root extents are where the descriptors say.
  for (int vd = 0; vd < 2; ++vd) {
    const uint8_t* r = meta.data() + (16 + vd) * 2048 + 156;
    const uint32_t extent = r[2] | (r[3] << 8) | (r[4] << 16) | (uint32_t{r[5]} << 24);
    Check(size_t{extent} * 2048 < meta.size());
    // Every extent of that tree follows, in creation order.
    size_t at = size_t{extent} * 2048;
    for (TDEntry* d : burner.Dirs()) {
      const size_t bytes = static_cast<size_t>(vd ? d->JolietDirSize : d->IsoDirSize);
      Check(at + bytes <= meta.size());
      CheckExtent(meta.data() + at, bytes);
      at += bytes;
    }
  }
  return 0;
}
