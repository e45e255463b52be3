// arcdisc: a command-line driver of the disc device layer.
//   arcdisc [--emulated FOLDER] devices                  list the CD/DVD drives, one id a line
//   arcdisc [--emulated FOLDER] info ID                  the drive and the disc in it; ID is an
//                                                        id as listed or a drive's short name
//                                                        ("sr0")
//   arcdisc emulate new FOLDER --profile NAME            a new emulated drive with a blank
//                                                        medium (CD-R, CD-RW, DVD-R, DVD+RW, ...)
//   arcdisc image -o OUT.iso [--volume ID] [--no-joliet] [--no-rock-ridge] [--links]
//                 [--no-postgap] [--save-path] [--list]
//                 PATH...                                an ISO 9660/Joliet/Rock Ridge image of
//                                                        the paths: a folder's contents go under
//                                                        "/" (with --save-path under the folder's
//                                                        absolute path), a file into "/"; --links
//                                                        stores symbolic links in folders as
//                                                        links (Rock Ridge only); --list prints
//                                                        Joliet path, ISO path, source and Rock
//                                                        Ridge path of each file, separated by
//                                                        tabs; --timing prints the time of each
//                                                        step
//   arcdisc [--emulated FOLDER] burn ID [--volume ID] [--no-joliet] [--no-rock-ridge] [--links]
//                 [--no-postgap] [--save-path] [--import] [--overwrite] PATH...       burns a new
//                 session of the paths (laid
//                                                        out as for image) to the disc in drive
//                                                        ID; with --import the session also
//                                                        lists the files of the disc's last
//                                                        session (a path added replaces a file
//                                                        of the same name); a rewritable disc
//                                                        holding another file system is
//                                                        overwritten only with --overwrite
//   arcdisc [--emulated FOLDER] erase ID [--full]        blanks or formats the rewritable disc in
//                                                        drive ID (quick unless --full)
// --emulated FOLDER uses only that folder's emulated drives, as ARCAVO_EMULATED_DRIVES does.
// Exit status: 0 done; 1 no drive, or the drive failed; 2 the command line is wrong.
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "disc/discburner.h"
#include "disc/isonames.h"
#include "disc/scsidevice.h"
#include "disc/sessionstream.h"
#include "discemu/emulateddrive.h"

namespace {

// The usage text; on standard error with a problem, on standard output when asked for.
int Usage(const std::string& problem = "", FILE* out = stderr) {
  if (!problem.empty()) std::fprintf(stderr, "arcdisc: %s\n", problem.c_str());
  std::fprintf(out,
               "usage: arcdisc [--emulated FOLDER] devices\n"
               "       arcdisc [--emulated FOLDER] info ID\n"
               "       arcdisc emulate new FOLDER --profile NAME\n"
               "       arcdisc image -o OUT.iso [--volume ID] [--no-joliet] [--no-rock-ridge]\n"
               "                     [--links] [--no-postgap] [--save-path] [--list] [--timing]\n"
               "                     PATH...\n"
               "       arcdisc [--emulated FOLDER] burn ID [--volume ID] [--no-joliet]\n"
               "                     [--no-rock-ridge] [--links] [--no-postgap] [--save-path]\n"
               "                     [--import] [--overwrite] PATH...\n"
               "       arcdisc [--emulated FOLDER] erase ID [--full]\n");
  return out == stderr ? 2 : 0;
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

// Selects the drive named by an id as listed or by its short name; false (with a message) when
// there is none.
bool SelectById(TSCSIDevice& dev, const std::string& id) {
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
    return false;
  }
  return true;
}

int Info(TSCSIDevice& dev, const std::string& id) {
  if (!SelectById(dev, id)) return 1;
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

// Prints the files of dir and below, a line each: Joliet path (empty for a link, which only the
// Rock Ridge tree holds), ISO path, source, and the path Rock Ridge readers see (empty without
// Rock Ridge). A folder relocated out of the ISO tree's eight levels adds a line of its own for
// the file record that stands at its place: only its ISO path is given.
void ListTree(const TDiscBurner& burner, const TDEntry* dir, const std::string& discPath,
              const std::string& isoPath, const std::string& rrPath) {
  const bool rock = burner.RockRidge;
  for (const TFEntry* e = dir->FirstChild; e; e = e->Next) {
    const std::string disc = discPath + "/" + Utf8FromUcs2(e->JolietName);
    const std::string rr = rock ? rrPath + "/" + e->Key : "";
    const bool iso = dir->IsoRecorded && (!e->Directory || e->Directory->IsoRecorded);
    std::string isoName = iso ? isoPath + "/" + e->ShortName : "";
    if (e->Directory && e->Directory->Relocated) {
      std::printf("\t%s\t\t\n", isoName.c_str());
      isoName = "/" + burner.RelocationDir()->ShortName + "/" + e->Directory->MovedName;
    }
    if (e->Directory)
      ListTree(burner, e->Directory, disc, isoName, rr);
    else
      std::printf("%s\t%s\t%s\t%s\n", e->IsLink && burner.JolietFileSystem ? "" : disc.c_str(),
                  iso ? (isoName + ";1").c_str() : "", e->SourcePath.c_str(), rr.c_str());
  }
}

// Adds each path: a folder's contents under "/", a file into "/". False when a path is missing
// or not a regular file; failed is set when something was left out.
bool AddPaths(TDiscBurner& burner, const std::vector<std::string>& paths, bool savePath,
              bool& failed) {
  for (const auto& path : paths) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
      std::fprintf(stderr, "arcdisc: %s: no such file or folder\n", path.c_str());
      return false;
    }
    const int result = S_ISDIR(st.st_mode)
                           ? burner.AddDir("/", path, false, savePath, true, 63, "*.*")
                           : burner.AddFile("/", path, false);
    if (result == 255) {
      std::fprintf(stderr, "arcdisc: %s: not a regular file\n", path.c_str());
      return false;
    }
    if (result == 0 && burner.SkippedFiles().empty()) failed = true;
  }
  for (const auto& s : burner.SkippedFiles()) {
    std::fprintf(stderr, "arcdisc: %s: %s\n", s.Path.c_str(), s.Reason.c_str());
    failed = true;
  }
  // Recorded otherwise than given, nothing lost: told, not a failure.
  for (const auto& n : burner.Notices())
    std::fprintf(stderr, "arcdisc: %s: %s\n", n.Path.c_str(), n.Reason.c_str());
  return true;
}

