#include "simremovabledrive.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace {

void MakeFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
    throw std::system_error(errno, std::generic_category(), "mkdir " + path);
}

void MoveFolder(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) != 0)
    throw std::system_error(errno, std::generic_category(), "rename " + from);
}

int64_t RoundUp(int64_t n, int64_t unit) {
  return unit > 0 ? (n + unit - 1) / unit * unit : n;
}

}  // namespace

// A volume file on the inserted medium: writes that would take the medium beyond its capacity are
// cut to what fits and set errno to ENOSPC.
class SimRemovableDrive::TVolumeStream : public THugeStream {
 public:
  TVolumeStream(SimRemovableDrive& drive, const std::string& path, TFileStream::TOpenMode mode)
      : drive_(drive), file_(path, mode), medium_(drive.current_) {}

  int64_t Size() override { return file_.Size(); }
  size_t ReadAt(int64_t pos, void* buffer, size_t n) override {
    return file_.ReadAt(pos, buffer, n);
  }
  size_t WriteAt(int64_t pos, const void* buffer, size_t n) override {
    if (drive_.current_ != medium_) {  // the medium was taken out under the writer
      errno = EIO;
      return 0;
    }
    const TSimMedium& m = drive_.Medium(medium_);
    const int64_t size = file_.Size();
    const int64_t others = drive_.UsedBytes() - RoundUp(size, m.clusterSize);
    int64_t limit = m.capacity - others;
    if (m.clusterSize > 0) limit = limit / m.clusterSize * m.clusterSize;
    limit = std::min(limit, m.largestFile);
    const int64_t end = pos + static_cast<int64_t>(n);
    if (end <= std::max(size, limit)) return file_.WriteAt(pos, buffer, n);
    const int64_t fits = std::max<int64_t>(0, limit - pos);
    size_t done = fits > 0 ? file_.WriteAt(pos, buffer, static_cast<size_t>(fits)) : 0;
    errno = ENOSPC;
    return done;
  }
  void SetSize(int64_t size) override { file_.SetSize(size); }
  int64_t ModTimeNs() override { return file_.ModTimeNs(); }

 private:
  SimRemovableDrive& drive_;
  TFileStream file_;
  int medium_;
};

SimRemovableDrive::SimRemovableDrive(const std::string& root)
    : root_(root), drive_(root + "/drive") {
  MakeFolder(drive_);
  MakeFolder(root_ + "/media");
  MakeFolder(root_ + "/mnt");
}

void SimRemovableDrive::RemountUnderLabel(bool on) {
  const int k = current_;
  SwapTo(-1);
  byLabel_ = on;
  SwapTo(k);
}

int SimRemovableDrive::AddMedium(TSimMedium medium) {
  const int k = static_cast<int>(media_.size());
  TMediumState state{std::move(medium), root_ + "/media/" + std::to_string(k)};
  MakeFolder(state.store);
  for (const auto& [name, content] : state.facts.files) {
    for (size_t slash = name.find('/'); slash != std::string::npos;
         slash = name.find('/', slash + 1))
      MakeFolder(state.store + "/" + name.substr(0, slash));
    std::ofstream out(state.store + "/" + name, std::ios::binary);
    out << content;
  }
  media_.push_back(std::move(state));
  return k;
}

void SimRemovableDrive::SwapTo(int k) {
  if (k == current_) return;
  if (current_ >= 0) {
    MoveFolder(drive_, media_[static_cast<size_t>(current_)].store);
  } else {
    ::rmdir(drive_.c_str());
  }
  drive_ = root_ + "/drive";
  if (k >= 0 && byLabel_) {
    const std::string& label = media_.at(static_cast<size_t>(k)).facts.label;
    drive_ = root_ + "/mnt/" + (label.empty() ? std::string("disk") : label);
  }
  if (k >= 0) {
    MoveFolder(media_.at(static_cast<size_t>(k)).store, drive_);
  } else {
    MakeFolder(drive_);
  }
  current_ = k;
  ++swaps_;
}

