#include "restore/repaircontroller.h"

#include <QFileInfo>
#include <exception>

#include "app/filedialoghost.h"
#include "app/mb.h"
#include "app/pathbytes.h"
#include "archive/arczip.h"
#include "archive/zipmedia.h"
#include "archive/zipsession.h"
#include "restore/archiveviewcontroller.h"
#include "restore/archiveviewhosts.h"
#include "restore/extractcontroller.h"

namespace restore {

namespace {

QString S(const char* s) {
  return QString::fromLatin1(s);
}

// The lines of the closing box on what a split set lost: the missing part that held the
// directory, and the entries whose data is on a missing part, by name.
QString LostLines(const TArcZip& zip) {
  QString text;
  const std::string& directoryPart = zip.RepairDirectoryLostOn();
  if (!directoryPart.empty())
    text +=
        QStringLiteral("\r\nThe central directory was on ") + PathText(directoryPart) +
        QStringLiteral(", which is missing: the files were found by a scan of the parts present");
  const auto& lost = zip.RepairEntriesLost();
  if (lost.empty()) return text;
  QStringList parts, names;
  for (const auto& e : lost) {
    if (!parts.contains(PathText(e.Part))) parts << PathText(e.Part);
    names << PathText(e.Name);
  }
  constexpr qsizetype kNamed = 10;
  QString named = QStringList(names.mid(0, kNamed)).join(QStringLiteral(", "));
  if (names.size() > kNamed) named += QStringLiteral(" and %1 more").arg(names.size() - kNamed);
  text += QStringLiteral("\r\n%1 files were lost, their data is on the missing part %2: %3")
              .arg(lost.size())
              .arg(parts.join(QStringLiteral(", ")), named);
  return text;
}

}  // namespace

TRepairController::TRepairController(TArcZip& zip, TArchiveViewController& view,
                                     IArchiveWindow& window, IFileDialogHost& dialogs,
                                     IRestoreHost& host, QObject* parent)
    : QObject(parent), zip_(zip), view_(view), window_(window), dialogs_(dialogs), host_(host) {}

TRepairController::~TRepairController() = default;

QString TRepairController::FixedName(const QString& folder, const QString& damaged) {
  const QString file = QFileInfo(damaged).fileName();
  const qsizetype dot = file.lastIndexOf(QLatin1Char('.'));
  const QString base = dot > 0 ? file.left(dot) : file;
  QString dir = folder;
  if (!dir.endsWith(QLatin1Char('/'))) dir += QLatin1Char('/');
  return dir + base + S(repairmsg::kFixedSuffix);
}

void TRepairController::fixzipbtnClick() {
  // One operation on the engine at a time.
  if (zip_.Busy() || zip_.SessionOpen()) return;
  FileDialogSpec spec;
  spec.filter = S(repairmsg::kOpenFilter);
  spec.initialDir = window_.ExplorerSelectedFolder();
  const QString damaged = dialogs_.OpenFile(spec);
  if (damaged.isEmpty()) return;
  const QString folder =
      host_.ChooseFolder(S(repairmsg::kFolderTitle), QFileInfo(damaged).absolutePath());
  if (folder.isEmpty()) return;
  const QString fixed = FixedName(folder, damaged);

  int written = 0, read = 0, untested = 0, lost = 0;
  QString failure, lostLines;
  // The archive the view shows stays the engine's archive afterwards.
  const std::string shown = zip_.ZipName();
  host_.DiscAnimation(true);
  {
    TZipSession session(zip_);
    if (!session) {
      host_.ClearStatusBar();
      return;
    }
    // The parts of a split set are found by the names the program gives them.
    if (!session.Has(&TUnZipEvents::OnFileNameForSplitPart))
      session.Handle(&TUnZipEvents::OnFileNameForSplitPart,
                     [](TArcUnZip::TSender, std::string& name, int part, TSplitPartType type) {
                       name = ProgramPartName(name, part, type);
                     });
    try {
      written = zip_.RepairArchive(PathBytes(damaged), PathBytes(fixed));
      read = zip_.RepairEntriesRead();
      untested = zip_.RepairEntriesUntested();
      lost = static_cast<int>(zip_.RepairEntriesLost().size());
      lostLines = LostLines(zip_);
    } catch (const std::exception& e) {
      failure = QString::fromLocal8Bit(e.what());
    }
    // Without a new archive, the archive the view shows stays the engine's archive.
    if (written == 0) {
      try {
        zip_.SetZipName(shown);
      } catch (const std::exception&) {
      }
    }
  }
  host_.ClearStatusBar();
  // The repaired archive opens in the view at once, so Extract, Delete, Test and Convert work on
  // it without opening it again.
  if (failure.isEmpty() && written > 0) view_.ReadZipFile(fixed);
  if (!failure.isEmpty()) {
    // As the program's exception handler shows what escapes a command.
    MbMessage(failure, S(repairmsg::kCaption), false, MB_ICONERROR);
  } else if (written > 0) {
    // Only entries that tested good count as OK; the others are told apart.
    QString text = QStringLiteral("   ") + QString::number(written - untested) +
                   QStringLiteral(" files of ") + QString::number(read) +
                   QStringLiteral(" were OK");
    if (untested > 0)
      text += QStringLiteral("\r\n") + QString::number(untested) +
              QStringLiteral(
                  " could not be tested (encrypted or an unknown method) and were "
                  "copied as they are");
    if (read - lost > written)
      text += QStringLiteral("\r\n") + QString::number(read - lost - written) +
              QStringLiteral(" damaged files were left out");
    MbInfo(text + lostLines + QStringLiteral("\r\n") + QStringLiteral("File saved as: ") + fixed);
  } else {
    MbInfo(QStringLiteral("Nothing could be saved from ") + damaged +
           QStringLiteral(": no file was written.") + lostLines);
  }
  view_.SetRememberedPath(QString());
}

}  // namespace restore