// The options "image" and "burn" share; -o, --list and --timing belong to "image" only.
struct TImageArgs {
  std::string out, volume;
  bool joliet = true, postGap = true, savePath = false, list = false, timing = false;
  bool rockRidge = true, links = false;
  bool import = false, overwrite = false;
  std::vector<std::string> paths;
};

// Reads the options and paths from args[first] on; returns what is wrong, or "".
std::string ParseImageArgs(const std::vector<std::string>& args, size_t first, bool image,
                           TImageArgs& opts) {
  for (size_t i = first; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--volume" && i + 1 < args.size()) {
      opts.volume = args[++i];
    } else if (image && a == "-o" && i + 1 < args.size()) {
      opts.out = args[++i];
    } else if (a == "--no-joliet") {
      opts.joliet = false;
    } else if (a == "--no-rock-ridge") {
      opts.rockRidge = false;
    } else if (a == "--links") {
      opts.links = true;
    } else if (a == "--no-postgap") {
      opts.postGap = false;
    } else if (a == "--save-path") {
      opts.savePath = true;
    } else if (image && a == "--list") {
      opts.list = true;
    } else if (image && a == "--timing") {
      opts.timing = true;
    } else if (!image && a == "--import") {
      opts.import = true;
    } else if (!image && a == "--overwrite") {
      opts.overwrite = true;
    } else if (a == "--") {
      opts.paths.insert(opts.paths.end(), args.begin() + static_cast<long>(i) + 1, args.end());
      break;
    } else if (!a.empty() && a[0] == '-') {
      return "unknown option " + a;
    } else {
      opts.paths.push_back(a);
    }
  }
  return "";
}

// Sets the image's properties from the options and adds the paths.
bool AddImagePaths(TDiscBurner& burner, const TImageArgs& opts, bool& failed) {
  burner.IdVolume = opts.volume;
  burner.JolietFileSystem = opts.joliet;
  burner.RockRidge = opts.rockRidge;
  burner.LinksAsLinks = opts.links;
  burner.WritePostGap = opts.postGap;
  return AddPaths(burner, opts.paths, opts.savePath, failed);
}

// Opens the transport and selects the drive with this id; says why when it cannot.
bool OpenDrive(TDiscBurner& burner, const std::string& id) {
  if (!burner.InitTransport()) {
    std::fprintf(stderr, "arcdisc: no CD or DVD drive found\n");
    return false;
  }
  return SelectById(burner, id);
}

