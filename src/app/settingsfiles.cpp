#include "app/settingsfiles.h"

#include <QFileInfo>
#include <system_error>

#include "app/controlhost.h"
#include "app/inclusiongrid.h"
#include "app/mb.h"
#include "app/optionhosts.h"
#include "app/optionscontroller.h"
#include "app/pathbytes.h"
#include "app/preferences.h"
#include "platform/inifile.h"
#include "platform/programdir.h"

using namespace opt;

namespace {

const std::string kOptions = "Options";
const std::string kZipFile = "ZIPFILE";

QString S(const char* s) {
  return QString::fromLatin1(s);
}

std::string GridSection(int col) {
  return "SGcol" + std::to_string(col);
}

// Boolean preferences shown by one menu item or check box.
struct MenuPref {
  const char* key;
  const char* item;
};
const MenuPref kMenuPrefs[] = {
    {"StartMinimised", ctl::kStartMinimisedItem},
    {"StealthEnabled", ctl::kStealthEnableItem},
    {"Hints", ctl::kHintsItem},
    {"DisplayEmptyDIR", ctl::kDisplayEmptyDirItem},
    {"Themes", ctl::kThemeManagerItem},
    {"SchedBUPrompt", ctl::kSchedPromptItem},
    {"LargeFonts", ctl::kLargeFontsBox},
    {"QuickSearch", ctl::kQuickSearchBox},
    {"StealthMinimizeOnLoad", ctl::kMinimizeOnLoadItem},
    {"CheckTempSpace", ctl::kCheckSpaceItem},
    {"PromptSkipOpenFiles", ctl::kPromptSkipOpenFilesItem},
    {"FullReport", ctl::kFullReportItem},
    {"StealthZIP", ctl::kStealthExclZipItem},
    {"MinToTray", ctl::kMinToTrayItem},
    {"StealthARen", ctl::kAutoRenameOnSizeItem},
};

// A radio group of menu items, one per tag.
template <size_t N>
void CheckTag(IControlHost& host, const char* const (&items)[N], int tag) {
  for (size_t i = 0; i < N; ++i) host.SetControlChecked(S(items[i]), static_cast<int>(i) == tag);
}

// An index read from a file: outside 0..count-1 it is the default 0.
int InRange(int64_t v, int count) {
  return (v >= 0 && v < count) ? static_cast<int>(v) : 0;
}

}  // namespace

TSettingsFiles::TSettingsFiles(TOptionLists& lists, TPreferences& prefs,
                               TOptionsController& options, IControlHost& host,
                               IOptionEnvironment& env, ISchedulerControls& scheduler,
                               IGridCells& grid, QObject* parent)
    : QObject(parent),
      l_(lists),
      prefs_(prefs),
      options_(options),
      host_(host),
      env_(env),
      scheduler_(scheduler),
      grid_(grid) {}

QString TSettingsFiles::MenuItemOf(const QString& key) {
  for (const MenuPref& p : kMenuPrefs)
    if (key.compare(QLatin1String(p.key), Qt::CaseInsensitive) == 0) return S(p.item);
  return {};
}

// --- loading --------------------------------------------------------------------------------

