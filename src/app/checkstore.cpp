#include "app/checkstore.h"

#include <QFile>

#include "app/fslisting.h"

namespace {

// The first key after every path below prefix ("/a" covers "/a/..." up to "/a0").
std::string BelowBegin(const std::string& path) {
  return path == "/" ? std::string("/") : path + "/";
}
std::string BelowEnd(const std::string& path) {
  return path == "/" ? std::string("0") : path + "0";  // '0' follows '/'
}

}  // namespace

TCheckStore::TCheckStore(QObject* parent) : QObject(parent) {}

bool TCheckStore::Own(const std::string& path) const {
  std::string p = path;
  while (!p.empty()) {
    auto it = marks_.find(p);
    if (it != marks_.end()) return it->second.checked;
    p = ParentPath(p);
  }
  return false;
}

bool TCheckStore::HasMarksBelow(const std::string& path) const {
  auto it = marks_.lower_bound(BelowBegin(path));
  if (it == marks_.end()) return false;
  if (path == "/") return it->first != "/" || std::next(it) != marks_.end();
  return it->first < BelowEnd(path);
}

TickState TCheckStore::State(const std::string& path) const {
  if (HasMarksBelow(path)) return TickState::Mixed;
  return Own(path) ? TickState::Checked : TickState::Unchecked;
}

void TCheckStore::EraseBelow(const std::string& path) {
  if (path == "/") {
    const bool rootMarked = marks_.count("/") != 0;
    const Mark root = rootMarked ? marks_["/"] : Mark{};
    marks_.clear();
    if (rootMarked) marks_["/"] = root;
    return;
  }
  marks_.erase(marks_.lower_bound(BelowBegin(path)), marks_.lower_bound(BelowEnd(path)));
}

void TCheckStore::Apply(const std::string& path, bool checked) {
  EraseBelow(path);
  const std::string parent = ParentPath(path);
  const bool inherited = parent.empty() ? false : Own(parent);
  if (checked == inherited) {
    marks_.erase(path);
  } else {
    marks_[path] = Mark{checked, IsRealFolder(path)};
  }
  // A ticked folder whose content is now unticked item by item becomes unticked itself.
  if (!checked && !parent.empty() && Own(parent)) {
    const std::vector<FsEntry> kids = ListFolder(parent, true, false);
    bool allOff = !kids.empty();
    for (const FsEntry& k : kids) {
      if (State(k.path) != TickState::Unchecked) {
        allOff = false;
        break;
      }
    }
    if (allOff) Apply(parent, false);
  }
}

void TCheckStore::SetChecked(const std::string& path, bool checked) {
  if (path.empty()) return;
  Apply(path, checked);
  emit Changed();
}

void TCheckStore::Clear() {
  marks_.clear();
  emit Changed();
}

bool TCheckStore::Empty() const {
  for (const auto& [p, m] : marks_) {
    if (m.checked) return false;
  }
  return true;
}

void TCheckStore::Emit(const std::string& path, bool folder, std::vector<JobEntry>& out) const {
  const TickState st = State(path);
  if (st == TickState::Unchecked) return;
  if (st == TickState::Checked) {
    out.push_back(JobEntry{true, folder, path});
    return;
  }
  if (path != "/") out.push_back(JobEntry{false, true, path});
  // The children to visit: all of the folder's content when the folder itself is ticked (its
  // unmarked content inherits the tick), and the way down to every mark below it.
  std::map<std::string, bool> kids;  // path -> folder
  if (Own(path)) {
    for (const FsEntry& e : ListFolder(path, true, false)) kids[e.path] = e.folder;
  }
  for (auto it = marks_.lower_bound(BelowBegin(path));
       it != marks_.end() && (path == "/" || it->first < BelowEnd(path)); ++it) {
    if (it->first == path) continue;
    const size_t start = path == "/" ? 1 : path.size() + 1;
    const size_t slash = it->first.find('/', start);
    if (slash == std::string::npos) {
      kids.emplace(it->first, it->second.folder);
    } else {
      kids[it->first.substr(0, slash)] = true;
    }
  }
  for (const auto& [child, isFolder] : kids) Emit(child, isFolder, out);
}

std::vector<JobEntry> TCheckStore::Entries() const {
  std::vector<JobEntry> out;
  if (!marks_.empty()) Emit("/", true, out);
  return out;
}

std::vector<std::string> TCheckStore::TickedPaths() const {
  return JobTickedPaths(Entries());
}

QStringList TCheckStore::TickedPathList() const {
  QStringList out;
  for (const std::string& p : TickedPaths()) out << PathText(p);
  return out;
}

void TCheckStore::Load(const std::vector<JobEntry>& entries) {
  marks_.clear();
  std::map<std::string, bool> folders;
  for (const JobEntry& e : entries) folders[e.path] = e.folder;
  for (const std::string& p : JobTickedPaths(entries)) marks_[p] = Mark{true, folders[p]};
  emit Changed();
}

bool TCheckStore::LoadJobFile(const std::string& path, std::string* error) {
  std::vector<JobEntry> entries;
  if (!ReadJobFile(path, entries, error)) return false;
  Load(entries);
  return true;
}

void TCheckStore::SaveJobFile(const std::string& path) const {
  WriteJobFile(path, Entries());
}
