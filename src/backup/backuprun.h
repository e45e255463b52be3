// The backup run: "&WriteZIP" from its preconditions to its end-of-run actions, with its
// companions "&AddToZIP", the existing-archive question, cancel, pause, the temporary-folder
// menu items and the small disk routines.
//
// The run works on the zip engine, the option lists, the ticks and the inclusion grid, and
// reaches the screen only through IControlHost, the message boxes and the host interfaces of
// backuphosts.h, so it runs headless in tests.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "archive/sfxconfig.h"
#include "backup/backuphosts.h"

class IControlHost;
class TAppZipHost;
class TArcZip;
class TCheckStore;
class TInclusionGrid;
class TOptionLists;
class TPreferences;

// The texts of the run.
namespace runmsg {
inline constexpr const char* kAbortQuestion = "Abort && Cancel operation?";
inline constexpr const char* kStealthName = "Don't use Stealth filename as standard ZIP";
inline constexpr const char* kCdCheckout = "CD Writer checkout fails.\rPossibly no disk inserted";
inline constexpr const char* kNoTempSpace = "Insufficient Space on temporary drive for CDR backup";
inline constexpr const char* kAllocationError = "Disk space allocation error";
inline constexpr const char* kNoPassword =
    "Encrypt ZIP (password required): no password was given, nothing was written";
inline constexpr const char* kExists = "ZIPfile exists. What do you want to do?";
inline constexpr const char* kOpenZipFirst = "Error - open a zip file first";
inline constexpr const char* kSuccess = "    Backup successful    \r";
inline constexpr const char* kFinishingEject = "Please wait - Finishing before eject";
// Every selected file and folder is missing.
inline constexpr const char* kNothingExists =
    "None of the selected files or folders exist: nothing written";
// The head of the closing text when files were left out, and its last line (%1 the number).
inline constexpr const char* kIncomplete = "    Backup incomplete    \r";
inline constexpr const char* kLeftOut = " left out (see the report)";
// The head of the closing text when nothing was stored and nothing left out.
inline constexpr const char* kNothingStored = "    Nothing was backed up    \r";
// Report lines of the leftovers of an interrupted run on the same archive.
inline constexpr const char* kLeftoverRemoved = "Removed the leftover of an interrupted run: ";
inline constexpr const char* kAsidePutBack = "Put back the archive an interrupted run left aside: ";
// Appended to the closing text when "Verify backup" is ticked and no archive test exists.
inline constexpr const char* kVerifyUnavailable =
    "\rVerification is not available: the archive was not tested";
}  // namespace runmsg

// Free bytes of the file system holding path, in thousands (rounded); 0 for an empty path or
// one whose file system cannot be read. The nearest existing folder of path is asked, so the
// name of an archive not yet written works.
uint32_t DiskSpaceKb(const QString& path);
// The size of a file in thousands of bytes (rounded); 0 when it does not exist.
int32_t FileSizeKb(const QString& path);
// The closing text of a run: with an error, the error text (ending in a blank) + "\r" + count
// + " file/DIR" + (" was" | "s were") + " added"; without, "    Backup successful    \r" + ...
// Files left out (leftOut > 0) add a last line saying how many, and without an error the head
// reads "    Backup incomplete    "; a run that stored nothing is never called successful.
QString RunResultText(const QString& errorText, int count, int leftOut = 0);
// Removes what an interrupted run of this program left beside archive: its temporary files
// (recognised by the writer's mark) and the hidden copies "." + name + ".previous[N]" that an
// earlier version kept aside while it replaced an archive. When archive itself is missing, the
// newest such copy is the previous archive and is put back under its name instead. Only regular
// files of the current user are touched. Returns one report line per file handled.
QStringList CleanLeftovers(const QString& archive);
// The maximum-size edit's text as bytes: a number of MB; any other text gives the digits read
// before its first invalid character (a sign and decimal points skipped) as whole MB, so
// "700MB" gives 700,000,000 and the placeholder gives 0.
// Thirteen digits or more (beyond any medium, and beyond 64 bits as bytes) give -1.
int64_t MaxSizeBytes(const QString& text);
// The parts of an existing split set base.z01, ..., base.zip beside zipName are renamed to
// ".name.previous" while a new set is written; returns the parts set aside.
QStringList SetSplitPartsAside(const QString& zipName);
// complete: the new set is whole, the old parts aside go. Otherwise the new set's parts go and
// the old ones come back under their names.
void EndSplitPartsAside(const QString& zipName, const QStringList& aside, bool complete);
// What an interrupted run left aside of an earlier split set: put back when the new set has no
// last part yet, removed when it has. Returns one report line per part.
QStringList RestoreSplitPartsAside(const QString& zipName);

// The password dialog's rule: it closes only when both edits hold the same text. On a mismatch
// the label reads "Not same password" and both edits are emptied.
struct TPasswordCheck {
  static constexpr const char* kLabel = "Enter same password twice:";
  static constexpr const char* kMismatch = "Not same password";
  // True when the dialog may close with these texts.
  static bool MayClose(const QString& password, const QString& password2) {
    return password == password2;
  }
};