bool TSettingsFiles::INIfileIO(const QString& file) {
  struct Busy {
    bool& b;
    explicit Busy(bool& x) : b(x) { b = true; }
    ~Busy() { b = false; }
  } busy(loading_);
  namedNoArchive_ = false;

  QString path;
  if (file.isEmpty())
    path = TPreferences::DefaultFile();
  else if (file.contains(QLatin1Char('/')))
    path = file;
  else if (prefs_.Bool(QStringLiteral("CatDIR")))
    path = PathText(ProgramDir()) + file;
  else
    path = QFileInfo(env_.ArchiveName()).path() + QLatin1Char('/') + file;

  // Names are kept as the bytes they are on disk, in the file and in the settings file.
  IniFile ini(PathBytes(path));
  if (!file.isEmpty()) {
    const QString fname = PathText(ini.ReadString(kZipFile, "Fname", ""));
    if (fname.isEmpty()) {
      namedNoArchive_ = true;
      MbInfo(QStringLiteral("Incorrect path"));
      if (!env_.AutoRunFile().isEmpty()) env_.TerminateApplication();
      return false;
    }
    env_.SetArchiveName(fname);
  }
  // "ClrDisk" marks a complete settings file; without it only the archive name is taken.
  if (ini.ReadInteger(kOptions, "ClrDisk", -1) == -1) return false;

  prefs_.Read(ini, QStringLiteral("CatDIR"));
  ApplyPreference(QStringLiteral("CatDIR"));
  if (TPreferences::IsDefaultFile(path)) {
    // (Loading keeps the rule that any name containing "default.ini" counts as the default
    // file, so a MYDEFAULT.INI brings its preferences.)
    LoadPreferences(ini);
    LoadSchedule(ini);
  }
  LoadJobPart(ini, TPreferences::IsDefaultFile(path));
  return true;
}

void TSettingsFiles::LoadPreferences(const IniFile& ini) {
  for (const TPreferences::KeyInfo& s : TPreferences::Table()) {
    const QString key = S(s.key);
    if (key == QLatin1String("CatDIR")) continue;  // read for every settings file above
    if (key == QLatin1String("StealthARen")) {
      // The start-up registration sits between "MinToTray" and "StealthARen".
      const int run = env_.RunOnStartup();
      host_.SetControlChecked(S(ctl::kStealthAtStartUpItem), run == 2);
      host_.SetControlChecked(S(ctl::kStartUpItem), run == 1);
    }
    prefs_.Read(ini, key);
    ApplyPreference(key);
  }
}

void TSettingsFiles::ApplyPreference(const QString& key) {
  const QString item = MenuItemOf(key);
  if (!item.isEmpty()) host_.SetControlChecked(item, prefs_.Bool(key));

  if (key == QLatin1String("CatDIR")) {
    const bool programDir = prefs_.Bool(key);
    host_.SetControlChecked(S(ctl::kProgramDirItem), programDir);
    host_.SetControlChecked(S(ctl::kBackupDirItem), !programDir);
  } else if (key == QLatin1String("ClrDisk")) {
    const bool noPrompt = prefs_.Int(key) == 1;
    host_.SetControlChecked(S(ctl::kNoPromptEraseItem), noPrompt);
    host_.SetControlChecked(S(ctl::kPromptEraseItem), !noPrompt);
  } else if (key == QLatin1String("Expert")) {
    options_.ApplyExpertView();
  } else if (key == QLatin1String("Hints")) {
    if (!prefs_.Bool(key)) host_.SetControlCaption(S(ctl::kContextHelpItem), QString());
  } else if (key == QLatin1String("VTreeDisplayMode")) {
    const int mode = InRange(prefs_.Int(key), l_.viewList.count());
    prefs_.Set(key, mode);
    THandlersDetached detached{&l_.viewList};
    l_.viewList.SetChecked(mode, true);
  } else if (key == QLatin1String("ArchiveSortBy")) {
    const int tag = InRange(prefs_.Int(key), 6);
    prefs_.Set(key, tag);
    CheckTag(host_, ctl::kSortByItems, tag);
  } else if (key == QLatin1String("DateTimeFormat")) {
    const int tag = InRange(prefs_.Int(key), 4);
    prefs_.Set(key, tag);
    CheckTag(host_, ctl::kDateTimeFormatItems, tag);
  } else if (key == QLatin1String("ExtractLinksAsStored")) {
    THandlersDetached detached{&l_.extractOptionList};
    l_.extractOptionList.SetChecked(kExtractLinksAsStored, prefs_.Bool(key));
  } else if (key == QLatin1String("TempDIR")) {
    const bool standard = prefs_.Text(key).isEmpty();
    host_.SetControlChecked(S(ctl::kTempDefaultItem), standard);
    host_.SetControlChecked(S(ctl::kTempSelectItem), !standard);
  }
  emit preferenceLoaded(key);
}

