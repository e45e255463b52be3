#include "app/sizecalculator.h"

#include <sys/stat.h>

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include "app/checkstore.h"
#include "app/clock.h"
#include "app/fslisting.h"

TSizeCalculator::TSizeCalculator(ISizeCalcHost& host, TCheckStore& store, QObject* parent)
    : QObject(parent), host_(host), store_(store) {}

void TSizeCalculator::SizeCalcClick() {
  if (sizeCalcMode_) return;
  if (store_.Empty()) {
    host_.SetSizeButtonEnabled(false);
    host_.SetSizeEditText(QStringLiteral("No Files!"));
    Delay(1000);
    host_.SetSizeEditText(QStringLiteral("FILE Size"));
    host_.SetSizeButtonEnabled(true);
    return;
  }
  host_.SetSizeEditText(QStringLiteral("Calculate"));
  host_.ClearStatusBar();
  sizeResultMb_ = 0;
  sizeCalcMode_ = true;
  const QString archive = host_.ArchiveName();
  QString scratch;
  if (!archive.isEmpty() && QFileInfo(archive).isFile()) {
    scratch = QDir::tempPath() + QStringLiteral("/$") + QFileInfo(archive).fileName();
  }
  const std::optional<SizeCount> count = Counter ? Counter(scratch) : std::nullopt;
  if (count) {
    sizeResultMb_ = BytesToMb(count->bytes);
    host_.ShowSizeCount(SizeCountText(count->files), SizeTotalText(sizeResultMb_));
  }
  host_.GaugeClear();
  sizeCalcMode_ = false;
  host_.SetSizeEditText(count ? ExpectedSizeText(sizeResultMb_, host_.CompressionIndex())
                              : QStringLiteral("FILE Size"));
}

void TSizeCalculator::CompressionChanged() {
  if (sizeResultMb_ > 0) {
    host_.SetSizeEditText(ExpectedSizeText(sizeResultMb_, host_.CompressionIndex()));
  }
}

void TSizeCalculator::TicksChanged() {
  if (sizeResultMb_ == 0) return;
  // The shown size no longer fits the selection; a later compression change must not bring it
  // back.
  sizeResultMb_ = 0;
  host_.SetSizeEditText(QStringLiteral("FILE Size"));
  host_.ClearStatusBar();
}

namespace {

// A whole-name wildcard match, ignoring case.
QRegularExpression Wildcard(const QString& pattern) {
  return QRegularExpression(QRegularExpression::wildcardToRegularExpression(pattern),
                            QRegularExpression::CaseInsensitiveOption);
}

bool Anchored(const QRegularExpression& re, const QString& name) {
  return re.match(name).hasMatch();
}

struct Walker {
  std::vector<QRegularExpression> exclude;
  bool recurse = false;
  SizeCount total;

  bool Excluded(const QString& name) const {
    for (const auto& re : exclude) {
      if (Anchored(re, name)) return true;
    }
    return false;
  }
  void Folder(const std::string& folder, const QRegularExpression& pattern) {
    for (const FsEntry& e : ListFolder(folder, true, false)) {
      if (e.folder) {
        if (recurse) Folder(e.path, pattern);
        continue;
      }
      const QString name = PathText(e.name);
      if (Anchored(pattern, name) && !Excluded(name)) {
        ++total.files;
        total.bytes += e.size;
      }
    }
  }
};

}  // namespace

SizeCount CountEngineLists(const EngineLists& lists, bool recurse) {
  Walker w;
  w.recurse = recurse;
  for (const std::string& x : lists.exclude)
    w.exclude.push_back(Wildcard(QString::fromStdString(x)));
  for (const std::string& entry : lists.files) {
    struct stat st;
    if (::stat(entry.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      ++w.total.files;
      w.total.bytes += static_cast<uint64_t>(st.st_size);
      continue;
    }
    const auto slash = entry.rfind('/');
    if (slash == std::string::npos) continue;
    const std::string folder = slash == 0 ? std::string("/") : entry.substr(0, slash);
    if (!IsRealFolder(folder)) continue;
    QString pattern = PathText(entry.substr(slash + 1));
    if (pattern == QLatin1String("*.*")) pattern = QStringLiteral("*");
    w.Folder(folder, Wildcard(pattern));
  }
  return w.total;
}
