// The tick store of the explorer: one store serves the folder tree and the folder list, so a
// tick in one shows in the other.
//
// Ticks are kept as marks on paths: a mark says "checked" or "unchecked" and holds for the path
// and everything below it up to the next mark. A folder's state is therefore inherited by its
// content, including items nobody has listed yet and hidden ones (the backup always takes hidden
// files, so a hidden sibling of an unticked sub-folder stays ticked). A path with marks below it
// that differ from its own state is mixed. Marks that repeat the inherited state are dropped, so
// equal selections have equal marks.
//
// Paths are absolute byte strings without a trailing "/" (the root is "/").
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <map>
#include <string>
#include <vector>

#include "app/jobfile.h"
#include "app/pathbytes.h"

enum class TickState { Unchecked, Checked, Mixed };

class TCheckStore : public QObject {
  Q_OBJECT
 public:
  explicit TCheckStore(QObject* parent = nullptr);

  TickState State(const std::string& path) const;
  // A tick or untick by the user (or by code) on one item. Unticking the last unticked-so-far
  // child of a ticked folder unticks the folder itself.
  void SetChecked(const std::string& path, bool checked);
  // Unticks everything.
  void Clear();
  // True when nothing is ticked anywhere.
  bool Empty() const;

  // The ticked paths: every topmost checked item, a mixed folder contributing its checked content
  // (found on disk, hidden items included). Sorted parents-first, by name.
  std::vector<std::string> TickedPaths() const;
  QStringList TickedPathList() const;

  // The selection as lines of NAME.JOB (mixed ancestors first), and back. Paths that no longer
  // exist keep their ticks.
  std::vector<JobEntry> Entries() const;
  void Load(const std::vector<JobEntry>& entries);
  // Reads NAME.JOB into the store; false (store unchanged) when the file is not a job.
  bool LoadJobFile(const std::string& path, std::string* error = nullptr);
  // Writes NAME.JOB atomically; throws std::system_error.
  void SaveJobFile(const std::string& path) const;

 signals:
  // Any tick changed.
  void Changed();

 private:
  struct Mark {
    bool checked = false;
    bool folder = false;
  };
  // The state a path has by its own mark or the nearest mark above it.
  bool Own(const std::string& path) const;
  bool HasMarksBelow(const std::string& path) const;
  void EraseBelow(const std::string& path);
  void Apply(const std::string& path, bool checked);
  void Emit(const std::string& path, bool folder, std::vector<JobEntry>& out) const;

  std::map<std::string, Mark> marks_;
};
