// Settings files with Windows INI semantics.
//
// Sections and keys compare case-insensitively (ASCII), the order of sections and keys is kept as
// read or first written, keys and values are stored literally (a key "HotKeyFunc#" stays as it
// is, nothing is quoted or escaped), integers are decimal and booleans "1"/"0". Comment lines and
// other lines that are not key=value are kept in place. Saving is atomic: the new content goes to
// a unique temporary file in the same folder, is flushed and then renamed over the old file, so a
// crash or a failed write never leaves a half-written settings file.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class IniFile {
 public:
  IniFile() = default;
  // Loads path when it exists; a missing file gives an empty content (like the Windows API).
  explicit IniFile(std::string path);

  const std::string& path() const { return path_; }
  // Re-reads the file; returns false (and an empty content) when it cannot be read.
  bool Load();
  // Parses text as the file's content (used by tests and by the loader).
  void Parse(const std::string& text);
  // The content as it would be written.
  std::string Text() const;
  // Writes atomically to path(). Throws std::system_error on failure; the old file stays intact.
  void Save() const;
  void SaveAs(const std::string& path);

  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& def) const;
  // A value that is not a decimal integer reads as def.
  int64_t ReadInteger(const std::string& section, const std::string& key, int64_t def) const;
  bool ReadBool(const std::string& section, const std::string& key, bool def) const;

  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, int64_t value);
  void WriteBool(const std::string& section, const std::string& key, bool value);

  bool SectionExists(const std::string& section) const;
  bool ValueExists(const std::string& section, const std::string& key) const;
  std::vector<std::string> Sections() const;
  // Keys of a section in file order.
  std::vector<std::string> Keys(const std::string& section) const;
  void EraseSection(const std::string& section);
  void DeleteKey(const std::string& section, const std::string& key);

  // Test seam: called after the temporary file is written and before the rename; a throw from
  // it must leave the previous file untouched.
  static std::function<void(const std::string& tempPath)> beforeRenameHook;

 private:
  struct Line {
    std::string key;    // empty for a raw line
    std::string value;  // the value, or the whole raw line
    bool raw = false;
  };
  struct Section {
    std::string name;
    std::vector<Line> lines;
  };

  Section* Find(const std::string& section);
  const Section* Find(const std::string& section) const;
  static const Line* FindKey(const Section& s, const std::string& key);

  std::string path_;
  std::vector<std::string> preamble_;  // lines before the first section, kept as they are
  std::vector<Section> sections_;
};

// Writes bytes to path atomically (unique temporary in the same folder, fsync, rename).
// Throws std::system_error; on failure the previous file is untouched and no temporary remains.
void WriteFileAtomically(const std::string& path, const std::string& bytes);
