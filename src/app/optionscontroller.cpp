#include "app/optionscontroller.h"

#include <QFileInfo>
#include <cmath>

#include "app/archivename.h"
#include "app/clock.h"
#include "app/controlhost.h"
#include "app/mb.h"
#include "app/optionhosts.h"
#include "app/preferences.h"

using namespace opt;

namespace {

QString S(const char* s) {
  return QString::fromLatin1(s);
}

// The mode list's item for each basic list item, and back.
constexpr int kBasicToMode[] = {kModeCopy, kModeBitSetClear, kModeRefresh, kModeUpdate};

int BasicForMode(int mode) {
  switch (mode) {
    case kModeBitSetClear:
      return kBasicChanged;
    case kModeUpdate:
      return kBasicUpdate;
    case kModeRefresh:
      return kBasicRefresh;
    default:
      return kBasicAll;
  }
}

}  // namespace

TOptionLists::TOptionLists()
    : sizeList(S(ctl::kSizeList), TOptionList::Radio,
               {"Automatic", "CDR 650Mb", "Floppy 1.44Mb", "CDRW 540Mb", "DVD-R 4.7Gb"}, {0}),
      compressionList(S(ctl::kCompressionList), TOptionList::Radio, {"Max", "Low", "None"}, {0}),
      modeList(S(ctl::kModeList), TOptionList::Radio,
               {"Copy", "Copy then Clear Bit", "Copy Bit Set", "Copy Bit Set then Clear Bit",
                "Update Newer & New (AddToZIP)", "Refresh Existing Files (AddToZIP)",
                "Move Files Then Delete (caution!)"},
               {0}),
      directoryList(
          S(ctl::kDirectoryList), TOptionList::Check,
          {"Encrypt ZIP (password required)", "Use Volume Names (caution!)",
           "Include System & Hidden Files", "Full Directories (recursion)",
           "Save Empty Directories", "Span Disks (use multiple disks)", "Erase Disk First",
           "Span No Volume Name", "Include Directory 1st Disk", "Follow Symbolic Links"},
          {kDirHidden, kDirRecursion, kDirEmptyDirs, kDirSpanNoVolume, kDirDirectoryFirstDisk}),
      encryptionList(S(ctl::kEncryptionList), TOptionList::Radio, {"AES-256", "Traditional"},
                     {kEncAes256}),
      functionsList(S(ctl::kFunctionsList), TOptionList::Check,
                    {"DateTimeStamp", "Add Versioning", "Unattended backup", "O/C shut down PC",
                     "Verify backup", "Set System Restore Point"},
                    {kFnStamp}),
      basicList(S(ctl::kBasicList), TOptionList::Radio,
                {"All Selected Files", "Changed/New (partial)", "Refresh Existing ZIP",
                 "Update Existing ZIP"},
                {0}),
      basicStampList(S(ctl::kBasicStampList), TOptionList::Check, {"DateTimeStamp"}, {0}),
      basicSizeList(S(ctl::kBasicSizeList), TOptionList::Radio, {"Standard", "SPAN (auto-size)"},
                    {0}),
      stealthList(S(ctl::kStealthList), TOptionList::Check,
                  {"DateTimeStamp", "Monitor Sub Directories"}, {0}),
      viewList(S(ctl::kViewList), TOptionList::Radio, {"Listview", "ListviewDIR", "Treeview"}, {0}),
      extractOptionList(S(ctl::kExtractOptionList), TOptionList::Check,
                        {"Expand Directories", "Overwrite files", "Extract ALL files",
                         "Versioned DIRs", "Links as stored"},
                        {0}),
      extractModeList(S(ctl::kExtractModeList), TOptionList::Radio,
                      {"Extract", "Extract Update", "Extract Freshen"}, {0}),
      maxSizeEdit(S(ctl::kMaxSizeEdit), QStringLiteral("MaxSizeMb")),
      firstDiskEdit(S(ctl::kFirstDiskEdit), QStringLiteral("Disk#1Free")) {
  modeList.SetMarkedItem(kModeMove);
  directoryList.SetMarkedItem(kDirErase);
  functionsList.SetMarkedItem(kFnVersioning);
  maxSizeEdit.SetEnabled(false);
}

TOptionList* TOptionLists::ByName(const QString& name) {
  for (TOptionList* l : {&sizeList, &compressionList, &modeList, &directoryList, &encryptionList,
                         &functionsList, &basicList, &basicStampList, &basicSizeList, &stealthList,
                         &viewList, &extractOptionList, &extractModeList})
    if (l->name() == name) return l;
  return nullptr;
}

