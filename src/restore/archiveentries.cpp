#include "restore/archiveentries.h"

#include <QDate>
#include <QTime>
#include <unordered_map>

#include "app/versionfolder.h"
#include "archive/arcunzip.h"

namespace restore {

void TArchiveEntries::reserve(size_t n) {
  name.reserve(n);
  storedPath.reserve(n);
  shownPath.reserve(n);
  size.reserve(n);
  dosTime.reserve(n);
  disk.reserve(n);
  number.reserve(n);
}

void TArchiveEntries::Add(const QString& entryName, const QString& storedFolder, uint64_t bytes,
                          uint32_t dos, int diskNo, int entryNo) {
  name.push_back(entryName);
  // Entries of one folder usually follow each other: share the previous strings.
  if (!storedPath.empty() && storedPath.back() == storedFolder) {
    storedPath.push_back(storedPath.back());
    shownPath.push_back(shownPath.back());
  } else {
    storedPath.push_back(storedFolder);
    shownPath.push_back(NoSuffix(storedFolder));
  }
  size.push_back(bytes);
  dosTime.push_back(dos);
  disk.push_back(diskNo);
  number.push_back(entryNo);
}

uint64_t TArchiveEntries::TotalSize() const {
  uint64_t total = 0;
  for (uint64_t s : size) total += s;
  return total;
}

QString TArchiveEntries::TypeText(int e) const {
  const QString& n = name[e];
  const qsizetype dot = n.lastIndexOf(QLatin1Char('.'));
  return dot < 0 ? QString() : n.mid(dot);
}

std::shared_ptr<TArchiveEntries> SnapshotEntries(const TArcUnZip& zip,
                                                 const std::function<void()>& tick) {
  auto out = std::make_shared<TArchiveEntries>();
  const int n = zip.EntryCount();
  out->reserve(static_cast<size_t>(n));
  // Folder texts converted once per distinct folder.
  std::unordered_map<std::string, QString> folders;
  for (int i = 0; i < n; ++i) {
    const TZipHeaderInfo& h = zip.EntryHeader(i);
    auto it = folders.find(h.FilePath);
    if (it == folders.end())
      it = folders.emplace(h.FilePath, QString::fromStdString(h.FilePath)).first;
    out->Add(QString::fromStdString(h.FileName), it->second, h.UncompressedSize(), h.ModifDateTime,
             static_cast<int>(h.DiskNumber()) + 1, i);
    if (tick && (i & 4095) == 4095) tick();
  }
  return out;
}

uint64_t DosTimeSortKey(uint32_t dos) {
  const unsigned date = dos >> 16, time = dos & 0xFFFF;
  const QDate d(1980 + static_cast<int>(date >> 9), static_cast<int>((date >> 5) & 15),
                static_cast<int>(date & 31));
  const bool ok = d.isValid() && (time >> 11) < 24 && ((time >> 5) & 63) < 60 && (time & 31) < 30;
  return ok ? dos : (uint64_t{1} << 32);
}

}  // namespace restore