// Waits for a burn or erase to report; the events run on the worker thread here.
void WaitFor(const std::atomic<bool>& finished) {
  while (!finished) std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

int Burn(const std::vector<std::string>& args) {
  if (args.size() < 3) return Usage("burn ID PATH...");
  TImageArgs opts;
  if (const std::string bad = ParseImageArgs(args, 2, false, opts); !bad.empty()) return Usage(bad);
  if (opts.paths.empty()) return Usage("burn needs at least one PATH");
  TDiscBurner burner;
  if (!OpenDrive(burner, args[1])) return 1;
  bool failed = false;
  burner.OnDebugMessage = [&](TSCSIDevice*, const std::string& message, uint8_t kind) {
    if (kind == dmCapacity || kind == dmPath) {
      std::fprintf(stderr, "arcdisc: %s\n", message.c_str());
      if (kind == dmCapacity) failed = true;
    }
  };
  if (!AddImagePaths(burner, opts, failed)) return 1;
  if (failed) {
    std::fprintf(stderr, "arcdisc: nothing burnt\n");
    return 1;
  }
  burner.ImportSession = opts.import ? -1 : 0;
  burner.OverwriteForeign = opts.overwrite;
  std::atomic<bool> finished{false};
  std::string error;
  burner.OnWriteDone = [&](TDiscBurner*, const std::string& e) {
    error = e;
    finished = true;
  };
  if (burner.BurnImage()) WaitFor(finished);
  burner.WaitForWorkers();
  if (!error.empty()) {
    std::fprintf(stderr, "arcdisc: %s\n", error.c_str());
    return 1;
  }
  std::printf("%u sectors from %u\n", burner.ImageSize(), burner.NextAddress());
  return 0;
}

int Erase(const std::vector<std::string>& args) {
  const bool full = args.size() == 3 && args[2] == "--full";
  if (args.size() != 2 && !full) return Usage("erase ID [--full]");
  TDiscBurner burner;
  if (!OpenDrive(burner, args[1])) return 1;
  std::atomic<bool> finished{false};
  bool withError = false;
  burner.OnEraseDone = [&](TDiscBurner*, bool e) {
    withError = e;
    finished = true;
  };
  if (burner.EraseDisc(!full)) WaitFor(finished);
  if (!finished || withError) {
    std::fprintf(stderr, "arcdisc: the disc was not erased (%s)\n", burner.LastError().c_str());
    return 1;
  }
  return 0;
}

int Image(const std::vector<std::string>& args) {
  TImageArgs opts;
  if (const std::string bad = ParseImageArgs(args, 1, true, opts); !bad.empty()) return Usage(bad);
  if (opts.out.empty() || opts.paths.empty())
    return Usage("image needs -o OUT.iso and at least one PATH");

  using TClock = std::chrono::steady_clock;
  const auto started = TClock::now();
  auto seconds = [](TClock::time_point a, TClock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
  };
  TDiscBurner burner;
  bool failed = false;
  burner.OnDebugMessage = [&](TSCSIDevice*, const std::string& message, uint8_t kind) {
    if (kind == dmCapacity || kind == dmPath) {
      std::fprintf(stderr, "arcdisc: %s\n", message.c_str());
      failed = true;
    }
  };
  burner.ClearImage(65535, 8191);
  if (!AddImagePaths(burner, opts, failed)) return 1;
  if (failed) {
    std::fprintf(stderr, "arcdisc: no image written\n");
    return 1;
  }
  const auto added = TClock::now();
  if (!burner.PrepareImage()) return 1;
  burner.WriteImageMetadata();
  const auto laidOut = TClock::now();
  if (opts.list) ListTree(burner, burner.Root(), "", "", "");
  std::string error;
  if (!WriteSessionFile(burner, opts.out, error)) {
    std::fprintf(stderr, "arcdisc: %s\n", error.c_str());
    return 1;
  }
  if (opts.timing)
    std::fprintf(stderr, "adding %.3f s, layout and metadata %.3f s, writing %.3f s\n",
                 seconds(started, added), seconds(added, laidOut), seconds(laidOut, TClock::now()));
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
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) return Usage("", stdout);
  if (args.size() == 1 && args[0] == "--version") {
    std::printf("arcdisc %s\n", ARCAVO_VERSION);
    return 0;
  }
  if (args[0] == "emulate") {
    if (args.size() != 5 || args[1] != "new" || args[3] != "--profile")
      return Usage("emulate new FOLDER --profile NAME");
    return EmulateNew(args[2], args[4]);
  }
  if (args[0] == "image") return Image(args);
  if (args[0] == "burn") return Burn(args);
  if (args[0] == "erase") return Erase(args);
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