void TSettingsFiles::LoadSchedule(const IniFile& ini) {
  const int days = static_cast<int>(ini.ReadInteger("Scheduled", "days", 0));
  if (days <= 0) return;
  scheduler_.SetScheduleDays(days & 127);
  scheduler_.SetScheduleTime(QString::fromStdString(ini.ReadString("Scheduled", "time", "00:00")));
  scheduler_.SetScheduleFile(
      QString::fromStdString(ini.ReadString("Scheduled", "file", "JOB Filename")));
  if (scheduler_.ScheduleFile() != QLatin1String("JOB Filename")) scheduler_.StartSchedulerTimer();
}

// A key the file does not hold reads as the window's built-in default: the state of a freshly
// created window, whatever the previous job set. (A default file that only went through the
// first run holds "ClrDisk" alone; it keeps recursion on and the grid filled.)
void TSettingsFiles::LoadJobPart(const IniFile& ini, bool defaultFile) {
  auto text = [&](const char* key, const QString& def) {
    return QString::fromStdString(ini.ReadString(kOptions, key, def.toStdString()));
  };
  auto integer = [&](const char* key, int def) -> int64_t {
    return ini.ReadInteger(kOptions, key, def);
  };

  l_.maxSizeEdit.SetText(text("ComboEdit1", l_.maxSizeEdit.placeholder()));
  l_.firstDiskEdit.SetText(text("ComboEdit2", l_.firstDiskEdit.placeholder()));

  THandlersDetached detached{&l_.stealthList,     &l_.modeList,      &l_.basicList,
                             &l_.sizeList,        &l_.directoryList, &l_.basicSizeList,
                             &l_.compressionList, &l_.functionsList, &l_.basicStampList,
                             &l_.encryptionList};
  // Every job's settings start without directory monitoring unless they ask for it.
  const bool dirMon = ini.ReadBool(kOptions, "DirMon", false);
  prefs_.Set(QStringLiteral("DirMon"), dirMon);
  l_.stealthList.SetChecked(kStealthMonitorSubDirs, dirMon);

  const int mode = InRange(integer("OptCheck1", l_.modeList.DefaultIndex()), l_.modeList.count());
  l_.modeList.SetChecked(mode, true);
  // The basic list shows the same mode as the mode list.
  const int basic = mode == kModeBitSetClear ? kBasicChanged
                    : mode == kModeUpdate    ? kBasicUpdate
                    : mode == kModeRefresh   ? kBasicRefresh
                                             : kBasicAll;
  l_.basicList.SetChecked(basic, true);

  l_.sizeList.SetChecked(
      InRange(integer("OptCheck3", l_.sizeList.DefaultIndex()), l_.sizeList.count()), true);

  // "OptCheck2" holds the first nine items; following links has a key of its own, so files
  // written before it existed read the same.
  l_.directoryList.SetMask(
      static_cast<int>(integer("OptCheck2", l_.directoryList.DefaultMask()) & 0x1FF));
  l_.directoryList.SetChecked(kDirFollowLinks, ini.ReadBool(kOptions, "FollowLinks", false));
  l_.basicSizeList.SetChecked(l_.directoryList.Checked(kDirSpan) ? kBasicSpan : kBasicStandard,
                              true);

  l_.compressionList.SetChecked(
      InRange(integer("OptCheck4", l_.compressionList.DefaultIndex()), l_.compressionList.count()),
      true);

  // A job saved before the choice existed keeps the traditional cipher its archives were
  // written with; the default file, which new jobs start from, gives AES-256.
  const QString method = text("EncryptionMethod", QString());
  int encryption = defaultFile ? kEncAes256 : kEncTraditional;
  for (int i = 0; i < l_.encryptionList.count(); ++i)
    if (method.compare(l_.encryptionList.item(i), Qt::CaseInsensitive) == 0) encryption = i;
  l_.encryptionList.SetChecked(encryption, true);

  const int functions =
      static_cast<int>(integer("OptCheck6", l_.functionsList.DefaultMask()) & 0x3F);
  const bool stamp = functions & 1;
  l_.functionsList.SetChecked(kFnStamp, stamp);
  l_.basicStampList.SetChecked(0, stamp);
  l_.stealthList.SetChecked(kStealthStamp, stamp);
  for (int i = kFnVersioning; i <= kFnRestore; ++i)
    l_.functionsList.SetChecked(i, (functions >> i) & 1);

  grid_.BeginUpdate();
  for (int col = 0; col < 3; ++col) {
    // A column the file does not hold at all is the new window's column; in a stored column a
    // missing row is an empty cell.
    const bool stored = !ini.Keys(GridSection(col)).empty();
    const QStringList& def = TInclusionGrid::DefaultColumn(col);
    for (int row = 1; row < grid_.RowCount(); ++row)
      grid_.SetCell(
          col, row,
          stored ? QString::fromStdString(ini.ReadString(GridSection(col), std::to_string(row), ""))
                 : def.value(row - 1));
  }
  grid_.EndUpdate();
}

