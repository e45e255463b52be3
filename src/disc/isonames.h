// Names on the disc: the ISO 9660 identifier and the Joliet identifier of a file or directory,
// each unique within its directory.
//
// ISO identifiers: a name that is a valid 8.3 name once upper-cased (characters A-Z, 0-9 and
// !#$%&'()-@^_`{}~) is used upper-cased; any other name becomes the first valid characters of its
// stem, "~N" and, for a file, "." and the first three valid characters of its extension (eight
// characters before the dot at most, N the smallest number free in the directory). Directories
// made from a path alone (and not from a folder on disk) use the 13-character rule instead.
//
// Joliet identifiers: the name in UCS-2; bytes that are not UTF-8, characters above U+FFFF,
// control characters and * / : ; ? \ become "_". A name longer than 103 characters is cut,
// keeping its extension; a name already taken in the directory gets "~N" before its extension.
#pragma once

#include <cstddef>
#include <string>
#include <unordered_map>
#include <unordered_set>

// Longest Joliet name, in UCS-2 characters. A directory record would hold 108 (a file's, with
// ";1") or 110 (a directory's), but common readers cut every Joliet name after 103 characters, so
// names are kept to that length and stay whole and unique in every reader.
inline constexpr size_t kMaxJolietFileChars = 103;
inline constexpr size_t kMaxJolietDirChars = 103;

// Bytes of a directory record with an identifier of idLength bytes (33 fixed, the identifier,
// and a padding byte after an even-length identifier).
inline size_t DirRecordLength(size_t idLength) {
  return 33 + idLength + (idLength % 2 == 0 ? 1 : 0);
}

// True when c may stand in an 8.3 name (after upper-casing).
bool IsShortNameChar(char c);
// True when name (already upper-cased) is a valid 8.3 name: a stem of 1-8 characters and, after
// at most one ".", an extension of up to 3.
bool IsValid83(const std::string& name);

// The UCS-2 form of a UTF-8 name with the replacements above (not cut).
std::u16string JolietFromUtf8(const std::string& name);
// UTF-8 of a UCS-2 name.
std::string Utf8FromUcs2(const std::u16string& name);

// The names taken within one directory, and the choosing of new unique ones.
class TNameScope {
 public:
  // The ISO identifier (without ";1") for a name found on disk; isFile chooses the 8.3 form of a
  // file (always with a ".") or of a directory (no extension).
  std::string ShortName83(const std::string& longName, bool isFile);
  // The ISO identifier of a directory made from a path: upper case, characters outside "!" to "z"
  // (and ";") as "_", at most 13 characters.
  std::string ShortName13(const std::string& longName);
  // A handler's ISO identifier made valid and unique: upper case, at most 30 characters, no ";"
  // or "/".
  std::string FixShortName(const std::string& shortName, bool isFile);
  // The Joliet identifier (without ";1"). With displaces given, a name that is valid as it is
  // (nothing replaced, not cut) is returned even when an entry holds it under a name made for
  // another (replaced characters, a number): *displaces is then set, and that entry must give it
  // up (Release it and take a new one) before this one is taken. A file whose real name is
  // "x_.txt" so keeps it against "x*.txt", whichever came first.
  std::u16string JolietName(const std::string& longName, bool isFile, bool* displaces = nullptr);
  // The Joliet name as it is, when it is valid for the disc as it is; empty otherwise.
  static std::u16string ExactJolietName(const std::string& longName, bool isFile);

  bool HasShort(const std::string& s) const { return shortNames_.count(s) != 0; }
  bool HasJoliet(const std::u16string& s) const { return jolietNames_.count(s) != 0; }
  // Takes both names; made marks a Joliet name that is not its entry's own (a replacement or a
  // number), which a valid own name may displace.
  void Take(const std::string& shortName, const std::u16string& jolietName, bool made = false) {
    shortNames_.insert(shortName);
    jolietNames_[jolietName] = made;
  }
  void Release(const std::string& shortName, const std::u16string& jolietName) {
    shortNames_.erase(shortName);
    ReleaseJoliet(jolietName);
  }
  void ReleaseJoliet(const std::u16string& jolietName) {
    jolietNames_.erase(jolietName);
    hints_.clear();  // a freed number may now be the smallest free one
  }
  void Clear() {
    shortNames_.clear();
    jolietNames_.clear();
    hints_.clear();
  }

 private:
  // The first number worth trying for a "~N" name of that key: every smaller one was taken when
  // last looked at, and names are only added until the next Release.
  unsigned NextHint(const std::string& key) const;

  std::unordered_map<std::string, unsigned> hints_;
  std::unordered_set<std::string> shortNames_;
  std::unordered_map<std::u16string, bool> jolietNames_;  // name -> made
};
