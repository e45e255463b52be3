// arczip: a command-line driver of the zip engine.
//   arczip l ARCHIVE                                  list the entries and the archive comment
//   arczip t ARCHIVE [-p PASSWORD]                    test every entry; exit 0 only when all good
//   arczip x ARCHIVE -d DIR [-p PASSWORD] [-o|-n]     extract everything below DIR, recreating
//                                                     folders; -o overwrites, -n (default) never
//   arczip a ARCHIVE PATH... [-0..-9] [-r] [-p PASSWORD] [-x PATTERN] [-n PATTERN] [-u|-f]
//                        add files and folders (-r: recurse into folders, -x: exclude pattern,
//                        -n: store without compression). An existing archive is updated: its
//                        entries are replaced by the files named, or with -u only by newer
//                        files, or with -f only by newer files and nothing is added. A new
//                        archive whose name ends in ".exe" is a self-extractor (-s: its stub,
//                        default ArcSFX32.bin).
//   arczip d ARCHIVE PATTERN...                       delete matching entries
//   arczip c ARCHIVE                                  set the archive comment from stdin
//   arczip sfx ARCHIVE [-s STUB]                      copy into a self-extractor ARCHIVE.EXE
//   arczip unsfx ARCHIVE                              copy a self-extractor into ARCHIVE.zip
#include <cctype>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "archive/arczip.h"
#include "archive/sfxconfig.h"
#include "archive/zipexceptions.h"
#include "platform/programdir.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: arczip l ARCHIVE\n"
               "       arczip t ARCHIVE [-p PASSWORD]\n"
               "       arczip x ARCHIVE -d DIR [-p PASSWORD] [-o|-n]\n"
               "       arczip a ARCHIVE PATH... [-0..-9] [-r] [-p PASSWORD] [-x PATTERN] "
               "[-n PATTERN] [-u|-f] [-s STUB]\n"
               "       arczip d ARCHIVE PATTERN...\n"
               "       arczip c ARCHIVE < COMMENT\n"
               "       arczip sfx ARCHIVE [-s STUB]\n"
               "       arczip unsfx ARCHIVE\n");
  return 2;
}

// Reports skipped entries and CRC failures on stderr, and counts them.
void Report(TArcZip& zip, int& problems) {
  zip.OnSkippingFile = [&problems](TArcUnZip*, TSkipReason reason, const std::string& name, int,
                                   bool&) {
    ++problems;
    std::fprintf(stderr, "skipped (%s): %s\n", SkipReasonLabel(reason), name.c_str());
  };
  zip.OnBadCRC = [&problems](TArcUnZip* z, uint32_t calc, uint32_t stored, int index) {
    ++problems;
    std::fprintf(stderr, "bad CRC %08x (stored %08x): %s\n", calc, stored,
                 z->EntryFullName(index).c_str());
  };
  zip.OnHandleMessage = [&problems](TArcUnZip*, int, const std::string& text, const std::string&,
                                    uint32_t, int& result) {
    ++problems;
    std::fprintf(stderr, "%s\n", text.c_str());
    result = zrNo;
  };
}

int Test(TArcZip& zip) {
  int problems = 0;
  Report(zip, problems);
  zip.ReadArchive();
  bool good = zip.TestArchive();
  int bad = 0;
  for (int i = 0; i < zip.EntryCount(); ++i) {
    bool ok = zip.EntryHeader(i).TestState == TZipTestState::Good;
    if (!ok) ++bad;
    std::printf("%s %s\n", ok ? "OK " : "BAD", zip.EntryFullName(i).c_str());
  }
  std::printf("%d entries tested, %d bad\n", zip.EntryCount(), bad);
  return good ? 0 : 1;
}

int ExtractAll(TArcZip& zip) {
  int problems = 0;
  Report(zip, problems);
  zip.ReadArchive();
  zip.DoAll = true;
  zip.RecreateDirs = true;
  int n = zip.Extract();
  std::printf("%d entries extracted\n", n);
  return problems == 0 && n == zip.EntryCount() ? 0 : 1;
}

std::string MethodName(uint16_t method) {
  switch (method) {
    case 0:
      return "Stored";
    case 8:
      return "Deflated";
    default:
      return "Method" + std::to_string(method);
  }
}

