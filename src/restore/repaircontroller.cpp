#include "restore/repaircontroller.h"

#include <QFileInfo>
#include <exception>

#include "app/filedialoghost.h"
#include "app/mb.h"
#include "app/pathbytes.h"
#include "archive/arczip.h"
#include "archive/zipsession.h"
#include "restore/archiveviewcontroller.h"
#include "restore/archiveviewhosts.h"
#include "restore/extractcontroller.h"

namespace restore {

namespace {

QString S(const char* s) {
  return QString::fromLatin1(s);
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

  int written = 0, read = 0;
  QString failure;
  // The archive the view shows stays the engine's archive afterwards.
  const std::string shown = zip_.ZipName();
  host_.DiscAnimation(true);
  {
    TZipSession session(zip_);
    if (!session) {
      host_.ClearStatusBar();
      return;
    }
    try {
      written = zip_.RepairArchive(PathBytes(damaged), PathBytes(fixed));
      read = zip_.RepairEntriesRead();
    } catch (const std::exception& e) {
      failure = QString::fromLocal8Bit(e.what());
    }
    try {
      zip_.SetZipName(shown);
    } catch (const std::exception&) {
    }
  }
  host_.ClearStatusBar();
  if (!failure.isEmpty()) {
    // As the program's exception handler shows what escapes a command.
    MbMessage(failure, S(repairmsg::kCaption), false, MB_ICONERROR);
  } else if (written > 0) {
    MbInfo(QStringLiteral("   ") + QString::number(written) + QStringLiteral(" files of ") +
           QString::number(read) + QStringLiteral(" were OK") + QStringLiteral("\r\n") +
           QStringLiteral("File saved as: ") + fixed);
  }
  view_.SetRememberedPath(QString());
}

}  // namespace restore