class TBackupRun : public QObject {
  Q_OBJECT
 public:
  TBackupRun(TArcZip& zip, TOptionLists& lists, TPreferences& prefs, TCheckStore& ticks,
             TInclusionGrid& grid, IControlHost& controls, IBackupDisplay& display,
             IBackupProgram& program, IBackupDialogs& dialogs, IBackupSeams& seams,
             QObject* parent = nullptr);
  ~TBackupRun() override;

  // ---- Commands ----
  // "&WriteZIP" (both buttons), the Esc key and the tray menu's abort.
  void WriteZbtnClick();
  void CancelZIP();
  void PauseBtnClick();
  // "&AddToZIP".
  void AddButClick();
  // The existing-archive question; true when the run must stop.
  bool FileExisted(const QString& name);
  // Adds ".zip" to a name without extension; with set, the engine's ZipName becomes the name.
  // The archive panel shows it.
  void SetArchiveName(const QString& name, bool set);
  // The engine's ZipName.
  QString ZipName() const;
  // The engine takes the archive name the rest of the program set, when it differs.
  void SyncArchiveName();

  // "TemporaryDIR" ▸ "Default" / "Select", "Check Space", "PromptSkipOpenFiles".
  void TempDefault1Click();
  void SetTempDIR1Click();
  void CheckSpace1Click();
  void PromptSkipOpenFiles1Click();
  // The temporary folder the run uses: "TempDIR", or the system's when empty.
  QString TempPath() const;

  // A counting-only run for the size calculator: the selection is expanded and counted by the
  // engine, nothing is written. scratchName is the name the engine works under ("": the
  // archive's own name, or a scratch name when there is none). Returns the
  // engine's count and total bytes, nullopt when the run stopped before counting.
  struct Count {
    int64_t files = 0;
    int64_t bytes = 0;
  };
  std::optional<Count> CountingRun(const QString& scratchName);

  // The start-of-writing event of the engine, first listener: a counting-only run (or nothing to
  // write) stops the engine here. Returns true when it stopped the engine; the report's part of
  // the event (the program's own handler, then onStartZipInfo) then does not run.
  bool CountingOnlyStop(int numFiles, int64_t totalBytes, bool& stopNow);

  // ---- Run state ----
  bool RunInProgress() const { return runInProgress_; }
  bool AddMode() const { return addMode_; }
  void SetAddMode(bool on) { addMode_ = on; }
  bool ExeMode() const { return exeMode_; }
  void SetExeMode(bool on) { exeMode_ = on; }
  bool SizeCalcMode() const { return sizeCalcMode_; }
  void SetSizeCalcMode(bool on) {
    sizeCalcMode_ = on;
    program_.RunStateChanged(runInProgress_, sizeCalcMode_);
  }
  int PresetKind() const { return presetKind_; }
  void SetPresetKind(int kind) { presetKind_ = kind; }
  bool PauseMode() const { return pauseMode_; }
  bool CdStaging() const { return cdStaging_; }
  int TargetDriveKind() const { return targetDriveKind_; }
  bool OpenFilePrompt() const { return openFilePrompt_; }
  void SetOpenFilePrompt(bool on) { openFilePrompt_ = on; }
  int64_t RunStartTick() const { return runStartTick_; }
  QString LastBurnError;
  // The skip counters and the skipped-file lines, kept by the progress handlers.
  int32_t ExcludedCount = 0;
  int32_t BitNotSetCount = 0;
  int32_t NoOverwriteCount = 0;
  int32_t UnfilteredCount = 0;
  QStringList SkippedList;
  // The free space the disc check returned (megabytes x 1000), for the part sizes.
  int64_t DiscFree() const { return discFree_; }
  // A staged part was not burnt: the run fails, and why heads its closing text.
  void StagedBurnFailed(const QString& why);
  // A staged part that was not burnt stays in the program folder as path (told in the report).
  void StagedPartKept(const QString& path);

  // The last run's closing text, error text (empty when none) and count of files added.
  const QString& ResultText() const { return resultText_; }
  const QString& ErrorText() const { return errorText_; }
  int LastCount() const { return count_; }
  // True when the last run wrote its archive without an engine error.
  bool LastRunSucceeded() const { return succeeded_; }
  // The number of selected files and folders the last run left out (missing, unreadable,
  // vanished while it ran).
  int LastLeftOut() const { return leftOut_; }
  // The job file the last run was started for without the user ("" for a run by hand).
  const QString& LastRunJob() const { return lastJob_; }
  // The exit status of an automatic run that ended as the last one did: 0 everything stored,
  // 3 the archive was written but files were left out, 1 no archive written.
  int LastExitStatus() const;