int List(TArcZip& zip) {
  zip.ReadArchive();
  std::printf("%12s %12s %-9s %-19s %-8s %s\n", "Length", "Compressed", "Method", "Date", "CRC-32",
              "Name");
  uint64_t total = 0;
  for (int i = 0; i < zip.EntryCount(); ++i) {
    const TZipHeaderInfo& h = zip.EntryHeader(i);
    unsigned date = h.ModifDateTime >> 16, time = h.ModifDateTime & 0xFFFF;
    std::printf("%12llu %12llu %-9s %04u-%02u-%02u %02u:%02u:%02u %08x %s\n",
                static_cast<unsigned long long>(h.UncompressedSize()),
                static_cast<unsigned long long>(h.CompressedSize()),
                MethodName(h.ComprMethod).c_str(), ((date >> 9) & 0x7F) + 1980, (date >> 5) & 0x0F,
                date & 0x1F, (time >> 11) & 0x1F, (time >> 5) & 0x3F, (time & 0x1F) * 2, h.CRC32,
                h.FullName().c_str());
    total += h.UncompressedSize();
  }
  std::printf("%12llu %d entries\n", static_cast<unsigned long long>(total), zip.EntryCount());
  std::string comment = zip.ArchiveComment();
  if (!comment.empty()) std::printf("Comment:\n%s\n", comment.c_str());
  return 0;
}

// arczip a: every folder named becomes a folder entry with its files (and with -r everything
// below it); other names are files or wildcard items.
int Add(TArcZip& zip, int argc, char** argv) {
  zip.StorePaths = true;
  zip.AddDirEntriesOnRecurse = true;
  zip.IncludeHiddenFiles = true;
  zip.IncludeSysFiles = true;
  bool recurse = false;
  bool action = false;
  std::string stub;
  std::vector<std::string> paths;
  for (int i = 3; i < argc; ++i) {
    std::string a = argv[i];
    if (a.size() == 2 && a[0] == '-' && a[1] >= '0' && a[1] <= '9') {
      zip.PackLevel = a[1] - '0';
    } else if (a == "-r") {
      recurse = true;
    } else if (a == "-u") {
      zip.ZipAction = TZipAction::zaUpdate;
      action = true;
    } else if (a == "-f") {
      zip.ZipAction = TZipAction::zaFreshen;
      action = true;
    } else if ((a == "-p" || a == "-x" || a == "-n" || a == "-s") && i + 1 < argc) {
      std::string v = argv[++i];
      if (a == "-s")
        stub = v;
      else if (a == "-p")
        zip.Password = v;
      else if (a == "-x")
        zip.ExcludeList.push_back(v);
      else
        zip.NoCompressList.push_back(v);
    } else if (!a.empty() && a[0] == '-' && a != "-") {
      return Usage();
    } else {
      paths.push_back(a);
    }
  }
  if (paths.empty()) return Usage();
  zip.Recurse = recurse;
  for (std::string p : paths) {
    struct stat st;
    if (::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      while (p.size() > 1 && p.back() == '/') p.pop_back();
      std::string dir = p == "/" ? p : p + "/";
      zip.FilesList.push_back(dir);
      zip.FilesList.push_back((recurse ? ">" : "|") + dir + "*");
    } else {
      zip.FilesList.push_back(p);
    }
  }
  int problems = 0;
  zip.OnSkippingFile = [&](TArcUnZip::TSender, TSkipReason r, const std::string& name, int, bool&) {
    if (r != srExcludeList) ++problems;
    std::fprintf(stderr, "arczip: skipped (%s): %s\n", SkipReasonLabel(r), name.c_str());
  };
  zip.OnNoSuchFile = [&](TArcUnZip::TSender, const std::string& name) {
    ++problems;
    std::fprintf(stderr, "arczip: not found: %s\n", name.c_str());
  };
  zip.OnHandleMessage = [](TArcUnZip::TSender, int, const std::string& text,
                           const std::string& title, uint32_t, int& ret) {
    std::fprintf(stderr, "arczip: %s: %s\n", title.c_str(), text.c_str());
    ret = 1;
  };
  // Without -u or -f, files named replace the entries of the same name.
  if (!action) zip.ZipAction = TZipAction::zaReplace;
  int n;
  struct stat ast;
  std::string name = zip.ZipName();
  std::string ext = name.size() >= 4 ? name.substr(name.size() - 4) : "";
  for (auto& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (ext == ".exe" && ::stat(name.c_str(), &ast) != 0) {
    if (stub.empty()) stub = ResourcePath("ArcSFX32.bin");
    if (stub.empty()) throw EArcZipException("The self-extractor stub ArcSFX32.bin is missing");
    TSFXConfig cfg;
    cfg.UserCanDisableCmdLine = cfg.UserCanChooseFiles = cfg.UserCanChangeOverwrite = true;
    cfg.AutoExtract = false;
    std::vector<uint8_t> block = cfg.BuildConfigBlock();
    n = zip.MakeSelfExtractor(stub, name, static_cast<int>(block.size()), block.data());
  } else {
    n = zip.ZipFiles();
  }
  if (n == 0 && zip.EntryCount() == 0) std::fprintf(stderr, "arczip: nothing to add\n");
  return problems ? 1 : 0;
}

int Delete(TArcZip& zip, int argc, char** argv) {
  if (argc < 4) return Usage();
  for (int i = 3; i < argc; ++i) zip.FilesList.push_back(argv[i]);
  zip.ReadArchive();
  int n = zip.RemoveEntries();
  std::printf("%d entries deleted\n", n);
  return n > 0 ? 0 : 1;
}

int Comment(TArcZip& zip) {
  std::string text;
  char buf[4096];
  size_t r;
  while ((r = std::fread(buf, 1, sizeof buf, stdin)) > 0) text.append(buf, r);
  if (text.size() > 0xFFFF) {
    std::fprintf(stderr, "arczip: a comment holds at most 65535 bytes\n");
    return 1;
  }
  zip.ReadArchive();
  zip.SetArchiveComment(text);
  zip.SaveArchiveChanges();
  return 0;
}

int ToSelfExtractor(TArcZip& zip, int argc, char** argv) {
  std::string stub;
  for (int i = 3; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "-s" && i + 1 < argc)
      stub = argv[++i];
    else
      return Usage();
  }
  if (stub.empty()) stub = ResourcePath("ArcSFX32.bin");
  if (stub.empty()) throw EArcZipException("The self-extractor stub ArcSFX32.bin is missing");
  zip.ReadArchive();
  zip.ConvertToSelfExtractor(stub);
  return 0;
}

