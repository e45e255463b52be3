// arczip: a command-line driver of the zip engine, with zip's habits: options may stand anywhere
// after the command, "--" ends them, and an archive name that begins with "-" must follow "--".
//   arczip l ARCHIVE                                  list the entries and the archive comment
//   arczip t ARCHIVE [-p PASSWORD]                    test every entry; a bad one with its reason
//   arczip x ARCHIVE -d DIR [-p PASSWORD] [-o|-n] [--keep-links]
//                                                     extract everything below DIR (not empty),
//                                                     recreating folders; -o overwrites, -n
//                                                     (default) never; symbolic links whose
//                                                     target lies outside DIR are skipped unless
//                                                     --keep-links
//   arczip a ARCHIVE PATH... [-0..-9] [-r] [-p PASSWORD [--traditional]] [-x PATTERN]
//                        [-n PATTERN] [-u|-f] [-s STUB] [--follow-links]
//                        add files and folders (-r: recurse into folders, -x: exclude pattern,
//                        -n: store without compression; -p encrypts with AES-256, or with
//                        --traditional with the old cipher that unzip 6.0 and the zip folders
//                        of desktops read). An existing archive is updated: its
//                        entries are replaced by the files named, or with -u only by newer
//                        files, or with -f only by newer files and nothing is added. A new
//                        archive whose name ends in ".exe" is a self-extractor (-s: its stub,
//                        default ArcSFX32.bin). Symbolic links are stored as links, or with
//                        --follow-links the files they point to. FIFOs, sockets and devices
//                        are left out and told.
//   arczip d ARCHIVE NAME...                          delete entries: a plain name is the whole
//                                                     stored path; a pattern (*, ?, <set>)
//                                                     without "/" matches names in any folder
//   arczip c ARCHIVE                                  set the archive comment from stdin
//   arczip sfx ARCHIVE [-s STUB]                      copy into a self-extractor ARCHIVE.EXE
//   arczip unsfx ARCHIVE                              copy a self-extractor into ARCHIVE.zip
//   arczip split ARCHIVE PATH... -b BYTES [-f FIRST] [-0..-9] [-r] [-p PASSWORD [--traditional]]
//                        [-x PATTERN] [-n PATTERN]
//                        write a new archive as parts of at most BYTES (the first of at most
//                        FIRST): base.z01, base.z02, ... and ARCHIVE itself as the last part.
//   arczip repair DAMAGED NEW                         salvage the entries of a damaged archive
//                                                     (a lost directory is rebuilt from the
//                                                     local headers) into the new archive NEW;
//                                                     every entry is tested and those cut
//                                                     short or bad are left out. A split or
//                                                     spanned set becomes one archive; entries
//                                                     on a missing part are named as lost
// A set of parts is listed, tested and extracted by its last part; entries on a missing part are
// named with it. A damaged central directory is named on standard error; t and x then exit 1,
// and a, d, c, sfx and unsfx refuse to rewrite such an archive unless given --force.
// Exit status: 0 all good; 1 some entries bad or skipped (repair: left out); 2 the archive cannot
// be read or written (repair: nothing read), or the command line is wrong.
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <exception>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "archive/arczip.h"
#include "archive/sfxconfig.h"
#include "archive/zipexceptions.h"
#include "archive/zipextra.h"
#include "archive/zipmedia.h"
#include "platform/programdir.h"

