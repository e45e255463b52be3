// arcdisc: a command-line driver of the disc device layer.
//   arcdisc [--emulated FOLDER] devices                  list the CD/DVD drives, one id a line
//   arcdisc [--emulated FOLDER] info ID                  the drive and the disc in it; ID is an
//                                                        id as listed or a drive's short name
//                                                        ("sr0")
//   arcdisc emulate new FOLDER --profile NAME            a new emulated drive with a blank
//                                                        medium (CD-R, CD-RW, DVD-R, DVD+RW, ...)
// --emulated FOLDER uses only that folder's emulated drives, as ARCAVO_EMULATED_DRIVES does.
// Exit status: 0 done; 1 no drive, or the drive failed; 2 the command line is wrong.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "disc/scsidevice.h"
#include "discemu/emulateddrive.h"

namespace {

int Usage(const std::string& problem = "") {
  if (!problem.empty()) std::fprintf(stderr, "arcdisc: %s\n", problem.c_str());
  std::fprintf(stderr,
               "usage: arcdisc [--emulated FOLDER] devices\n"
               "       arcdisc [--emulated FOLDER] info ID\n"
               "       arcdisc emulate new FOLDER --profile NAME\n");
  return 2;
}

int EmulateNew(const std::string& folder, const std::string& profile) {
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  for (int n = 0; n < 100; ++n) {
    const std::string node = "sr" + std::to_string(n);
    const std::string base = folder + "/" + node;
    if (std::filesystem::exists(base + ".state")) continue;
    if (!TEmulatedDrive::Create(base, profile, static_cast<uint8_t>(n))) {
      std::fprintf(stderr, "arcdisc: cannot create %s with profile %s\n", base.c_str(),
                   profile.c_str());
      return EmuProfileNumber(profile) == 0 && profile != "NONE" ? 2 : 1;
    }
    std::printf("%s\n", node.c_str());
    return 0;
  }
  std::fprintf(stderr, "arcdisc: no free drive name in %s\n", folder.c_str());
  return 1;
}

int Info(TSCSIDevice& dev, const std::string& id) {
  std::string chosen;
  for (const auto& d : dev.DeviceList) {
    const size_t comma = d.find(',');
    if (d == id ||
        (comma != std::string::npos && d.compare(comma + 1, id.size() + 1, id + ":") == 0))
      chosen = d;
  }
  if (chosen.empty()) chosen = id;
  dev.SelectDevice(chosen);
  if (dev.Adapter == 254) {
    std::fprintf(stderr, "arcdisc: %s: INVALID DEVICE ID / NOT A CD OR DVD DRIVE\n", id.c_str());
    return 1;
  }
  std::printf("Id: %s\nName: %s\nNode: %s\n", dev.DeviceId.c_str(), dev.DeviceName.c_str(),
              dev.DriveLetter().c_str());
  std::printf("Capabilities: 0x%05X\nMaxReadSpeed: %u\nMaxWriteSpeed: %u\nWriteModes: %u\n",
              dev.Capabilities, dev.DeviceMaxReadSpeed, dev.DeviceMaxWriteSpeed, dev.WriteModes);
  const TDisc disc = dev.GetDiscInfo();
  if (!disc.Present) {
    std::printf("Disc: none (%s)\n", dev.LastError().c_str());
    return 0;
  }
  const int type = dev.DiscType();
  std::printf("DiscType: %d %s\nProfile: 0x%04X\nMediaName: %s\nErasable: %u\n", type,
              DiscTypeName(type), disc.Profile, disc.MediaName.c_str(), disc.Erasable);
  std::printf("Capacity: %u\nUsed: %u\nSessions: %u-%u\nDiscStatus: %u\nSessionState: %u\n",
              disc.Capacity, disc.Used, disc.FirstSession, disc.LastSession, disc.DiscStatus,
              disc.SessionState);
  std::printf("FreeSectors: %u\nDiscCapacity: %u\n", dev.FreeSectors(), dev.DiscCapacity());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  InstallEmulatedDrives();
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() >= 2 && args[0] == "--emulated") {
    setenv("ARCAVO_EMULATED_DRIVES", args[1].c_str(), 1);
    args.erase(args.begin(), args.begin() + 2);
  }
  if (args.empty()) return Usage();
  if (args[0] == "emulate") {
    if (args.size() != 5 || args[1] != "new" || args[3] != "--profile")
      return Usage("emulate new FOLDER --profile NAME");
    return EmulateNew(args[2], args[4]);
  }
  TSCSIDevice dev;
  if (args[0] == "devices") {
    if (args.size() != 1) return Usage();
    dev.InitTransport();
    for (const auto& id : dev.DeviceList) std::printf("%s\n", id.c_str());
    return dev.DeviceList.empty() ? 1 : 0;
  }
  if (args[0] == "info") {
    if (args.size() != 2) return Usage();
    if (!dev.InitTransport()) {
      std::fprintf(stderr, "arcdisc: no CD or DVD drive found\n");
      return 1;
    }
    return Info(dev, args[1]);
  }
  return Usage("unknown command " + args[0]);
}
