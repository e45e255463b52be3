#include "restore/extractcontroller.h"

#include <sys/stat.h>

#include <QFileInfo>
#include <QSet>
#include <functional>
#include <optional>
#include <stdexcept>
#include <unordered_map>

#include "app/mb.h"
#include "app/optionscontroller.h"
#include "app/pathbytes.h"
#include "app/secrettext.h"
#include "app/versionfolder.h"
#include "archive/arcunzip.h"
#include "archive/zipexceptions.h"
#include "archive/zipsession.h"
#include "restore/archiveviewcontroller.h"

namespace restore {

// The program keeps this item as a preference by its position.
static_assert(extractopt::kLinksAsStored == opt::kExtractLinksAsStored);

namespace {

QString S(const char* s) {
  return QString::fromLatin1(s);
}

void ErrorBox(const QString& text) {
  MbMessage(text, S(extractmsg::kCaption), false, MB_OK + MB_ICONERROR);
}

// The engine's reason for a link entry it does not recreate (without KeepLinks).
const std::string kLinkOutsideText = "link points outside the destination";

bool FileExists(const std::string& name) {
  struct stat st;
  return !name.empty() && ::stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

TExtractController::TExtractController(TArcUnZip& zip, TOptionLists& lists,
                                       TArchiveViewController& view, ISearchResultsView& search,
                                       IRestoreHost& host, QObject* parent)
    : QObject(parent), zip_(zip), lists_(lists), view_(view), search_(search), host_(host) {}

TExtractController::~TExtractController() = default;

bool TExtractController::Option(int item) const {
  return lists_.extractOptionList.Checked(item);
}

void TExtractController::AttachPasswordHandler() {
  passwordAttached_ = true;
}

void TExtractController::Listen(TZipSession& session) {
  filesDone_ = 0;
  badPassword_ = 0;
  linksOutside_ = 0;
  // The target-folder handler after the program's own; a file written counts before them, so
  // the count survives an aborted extraction and the final message tells what was written.
  session.Listen(&TArcUnZip::OnStartUnZip,
                 [this](TZipSender, int index, std::string& name, bool& skip) {
                   ArcZip1StartUnZip(index, name, skip);
                 });
  session.Listen(
      &TArcUnZip::OnEndUnZip,
      [this](TZipSender, int index, const std::string&) {
        if (!zip_.EntryHeader(index).IsFolder()) ++filesDone_;
      },
      TZipSession::TOrder::First);
  // Skipped entries reach the report box: through the program's skip handler when it has one,
  // else as "name. Skipped because reason" lines of their own.
  if (!session.Has(&TArcUnZip::OnSkippingFile))
    session.Listen(&TArcUnZip::OnSkippingFile, [this](TZipSender z, TSkipReason reason,
                                                      const std::string& name, int, bool&) {
      host_.ReportLine(PathText(name) + QStringLiteral(". Skipped because ") +
                       (z->SkipText().empty() ? QString::fromLatin1(SkipReasonLabel(reason))
                                              : QString::fromStdString(z->SkipText())));
    });
  // An entry whose data is not what was stored (a bad CRC, an AES authentication code that does
  // not match) was not restored: the report box names it with the reason.
  session.Listen(&TArcUnZip::OnBadCRC, [this](TZipSender z, uint32_t, uint32_t, int index) {
    const TZipHeaderInfo& h = z->EntryHeader(index);
    host_.ReportLine(PathText(h.FullName()) + QStringLiteral(". Skipped because ") +
                     QString::fromLatin1(EntryProblemText(h.Problem)));
  });
  session.Listen(&TArcUnZip::OnSkippingFile,
                 [this](TZipSender z, TSkipReason reason, const std::string&, int, bool&) {
                   if (reason == srBadPassword) ++badPassword_;
                   if (reason == srCreateError && z->SkipText() == kLinkOutsideText)
                     ++linksOutside_;
                 });
  // A wrong password is asked for here, not by the program's handler.
  session.Handle(&TArcUnZip::OnBadPassword,
                 [this](TZipSender sender, int index, std::string& password) {
                   ArcZip1BadPassword(sender, index, password);
                 });
  // Restoring to "/" recreates the stored places through the system's and the user's own
  // folder links (on many systems /bin, or a home folder, is one).
  zip_.FollowOwnLinks = destination_ == QLatin1String("/");
}

// ---- the commands --------------------------------------------------------------------------

void TExtractController::ExtractButClick(TExtractPreset preset) {
  // One operation on the engine at a time: the window stays responsive while one runs.
  if (zip_.Busy() || zip_.SessionOpen()) return;
  QString initial = view_.RememberedPath();
  if (!initial.isEmpty() && !QFileInfo(initial).isDir()) initial = QFileInfo(initial).path();
  const QString folder = host_.ChooseFolder(S(extractmsg::kFolderTitle), initial);
  if (folder.isEmpty()) return;
  destination_ = folder;
  view_.SetRememberedPath(folder);
  {
    TOptionList& o = lists_.extractOptionList;
    THandlersDetached detached{&o};
    switch (preset) {
      case TExtractPreset::None:
        break;
      case TExtractPreset::SelectedOverwrite:
        o.SetChecked(extractopt::kOverwrite, true);
        break;
      case TExtractPreset::SelectedNoOverwrite:
        o.SetChecked(extractopt::kOverwrite, false);
        break;
      case TExtractPreset::AllOverwrite:
        o.SetChecked(extractopt::kOverwrite, true);
        o.SetChecked(extractopt::kAll, true);
        break;
      case TExtractPreset::AllNoOverwrite:
        o.SetChecked(extractopt::kOverwrite, false);
        o.SetChecked(extractopt::kAll, true);
        break;
    }
  }
  host_.SetHourglass(true);
  AttachPasswordHandler();
  struct TAfter {
    TExtractController& c;
    ~TAfter() {
      c.UncheckAfterRun();
      c.host_.SetHourglass(false);
    }
  } after{*this};
  // The session starts from the idle engine (no password another operation typed, no selection)
  // and gives it back whatever happens.
  TZipSession session(zip_);
  if (!session) return;
  Listen(session);
  if (search_.SearchResultsShown())
    ExtractFilesGroup();
  else
    ExtractFiles();
}

void TExtractController::UncheckAfterRun() {
  TOptionList& o = lists_.extractOptionList;
  THandlersDetached detached{&o};
  o.SetChecked(extractopt::kOverwrite, false);
  o.SetChecked(extractopt::kAll, false);
}

void TExtractController::BitBtn2Click() {
  // Between the rows of search results the engine rests, but the extraction still runs.
  if (!zip_.Busy() && !groupRunning_) return;
  abortRequested_ = true;
  if (zip_.Busy()) zip_.CancelOperation();
  host_.ClearStatusBar();
}

void TExtractController::MapOptions() {
  zip_.RecreateDirs = Option(extractopt::kExpandDirs);
  zip_.OverwriteMode =
      Option(extractopt::kOverwrite) ? TUZOverwriteMode::Always : TUZOverwriteMode::Never;
  const int mode = lists_.extractModeList.CheckedIndex();
  if (mode == extractopt::kUpdate || mode == extractopt::kFreshen)
    zip_.OverwriteMode = TUZOverwriteMode::ifNewer;
  freshen_ = mode == extractopt::kFreshen;
  zip_.DoAll = Option(extractopt::kAll);
  zip_.KeepLinks = Option(extractopt::kLinksAsStored);
  zip_.SetDestDir(PathBytes(destination_));
}

void TExtractController::ExtractFiles() {
  const std::string name = zip_.ZipName();
  if (!FileExists(name)) {
    ErrorBox(S(extractmsg::kFileNotFound) + PathText(name));
    zip_.SetZipName(std::string());
    return;
  }
  MapOptions();
  if (zip_.EntryCount() == 0) {
    MbInfo(S(extractmsg::kNoFiles));
    return;
  }
  host_.SetHourglass(true);
  host_.GaugeStart();
  zip_.FilesList.clear();
  if (!zip_.DoAll && !view_.SelectCheckedRows()) return;
  host_.ClearReportBox();
  host_.StartProcessClock();
  ChooseVersions();

  QString prefix;
  int count = 0;
  filesDone_ = 0;
  try {
    if (zip_.DoAll)
      zip_.Extract();
    else
      zip_.ExtractSelected();
  } catch (const std::exception& e) {
    prefix = QString::fromUtf8(e.what()) + QLatin1Char(' ');
  }
  count = filesDone_;
  olderCopies_.clear();
  const QString extracted = prefix + QString::number(count) + QStringLiteral(" file") +
                            (count == 1 ? QStringLiteral(" was") : QStringLiteral("s were")) +
                            QStringLiteral(" extracted") + LinksLeftOut();
  if (badPassword_ > 0)
    ErrorBox(PasswordFailure() + QStringLiteral("\r") + extracted);
  else
    MbInfo(extracted);
  host_.ClearStatusBar();
}

void TExtractController::ExtractFilesGroup() {
  MapOptions();
  const QVector<int> records = ChosenRecords(zip_.DoAll);
  int count = 0;
  // Archives found missing: told once, their rows passed over, the other archives' rows go on.
  QSet<QString> missing;
  abortRequested_ = false;
  groupRunning_ = true;
  {
    struct TRunning {
      bool& flag;
      ~TRunning() { flag = false; }
    } running{groupRunning_};
    for (int record : records) {
      // An abort during the last entry of a row would be forgotten by the engine when the next
      // row starts: it ends the loop here.
      if (abortRequested_) break;
      QString archive;
      int entry = -1;
      if (!search_.ResultEntry(record, archive, entry)) continue;
      zip_.ClearSelection();
      if (missing.contains(archive)) continue;
      if (!FileExists(PathBytes(archive))) {
        missing.insert(archive);
        ErrorBox(S(extractmsg::kFileNotFound) + archive);
        continue;
      }
      try {
        if (PathBytes(archive) != zip_.ZipName()) {
          zip_.SetZipName(PathBytes(archive));
          zip_.ReadArchive();
        }
        zip_.SetEntrySelected(entry, true);
        host_.ProcessMessages();
        if (zip_.ExtractSelected() > 0) ++count;
      } catch (const EUserCanceled&) {
        // The abort button ends the whole extraction, not only this row.
        break;
      } catch (const std::exception&) {
        MbInfo(S(extractmsg::kErrorReading) + archive);
      }
    }
    zip_.ClearSelection();
  }
  if (badPassword_ > 0)
    ErrorBox(PasswordFailure() + QStringLiteral("\r") + QString::number(count) +
             S(extractmsg::kFilesExtracted) + LinksLeftOut());
  else if (count > 0 || linksOutside_ > 0)
    MbInfo(QString::number(count) + S(extractmsg::kFilesExtracted) + LinksLeftOut());
  host_.GaugeClear();
}

QString TExtractController::PasswordFailure() const {
  // The dialog cancelled detaches the prompt; else the password typed did not fit.
  return S(passwordAttached_ ? extractmsg::kWrongPassword : extractmsg::kNoPassword)
      .arg(badPassword_)
      .arg(badPassword_ == 1 ? QStringLiteral(" was") : QStringLiteral("s were"));
}

QString TExtractController::LinksLeftOut() const {
  if (linksOutside_ == 0) return {};
  return QStringLiteral("\r") + S(extractmsg::kLinksLeftOut)
                                    .arg(linksOutside_)
                                    .arg(linksOutside_ == 1 ? QString() : QStringLiteral("s"));
}

// ---- chosen rows of search results --------------------------------------------------------

QVector<int> TExtractController::ChosenRecords(bool all) const {
  QVector<int> records;
  TArchiveViewModel& model = view_.model();
  const QItemSelectionModel& selection = view_.selection();
  const int rows = model.rowCount();
  for (int r = 0; r < rows; ++r) {
    const QModelIndex i = model.index(r, 0);
    const int record = model.EntryOf(i);
    if (record < 0) continue;
    if (all || model.CheckState(i) == Qt::Checked || selection.isRowSelected(r, QModelIndex()))
      records << record;
  }
  return records;
}

int TExtractController::Checkselected() const {
  return static_cast<int>(ChosenRecords(false).size());
}

bool TExtractController::Checkselected(int record) const {
  return ChosenRecords(false).contains(record);
}

// ---- engine handlers -----------------------------------------------------------------------

void TExtractController::ChooseVersions() {
  olderCopies_.clear();
  if (Option(extractopt::kVersionedDirs)) return;
  struct TCopy {
    int entry;
    bool current;                     // not inside a version folder
    std::optional<uint32_t> version;  // the value of its version folder, when it has one
    uint32_t dosTime;
  };
  // Whether copy a is to be restored rather than b.
  auto better = [](const TCopy& a, const TCopy& b) {
    if (a.current != b.current) return a.current;
    if (a.version && b.version && *a.version != *b.version)
      return VersionNewer(*a.version, *b.version);
    if (a.dosTime != b.dosTime) return a.dosTime > b.dosTime;
    return a.entry > b.entry;
  };
  std::unordered_map<std::string, TCopy> chosen;
  for (int i = 0; i < zip_.EntryCount(); ++i) {
    const TZipHeaderInfo& h = zip_.EntryHeader(i);
    if (h.IsFolder() || (!zip_.DoAll && !zip_.EntrySelected(i))) continue;
    const std::string folder = zip_.EntryPath(i);
    const std::string cut = NoSuffix(folder);
    TCopy copy{i, cut == folder, std::nullopt, h.ModifDateTime};
    if (!copy.current) {
      const std::vector<uint32_t> values = VersionFolderValues(folder.substr(cut.size()));
      if (!values.empty()) copy.version = values.front();
    }
    auto [it, fresh] = chosen.try_emplace(cut + zip_.EntryName(i), copy);
    if (fresh) continue;
    if (better(copy, it->second)) std::swap(copy, it->second);
    olderCopies_.insert(copy.entry);
  }
}

void TExtractController::ArcZip1StartUnZip(int FileIndex, std::string& FName, bool& Skip) {
  if (olderCopies_.contains(FileIndex)) {
    // Another copy of this file is restored in its place; this one is named in the report.
    Skip = true;
    host_.ReportLine(PathText(zip_.EntryFullName(FileIndex)) +
                     QStringLiteral(". Skipped because ") + S(extractmsg::kOlderCopy));
    return;
  }
  if (!Option(extractopt::kVersionedDirs)) {
    // Only the part below the destination is looked at: a destination that itself contains
    // "/#" must neither hide a version folder nor be cut.
    const std::string dest = zip_.DestDir();
    size_t below = 0;
    if (dest == "/" && !FName.empty() && FName[0] == '/')
      below = 1;
    else if (!dest.empty() && FName.compare(0, dest.size() + 1, dest + "/") == 0)
      below = dest.size() + 1;
    // The name stays its bytes: only the folder part is cut, at the (ASCII) version folder.
    const std::string rest = FName.substr(below);
    const size_t slash = rest.rfind('/');
    if (slash != std::string::npos)
      FName = FName.substr(0, below) + NoSuffix(rest.substr(0, slash + 1)) + rest.substr(slash + 1);
  }
  if (freshen_) {
    // Freshen replaces existing files only.
    struct stat st;
    const bool folder = !FName.empty() && FName.back() == '/';
    if (::lstat(FName.c_str(), &st) != 0) {
      Skip = true;
      if (!folder && zip_.OnSkippingFile) {
        bool retry = false;
        zip_.OnSkippingFile(&zip_, srNoFileToFreshen, zip_.EntryFullName(FileIndex), FileIndex,
                            retry);
      }
    }
  }
}

void TExtractController::ArcZip1BadPassword(TArcUnZip* Sender, int FileIndex,
                                            std::string& NewPassword) {
  (void)FileIndex;
  // A cancelled prompt leaves the remaining encrypted entries of this extraction to be skipped.
  if (!passwordAttached_) return;
  TArcUnZip& z = Sender ? *Sender : zip_;
  // A password typed earlier in this extraction failed: the engine gives up on this entry.
  if (!z.Password.empty()) return;
  QString typed;
  if (host_.PasswordDialog(typed))
    NewPassword = TakeSecret(typed);
  else
    passwordAttached_ = false;
}

}  // namespace restore
