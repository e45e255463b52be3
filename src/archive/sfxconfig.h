// TSFXConfig: the configuration block of a self-extracting archive, which the stub reads from the
// bytes right before the archive's first local header.
//
// Layout (little-endian):
//   0  2  "MP"
//   2  1  "U"
//   3  1  flags (TSFXFlags)
//   4  1  length of Caption       5  1  length of DefaultPath   6  1  length of CmdLine
//   7  2  length of InfoText      9  1  length of InfoTitle
//   10 .. the five strings in that order, without terminators
//   end-2 2  total block length (10 + string lengths + 2)
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class TArcUnZip;
class THugeStream;

enum class TSFXOverwriteMode { omPrompt, omAlways, omNever };

enum TSFXFlags : uint8_t {
  sfxUserCanDisableCmdLine = 0x01,
  sfxUserCanChooseFiles = 0x02,
  sfxOverwriteFixed = 0x04,  // the user can NOT change the overwrite mode
  sfxOverwriteAlways = 0x08,
  sfxOverwriteNever = 0x10,
  sfxAutoExtract = 0x40,
};

inline constexpr size_t kSFXBlockFixedSize = 12;  // header (10) and trailing length (2)

class TSFXConfig {
 public:
  bool UserCanDisableCmdLine = false;
  bool UserCanChooseFiles = false;
  bool UserCanChangeOverwrite = false;
  bool AutoExtract = false;
  TSFXOverwriteMode OverwriteMode = TSFXOverwriteMode::omAlways;
  std::string Caption = "Arcavo Self Extracting Archive";
  std::string DefaultPath;
  std::string CmdLine;
  std::string InfoText;
  std::string InfoTitle;

  // The block for the current settings. Strings longer than their length field allows (255
  // bytes, InfoText 65535 bytes) are cut at that length.
  std::vector<uint8_t> BuildConfigBlock() const;

  // Reads a block that ends exactly at the end of data (the bytes before the first local header);
  // false when there is none there or it is inconsistent, and the settings are then unchanged.
  bool ReadConfigBlock(const uint8_t* data, size_t size);
  // Reads the block that ends at offset in s (the first local header of a self-extractor).
  bool ReadConfigBefore(THugeStream& s, uint64_t offset);
};

// Where the entries of an archive begin in its file: its first local header, or the central
// directory of an archive without entries, behind any leading bytes the offsets do not count.
// What lies before is the self-extractor's stub and block.
uint64_t FirstEntryOffset(const TArcUnZip& zip);
