// Archive naming: version folders inside an archive, and the command that names a new archive
// with its new-name dialog.
//
// A version folder is "#" + eight upper-case hexadecimal digits + "#/" appended to an entry's
// stored folder; a versioned run moves the archive's current entries into one before it writes
// the new copies. The digits count ten-second steps of local time.
#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/versionfolder.h"

class IBackupDisplay;
class IBackupProgram;
class IControlHost;
class TArcUnZip;
class TBackupRun;
class TCheckStore;
class TOptionLists;
class TPreferences;

// The version folder value of a moment: the day number D (1 January of year 1 is day 1) and the
// milliseconds since midnight T form D * 2^32 + T, divided by 10000 and rounded (ties to even);
// the low 32 bits.
uint32_t VersionFolderValue(const QDateTime& now);
// "#" + eight upper-case hex digits + "#/".
std::string VersionFolderName(uint32_t value);
// Moves the entries of the engine's archive (ZipName) that are not inside a version folder into
// a new one, through setEntryPath(index, new stored folder). The folder's value is that of now,
// or the next value no folder of the archive uses yet, so two runs never share one. The change
// is written by the engine's next rewrite of the archive. Returns the folder used.
std::string MakeVerDIR(TArcUnZip& zip, const QDateTime& now,
                       const std::function<void(int, const std::string&)>& setEntryPath);

// The new-name dialog's logic ("Arcavo New File Name Dialog"): an edit with the proposed name,
// a tree of folders and archives, OK and Cancel. The window shows it; the checks are here.
class TSaveDlgForm {
 public:
  static constexpr const char* kDefaultText = "Enter filename here";
  static constexpr const char* kMustIncludeFolder = "Must include Drive/Directory";
  static constexpr const char* kIncorrectName = "Incorrect filename criteria";
  static constexpr const char* kFolderLabel =
      "Click on destination folder, then enter filename after '/'";
  static constexpr const char* kNoFolder =
      "The folder %1 does not exist.\rChoose or make a folder first";
  static constexpr const char* kFolderReadOnly =
      "The folder %1 cannot be written to.\rChoose a folder of your own";

  // presetMode: OK accepts any text holding a folder, without the file-name check.
  TSaveDlgForm(QString title, const QString& proposal, bool presetMode = false);

  const QString& Title() const { return title_; }
  const QString& Text() const { return text_; }
  void SetText(const QString& text) { text_ = text; }
  bool PresetMode() const { return preset_; }
  // The hint label is shown when the proposal is a folder (ends in "/").
  bool LabelVisible() const { return labelVisible_; }
  // The file name remembered from the proposal.
  const QString& FileName() const { return fileName_; }

  // The disc writer's root ("/dev/srN/"), offered beside the folders; empty without a writer.
  const QString& BurnerRoot() const { return burnerRoot_; }
  void SetBurnerRoot(const QString& root) { burnerRoot_ = root; }

  // The first click into the edit while it shows the default text empties it.
  void EditClicked();
  // A folder of the tree: the folder + "/" + the remembered file name.
  void FolderClicked(const QString& folder);
  // A file of the tree: its path.
  void FileClicked(const QString& path);
  // OK: true when the dialog closes with the text. A text without a folder shows
  // "Must include Drive/Directory" and empties the edit; a text without a file name shows
  // "Incorrect filename criteria" in the edit. An absolute path typed after the proposed folder
  // ("/a/b//c/d") counts from its own "/"; a folder that does not exist or cannot be written
  // to is said here, where it can still be changed, not when the backup is written.
  bool OkClick();

 private:
  QString title_;
  QString text_;
  QString fileName_;
  QString burnerRoot_;
  bool preset_ = false;
  bool labelVisible_ = false;
};

// What the naming needs from the window.
class INamingHost {
 public:
  virtual ~INamingHost() = default;
  // The "Date Range" filter back to "No date filter" with the date of now.
  virtual void ResetDateFilter() {}
  // The path of the explorer tree's focused item ("" when none).
  virtual QString FocusedTreePath() const { return {}; }
  // Opens the explorer tree down to each folder in turn; the last one stays the focused item.
  virtual void BrowseTreeTo(const QStringList& /*folders*/) {}
  // The default settings loaded again ("&NewZIP").
  virtual void LoadDefaultSettings() {}
  // The list of directory monitors emptied.
  virtual void ClearDirMonitors() {}
  // The basic (not expert) view is on.
  virtual bool BasicView() const { return false; }
  virtual bool HintsOn() const { return false; }
  // Shows the new-name dialog modally; the text accepted with OK, nullopt when cancelled.
  virtual std::optional<QString> ShowSaveDialog(TSaveDlgForm& form) = 0;
  // The user's home folder, proposed when no archive was named yet.
  virtual QString HomeFolder() const;
  // The archive view's focused entry's file name, and the search box of "File Search".
  virtual QString FocusedArchiveEntryName() const { return {}; }
  virtual void SetSearchText(const QString&) {}
};

// Who asked for a new name.
enum class NamingSender { NewZip, NewZipMenu, NewExe, Define, Preset, ModifyJob };

class TNaming : public QObject {
  Q_OBJECT
 public:
  static constexpr const char* kPresetQuestion =
      "Mozilla files already selected - do you want to manually select?";
  static constexpr const char* kDefineNotice = "Now check Directories/Files\rOptionally, SaveJob";
  static constexpr const char* kDefineHint = "Please check/select Monitored dir/file in Browser";
  static constexpr const char* kResetNote =
      "New archive: ticks, option lists and the inclusion grid are back to their defaults";

  TNaming(TBackupRun& run, TArcUnZip& zip, TOptionLists& lists, TPreferences& prefs,
          TCheckStore& ticks, IControlHost& controls, IBackupDisplay& display,
          IBackupProgram& program, INamingHost& host, QObject* parent = nullptr);

  // Names a new archive. presetKind (1-4) for NamingSender::Preset.
  void NewZipButClick(NamingSender sender, int presetKind = 0);
  // "NameToFileSearch" of the archive view.
  void NameToFilename1Click();

  const QString& LastNewName() const { return lastNewName_; }
  void SetLastNewName(const QString& name) { lastNewName_ = name; }
  bool StealthDefineMode() const { return stealthDefineMode_; }

 private:
  bool StampTicked() const;
  // Ticks the profile folders of a mail or browser preset after it was named.
  void ApplyPreset(int kind);

  TBackupRun& run_;
  TArcUnZip& zip_;
  TOptionLists& l_;
  TPreferences& prefs_;
  TCheckStore& ticks_;
  IControlHost& controls_;
  IBackupDisplay& display_;
  IBackupProgram& program_;
  INamingHost& host_;
  QString lastNewName_;
  // The folder of the archive named last (kept over a cancelled naming).
  QString lastFolder_;
  bool stealthDefineMode_ = false;
  bool presetHintShown_ = false;
};
