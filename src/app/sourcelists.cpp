#include "app/sourcelists.h"

#include <sys/stat.h>

#include <cmath>

#include "app/checkstore.h"

const QString kNoFilesCheckedText = QStringLiteral(
    "           No files checked/selected!\rOn the BROWSER tab, select the drive and check the "
    "directories you want to back up");
const QString kNoIncludeText = QStringLiteral(
    "    No files to INCLUDE in INCLUDE,EXCLUDE,NOCOMP box\rPlease click on the Make Tab, and "
    "fill in 'Inclusion Grid'\rFor example under INCLUDE should have *.* or similar (see "
    "hints/help)");

namespace {

std::string Utf8(const QString& s) {
  return s.toUtf8().toStdString();
}

std::string FileName(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

void ReadGridLists(const TInclusionGrid& grid, EngineLists& lists) {
  lists = EngineLists{};
  for (int r = 1; r <= TInclusionGrid::kScanRows; ++r) {
    const QString inc = grid.Cell(TInclusionGrid::INCLUDE, r).trimmed();
    if (!inc.isEmpty()) {
      lists.include << inc;
      if (inc == QLatin1String("*.*")) lists.allFiles = true;
    }
    const QString exc = grid.Cell(TInclusionGrid::EXCLUDE, r).trimmed();
    if (!exc.isEmpty()) lists.exclude.push_back(Utf8(exc));
    const QString noc = grid.Cell(TInclusionGrid::NOCOMP, r).trimmed();
    if (!noc.isEmpty()) lists.noCompress.push_back(Utf8(noc));
  }
}

std::string ParseAddFiles(const std::string& path, const QStringList& include) {
  if (include.isEmpty()) return path;
  const QString full = PathText(path).toLower();
  const QString name = PathText(FileName(path)).toLower();
  for (const QString& pattern : include) {
    // A pattern naming a folder is compared with the whole path ("\" is accepted for "/").
    const bool withFolder = pattern.contains(QLatin1Char('/')) || pattern.contains('\\');
    const qsizetype dot = pattern.lastIndexOf(QLatin1Char('.'));
    if (dot < 0) continue;
    const QString ext = pattern.mid(dot).toLower();
    if (ext == QLatin1String(".*") || (withFolder ? full : name).contains(ext)) return path;
  }
  return {};
}

EngineLists BuildEngineLists(const TInclusionGrid& grid, const std::vector<std::string>& ticked,
                             const std::vector<std::string>& highlighted, bool restorePoint) {
  EngineLists lists;
  ReadGridLists(grid, lists);
  lists.sources = ticked;
  if (lists.sources.empty() && !restorePoint) lists.sources = highlighted;
  for (auto it = lists.sources.rbegin(); it != lists.sources.rend(); ++it) {
    const std::string& src = *it;
    if (src.empty()) continue;
    struct stat st;
    const bool exists = ::stat(src.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) {
      const std::string folder = src.back() == '/' ? src : src + "/";
      if (lists.allFiles) {
        lists.files.push_back(folder + "*.*");
      } else {
        for (auto p = lists.include.crbegin(); p != lists.include.crend(); ++p) {
          lists.files.push_back(folder + Utf8(*p));
        }
      }
    } else if (exists && S_ISREG(st.st_mode)) {
      const std::string kept = lists.allFiles ? src : ParseAddFiles(src, lists.include);
      if (!kept.empty())
        lists.files.push_back(kept);
      else
        lists.notIncluded.push_back(src);
    } else {
      // Gone, a pattern, or something that is not archived: the engine reports it.
      lists.files.push_back(src);
    }
  }
  return lists;
}

QString SelectionPrecondition(const TInclusionGrid& grid, const std::vector<std::string>& ticked,
                              const std::vector<std::string>& highlighted) {
  if (ticked.empty() && highlighted.empty()) return kNoFilesCheckedText;
  if (grid.Cell(TInclusionGrid::INCLUDE, 1).trimmed().isEmpty()) return kNoIncludeText;
  return {};
}

bool DoZipExcludeList(const TInclusionGrid& grid, bool stealthExclZip,
                      std::vector<std::string>& exclude, std::vector<std::string>& noCompress) {
  bool hasZip = false;
  for (int r = 1; r <= TInclusionGrid::kScanRows; ++r) {
    const QString exc = grid.Cell(TInclusionGrid::EXCLUDE, r);
    if (!exc.isEmpty()) {
      exclude.push_back(Utf8(exc));
      if (exc.toUpper().contains(QLatin1String("*.ZIP"))) hasZip = true;
    }
    const QString noc = grid.Cell(TInclusionGrid::NOCOMP, r);
    if (!noc.isEmpty()) noCompress.push_back(Utf8(noc));
  }
  if (stealthExclZip && !hasZip) exclude.push_back("*.zip");
  return hasZip;
}

QDateTime DosDateTimeToQt(uint32_t dos) {
  const int year = 1980 + static_cast<int>((dos >> 25) & 0x7F);
  const int month = static_cast<int>((dos >> 21) & 0x0F);
  const int day = static_cast<int>((dos >> 16) & 0x1F);
  const int hour = static_cast<int>((dos >> 11) & 0x1F);
  const int minute = static_cast<int>((dos >> 5) & 0x3F);
  const int second = static_cast<int>(dos & 0x1F) * 2;
  const QDate d(year, month, day);
  const QTime t(hour, minute, second);
  if (!d.isValid() || !t.isValid()) return {};
  return QDateTime(d, t);
}

bool DateFilterSkips(int mode, uint32_t fileDosTime, const QDateTime& picker) {
  if (mode != AllBefore && mode != AllAfter) return false;
  const QDateTime file = DosDateTimeToQt(fileDosTime);
  if (!file.isValid()) return false;  // no readable time: nothing to compare, the file is kept
  return mode == AllBefore ? file > picker : file < picker;
}

int64_t BytesToMb(uint64_t bytes) {
  return static_cast<int64_t>(std::nearbyint(static_cast<double>(bytes) / 1000000.0));
}

QString ExpectedSizeText(int64_t measuredMb, int compressionIndex) {
  double divisor = 1.0;
  if (compressionIndex == 0) divisor = 1.8;
  if (compressionIndex == 1) divisor = 1.4;
  const auto mb = static_cast<int64_t>(std::nearbyint(static_cast<double>(measuredMb) / divisor));
  return QString::number(mb) + QStringLiteral("zMb");
}

QString SizeCountText(int64_t count) {
  return QString::number(count) + QStringLiteral(" DIR&files");
}

QString SizeTotalText(int64_t mb) {
  return QStringLiteral("Total size: ") + QString::number(mb) + QStringLiteral(" Mb");
}