TOptionsController::TOptionsController(TOptionLists& lists, TPreferences& prefs, IControlHost& host,
                                       IOptionEnvironment& env, IWindowModeHost& modeHost,
                                       QObject* parent)
    : QObject(parent), l_(lists), prefs_(prefs), host_(host), env_(env), modeHost_(modeHost) {
  connect(&l_.sizeList, &TOptionList::itemChanged, this, &TOptionsController::SizeListChanged);
  connect(&l_.compressionList, &TOptionList::itemChanged, this,
          &TOptionsController::CompressionListChanged);
  connect(&l_.modeList, &TOptionList::itemChanged, this, &TOptionsController::ModeListChanged);
  connect(&l_.basicList, &TOptionList::itemChanged, this, &TOptionsController::BasicListChanged);
  connect(&l_.directoryList, &TOptionList::itemChanged, this,
          &TOptionsController::DirectoryListChanged);
  connect(&l_.basicSizeList, &TOptionList::itemChanged, this,
          &TOptionsController::BasicSizeListChanged);
  connect(&l_.functionsList, &TOptionList::itemChanged, this,
          &TOptionsController::FunctionsListChanged);
  connect(&l_.basicStampList, &TOptionList::itemChanged, this,
          &TOptionsController::BasicStampListChanged);
  connect(&l_.stealthList, &TOptionList::itemChanged, this,
          &TOptionsController::StealthListChanged);
  connect(&l_.viewList, &TOptionList::itemChanged, this, &TOptionsController::ViewListChanged);
  connect(&l_.extractOptionList, &TOptionList::itemChanged, this,
          &TOptionsController::ExtractOptionListChanged);
}

// --- window modes ---------------------------------------------------------------------------

void TOptionsController::Setstate(int mode) {
  switch (mode) {
    case 0:
      host_.SetControlEnabled(S(ctl::kSizeCompressionGroup), false);
      modeHost_.SetZip64Highlighted(false);
      l_.directoryList.SetItemEnabled(kDirErase, true);
      modeHost_.ShowExplorerCheckBoxes(false);
      host_.SetControlEnabled(S(ctl::kGetZipButton), false);
      modeHost_.ClearArchiveSearchResults();
      host_.SetControlEnabled(S(ctl::kArchiveView), true);
      modeHost_.ClearArchiveView();
      host_.SetControlCaption(S(ctl::kSizeCalcEdit), QStringLiteral("FILE Size"));
      host_.SetControlEnabled(S(ctl::kPauseButton), false);
      modeHost_.ClearStatusBar();
      modeHost_.ResetTrayStealthFlag();
      modeHost_.SetTrayIconStatic();
      host_.SetControlVisible(S(ctl::kGetZipItem), false);
      modeHost_.ResetGlobalSearchFlag();
      break;
    case 1:
      makeMode_ = false;
      for (const char* c : {ctl::kZipTestItem, ctl::kExtractButton, ctl::kDeleteButton,
                            ctl::kConvertItem, ctl::kZipFixItem})
        host_.SetControlEnabled(S(c), true);
      break;
    case 2:
      host_.SetControlEnabled(S(ctl::kReportBox), true);
      break;
    case 3:
      host_.SetControlEnabled(S(ctl::kArchiveView), false);
      for (const char* c : {ctl::kAddToZipButton, ctl::kSaveJobButton, ctl::kPauseButton,
                            ctl::kSizeCompressionGroup})
        host_.SetControlEnabled(S(c), true);
      l_.maxSizeEdit.SetEnabled(true);
      makeMode_ = true;
      for (const char* c :
           {ctl::kZipTestItem, ctl::kExtractButton, ctl::kDeleteButton, ctl::kConvertItem})
        host_.SetControlEnabled(S(c), false);
      modeHost_.ShowExplorerCheckBoxes(true);
      break;
    default:
      return;
  }
  state_ = mode;
}

// --- expert view ----------------------------------------------------------------------------

bool TOptionsController::Advanced() const {
  return prefs_.Bool(QStringLiteral("Expert"));
}

void TOptionsController::ApplyExpertView() {
  const bool advanced = Advanced();
  host_.SetControlChecked(S(ctl::kAdvancedItem), advanced);
  host_.SetControlChecked(S(ctl::kBasicItem), !advanced);
  modeHost_.SetGroupCaptionHighlighted(S(ctl::kAdvancedGroup), advanced);
  modeHost_.SetGroupCaptionHighlighted(S(ctl::kBasicGroup), !advanced);
}

