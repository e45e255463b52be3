// Settings files: the default file ProgramDir + "default.ini" and the settings file of a job
// (NAME.INI). Loading fills the option lists, the inclusion grid, the menus' preferences and the
// scheduler's controls; writing stores the job part. Preferences are saved the moment they
// change through the handlers below.
#pragma once

#include <QObject>
#include <QString>

class IControlHost;
class IGridCells;
class IniFile;
class IOptionEnvironment;
class ISchedulerControls;
class TOptionLists;
class TOptionsController;
class TPreferences;

class TSettingsFiles : public QObject {
  Q_OBJECT
 public:
  TSettingsFiles(TOptionLists& lists, TPreferences& prefs, TOptionsController& options,
                 IControlHost& host, IOptionEnvironment& env, ISchedulerControls& scheduler,
                 IGridCells& grid, QObject* parent = nullptr);

  // Loads the default settings file (file empty) or a job's settings file. Returns true when
  // the option part was loaded (the file holds the "ClrDisk" marker).
  bool INIfileIO(const QString& file = QString());
  // The job's settings file last given to INIfileIO named no archive ("Incorrect path"): nothing
  // of it was loaded.
  bool NamedNoArchive() const { return namedNoArchive_; }
  // Writes the job part (and "ZIPFILE" for a job file) into file. Throws std::system_error
  // when the file cannot be written, and when the archive name holds a line break (it could not
  // be read back as the same name).
  void WriteSettings(const QString& file);
  // "Make these settings default" / "Set Default": the job part into the default file.
  // A failure is reported in a box.
  void SetDefaultClick();

  // True while INIfileIO runs.
  bool Loading() const { return loading_; }

  // Preference handlers: each changes the menu's check marks and saves its key at once.
  // A boolean menu item (by its key: "StartMinimised", "DisplayEmptyDIR", "SchedBUPrompt",
  // "StealthEnabled", "StealthZIP", "StealthMinimizeOnLoad", "MinToTray", "PromptSkipOpenFiles",
  // "FullReport", "CheckTempSpace", "Hints", "Themes", "StealthARen"): toggles the check mark.
  void ToggleMenuPreference(const QString& key);
  // The check boxes "Large Fonts" and "QuickSearch" ("LargeFonts", "QuickSearch").
  void CheckBoxPreference(const QString& key, bool checked);
  // "JobDIR": "ProgramDIR" (true) or "BackupDIR".
  void JobDirClick(bool programDir);
  // "Clear Disk Method": "No Prompt Erase Files" (true) or "Prompt Erase Files".
  void ClearDiskMethodClick(bool noPrompt);
  // "TemporaryDIR": "" for "Default", else the chosen folder ("Select").
  void TempDirChosen(const QString& folder);
  // "DateTimeFormat" item by tag 0-3.
  void DateTimeFormatClick(int tag);
  // "Archive SortBy" item by tag 0-5.
  void SortByClick(int tag);
  // The folder of the global archive search.
  void GlobalFindDirChosen(const QString& folder);
  // A hotkey was defined.
  void HotkeyDefined(const QString& names, int modifiers, int virtualKey);
  // Burner settings confirmed (drive as written, e.g. "/dev/sr0").
  void BurnerSettingsConfirmed(const QString& drive, const QString& device, int speed,
                               bool finalise, bool native, bool sizingAuto);

  // The menu item that shows a boolean preference (empty when none).
  static QString MenuItemOf(const QString& key);

 signals:
  // A preference was applied while the default file was loaded (in reading order), so the
  // subsystems that act on it (hotkey, themes, hints, burner, temporary folder) can follow.
  void preferenceLoaded(const QString& key);

 private:
  void ApplyPreference(const QString& key);
  void LoadPreferences(const IniFile& ini);
  void LoadSchedule(const IniFile& ini);
  // defaultFile: the file is the default file (keys it lacks read as a new job's).
  void LoadJobPart(const IniFile& ini, bool defaultFile);

  TOptionLists& l_;
  TPreferences& prefs_;
  TOptionsController& options_;
  IControlHost& host_;
  IOptionEnvironment& env_;
  ISchedulerControls& scheduler_;
  IGridCells& grid_;
  bool loading_ = false;
  bool namedNoArchive_ = false;
};
