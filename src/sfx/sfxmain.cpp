// The self-extractor stub. A self-extracting archive is this program's bytes, then the
// configuration block (TSFXConfig), then a zip archive whose offsets count from the start of the
// file. Run, the program reads its own file as that archive, shows the caption and info text and
// extracts with the engine (so the engine's path-safety rules apply).
//
//   NAME [-d DIR] [-l] [-t] [-o|-n] [-p PASSWORD] [-c] [-y] [PATTERN...]
//     -d DIR  extract below DIR (default: the block's default folder, else the current folder)
//     -l      list the entries        -t  test the entries
//     -o, -n  overwrite / never overwrite existing files (when the archive allows it)
//     -p      password of encrypted entries (otherwise asked for on the terminal)
//     -c      do not run the archive's command line (when the archive allows it)
//     -y      no confirmation question
//     PATTERN extract only matching entries (when the archive allows it)
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "archive/arcunzip.h"
#include "archive/sfxconfig.h"
#include "archive/zipexceptions.h"

namespace {

const char* g_prog = "ArcSFX32";

std::string SelfPath() {
  std::vector<char> buf(4096);
  ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  if (n <= 0) return {};
  return std::string(buf.data(), static_cast<size_t>(n));
}

// A line typed on the terminal, "" when there is none; echo off for passwords.
std::string AskTerminal(const std::string& prompt, bool secret) {
  FILE* tty = std::fopen("/dev/tty", "r+");
  if (!tty) return {};
  std::fputs(prompt.c_str(), tty);
  std::fflush(tty);
  termios old{};
  bool restore = false;
  if (secret && ::tcgetattr(fileno(tty), &old) == 0) {
    termios quiet = old;
    quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
    restore = ::tcsetattr(fileno(tty), TCSAFLUSH, &quiet) == 0;
  }
  char line[1024];
  std::string answer;
  if (std::fgets(line, sizeof line, tty)) answer = line;
  if (restore) {
    ::tcsetattr(fileno(tty), TCSAFLUSH, &old);
    std::fputs("\n", tty);
  }
  std::fclose(tty);
  while (!answer.empty() && (answer.back() == '\n' || answer.back() == '\r')) answer.pop_back();
  return answer;
}

bool Interactive() {
  return ::isatty(STDIN_FILENO) != 0;
}

int Usage() {
  std::fprintf(stderr,
               "usage: %s [-d DIR] [-l] [-t] [-o|-n] [-p PASSWORD] [-c] [-y] [PATTERN...]\n",
               g_prog);
  return 2;
}

// What the command line asks for.
struct TOptions {
  std::string dest, password;
  bool list = false, test = false, noCmd = false, yes = false, havePassword = false;
  int overwrite = 0;  // 0 as the archive says, 1 always, 2 never
  std::vector<std::string> patterns;
};

// False on an unknown option or a request for help.
bool ParseArgs(int argc, char** argv, TOptions& o) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "-d" && i + 1 < argc) {
      o.dest = argv[++i];
    } else if (a == "-p" && i + 1 < argc) {
      o.password = argv[++i];
      o.havePassword = true;
    } else if (a == "-l") {
      o.list = true;
    } else if (a == "-t") {
      o.test = true;
    } else if (a == "-o") {
      o.overwrite = 1;
    } else if (a == "-n") {
      o.overwrite = 2;
    } else if (a == "-c") {
      o.noCmd = true;
    } else if (a == "-y") {
      o.yes = true;
    } else if (a == "-h" || a == "--help" || (a.size() > 1 && a[0] == '-')) {
      return false;
    } else {
      o.patterns.push_back(a);
    }
  }
  return true;
}

// Refuses what the archive's configuration does not let the user change; 0 when all is allowed.
int CheckAllowed(const TOptions& o, const TSFXConfig& cfg) {
  const char* refusal = nullptr;
  if (o.overwrite != 0 && !cfg.UserCanChangeOverwrite)
    refusal = "the overwrite mode of this archive cannot be changed";
  else if (!o.patterns.empty() && !cfg.UserCanChooseFiles)
    refusal = "this archive is extracted as a whole";
  else if (o.noCmd && !cfg.UserCanDisableCmdLine)
    refusal = "the command line of this archive cannot be disabled";
  if (!refusal) return 0;
  std::fprintf(stderr, "%s: %s\n", g_prog, refusal);
  return 2;
}

// Problems are told on standard error and counted; passwords are asked on the terminal.
void AttachHandlers(TArcUnZip& zip, const TOptions& o, int& problems) {
  zip.OnSkippingFile = [&problems](TArcUnZip*, TSkipReason r, const std::string& name, int, bool&) {
    ++problems;
    std::fprintf(stderr, "skipped (%s): %s\n", SkipReasonLabel(r), name.c_str());
  };
  zip.OnBadCRC = [&problems](TArcUnZip* z, uint32_t, uint32_t, int index) {
    ++problems;
    const TZipHeaderInfo& h = z->EntryHeader(index);
    std::fprintf(
        stderr, "%s: %s\n",
        h.Problem == TEntryProblem::BadAuthentication ? EntryProblemText(h.Problem) : "bad CRC",
        h.FullName().c_str());
  };
  zip.OnHandleMessage = [&problems](TArcUnZip*, int, const std::string& text, const std::string&,
                                    uint32_t, int& ret) {
    ++problems;
    std::fprintf(stderr, "%s\n", text.c_str());
    ret = zrNo;
  };
  if (o.havePassword) zip.Password = o.password;
  const bool havePassword = o.havePassword;
  zip.OnBadPassword = [havePassword](TArcUnZip* z, int index, std::string& pw) {
    // A password given on the command line is final; otherwise ask once per wrong answer.
    if (havePassword) return;
    std::string typed = AskTerminal("Password for " + z->EntryFullName(index) + ": ", true);
    if (!typed.empty()) pw = typed;
  };
}

