#include "restore/maintenance.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <cerrno>
#include <cstring>
#include <optional>

#include "app/controlhost.h"
#include "app/damagedarchive.h"
#include "app/mb.h"
#include "app/optionnames.h"
#include "app/pathbytes.h"
#include "app/secrettext.h"
#include "archive/arczip.h"
#include "archive/zipsession.h"
#include "platform/programdir.h"
#include "restore/archiveviewcontroller.h"
#include "restore/archiveviewhosts.h"

namespace restore {

namespace {

QString S(const char* s) {
  return QString::fromLatin1(s);
}

// A name of the engine as the program keeps it: its bytes, whether or not they are UTF-8.
QString Q(const std::string& s) {
  return PathText(s);
}

bool FileExists(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

// Sets a flag for the length of a scope.
struct TMark {
  bool& flag;
  explicit TMark(bool& f) : flag(f) { flag = true; }
  ~TMark() { flag = false; }
};

}  // namespace

TMaintenanceController::TMaintenanceController(TArcZip& zip, TArchiveViewController& view,
                                               IArchiveWindow& window, IControlHost& controls,
                                               IMaintenanceHost& host, QObject* parent)
    : QObject(parent), zip_(zip), view_(view), window_(window), controls_(controls), host_(host) {}

TMaintenanceController::~TMaintenanceController() = default;

// ---- removing entries ----------------------------------------------------------------------

void TMaintenanceController::DeleteButClick() {
  if (deleting_ || testing_) return;
  std::optional<TZipSession> session(std::in_place, zip_);
  if (session->Refused()) return;
  if (zip_.MultiZipInfo.MultiMode != TMultiMode::mmNone) {
    MbInfo(S(maintmsg::kSpannedDelete));
    return;
  }
  if (zip_.EntryCount() == 0) {
    MbInfo(S(maintmsg::kNothingToDelete));
    return;
  }
  const QString name = Q(zip_.ZipName());
  // No is the default of a question that destroys.
  if (MbMessage(S(maintmsg::kDeleteQuestion) + name + QLatin1Char('?'), S(maintmsg::kCaption),
                false, MB_YESNO + MB_ICONQUESTION + MB_DEFBUTTON2) != IDYES)
    return;
  // Removing entries rewrites the archive: a damaged one would keep only what the scan found.
  if (!ConfirmDamagedRewrite(zip_)) return;
  zip_.FilesList.clear();
  zip_.ExcludeList.clear();
  int count = 0;
  {
    TMark running(deleting_);
    if (!view_.SelectCheckedRows()) {
      MbInfo(S(maintmsg::kNoneChecked));
      return;
    }
    host_.StartProcessClock();
    window_.GaugeStart();
    try {
      count = zip_.RemoveEntries();
    } catch (...) {
      count = 0;
      MbMessage(S(maintmsg::kDeleteFailed), S(maintmsg::kCaption), false, MB_ICONERROR);
    }
    window_.GaugeStop();
    host_.SetHourglass(true);
  }
  session.reset();
  if (zip_.EntryCount() == 0)
    view_.ClearArchiveView();
  else
    view_.PopulateArchiveView();
  host_.SetHourglass(false);
  window_.RestoreCursor();
  MbInfo(QString::number(count) + QStringLiteral(" file") +
         (count == 1 ? QStringLiteral(" was") : QStringLiteral("s were")) +
         QStringLiteral(" deleted"));
  host_.ClearStatusBar();
}

// ---- deleting the archive file -------------------------------------------------------------

void TMaintenanceController::DeleteZipButClick() {
  if (deleting_ || testing_ || zip_.Busy() || zip_.SessionOpen()) return;
  window_.Setstate(0);
  std::string name = zip_.ZipName();
  if (FileExists(name)) {
    if (MbMessage(S(maintmsg::kKillQuestion) + Q(name) + QLatin1Char('?'), S(maintmsg::kCaption),
                  false, MB_YESNO + MB_ICONQUESTION + MB_DEFBUTTON2) != IDYES)
      return;
    // Into the desktop's trash, where the user can get it back; removed for good only when
    // there is no trash for it and the user says so.
    // (Qt's file classes take only names that are UTF-8.)
    const bool utf8 = Q(name).toStdString() == name;
    QFile file(Q(name));
    if (!utf8 || !file.moveToTrash()) {
      const QString why = utf8 ? file.errorString() : QStringLiteral("the name is not UTF-8");
      if (MbMessage(S(maintmsg::kNoTrash).arg(why) + Q(name) + QLatin1Char('?'),
                    S(maintmsg::kCaption), false,
                    MB_YESNO + MB_ICONEXCLAMATION + MB_DEFBUTTON2) != IDYES)
        return;
    } else {
      name.clear();
    }
    if (!name.empty() && ::unlink(name.c_str()) != 0) {
      // A file that is still there is not reported as deleted; the archive stays named.
      MbMessage(S(maintmsg::kKillFailed) + Q(name) + QStringLiteral("\r") +
                    QString::fromLocal8Bit(std::strerror(errno)),
                S(maintmsg::kCaption), false, MB_ICONERROR);
      return;
    }
    window_.SetArchiveName(QString());
    controls_.SetControlEnabled(S(ctlnames::kKillZipButton), false);
    controls_.SetControlEnabled(S(ctl::kSaveJobButton), false);
  } else {
    MbInfo(S(maintmsg::kZipNotFound) + Q(name));
  }
  zip_.CloseArchive();
  zip_.SetZipName(std::string());
}

// ---- testing -------------------------------------------------------------------------------

TMaintenanceController::TTestResult TMaintenanceController::TestButClick(TTestSender sender) {
  if (sender == TTestSender::Menu && testing_) {
    // The item reads "Abort": the running test stops at its next check.
    if (zip_.Busy()) zip_.CancelOperation();
    host_.ClearStatusBar();
    controls_.SetControlCaption(S(ctl::kZipTestItem), S(maintmsg::kTestCaption));
    return {};
  }
  return RunTest(sender, {});
}

TMaintenanceController::TTestResult TMaintenanceController::VerifyArchive(
    const QString& name, const std::string& password) {
  if (testing_ || name.isEmpty() || zip_.Busy() || zip_.SessionOpen()) return {};
  if (zip_.ZipName() != PathBytes(name)) {
    zip_.CloseArchive();
    zip_.SetZipName(PathBytes(name));
  }
  return RunTest(TTestSender::Run, password);
}

TMaintenanceController::TTestResult TMaintenanceController::RunTest(TTestSender sender,
                                                                    const std::string& password) {
  TTestResult result;
  if (testing_) return result;
  std::optional<TZipSession> session(std::in_place, zip_);
  if (session->Refused()) return result;
  const bool menu = sender == TTestSender::Menu;
  if (menu) {
    if (zip_.EntryCount() == 0) {
      MbInfo(S(maintmsg::kNothingToTest));
      return result;
    }
    if (zip_.ZipName().empty()) return result;
    controls_.SetControlCaption(S(ctl::kZipTestItem), S(maintmsg::kAbortCaption));
  }
  bool passed = false;
  int count = 0;
  QString damage;
  {
    TMark running(testing_);
    host_.TrayCycling(true);
    zip_.FilesList = {"*.*"};
    zip_.Password = password;
    host_.StartProcessClock();
    host_.DiscAnimation(true);
    // An encrypted entry without a good password asks once; after a cancel, or with a password
    // typed that does not fit, the remaining encrypted entries are skipped without asking again.
    bool refused = false;
    session->Handle(&TArcUnZip::OnBadPassword,
                    [this, &refused](TZipSender, int, std::string& newPassword) {
                      if (refused || !zip_.Password.empty()) return;
                      QString typed;
                      if (host_.PasswordDialog(typed) && !typed.isEmpty())
                        newPassword = TakeSecret(typed);
                      else
                        refused = true;
                    });
    try {
      zip_.ReadArchive();
      count = zip_.EntryCount();
      passed = count > 0 && zip_.TestArchive();
      // Entries that test good do not make a whole archive when its directory had to be
      // rebuilt by a scan: what the scan missed cannot be tested.
      damage = DirectoryDamageText(zip_);
      if (!damage.isEmpty()) passed = false;
    } catch (...) {
      // Unreadable, cancelled or failing midway: not every entry was found good.
      passed = false;
    }
    host_.DiscAnimation(false);
    host_.ClearStatusBar();
    if (menu) controls_.SetControlCaption(S(ctl::kZipTestItem), S(maintmsg::kTestCaption));
  }
  session.reset();
  host_.TrayCycling(false);
  result.tested = true;
  result.passed = passed;
  if (passed) {
    result.text = QStringLiteral("All ") + QString::number(count) + S(maintmsg::kTestedOk);
    MbInfo(result.text);
  } else {
    result.text = S(maintmsg::kTestedBad);
    if (!damage.isEmpty()) result.text += S(damagedmsg::kTestNote).arg(damage);
    MbMessage(result.text, S(maintmsg::kCaption), false, MB_ICONEXCLAMATION);
  }
  return result;
}

// ---- converting ----------------------------------------------------------------------------

void TMaintenanceController::ConvertButClick() {
  if (deleting_ || testing_) return;
  std::optional<TZipSession> session(std::in_place, zip_);
  if (session->Refused()) return;
  if (zip_.EntryCount() == 0) {
    MbInfo(S(maintmsg::kNothingToConvert));
    return;
  }
  const std::string source = zip_.ZipName();
  const QString file = Q(source).section(QLatin1Char('/'), -1);
  const qsizetype dot = file.lastIndexOf(QLatin1Char('.'));
  const bool toExe = dot < 0 || file.mid(dot).toUpper() != QLatin1String(".EXE");
  if (toExe && zip_.MultiZipInfo.MultiMode != TMultiMode::mmNone) {
    MbInfo(S(maintmsg::kSpannedConvert));
    return;
  }
  // Only the extension changes: the folders and the name keep their case, so the target is the
  // file beside the archive. An existing target is replaced only by a complete new file.
  const std::string target = TArcZip::ConvertedName(source, toExe);
  // Both ways the entries are written anew: a damaged archive would keep only what the scan
  // found.
  if (!ConfirmDamagedRewrite(zip_)) return;
  bool converted = false;
  host_.DiscAnimation(true);
  try {
    if (toExe) {
      const std::string stub = stubPath.empty() ? ResourcePath(maintmsg::kStub) : stubPath;
      if (stub.empty()) throw std::runtime_error("the self-extractor stub is missing");
      zip_.ConvertToSelfExtractor(stub);
    } else {
      zip_.ConvertToPlainZip(true);
    }
    converted = true;
  } catch (...) {
    MbMessage(S(maintmsg::kConvertFailed), S(maintmsg::kCaption), false, MB_ICONERROR);
  }
  host_.DiscAnimation(false);
  session.reset();
  if (converted && !toExe) {
    // The plain archive is the open one now.
    window_.SetArchiveName(Q(zip_.ZipName()));
    view_.PopulateArchiveView();
  }
  // After a failure the error box has spoken; an old target that is still there is not the
  // converted file.
  if (converted) {
    if (FileExists(target))
      MbInfo(S(maintmsg::kSavedAs) + Q(target));
    else
      MbMessage(S(maintmsg::kNoTarget), S(maintmsg::kCaption), false, MB_ICONERROR);
  }
  host_.ClearStatusBar();
}

}  // namespace restore