// --- writing --------------------------------------------------------------------------------

void TSettingsFiles::WriteSettings(const QString& file) {
  IniFile ini(PathBytes(file));
  // Only the default file itself goes without its archive: a job that merely has
  // "default.ini" somewhere in its path (mydefault.ini.d/x.INI) keeps it.
  if (PathBytes(file) != PathBytes(TPreferences::DefaultFile())) {
    QString name = env_.ArchiveName();
    if (env_.ExeMode()) {
      const int slash = name.lastIndexOf(QLatin1Char('/'));
      const int dot = name.lastIndexOf(QLatin1Char('.'));
      if (dot > slash) name.truncate(dot);
      name += QStringLiteral(".EXE");
    }
    if (HasLineBreak(name))
      throw std::system_error(EINVAL, std::generic_category(),
                              "the archive name holds a line break");
    ini.WriteString(kZipFile, "Fname", PathBytes(name));
  }
  ini.WriteInteger(kOptions, "ClrDisk", prefs_.Int(QStringLiteral("ClrDisk")) == 1 ? 1 : 0);
  if (l_.modeList.CheckedIndex() >= 0)
    ini.WriteInteger(kOptions, "OptCheck1", l_.modeList.CheckedIndex());
  ini.WriteInteger(kOptions, "OptCheck2", l_.directoryList.Mask() & 0x1FF);
  ini.WriteInteger(kOptions, "OptCheck3", std::max(0, l_.sizeList.CheckedIndex()));
  ini.WriteString(kOptions, "ComboEdit1", l_.maxSizeEdit.text().toStdString());
  ini.WriteString(kOptions, "ComboEdit2", l_.firstDiskEdit.text().toStdString());
  ini.WriteInteger(kOptions, "OptCheck4", std::max(0, l_.compressionList.CheckedIndex()));
  ini.WriteInteger(kOptions, "OptCheck6", l_.functionsList.Mask());
  ini.WriteString(
      kOptions, "EncryptionMethod",
      l_.encryptionList.item(std::max(0, l_.encryptionList.CheckedIndex())).toStdString());
  ini.WriteInteger(kOptions, "FollowLinks", l_.directoryList.Checked(kDirFollowLinks) ? 1 : 0);
  for (int col = 0; col < 3; ++col) {
    ini.EraseSection(GridSection(col));
    for (int row = 1; row < grid_.RowCount(); ++row)
      ini.WriteString(GridSection(col), std::to_string(row),
                      grid_.Cell(col, row).toUpper().toStdString());
  }
  ini.Save();
}