int ListEntries(TArcUnZip& zip) {
  for (int i = 0; i < zip.EntryCount(); ++i)
    std::printf("%12llu  %s\n", static_cast<unsigned long long>(zip.EntrySize(i)),
                zip.EntryFullName(i).c_str());
  std::printf("%d entries\n", zip.EntryCount());
  return 0;
}

int TestEntries(TArcUnZip& zip) {
  bool good = zip.TestArchive();
  for (int i = 0; i < zip.EntryCount(); ++i)
    std::printf("%s %s\n", zip.EntryHeader(i).TestState == TZipTestState::Good ? "OK " : "BAD",
                zip.EntryFullName(i).c_str());
  std::printf(good ? "No errors\n" : "Errors found\n");
  return good ? 0 : 1;
}

void SetOverwriteMode(TArcUnZip& zip, const TOptions& o, const TSFXConfig& cfg) {
  switch (o.overwrite != 0
              ? (o.overwrite == 1 ? TSFXOverwriteMode::omAlways : TSFXOverwriteMode::omNever)
              : cfg.OverwriteMode) {
    case TSFXOverwriteMode::omAlways:
      zip.OverwriteMode = TUZOverwriteMode::Always;
      break;
    case TSFXOverwriteMode::omNever:
      zip.OverwriteMode = TUZOverwriteMode::Never;
      break;
    case TSFXOverwriteMode::omPrompt:
      // Extracting automatically asks nothing: existing files are then kept.
      zip.OverwriteMode = cfg.AutoExtract ? TUZOverwriteMode::Never : TUZOverwriteMode::Prompt;
      break;
  }
  zip.OnPromptForOverwrite = [](TArcUnZip*, bool& overwriteIt, int, std::string& name) {
    std::string a = AskTerminal("Replace existing file " + name + "? [y/N] ", false);
    overwriteIt = !a.empty() && (a[0] == 'y' || a[0] == 'Y');
  };
}

// The archive's command line, run in the target folder, quoted for the shell (' becomes '\'').
int RunCommandLine(const std::string& cmdLine, const std::string& dest) {
  std::printf("Running: %s\n", cmdLine.c_str());
  std::fflush(stdout);
  std::string quoted;
  for (char c : dest) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  std::string cmd = "cd '" + quoted + "' && " + cmdLine;
  return std::system(cmd.c_str()) == 0 ? 0 : 1;
}

int ExtractEntries(TArcUnZip& zip, TOptions& o, const TSFXConfig& cfg, const int& problems) {
  if (o.dest.empty()) o.dest = cfg.DefaultPath.empty() ? "." : cfg.DefaultPath;
  SetOverwriteMode(zip, o, cfg);
  if (!cfg.AutoExtract && !o.yes && Interactive()) {
    std::string a = AskTerminal(
        "Extract " + std::to_string(zip.EntryCount()) + " entries to " + o.dest + "? [Y/n] ",
        false);
    if (!a.empty() && (a[0] == 'n' || a[0] == 'N')) return 1;
  }
  zip.SetDestDir(o.dest);
  zip.RecreateDirs = true;
  zip.DoAll = o.patterns.empty();
  zip.FilesList = o.patterns;
  int n = zip.Extract();
  std::printf("%d entries extracted to %s\n", n, o.dest.c_str());
  if (problems) return 1;
  if (!cfg.CmdLine.empty() && !o.noCmd) return RunCommandLine(cfg.CmdLine, o.dest);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 0 && argv[0]) {
    const char* slash = std::strrchr(argv[0], '/');
    g_prog = slash ? slash + 1 : argv[0];
  }
  TOptions o;
  if (!ParseArgs(argc, argv, o)) return Usage();

  std::string self = SelfPath();
  TArcUnZip zip;
  zip.IncompleteZipMode = TIncompleteZipMode::izAssumeNotAZip;
  TSFXConfig cfg;
  try {
    zip.SetZipName(self);
    zip.ReadArchive();
    TFileStream s(self, TFileStream::omRead);
    cfg.ReadConfigBefore(s, FirstEntryOffset(zip));
  } catch (const std::exception&) {
    std::fprintf(stderr, "%s: no archive attached\n", g_prog);
    return 2;
  }

  std::printf("%s\n", cfg.Caption.c_str());
  if (!cfg.InfoTitle.empty()) std::printf("\n%s\n", cfg.InfoTitle.c_str());
  if (!cfg.InfoText.empty()) std::printf("%s\n", cfg.InfoText.c_str());
  std::printf("\n");
  std::fflush(stdout);
  if (int refused = CheckAllowed(o, cfg)) return refused;

  int problems = 0;
  AttachHandlers(zip, o, problems);
  try {
    if (o.list) return ListEntries(zip);
    if (o.test) return TestEntries(zip);
    return ExtractEntries(zip, o, cfg, problems);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", g_prog, e.what());
    return 1;
  }
}