void SimRemovableDrive::ScriptSwaps(std::vector<int> order) {
  script_.assign(order.begin(), order.end());
}

bool SimRemovableDrive::ScriptedSwap() {
  if (script_.empty()) return false;
  const int k = script_.front();
  script_.pop_front();
  SwapTo(k);
  return true;
}

int64_t SimRemovableDrive::UsedBytes() {
  if (current_ < 0) return 0;
  const int64_t unit = Medium(current_).clusterSize;
  int64_t used = 0;
  DIR* dir = ::opendir(drive_.c_str());
  if (!dir) return 0;
  while (dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    struct stat st {};
    if (::stat((drive_ + "/" + name).c_str(), &st) == 0) used += RoundUp(st.st_size, unit);
  }
  ::closedir(dir);
  return used;
}

std::string SimRemovableDrive::ReadFile(int k, const std::string& name) {
  const std::string folder = k == current_ ? drive_ : media_.at(static_cast<size_t>(k)).store;
  std::ifstream in(folder + "/" + name, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

bool SimRemovableDrive::OnDrive(const std::string& path) const {
  return path.compare(0, drive_.size() + 1, drive_ + "/") == 0;
}

int64_t SimRemovableDrive::FreeBytes(const std::string& path) {
  if (!OnDrive(path)) return TZipMedia::FreeBytes(path);
  if (current_ < 0) return -1;
  const TSimMedium& m = Medium(current_);
  if (m.reportedFree >= 0) return m.reportedFree;
  return std::max<int64_t>(0, m.capacity - UsedBytes());
}

int64_t SimRemovableDrive::ClusterSize(const std::string& path) {
  if (!OnDrive(path) || current_ < 0) return TZipMedia::ClusterSize(path);
  return Medium(current_).clusterSize;
}

int64_t SimRemovableDrive::LargestFile(const std::string& path) {
  if (!OnDrive(path) || current_ < 0) return TZipMedia::LargestFile(path);
  return Medium(current_).largestFile;
}

bool SimRemovableDrive::IsRemovable(const std::string& path) {
  return OnDrive(path);
}

std::string SimRemovableDrive::ReadLabel(const std::string& path) {
  if (!OnDrive(path) || current_ < 0) return {};
  return Medium(current_).label;
}

bool SimRemovableDrive::WriteLabel(const std::string& path, const std::string& label) {
  if (!OnDrive(path) || current_ < 0) return false;
  Medium(current_).label = label;
  if (onLabel) onLabel(path, label);
  return true;
}

TDriveFacts SimRemovableDrive::Drive(const std::string& path) {
  if (!OnDrive(path) && path != drive_) return DefaultVolumeService().Drive(path);
  TDriveFacts f;
  f.known = true;
  f.removable = true;
  f.readOnly = current_ >= 0 && Medium(current_).writeProtected;
  f.mountPoint = drive_;
  f.fsType = "vfat";
  f.device = "sim0";
  f.drivePath = root_;
  return f;
}

std::unique_ptr<THugeStream> SimRemovableDrive::CreateVolume(const std::string& path) {
  if (!OnDrive(path)) return TZipMedia::CreateVolume(path);
  if (current_ < 0) throw std::system_error(ENOMEDIUM, std::generic_category(), path);
  if (Medium(current_).writeProtected)
    throw std::system_error(EROFS, std::generic_category(), path);
  return std::make_unique<TVolumeStream>(*this, path, TFileStream::omCreate);
}

std::unique_ptr<THugeStream> SimRemovableDrive::OpenVolume(const std::string& path) {
  if (!OnDrive(path)) return TZipMedia::OpenVolume(path);
  if (current_ < 0) throw std::system_error(ENOMEDIUM, std::generic_category(), path);
  return std::make_unique<TVolumeStream>(*this, path, TFileStream::omRead);
}