void TSettingsFiles::SetDefaultClick() {
  try {
    WriteSettings(TPreferences::DefaultFile());
  } catch (const std::system_error& e) {
    MbMessage(QStringLiteral("Settings not saved: ") + QString::fromLocal8Bit(e.what()),
              QStringLiteral("Arcavo"), false, MB_ICONEXCLAMATION);
  }
}

// --- preference handlers --------------------------------------------------------------------

void TSettingsFiles::ToggleMenuPreference(const QString& key) {
  const QString item = MenuItemOf(key);
  if (item.isEmpty()) return;
  host_.SetControlChecked(item, !host_.ControlChecked(item));
  prefs_.INIcheckedMenuItem(key, host_, item);
  if (key == QLatin1String("Hints") && !prefs_.Bool(key))
    host_.SetControlCaption(S(ctl::kContextHelpItem), QString());
}

void TSettingsFiles::CheckBoxPreference(const QString& key, bool checked) {
  const QString item = MenuItemOf(key);
  if (!item.isEmpty()) host_.SetControlChecked(item, checked);
  prefs_.Write(key, checked);
}

void TSettingsFiles::JobDirClick(bool programDir) {
  host_.SetControlChecked(S(ctl::kProgramDirItem), programDir);
  host_.SetControlChecked(S(ctl::kBackupDirItem), !programDir);
  prefs_.INIcheckedMenuItem(QStringLiteral("CatDIR"), host_, S(ctl::kProgramDirItem));
}

void TSettingsFiles::ClearDiskMethodClick(bool noPrompt) {
  host_.SetControlChecked(S(ctl::kNoPromptEraseItem), noPrompt);
  host_.SetControlChecked(S(ctl::kPromptEraseItem), !noPrompt);
  prefs_.Write(QStringLiteral("ClrDisk"), noPrompt ? 1 : 0);
}

void TSettingsFiles::TempDirChosen(const QString& folder) {
  host_.SetControlChecked(S(ctl::kTempDefaultItem), folder.isEmpty());
  host_.SetControlChecked(S(ctl::kTempSelectItem), !folder.isEmpty());
  prefs_.Write(QStringLiteral("TempDIR"), folder);
}

void TSettingsFiles::DateTimeFormatClick(int tag) {
  if (tag < 0 || tag > 3) return;
  CheckTag(host_, ctl::kDateTimeFormatItems, tag);
  prefs_.Write(QStringLiteral("DateTimeFormat"), tag);
}

void TSettingsFiles::SortByClick(int tag) {
  if (tag < 0 || tag > 5) return;
  CheckTag(host_, ctl::kSortByItems, tag);
  prefs_.Write(QStringLiteral("ArchiveSortBy"), tag);
}

void TSettingsFiles::GlobalFindDirChosen(const QString& folder) {
  prefs_.Write(QStringLiteral("GFindDIR"), folder);
}

void TSettingsFiles::HotkeyDefined(const QString& names, int modifiers, int virtualKey) {
  prefs_.Write(QStringLiteral("HotKeyNames"), names);
  prefs_.Write(QStringLiteral("HotKeyFunc#"), modifiers);
  prefs_.Write(QStringLiteral("HotKeyVK#"), virtualKey);
}

void TSettingsFiles::BurnerSettingsConfirmed(const QString& drive, const QString& device, int speed,
                                             bool finalise, bool native, bool sizingAuto) {
  // The six keys go together: a failed save leaves neither the file nor memory half changed.
  prefs_.Write({{QStringLiteral("BurnerDrive"), drive},
                {QStringLiteral("Burner"), device},
                {QStringLiteral("BurnerSpeed"), speed},
                {QStringLiteral("BurnerFinal"), finalise},
                {QStringLiteral("Native"), native},
                {QStringLiteral("BurnerSizingAuto"), sizingAuto}});
}