void TOptionsController::ExpertModeClick(bool advanced) {
  host_.SetControlChecked(S(ctl::kAdvancedItem), advanced);
  host_.SetControlChecked(S(ctl::kBasicItem), !advanced);
  prefs_.INIcheckedMenuItem(QStringLiteral("Expert"), host_, S(ctl::kAdvancedItem));
  ApplyExpertView();
}

// --- rules ----------------------------------------------------------------------------------

void TOptionsController::SizeListChanged(int, ChangeOrigin origin) {
  if (origin != ChangeOrigin::User) return;
  static const char* const kSizes[] = {"MaxSizeMb", "650", "1.44", "540", "4700"};
  const int i = l_.sizeList.CheckedIndex();
  if (i >= 0) l_.maxSizeEdit.SetText(S(kSizes[i]));
}

void TOptionsController::CompressionListChanged(int, ChangeOrigin origin) {
  if (origin != ChangeOrigin::User) return;
  const std::optional<double> mb = env_.MeasuredSizeMb();
  if (!mb) return;
  static const double kRatio[] = {1.8, 1.4, 1.0};
  const int i = l_.compressionList.CheckedIndex();
  if (i < 0) return;
  env_.SetSizeCalcText(QString::number(std::llround(*mb / kRatio[i])) + QStringLiteral("zMb"));
}

void TOptionsController::ModeListChanged(int, ChangeOrigin origin) {
  if (origin != ChangeOrigin::User) return;
  // The marking of "Move Files Then Delete (caution!)" follows its check state by itself.
  THandlersDetached detached{&l_.basicList};
  l_.basicList.SetChecked(kBasicAll, true);
  l_.basicList.SetChecked(BasicForMode(l_.modeList.CheckedIndex()), true);
}

void TOptionsController::BasicListChanged(int, ChangeOrigin origin) {
  if (origin != ChangeOrigin::User) return;
  const int chosen = l_.basicList.CheckedIndex();
  if (chosen == kBasicRefresh || chosen == kBasicUpdate) {
    if (!env_.ArchiveLoaded()) {
      {
        THandlersDetached detached{&l_.basicList};
        l_.basicList.SetChecked(kBasicAll, true);
      }
      MbInfo(
          QStringLiteral("Please Double-Click on a ZIPfile in Browser first\ror [Restore] "
                         "button (OpenZIP) to use this Method"));
    } else {
      env_.SetAddToArchive(true);
      Setstate(0);
      Setstate(3);
    }
  }
  THandlersDetached detached{&l_.modeList};
  const int basic = l_.basicList.CheckedIndex();
  if (basic >= 0) l_.modeList.SetChecked(kBasicToMode[basic], true);
}

void TOptionsController::ResetSizes() {
  THandlersDetached detached{&l_.sizeList};
  l_.sizeList.SetChecked(kSizeAutomatic, true);
  l_.maxSizeEdit.SetText(l_.maxSizeEdit.placeholder());
  l_.firstDiskEdit.SetText(l_.firstDiskEdit.placeholder());
}

void TOptionsController::DirectoryListChanged(int i, ChangeOrigin origin) {
  if (origin != ChangeOrigin::User) return;
  if (i == kDirSpan) {
    THandlersDetached detached{&l_.basicSizeList};
    l_.basicSizeList.SetChecked(l_.directoryList.Checked(kDirSpan) ? kBasicSpan : kBasicStandard,
                                true);
    return;
  }
  if (i == kDirHidden) env_.ShowHiddenItems(l_.directoryList.Checked(kDirHidden));
  // Ticking "Erase Disk First" itself must not take it away again, so that item does not
  // trigger the reset.
  if (i != kDirErase && !env_.RunInProgress()) {
    THandlersDetached detached{&l_.directoryList};
    l_.directoryList.SetChecked(kDirErase, false);
    l_.directoryList.SetItemEnabled(kDirErase, false);
    ResetSizes();
  }
  // The marking follows "Erase Disk First" by itself.
}

void TOptionsController::ExtractOptionListChanged(int i, ChangeOrigin origin) {
  // "Links as stored" is kept for every later extraction; the other items are set per run.
  if (origin != ChangeOrigin::User || i != kExtractLinksAsStored) return;
  prefs_.Write(QStringLiteral("ExtractLinksAsStored"),
               l_.extractOptionList.Checked(kExtractLinksAsStored));
}

void TOptionsController::BasicSizeListChanged(int, ChangeOrigin origin) {
  if (origin != ChangeOrigin::User || !env_.WindowShown()) return;
  if (!Advanced() && l_.basicSizeList.Checked(kBasicSpan))
    MbInfo(QStringLiteral("To define spanned sizes, use 'Size Settings' in Advanced box"));
  SpanRule();
}

