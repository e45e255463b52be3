#include "archive/sfxconfig.h"

#include <algorithm>

#include "archive/arcunzip.h"

namespace {

std::string Cut(const std::string& s, size_t max) {
  return s.size() > max ? s.substr(0, max) : s;
}

}  // namespace

std::vector<uint8_t> TSFXConfig::BuildConfigBlock() const {
  const std::string caption = Cut(Caption, 0xFF), path = Cut(DefaultPath, 0xFF),
                    cmd = Cut(CmdLine, 0xFF), title = Cut(InfoTitle, 0xFF);
  // The trailing length is 16 bits: a very long InfoText is shortened so that it stays exact.
  const std::string text = Cut(InfoText, 0xFFFF - kSFXBlockFixedSize - caption.size() -
                                             path.size() - cmd.size() - title.size());
  uint8_t flags = 0;
  if (UserCanDisableCmdLine) flags |= sfxUserCanDisableCmdLine;
  if (UserCanChooseFiles) flags |= sfxUserCanChooseFiles;
  if (!UserCanChangeOverwrite) flags |= sfxOverwriteFixed;
  if (OverwriteMode == TSFXOverwriteMode::omAlways) flags |= sfxOverwriteAlways;
  if (OverwriteMode == TSFXOverwriteMode::omNever) flags |= sfxOverwriteNever;
  if (AutoExtract) flags |= sfxAutoExtract;

  size_t total =
      kSFXBlockFixedSize + caption.size() + path.size() + cmd.size() + text.size() + title.size();
  std::vector<uint8_t> b;
  b.reserve(total);
  b.push_back('M');
  b.push_back('P');
  b.push_back('U');
  b.push_back(flags);
  b.push_back(static_cast<uint8_t>(caption.size()));
  b.push_back(static_cast<uint8_t>(path.size()));
  b.push_back(static_cast<uint8_t>(cmd.size()));
  b.push_back(static_cast<uint8_t>(text.size() & 0xFF));
  b.push_back(static_cast<uint8_t>(text.size() >> 8));
  b.push_back(static_cast<uint8_t>(title.size()));
  for (const std::string* s : {&caption, &path, &cmd, &text, &title})
    b.insert(b.end(), s->begin(), s->end());
  b.push_back(static_cast<uint8_t>(total & 0xFF));
  b.push_back(static_cast<uint8_t>(total >> 8));
  return b;
}

bool TSFXConfig::ReadConfigBlock(const uint8_t* data, size_t size) {
  if (!data || size < kSFXBlockFixedSize) return false;
  size_t total = static_cast<size_t>(data[size - 2]) | (static_cast<size_t>(data[size - 1]) << 8);
  if (total < kSFXBlockFixedSize || total > size) return false;
  const uint8_t* b = data + (size - total);
  if (b[0] != 'M' || b[1] != 'P' || b[2] != 'U') return false;
  size_t lens[5] = {b[4], b[5], b[6], static_cast<size_t>(b[7]) | (static_cast<size_t>(b[8]) << 8),
                    b[9]};
  size_t sum = 0;
  for (size_t n : lens) sum += n;
  if (kSFXBlockFixedSize + sum != total) return false;
  uint8_t flags = b[3];
  std::string strings[5];
  const uint8_t* p = b + 10;
  for (int i = 0; i < 5; ++i) {
    strings[i].assign(reinterpret_cast<const char*>(p), lens[i]);
    p += lens[i];
  }
  UserCanDisableCmdLine = flags & sfxUserCanDisableCmdLine;
  UserCanChooseFiles = flags & sfxUserCanChooseFiles;
  UserCanChangeOverwrite = !(flags & sfxOverwriteFixed);
  AutoExtract = flags & sfxAutoExtract;
  OverwriteMode = (flags & sfxOverwriteAlways)  ? TSFXOverwriteMode::omAlways
                  : (flags & sfxOverwriteNever) ? TSFXOverwriteMode::omNever
                                                : TSFXOverwriteMode::omPrompt;
  Caption = strings[0];
  DefaultPath = strings[1];
  CmdLine = strings[2];
  InfoText = strings[3];
  InfoTitle = strings[4];
  return true;
}

bool TSFXConfig::ReadConfigBefore(THugeStream& s, uint64_t offset) {
  size_t n = static_cast<size_t>(std::min<uint64_t>(offset, 0xFFFF));
  if (n < kSFXBlockFixedSize || offset > static_cast<uint64_t>(INT64_MAX)) return false;
  std::vector<uint8_t> tail(n);
  if (s.ReadAt(static_cast<int64_t>(offset - n), tail.data(), n) != n) return false;
  return ReadConfigBlock(tail.data(), n);
}

uint64_t FirstEntryOffset(const TArcUnZip& zip) {
  uint64_t first = zip.EndCentral().GetCentralOffset();
  for (int i = 0; i < zip.EntryCount(); ++i)
    first = std::min(first, zip.EntryHeader(i).LocalHeaderOffset());
  return first + static_cast<uint64_t>(zip.OffsetShift());
}
