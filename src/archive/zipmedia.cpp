#include "archive/zipmedia.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <system_error>

#include "platform/volumeservice.h"

TZipMedia::TZipMedia(IVolumeService* service)
    : service_(service ? service : &DefaultVolumeService()) {}

int64_t TZipMedia::FreeBytes(const std::string& path) {
  return service_->FreeBytes(path);
}
int64_t TZipMedia::ClusterSize(const std::string& path) {
  return service_->ClusterSize(path);
}
int64_t TZipMedia::LargestFile(const std::string& path) {
  return service_->LargestFile(path);
}
bool TZipMedia::IsRemovable(const std::string& path) {
  return service_->IsRemovable(path);
}
std::string TZipMedia::ReadLabel(const std::string& path) {
  return service_->ReadLabel(path);
}
bool TZipMedia::WriteLabel(const std::string& path, const std::string& label) {
  return service_->WriteLabel(path, label);
}

bool TZipMedia::Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

bool TZipMedia::Stat(const std::string& path, int64_t& size, int64_t& modTimeNs) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  size = st.st_size;
  modTimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return true;
}

bool TZipMedia::Remove(const std::string& path) {
  return ::unlink(path.c_str()) == 0;
}

bool TZipMedia::Rename(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0;
}

std::unique_ptr<THugeStream> TZipMedia::CreateVolume(const std::string& path) {
  return std::make_unique<TFileStream>(path, TFileStream::omCreate);
}

std::unique_ptr<THugeStream> TZipMedia::OpenVolume(const std::string& path) {
  return std::make_unique<TFileStream>(path, TFileStream::omRead);
}

int64_t TZipMedia::Room(const std::string& path) {
  const int64_t free = FreeBytes(path);
  if (free <= 0) return 0;
  const int64_t largest = LargestFile(path);
  return largest > 0 ? std::min(free, largest) : free;
}

std::string VolumeBaseName(const std::string& zipName) {
  const size_t slash = zipName.rfind('/');
  const size_t start = slash == std::string::npos ? 0 : slash + 1;
  const size_t dot = zipName.rfind('.');
  // A dot that leads the file name (".hidden") does not start an extension.
  if (dot == std::string::npos || dot <= start) return zipName;
  return zipName.substr(0, dot);
}

namespace {

std::string Numbered(const char* format, int n) {
  char buf[32];
  std::snprintf(buf, sizeof buf, format, n);
  return buf;
}

}  // namespace

std::string DefaultPartName(const std::string& base, int partNum, TSplitPartType type,
                            TBlockMode mode) {
  if (mode == TBlockMode::bmClassic) return base + Numbered(".%03d", partNum);
  if (type == TSplitPartType::LastPart) return base + ".zip";
  return base + ".zip" + Numbered(".z%02d", partNum);
}

std::string ProgramPartName(const std::string& base, int partNum, TSplitPartType type) {
  if (type == TSplitPartType::LastPart) return base + ".zip";
  return base + Numbered(".z%02d", partNum);
}

std::string SpanVolumeLabel(int volume) {
  return Numbered("PKBACK# %03d", volume);
}

bool SpanLabelMatches(const std::string& label, int volume) {
  const std::string digits = Numbered("%03d", volume);
  return label.size() >= digits.size() &&
         label.compare(label.size() - digits.size(), digits.size(), digits) == 0;
}