void TOptionsController::SpanRule() {
  TOptionList& d = l_.directoryList;
  THandlersDetached detached{&d, &l_.basicSizeList};
  d.SetChecked(kDirSpan, !l_.basicSizeList.Checked(kBasicStandard));
  host_.SetControlEnabled(S(ctl::kSizeCompressionGroup), true);
  if (env_.ArchiveOnDirectRemovable()) {
    for (int i : {kDirErase, kDirSpanNoVolume, kDirDirectoryFirstDisk}) d.SetItemEnabled(i, true);
  } else {
    d.SetChecked(kDirErase, false);
    d.SetItemEnabled(kDirErase, false);
    const bool automatic = l_.sizeList.Checked(kSizeAutomatic);
    d.SetChecked(kDirSpanNoVolume, !automatic);
    d.SetItemEnabled(kDirSpanNoVolume, !automatic);
    d.SetItemEnabled(kDirDirectoryFirstDisk, true);
  }
}

void TOptionsController::FunctionsListChanged(int i, ChangeOrigin origin) {
  if (origin != ChangeOrigin::User) return;
  if (i == kFnStamp) StampChanged(l_.functionsList.Checked(kFnStamp));
  // The marking follows "Add Versioning" by itself.
}

void TOptionsController::BasicStampListChanged(int, ChangeOrigin origin) {
  if (origin != ChangeOrigin::User) return;
  StampChanged(l_.basicStampList.Checked(0));
}

void TOptionsController::StealthListChanged(int i, ChangeOrigin origin) {
  if (origin != ChangeOrigin::User) return;
  if (i == kStealthStamp)
    StampChanged(l_.stealthList.Checked(kStealthStamp));
  else if (i == kStealthMonitorSubDirs)
    prefs_.Write(QStringLiteral("DirMon"), l_.stealthList.Checked(kStealthMonitorSubDirs));
}

void TOptionsController::StampChanged(bool on) {
  {
    THandlersDetached detached{&l_.functionsList, &l_.basicStampList, &l_.stealthList};
    l_.functionsList.SetChecked(kFnStamp, on);
    l_.basicStampList.SetChecked(0, on);
    l_.stealthList.SetChecked(kStealthStamp, on);
  }
  const QString name = env_.ArchiveName();
  if (name.isEmpty()) return;
  const QString ext = env_.ExeMode() ? QStringLiteral(".EXE") : QStringLiteral(".ZIP");
  const QString base = StampBase(name);
  // Either way the archive keeps its extension in the case the user wrote it when it fits the
  // mode (file names are case-sensitive here: "docs.zip" must not turn into a separate
  // "docs.ZIP"); otherwise it gets the mode's ".ZIP" or ".EXE".
  const QString old = QFileInfo(name).suffix();
  const QString keptExt =
      old.compare(ext.mid(1), Qt::CaseInsensitive) == 0 ? QLatin1Char('.') + old : ext;
  if (!on) {
    env_.SetArchiveName(base + keptExt);
    return;
  }
  env_.SetArchiveName(
      base + DateTimeStamp(prefs_.Int(QStringLiteral("DateTimeFormat")), CurrentClock().Now()) +
      keptExt);
}

void TOptionsController::ViewListChanged(int i, ChangeOrigin origin) {
  if (origin != ChangeOrigin::User) return;
  if (i == kViewTree && l_.viewList.Checked(kViewTree) && env_.HasArchiveSearchResults()) {
    THandlersDetached detached{&l_.viewList};
    l_.viewList.SetChecked(kViewList, true);
  }
  const int mode = l_.viewList.CheckedIndex();
  prefs_.Write(QStringLiteral("VTreeDisplayMode"), mode);
  emit viewModeChanged(mode);
}

// --- names ----------------------------------------------------------------------------------

QString TOptionsController::DateTimeStamp(int format, const QDateTime& when) {
  // The same stamp as every other archive name gets.
  return ::DateTimeStamp(format, when);
}

QString TOptionsController::StampBase(const QString& archiveName) {
  QString base = archiveName;
  const int slash = base.lastIndexOf(QLatin1Char('/'));
  const int dot = base.lastIndexOf(QLatin1Char('.'));
  if (dot > slash) base.truncate(dot);
  // Only inside the file name: a folder such as /backup-2024/ must not move the archive.
  const int stamp = base.indexOf(QStringLiteral("-20"), slash + 1);
  if (stamp >= 0) base.truncate(stamp);
  return base;
}
