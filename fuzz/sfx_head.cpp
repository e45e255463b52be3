// Fuzz target: arbitrary bytes read as a self-extractor the way the stub reads itself: the
// archive's directory, then the configuration block right before its first entry. A block that
// reads is built again and must read back the same.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <system_error>

#include "archive/arcunzip.h"
#include "archive/sfxconfig.h"
#include "archive/zipexceptions.h"

namespace {

bool Same(const TSFXConfig& a, const TSFXConfig& b) {
  return a.UserCanDisableCmdLine == b.UserCanDisableCmdLine &&
         a.UserCanChooseFiles == b.UserCanChooseFiles &&
         a.UserCanChangeOverwrite == b.UserCanChangeOverwrite && a.AutoExtract == b.AutoExtract &&
         a.OverwriteMode == b.OverwriteMode && a.Caption == b.Caption &&
         a.DefaultPath == b.DefaultPath && a.CmdLine == b.CmdLine && a.InfoText == b.InfoText &&
         a.InfoTitle == b.InfoTitle;
}

void CheckRoundTrip(const TSFXConfig& cfg) {
  auto block = cfg.BuildConfigBlock();
  TSFXConfig again;
  if (!again.ReadConfigBlock(block.data(), block.size()) || !Same(cfg, again)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The bytes alone, as a head ending in a block.
  TSFXConfig direct;
  if (direct.ReadConfigBlock(data, size)) CheckRoundTrip(direct);

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
  TMemoryStream s(data, size);
  TSFXConfig cfg;
  if (cfg.ReadConfigBefore(s, FirstEntryOffset(zip))) CheckRoundTrip(cfg);
  return 0;
}