  // ---- Hooks for the handlers built around the run ----
  // A further listener of the start-of-writing event, after the program's own handler (runs
  // when CountingOnlyStop did not stop).
  std::function<void(int numFiles, int64_t totalBytes, bool& stopNow)> onStartZipInfo;
  // The name of a split part (attached to the engine for every run); without it the program's
  // names (base.z01, ..., base.zip).
  std::function<void(std::string& fname, int partNum, int splitType)> onFileNameForSplitPart;
  // A wrong password (attached for encrypted runs).
  std::function<void(int fileIndex, std::string& newPassword)> onBadPassword;
  // Gives an entry of the engine's archive a new stored folder (in memory, written by the
  // engine's next rewrite); a versioned run moves the current entries into a version folder
  // with it (MakeVerDIR). Bound to the engine's SetEntryPath.
  std::function<void(int index, const std::string& path)> setEntryPath;
  // The self-extractor writer: (stub, archive name) -> files stored. Raises as ZipFiles does.
  // Bound to MakeSelfExtractor with the block of SFXConfig1.
  std::function<int(const std::string& stub, const std::string& name)> makeSelfExtractor;
  // The configuration of the self-extractors the run writes: the user may disable the command
  // line, choose files and change the overwrite mode; nothing is extracted automatically.
  TSFXConfig SFXConfig1;
  // The free space of a drive in thousands of bytes (DiskSpaceKb; replaceable for tests).
  std::function<uint32_t(const QString& path)> diskSpaceKb = DiskSpaceKb;
  // The self-extractor stub; empty: "ArcSFX32.bin" found beside the program.
  std::string sfxStub;
  // The run has taken over the controls (its counters start again).
  std::function<void()> onRunStart;
  // The engine is about to start (the process time counts from here).
  std::function<void()> onEngineStart;
  // The report file of a finished run; unset: the seams' WriteReportFile.
  std::function<void(const QString& requested)> onReportFile;
  // The number of selected files the run's report counted as left out; unset: none.
  std::function<int()> leftOutCount;
  // Told each ticked file the INCLUDE patterns leave out, before the engine starts.
  std::function<void(const QString& path)> onNotIncluded;

 signals:
  // A run has ended (after its closing message).
  void runFinished(bool succeeded);
  // The run's result is known (ResultText, LastExitStatus): before its closing message, or at
  // its end when it shows none. Once per run.
  void runResult();

 private:
  struct TRunSteps;
  class TRunGuard;
  // The step groups of WriteZbtnClick, in the order the run takes them. Those returning bool
  // return false when the run stops there.
  bool RunPreconditions(TRunSteps& r);  // 1.-6.
  bool StageDisc(TRunSteps& r);         // 7.-12.
  bool TakeArchive(TRunSteps& r);       // 13.
  bool SetUpEngine(TRunSteps& r);       // 15.-20.
  // "" when the run may rewrite the archive it adds to, else why it leaves it as it is.
  QString DamagedArchiveRefusal(const TRunSteps& r);
  bool ApplyOptions();                  // 19., 20.
  void StopBeforeEngine(const TRunSteps& r);
  void ExpandSelection(TRunSteps& r);  // 21.-23.
  void CallEngine(TRunSteps& r);       // 24.-28.
  void EndRun(TRunSteps& r);           // 29.-33.
  void EndRunActions(TRunSteps& r);    // 34.-37.
  void CleanUp(TRunSteps& r);          // 38.-42.
  // "Verify backup" runs the archive test at the end of this run.
  bool Verifies(const TRunSteps& r) const;
  // The command line's "close": the program ends with the run's exit status.
  void CloseProgram();
  // Emits runResult, once per run.
  void TellResult();
  void StartControls();
  // The end of a disc staging: spanning back to the user, the disc layer released.
  void EndStaging();
  void WriteCaption(bool running);
  // MakeSelfExtractor with the block of SFXConfig1, its four user settings set for the run.
  int WriteSelfExtractor(const std::string& stub, const std::string& name);
  // The engine forgets its directory of the archive (and any change made to it in memory), so
  // the next operation reads the file again.
  void ForgetArchiveInMemory();

  TArcZip& zip_;
  std::unique_ptr<TAppZipHost> ownHost_;
  TOptionLists& l_;
  TPreferences& prefs_;
  TCheckStore& ticks_;
  TInclusionGrid& grid_;
  IControlHost& controls_;
  IBackupDisplay& display_;
  IBackupProgram& program_;
  IBackupDialogs& dialogs_;
  IBackupSeams& seams_;

  bool runInProgress_ = false;
  bool running_ = false;  // from the controls of the run to its end (also after a cancel)
  bool addMode_ = false;
  bool exeMode_ = false;
  bool sizeCalcMode_ = false;
  int presetKind_ = 0;
  bool pauseMode_ = false;
  bool cdStaging_ = false;
  bool discFound_ = false;
  int targetDriveKind_ = 0;
  bool openFilePrompt_ = true;
  int64_t runStartTick_ = 0;
  int64_t discFree_ = 0;
  QString burnFailure_;    // why a staged part was not burnt; empty while all were
  QStringList keptParts_;  // staged parts not burnt, kept
  QString resultText_;
  QString errorText_;
  int count_ = 0;
  bool succeeded_ = false;
  int leftOut_ = 0;
  QString lastJob_;
  bool resultTold_ = false;
  bool nothingExists_ = false;
  std::optional<Count> counted_;
  // The existing archive is to be replaced (not added to): set by the existing-archive question.
  bool replaceExisting_ = false;
};
