// Fuzz target: arbitrary bytes as an archive on disk, rewritten twice: updated with one new file,
// and with its first entry deleted. Each rewrite either fails and leaves the file byte for byte
// as it was, or succeeds with an archive that reads back with the entries it should have, the
// kept ones testing as they did before; no temporary file stays behind.
#include <dirent.h>
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "archive/arczip.h"
#include "archive/zipexceptions.h"
#include "scratch.h"

namespace fs = std::filesystem;

namespace {

void Write(const std::string& path, const uint8_t* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Empty(const std::string& dir) {
  std::error_code ec;
  return fs::is_empty(dir, ec);
}

void Quiet(TArcZip& z, const std::string& temp) {
  z.DoProcessMessages = false;
  z.IncompleteZipMode = TIncompleteZipMode::izAssumeNotAZip;
  z.Password = "secret";
  z.TempPath = temp;
  z.PackThreads = 0;
}

// Names and test results of an archive as a fresh engine reads it; false when it does not read.
bool Listing(const std::string& path, std::vector<std::string>& names, std::vector<bool>& good) {
  TArcZip z;
  Quiet(z, "");
  z.SetZipName(path);
  try {
    z.ReadArchive();
    z.TestArchive();
  } catch (const EArcZipException&) {
    return false;
  } catch (const std::system_error&) {
    return false;
  }
  for (int i = 0; i < z.EntryCount(); ++i) {
    names.push_back(z.EntryHeader(i).StoredName());
    good.push_back(z.EntryHeader(i).TestState == TZipTestState::Good);
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string dir = FuzzScratch() + "/run";
  const std::string archive = dir + "/a.zip", temp = dir + "/tmp";
  std::error_code ec;
  fs::remove_all(dir, ec);
  fs::create_directories(temp, ec);
  const std::string original(reinterpret_cast<const char*>(data), size);
  Write(archive, data, size);
  std::vector<std::string> before;
  std::vector<bool> goodBefore;
  const bool reads = Listing(archive, before, goodBefore);
  // A "new.txt" already there is replaced in its place: the entries are then checked as read.
  bool appended = reads;
  for (const auto& n : before) appended = appended && n != "new.txt";

  // 1. Updated with one new file.
  Write(dir + "/new.txt", reinterpret_cast<const uint8_t*>("a new file\n"), 11);
  {
    TArcZip z;
    Quiet(z, temp);
    z.SetZipName(archive);
    z.FilesList = {dir + "/new.txt"};
    bool done = false;
    try {
      done = z.ZipFiles() == 1;
    } catch (const EArcZipException&) {
    } catch (const std::system_error&) {
    }
    if (!done && Read(archive) != original) __builtin_trap();
    if (done) {
      std::vector<std::string> after;
      std::vector<bool> good;
      if (!Listing(archive, after, good)) __builtin_trap();
      if (appended &&
          (after.size() != before.size() + 1 || after.back() != "new.txt" || !good.back()))
        __builtin_trap();
      for (size_t i = 0; appended && i < before.size(); ++i)
        if (after[i] != before[i] || (goodBefore[i] && !good[i])) __builtin_trap();
    }
    if (!Empty(temp)) __builtin_trap();
  }

  // 2. The first entry deleted.
  Write(archive, data, size);
  {
    TArcZip z;
    Quiet(z, temp);
    z.SetZipName(archive);
    int removed = 0;
    try {
      z.ReadArchive();
      if (z.EntryCount() > 0) {
        z.SetEntrySelected(0, true);
        removed = z.RemoveEntries();
      }
    } catch (const EArcZipException&) {
    } catch (const std::system_error&) {
    }
    if (removed == 0 && Read(archive) != original) __builtin_trap();
    if (removed == 1) {
      std::vector<std::string> after;
      std::vector<bool> good;
      if (!Listing(archive, after, good) || after.size() + 1 != before.size()) __builtin_trap();
      for (size_t i = 0; i < after.size(); ++i)
        if (after[i] != before[i + 1] || (goodBefore[i + 1] && !good[i])) __builtin_trap();
    }
    if (!Empty(temp)) __builtin_trap();
  }
  fs::remove_all(dir, ec);
  return 0;
}
