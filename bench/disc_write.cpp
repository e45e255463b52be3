// Fills an emulated DVD+RW with WRITE(10) commands of 32 sectors through the device layer, as a
// burn does: bench_disc_write FOLDER [SECTORS]. Prints the sectors written and the seconds taken.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "disc/scsidevice.h"
#include "discemu/emulateddrive.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_disc_write FOLDER [SECTORS]\n");
    return 2;
  }
  const std::string folder = argv[1];
  if (!TEmulatedDrive::Create(folder + "/sr0", "DVD+RW", 0)) return 1;
  TEmuState state;
  TEmuState::Load(folder + "/sr0.state", state);
  state.Formatted = true;
  state.Save(folder + "/sr0.state");
  const uint32_t sectors =
      argc > 2 ? static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10)) : state.Capacity;

  TSCSIDevice dev;
  dev.SetTransport(std::make_unique<TEmulatedTransport>(folder));
  if (!dev.InitTransport()) return 1;
  dev.SelectDevice(dev.DeviceList.at(0));
  // Zeros, the bytes dd copies from /dev/zero: the storage under a shared machine writes zero
  // blocks much faster than others, so both sides must write the same bytes.
  const std::vector<uint8_t> block(32 * 2048, 0);
  const auto start = std::chrono::steady_clock::now();
  uint32_t lba = 0;
  while (lba < sectors) {
    const uint16_t count = static_cast<uint16_t>(std::min<uint32_t>(32, sectors - lba));
    if (dev.WriteSectors(lba, count, 0, count * 2048u, block.data()) != SS_COMP) {
      std::fprintf(stderr, "write at %u: %s\n", lba, dev.LastError().c_str());
      return 1;
    }
    lba += count;
  }
  dev.SyncCache(120000, false);
  const double secs =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%u %.3f\n", lba, secs);
  return 0;
}
