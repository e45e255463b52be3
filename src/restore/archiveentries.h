// The rows an archive view can show, as a compact snapshot taken when the view is filled: one
// slot per entry in columns of their own, so 100,000 entries cost a few vectors and the texts of
// the visible rows are formatted only when asked for.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class TArcUnZip;

namespace restore {

struct TArchiveEntries {
  std::vector<QString> name;        // file name without folder; empty for a folder entry
  std::vector<QString> storedPath;  // folder as stored, "" or ending in "/"
  std::vector<QString> shownPath;   // storedPath without its version folder (NoSuffix)
  std::vector<uint64_t> size;       // uncompressed size
  std::vector<uint32_t> dosTime;    // DOS date (high 16 bits) and time (low 16 bits)
  std::vector<int32_t> disk;        // 1-based volume number
  std::vector<int32_t> number;      // the "#" column: entry number within its archive

  int count() const { return static_cast<int>(name.size()); }
  void reserve(size_t n);
  // Appends one entry. Equal path texts share one string.
  void Add(const QString& entryName, const QString& storedFolder, uint64_t bytes, uint32_t dos,
           int diskNo, int entryNo);
  uint64_t TotalSize() const;
  // The "FileName" text: the name, or for a folder entry its folder without version folder.
  QString FileNameText(int e) const { return name[e].isEmpty() ? shownPath[e] : name[e]; }
  // The "Type" text: the extension of the name with its dot ("" when none).
  QString TypeText(int e) const;
  bool IsFolderEntry(int e) const { return name[e].isEmpty(); }
};

// Snapshot of every entry of the engine's open archive, entry k in slot k. Calls tick() every
// few thousand entries so the window stays responsive.
std::shared_ptr<TArchiveEntries> SnapshotEntries(const TArcUnZip& zip,
                                                 const std::function<void()>& tick = {});

// Sort key of a DOS date-time: valid values order as their times; an invalid value reads as
// "now", which is later than anything stored, so it sorts last.
uint64_t DosTimeSortKey(uint32_t dos);

}  // namespace restore