int ToPlainZip(TArcZip& zip) {
  zip.ReadArchive();
  zip.ConvertToPlainZip(false);
  std::printf("%s\n", zip.ZipName().c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  std::string command = argv[1];
  TArcZip zip;
  // Without a window, a file without an end record is reported, not taken as a volume of a set.
  zip.IncompleteZipMode = TIncompleteZipMode::izAssumeNotAZip;
  try {
    zip.SetZipName(argv[2]);
    if (command == "a") return Add(zip, argc, argv);
    if (command == "d") return Delete(zip, argc, argv);
    if (command == "c" && argc == 3) return Comment(zip);
    if (command == "sfx") return ToSelfExtractor(zip, argc, argv);
    if (command == "unsfx" && argc == 3) return ToPlainZip(zip);
    zip.OverwriteMode = TUZOverwriteMode::Never;
    bool haveDest = false;
    for (int i = 3; i < argc; ++i) {
      std::string a = argv[i];
      if (a == "-p" && i + 1 < argc) {
        zip.Password = argv[++i];
      } else if (a == "-d" && i + 1 < argc) {
        zip.SetDestDir(argv[++i]);
        haveDest = true;
      } else if (a == "-o") {
        zip.OverwriteMode = TUZOverwriteMode::Always;
      } else if (a == "-n") {
        zip.OverwriteMode = TUZOverwriteMode::Never;
      } else {
        return Usage();
      }
    }
    if (command == "l") return List(zip);
    if (command == "t") return Test(zip);
    if (command == "x" && haveDest) return ExtractAll(zip);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "arczip: %s\n", e.what());
    return 1;
  }
  return Usage();
}