namespace {

constexpr int kGood = 0;
constexpr int kSomeBad = 1;
constexpr int kFailed = 2;

// The usage text; on standard error with a problem, on standard output when asked for.
int Usage(const std::string& problem = "", FILE* out = stderr) {
  if (!problem.empty()) std::fprintf(stderr, "arczip: %s\n", problem.c_str());
  std::fprintf(out,
               "usage: arczip l ARCHIVE                      list entries and comment\n"
               "       arczip t ARCHIVE [-p PASSWORD]        test every entry\n"
               "       arczip x ARCHIVE -d DIR [-p PASSWORD] [-o|-n] [--keep-links]\n"
               "                                             extract below DIR (-o overwrite,\n"
               "                                             -n never: the default; links out\n"
               "                                             of DIR only with --keep-links)\n"
               "       arczip a ARCHIVE PATH... [-0..-9] [-r] [-p PASSWORD [--traditional]]\n"
               "                [-x PATTERN] [-n PATTERN] [-u|-f] [-s STUB] [--follow-links]\n"
               "                                             add or update (-r recurse, -x "
               "exclude,\n"
               "                                             -n store, -u newer only, -f "
               "freshen;\n"
               "                                             -p: AES-256, --traditional: "
               "the old\n"
               "                                             cipher; a new NAME.exe is a "
               "self-extractor)\n"
               "       arczip d ARCHIVE NAME...              delete entries (a plain name is the\n"
               "                                             whole stored path; a pattern "
               "without\n"
               "                                             \"/\" matches in every folder)\n"
               "       arczip c ARCHIVE < COMMENT            set the archive comment\n"
               "       arczip sfx ARCHIVE [-s STUB]          copy into a self-extractor "
               "ARCHIVE.EXE\n"
               "       arczip unsfx ARCHIVE                  copy a self-extractor into "
               "ARCHIVE.zip\n"
               "       arczip split ARCHIVE PATH... -b BYTES [-f FIRST] [-0..-9] [-r] ...\n"
               "                                             a new archive in parts of BYTES\n"
               "       arczip repair DAMAGED NEW             salvage a damaged archive into NEW\n"
               "       --force (a, d, c, sfx, unsfx): rewrite an archive whose central directory\n"
               "                                             is damaged (keeping what was found)\n"
               "       arczip --version\n"
               "Options may stand anywhere after the command; \"--\" ends them (an archive or "
               "path\n"
               "beginning with \"-\" must follow it). Exit status: 0 all good, 1 some entries "
               "bad or\n"
               "skipped, 2 the archive cannot be read or written or the command line is "
               "wrong.\n");
  return out == stderr ? kFailed : kGood;
}

// The command line after the command: options (with their values) and the other words in order.
struct TArgs {
  std::map<char, std::vector<std::string>> values;  // options with a value, in order
  std::string flags;                                // options without a value, in order
  std::vector<std::string> longFlags;               // "--name" options, without the dashes
  std::vector<std::string> words;                   // the archive, then paths or names
  bool Has(char c) const { return flags.find(c) != std::string::npos; }
  bool Has(const std::string& name) const {
    return std::find(longFlags.begin(), longFlags.end(), name) != longFlags.end();
  }
  std::string Last(char c) const {
    auto it = values.find(c);
    return it == values.end() || it->second.empty() ? std::string() : it->second.back();
  }
};

// Parses argv from index 2. withValue lists the options that take a value, flags those that do
// not, longFlags the "--name" options (names separated by spaces); a word of several flag
// letters ("-r9") sets each. Returns false (with a message) on an unknown option or a missing
// value.
bool ParseArgs(int argc, char** argv, const std::string& withValue, const std::string& flags,
               const std::string& longFlags, TArgs& out, std::string& problem) {
  bool options = true;
  for (int i = 2; i < argc; ++i) {
    std::string a = argv[i];
    if (options && a == "--") {
      options = false;
      continue;
    }
    if (options && a.size() > 2 && a.compare(0, 2, "--") == 0) {
      if ((" " + longFlags + " ").find(" " + a.substr(2) + " ") == std::string::npos) {
        problem = "unknown option " + a;
        return false;
      }
      out.longFlags.push_back(a.substr(2));
      continue;
    }
    if (!options || a.size() < 2 || a[0] != '-') {
      out.words.push_back(a);
      continue;
    }
    if (a.size() == 2 && withValue.find(a[1]) != std::string::npos) {
      if (i + 1 >= argc) {
        problem = "option " + a + " needs a value";
        return false;
      }
      out.values[a[1]].push_back(argv[++i]);
      continue;
    }
    for (size_t k = 1; k < a.size(); ++k) {
      if (flags.find(a[k]) == std::string::npos) {
        problem = "unknown option " + a +
                  (a.size() > 2 ? " (a name beginning with \"-\" must "
                                  "follow \"--\")"
                                : "");
        return false;
      }
      out.flags.push_back(a[k]);
    }
  }
  return true;
}

// Counts and reports skipped entries, CRC failures and boxes on stderr.
void Report(TArcZip& zip, int& problems) {
  zip.OnSkippingFile = [&problems](TArcUnZip* z, TSkipReason reason, const std::string& name,
                                   int index, bool&) {
    ++problems;
    const std::string part = index >= 0 ? z->EntryMissingPart(index) : "";
    const std::string why = z->SkipText().empty() ? SkipReasonLabel(reason) : z->SkipText();
    if (!part.empty())
      std::fprintf(stderr, "lost (part %s is missing): %s\n", part.c_str(), name.c_str());
    else
      std::fprintf(stderr, "skipped (%s): %s\n", why.c_str(), name.c_str());
  };
  zip.OnBadCRC = [&problems](TArcUnZip* z, uint32_t calc, uint32_t stored, int index) {
    ++problems;
    const TZipHeaderInfo& h = z->EntryHeader(index);
    if (h.Problem == TEntryProblem::BadAuthentication)
      std::fprintf(stderr, "bad entry (%s): %s\n", EntryProblemText(h.Problem),
                   h.FullName().c_str());
    else
      std::fprintf(stderr, "bad CRC %08x (stored %08x): %s\n", calc, stored, h.FullName().c_str());
  };
  zip.OnHandleMessage = [&problems](TArcUnZip*, int, const std::string& text, const std::string&,
                                    uint32_t, int& result) {
    ++problems;
    std::fprintf(stderr, "%s\n", text.c_str());
    result = zrNo;
  };
}

// The compression method of an entry's data (under an AES entry's encryption, the one its AES
// field names).
uint16_t DataMethod(const TZipHeaderInfo& h) {
  TAesField aes;
  return h.IsAes() && CheckAesEntry(h, aes).empty() ? aes.Method : h.ComprMethod;
}

// Names a damaged directory on standard error; true when there is one.
bool WarnDamage(const TArcZip& zip) {
  if (zip.DirectoryDamage().empty()) return false;
  std::fprintf(stderr, "arczip: warning: %s: damaged central directory: %s\n",
               zip.ZipName().c_str(), zip.DirectoryDamage().c_str());
  return true;
}

std::string ProblemOf(const TArcZip& zip, int i) {
  const TZipHeaderInfo& h = zip.EntryHeader(i);
  if (h.Problem == TEntryProblem::MissingVolume)
    return "part " + zip.EntryMissingPart(i) + " of the set is missing";
  if (h.Problem == TEntryProblem::UnknownMethod) {
    if (h.Flag & 0x0040) return "strong encryption is not supported";
    if (DataMethod(h) == 98) return "compression method 98 (PPMd) is not available";
    return std::string(EntryProblemText(h.Problem)) + " " + std::to_string(DataMethod(h));
  }
  if (h.Problem == TEntryProblem::BadAesHeader) {
    TAesField aes;
    return std::string(EntryProblemText(h.Problem)) + ": " + CheckAesEntry(h, aes);
  }
  return EntryProblemText(h.Problem);
}

// How an entry is encrypted: "AES-128", "AES-192", "AES-256", "traditional" or "-".
std::string EncryptionOf(const TZipHeaderInfo& h) {
  if (h.IsAes()) {
    TAesField aes;
    if (!CheckAesEntry(h, aes).empty()) return "AES-?";
    return "AES-" + std::to_string(64 + 64 * aes.Strength);
  }
  return h.IsEncrypted() ? "traditional" : "-";
}

int Test(TArcZip& zip) {
  zip.ReadArchive();
  const bool damaged = WarnDamage(zip);
  zip.TestArchive();
  int bad = 0;
  for (int i = 0; i < zip.EntryCount(); ++i) {
    const TZipHeaderInfo& h = zip.EntryHeader(i);
    if (h.TestState == TZipTestState::Good) {
      std::printf("OK  %s\n", h.FullName().c_str());
    } else {
      ++bad;
      std::printf("BAD %s: %s\n", h.FullName().c_str(), ProblemOf(zip, i).c_str());
    }
  }
  std::printf("%d entries tested, %d bad\n", zip.EntryCount(), bad);
  if (damaged) std::printf("damaged central directory: %s\n", zip.DirectoryDamage().c_str());
  return bad == 0 && !damaged ? kGood : kSomeBad;
}

int ExtractAll(TArcZip& zip) {
  int problems = 0;
  Report(zip, problems);
  zip.ReadArchive();
  if (WarnDamage(zip)) ++problems;
  zip.DoAll = true;
  zip.RecreateDirs = true;
  int n = zip.Extract();
  std::printf("%d entries extracted\n", n);
  return problems == 0 ? kGood : kSomeBad;
}

std::string MethodName(uint16_t method) {
  switch (method) {
    case 0:
      return "Stored";
    case 8:
      return "Deflated";
    case 9:
      return "Deflate64";
    case 12:
      return "BZip2";
    case 14:
      return "LZMA";
    case 93:
      return "Zstd";
    case 95:
      return "XZ";
    case 98:
      return "PPMd";
    default:
      return "Method" + std::to_string(method);
  }
}

int List(TArcZip& zip) {
  zip.ReadArchive();
  WarnDamage(zip);
  if (zip.OffsetShift() > 0)
    std::printf("%lld leading bytes (offsets adjusted)\n",
                static_cast<long long>(zip.OffsetShift()));
  std::printf("%12s %12s %-9s %-11s %-19s %-8s %s\n", "Length", "Compressed", "Method",
              "Encryption", "Date", "CRC-32", "Name");
  uint64_t total = 0;
  for (int i = 0; i < zip.EntryCount(); ++i) {
    const TZipHeaderInfo& h = zip.EntryHeader(i);
    unsigned date = h.ModifDateTime >> 16, time = h.ModifDateTime & 0xFFFF;
    std::printf("%12llu %12llu %-9s %-11s %04u-%02u-%02u %02u:%02u:%02u %08x %s\n",
                static_cast<unsigned long long>(h.UncompressedSize()),
                static_cast<unsigned long long>(h.CompressedSize()),
                MethodName(DataMethod(h)).c_str(), EncryptionOf(h).c_str(),
                ((date >> 9) & 0x7F) + 1980, (date >> 5) & 0x0F, date & 0x1F, (time >> 11) & 0x1F,
                (time >> 5) & 0x3F, (time & 0x1F) * 2, h.CRC32, h.FullName().c_str());
    // An entry's comment, in UTF-8 when a Unicode comment field belongs to it.
    if (!h.FileComment.empty()) std::printf("    comment: %s\n", EntryComment(h).c_str());
    total += h.UncompressedSize();
  }
  std::printf("%12llu %d entries\n", static_cast<unsigned long long>(total), zip.EntryCount());
  std::string comment = zip.ArchiveComment();
  if (!comment.empty()) std::printf("Comment:\n%s\n", comment.c_str());
  return kGood;
}

// Reads a damaged archive as the program does after "Attempt" (a missing end record sends it to
// the recovery scan) and writes what is whole into the new archive.
// A split set is salvaged into one archive; entries on a missing part are named with it.
int Repair(TArcZip& zip, const std::string& damaged, const std::string& fixed) {
  zip.IncompleteZipMode = TIncompleteZipMode::izAssumeBad;
  int written = zip.RepairArchive(damaged, fixed);
  int read = zip.RepairEntriesRead();
  const auto& lost = zip.RepairEntriesLost();
  const std::string& directoryPart = zip.RepairDirectoryLostOn();
  if (!directoryPart.empty())
    std::fprintf(stderr,
                 "arczip: the central directory was on %s, which is missing: the entries were "
                 "found by a scan of the parts present\n",
                 directoryPart.c_str());
  for (const auto& e : lost)
    std::fprintf(stderr, "lost (part %s is missing): %s\n", e.Part.c_str(), e.Name.c_str());
  if (!lost.empty())
    std::fprintf(stderr, "arczip: %zu entries were lost: their data is on a missing part\n",
                 lost.size());
  if (written == 0) {
    std::printf("none of %d entries read could be saved; %s was not written\n", read,
                fixed.c_str());
    return read == 0 && lost.empty() ? kFailed : kSomeBad;
  }
  std::printf("%d of %d entries read were written to %s\n", written, read, fixed.c_str());
  const int damagedLeft = read - written - static_cast<int>(lost.size());
  if (damagedLeft > 0)
    std::fprintf(stderr, "arczip: %d damaged entries were left out\n", damagedLeft);
  if (int untested = zip.RepairEntriesUntested())
    std::fprintf(stderr,
                 "arczip: %d entries could not be tested (encrypted, or an unknown method) and "
                 "were copied as they are\n",
                 untested);
  // Entries wholly on a missing part that held the directory are not even known.
  return written == read && directoryPart.empty() ? kGood : kSomeBad;
}

std::string StubOr(const std::string& stub) {
  if (!stub.empty()) return stub;
  std::string found = ResourcePath(kStubName);
  if (found.empty()) throw EArcZipException(MissingStubMessage(""));
  return found;
}

// arczip a: every folder named becomes a folder entry with its files (and with -r everything
// below it); other names are files or wildcard items.
int Add(TArcZip& zip, const TArgs& args) {
  zip.StorePaths = true;
  zip.AddDirEntriesOnRecurse = true;
  zip.IncludeHiddenFiles = true;
  zip.IncludeSysFiles = true;
  for (char c : args.flags)
    if (c >= '0' && c <= '9') zip.PackLevel = c - '0';
  const bool recurse = args.Has('r');
  if (args.Has('u') && args.Has('f')) return Usage("-u and -f exclude each other");
  // Without -u or -f, files named replace the entries of the same name.
  zip.ZipAction = args.Has('f')   ? TZipAction::zaFreshen
                  : args.Has('u') ? TZipAction::zaUpdate
                                  : TZipAction::zaReplace;
  zip.Password = args.Last('p');
  zip.Encryption =
      args.Has("traditional") ? TZipEncryption::zeTraditional : TZipEncryption::zeAES256;
  if (args.Has("traditional") && zip.Password.empty())
    return Usage("--traditional needs a password: -p PASSWORD");
  if (auto it = args.values.find('x'); it != args.values.end()) zip.ExcludeList = it->second;
  if (auto it = args.values.find('n'); it != args.values.end()) zip.NoCompressList = it->second;
  std::vector<std::string> paths(args.words.begin() + 1, args.words.end());
  if (paths.empty()) return Usage("nothing to add");
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
  zip.FollowLinks = args.Has("follow-links");
  zip.OnSkippingFile = [&](TArcUnZip::TSender z, TSkipReason r, const std::string& name, int,
                           bool&) {
    if (r != srExcludeList) ++problems;
    if (!zip.SourceError.empty()) {
      std::fprintf(stderr, "arczip: not stored (%s): %s\n", zip.SourceError.c_str(), name.c_str());
    } else {
      const std::string why = z->SkipText().empty() ? SkipReasonLabel(r) : z->SkipText();
      std::fprintf(stderr, "arczip: skipped (%s): %s\n", why.c_str(), name.c_str());
    }
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
  int n;
  struct stat ast;
  std::string name = zip.ZipName();
  std::string ext = name.size() >= 4 ? name.substr(name.size() - 4) : "";
  for (auto& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (ext == ".exe" && ::stat(name.c_str(), &ast) != 0) {
    std::string stub = StubOr(args.Last('s'));
    TSFXConfig cfg;
    cfg.UserCanDisableCmdLine = cfg.UserCanChooseFiles = cfg.UserCanChangeOverwrite = true;
    cfg.AutoExtract = false;
    std::vector<uint8_t> block = cfg.BuildConfigBlock();
    n = zip.MakeSelfExtractor(stub, name, static_cast<int>(block.size()), block.data());
  } else {
    n = zip.ZipFiles();
  }
  if (n == 0 && zip.EntryCount() == 0) std::fprintf(stderr, "arczip: nothing to add\n");
  return problems ? kSomeBad : kGood;
}

// A size given on the command line: a positive whole number of bytes.
bool ParseBytes(const std::string& text, int64_t& out) {
  if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  out = std::stoll(text);
  return out > 0;
}

// arczip split: a new archive in parts, whatever has the name now.
int Split(TArcZip& zip, const TArgs& args) {
  int64_t block = 0, first = 0;
  if (!ParseBytes(args.Last('b'), block)) return Usage("split needs a part size: -b BYTES");
  if (args.values.count('f') && !ParseBytes(args.Last('f'), first))
    return Usage("-f needs a size in bytes");
  zip.MultiZipInfo.MultiMode = TMultiMode::mmBlocks;
  zip.MultiZipInfo.BlockSize = block;
  zip.MultiZipInfo.FirstBlockSize = first;
  zip.ReplaceArchive = true;
  return Add(zip, args);
}

int Delete(TArcZip& zip, const TArgs& args) {
  if (args.words.size() < 2) return Usage("nothing to delete");
  zip.FilesList.assign(args.words.begin() + 1, args.words.end());
  zip.ReadArchive();
  int n = zip.RemoveEntries();
  std::printf("%d entries deleted\n", n);
  return n > 0 ? kGood : kSomeBad;
}

int Comment(TArcZip& zip) {
  std::string text;
  char buf[4096];
  size_t r;
  while ((r = std::fread(buf, 1, sizeof buf, stdin)) > 0) text.append(buf, r);
  if (text.size() > 0xFFFF) {
    std::fprintf(stderr, "arczip: a comment holds at most 65535 bytes\n");
    return kFailed;
  }
  zip.ReadArchive();
  zip.SetArchiveComment(text);
  zip.SaveArchiveChanges();
  return kGood;
}

struct TCommand {
  const char* name;
  const char* withValue;  // options taking a value
  const char* flags;      // options without one
  const char* longFlags;  // "--name" options
  size_t minWords, maxWords;
};

const TCommand kCommands[] = {
    {"l", "", "", "", 1, 1},
    {"t", "p", "", "", 1, 1},
    {"x", "pd", "on", "keep-links", 1, 1},
    {"a", "pxns", "0123456789ruf", "traditional force follow-links", 2, SIZE_MAX},
    {"d", "", "", "force", 2, SIZE_MAX},
    {"c", "", "", "force", 1, 1},
    {"sfx", "s", "", "force", 1, 1},
    {"unsfx", "", "", "force", 1, 1},
    {"split", "pxnbf", "0123456789r", "traditional", 2, SIZE_MAX},
    {"repair", "", "", "", 2, 2},
};

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("arczip %s\n", ARCAVO_VERSION);
    return kGood;
  }
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0))
    return Usage("", stdout);
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  const TCommand* cmd = nullptr;
  for (const auto& c : kCommands)
    if (command == c.name) cmd = &c;
  if (!cmd) return Usage("unknown command " + command);
  TArgs args;
  std::string problem;
  if (!ParseArgs(argc, argv, cmd->withValue, cmd->flags, cmd->longFlags, args, problem))
    return Usage(problem);
  if (args.words.empty()) return Usage("no archive named");
  if (args.words.size() < cmd->minWords || args.words.size() > cmd->maxWords)
    return Usage("wrong number of names for " + command);

  TArcZip zip;
  // Without a window, a file without an end record is reported, not taken as a volume of a set.
  zip.IncompleteZipMode = TIncompleteZipMode::izAssumeNotAZip;
  // Parts of a set are named as the program names them: base.z01, ... and base.zip.
  zip.OnFileNameForSplitPart = [](TArcUnZip::TSender, std::string& name, int part,
                                  TSplitPartType type) {
    name = ProgramPartName(name, part, type);
  };
  // What an interrupted run left beside the archive and this one removed is told.
  struct TTellLeftovers {
    TArcZip& z;
    ~TTellLeftovers() {
      for (const std::string& f : z.LeftoversRemoved)
        std::fprintf(stderr, "arczip: removed the leftover of an interrupted run: %s\n", f.c_str());
    }
  } tellLeftovers{zip};
  try {
    if (command == "repair") return Repair(zip, args.words[0], args.words[1]);
    // An archive whose directory is damaged is rewritten only when asked: the rewrite keeps
    // just the entries that reading found.
    zip.RewriteDamaged = args.Has("force");
    zip.SetZipName(args.words[0]);
    if (command == "a") return Add(zip, args);
    if (command == "split") return Split(zip, args);
    if (command == "d") return Delete(zip, args);
    if (command == "c") return Comment(zip);
    if (command == "sfx") {
      zip.ReadArchive();
      zip.ConvertToSelfExtractor(StubOr(args.Last('s')));
      return kGood;
    }
    if (command == "unsfx") {
      zip.ReadArchive();
      zip.ConvertToPlainZip(false);
      std::printf("%s\n", zip.ZipName().c_str());
      return kGood;
    }
    zip.Password = args.Last('p');
    if (command == "l") return List(zip);
    if (command == "t") return Test(zip);
    // x: the files go below the folder named, never to the places stored absolute names give.
    auto dest = args.values.find('d');
    if (dest == args.values.end()) return Usage("x needs a folder: -d DIR");
    if (dest->second.back().empty()) return Usage("x needs a folder that is not empty: -d DIR");
    zip.SetDestDir(dest->second.back());
    zip.OverwriteMode = TUZOverwriteMode::Never;
    zip.KeepLinks = args.Has("keep-links");
    for (char c : args.flags)
      zip.OverwriteMode = c == 'o' ? TUZOverwriteMode::Always : TUZOverwriteMode::Never;
    return ExtractAll(zip);
  } catch (const std::bad_alloc&) {
    // Never the library's text: say what failed.
    std::fprintf(stderr, "arczip: %s: not enough memory for this archive\n", args.words[0].c_str());
    return kFailed;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "arczip: %s\n", e.what());
    return kFailed;
  }
}
