// Progress, skipped files, completion, the run's report and the archive comment.
//
// TRunReport holds the counters and the skipped-file list of a backup run and handles the zip
// engine's events of a run (progress, start and skip of a file, bad password, completion,
// incomplete archive, start of writing and of extracting). It writes the report into the report
// box line by line, saves it as the run's report file and as RTF, and stores it or the edited
// box as the archive's comment.
//
// TBackupCore::AttachReport puts it on the backup run: the engine's events, and the run's hooks
// at its start (BeginRun), just before the engine (StartClock) and for the report file
// (WriteReportFile). The window's TWindowReport draws it and binds its commands.
#pragma once

#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <string>

#include "archive/arczip.h"
#include "backup/reporthosts.h"

class IControlHost;
class TOptionLists;
class TPreferences;

// The texts of the progress handlers, the report and the comment commands.
namespace rptmsg {
inline constexpr const char* kProcessTime = "Process Time";
inline constexpr const char* kZipFileNone = "ZipFile: <none>";
inline constexpr const char* kActiveFileNone = "ActiveFile: <none>";
inline constexpr const char* kCountIdle = "DIR&files count";
inline constexpr const char* kTotalIdle = "Total size (Mb)";
inline constexpr const char* kDirFiles = " DIR&files";
inline constexpr const char* kTotalSize = "Total size: ";
inline constexpr const char* kMb = " Mb";
inline constexpr const char* kDone = "% done";
inline constexpr const char* kCaption = "Arcavo";

inline constexpr const char* kFileOpen1 = "File ";
inline constexpr const char* kFileOpen2 =
    " is open.  Close it and press REPEAT to backup \r"
    "or SKIP it and continue backing up other files. Or, BYPASS all open files";
inline constexpr const char* kFileOpenButtons = "Repeat|Skip|Bypass";
inline constexpr const char* kSkippedBecause = ". Skipped because ";
// The label of a selected file or folder that does not exist (or vanished during the run).
inline constexpr const char* kNoSuchFile = "NoSuchFile";
inline constexpr const char* kReason = ". Reason: ";
// The label of a ticked file the INCLUDE patterns do not keep.
inline constexpr const char* kNotIncluded =
    "NotIncluded (a ticked file is kept by an INCLUDE pattern whose extension its name holds)";

inline constexpr const char* kIncomplete =
    "Incomplete zip file.  It may be a multi-part zip\r\n"
    "If so, insert the LAST_DISK of the disk set\r\n"
    "If it could be a corrupted file, press ATTEMPT\r\n"
    "            Otherwise, press CANCEL";
inline constexpr const char* kIncompleteButtons = "Last_Disk|Attempt|Cancel";
inline constexpr const char* kOpenLastTitle = "Open Existing ZIP File";
inline constexpr const char* kOpenLastFilter =
    "Zip (SFX) or Spanned Files|*.zip;*.EXE;*.0*;*.1*;*.2*;*.3*;*.4*;*.5*;*.6*;*.7*;*.8*;*.9*";

inline constexpr const char* kSpaceWarning =
    "Possible insufficient drive space allocation\r'Span Disks' is unchecked..Recommend CANCEL\r"
    "&& check 'Span Disks' or CONTINUE (with risk!!)";
inline constexpr const char* kSpaceButtons = "Continue|Cancel";

// Report lines.
inline constexpr const char* kBeginning = "Beginning Add to ";
inline constexpr const char* kUnfiltered = "Unfiltered files & DIRs to Archive: ";
inline constexpr const char* kStarted = "Archive started @ ";
inline constexpr const char* kSummaryFollows = "Backup Error Summary follows:";
inline constexpr const char* kMissingCount = "Missing files count: ";
inline constexpr const char* kSummaryEnds = "Backup Error Summary ends";
inline constexpr const char* kBitNotSet = "Files Skipped 'BitNotSet': ";
inline constexpr const char* kExcluded = "Files Skipped 'Excluded': ";
inline constexpr const char* kNoOverwrite = "Files Skipped 'NoOverwrite': ";
inline constexpr const char* kFiltered = "Filtered Files&DIRs to Archive: ";
inline constexpr const char* kArchived = "Files&DIRs successfully Archived: ";
inline constexpr const char* kEnded = "Archive ended @ ";
inline constexpr const char* kTimeTaken = "Time taken: ";
inline constexpr const char* kNoFilesMissed = "No files missed";

// Report box commands.
inline constexpr const char* kReportSaveError = "Report Save Error";
inline constexpr const char* kReportSaved = "Report/Comment saved as ";
inline constexpr const char* kNoZipComment = "No Zip comment in this zip file";
inline constexpr const char* kCommentHint =
    "Enter your ZIPfile comment\r\r  then click SaveComment";
inline constexpr const char* kReportHint = "Details of recent backup";
inline constexpr const char* kCommentSpanned = "Commenting Spanned not permitted";
inline constexpr const char* kReportSpanned = "Spanned Archive cannot be commented";
// "SaveComment" and "ReportToZIP" without an archive open or named.
inline constexpr const char* kNoArchiveToComment = "Open or name a ZIP file first";
// A comment beyond the end record's 16-bit length: %1 is its size in bytes.
inline constexpr const char* kCommentTooLong =
    "The comment is %1 bytes long; a zip archive holds at most 65,535.\r"
    "CUT stores its first 65,535 bytes, CANCEL leaves the archive unchanged.";
inline constexpr const char* kCommentTooLongButtons = "Cut|Cancel";
}  // namespace rptmsg

// The largest comment the end record can hold.
inline constexpr size_t kMaxCommentBytes = 0xFFFF;
// The comment cut to at most max bytes, never inside a UTF-8 sequence.
std::string CutComment(const std::string& comment, size_t max = kMaxCommentBytes);

// Elapsed time as minutes:seconds, each with a leading "0" below 10 ("03:07", "125:40").
QString ElapsedText(int64_t ms);
// Thousands of bytes, rounded, saturated to the 32-bit range (a volume beyond about 4.29 TB
// reports the largest value instead of wrapping around).
uint32_t KbFromBytes(uint64_t bytes);
// The free space of the file system holding path (its nearest existing folder), in thousands of
// bytes (KbFromBytes); 0 for an empty path or one that cannot be read.
uint32_t FreeSpaceKb(const QString& path);
// The summary's number pattern: thousands separators, no decimals, at least 3 characters.
QString FormatMbCount(double mb);
// Date and time of the report: the locale's short date and its long time without the zone.
QString ReportDateTime(const QDateTime& when);

class TRunReport : public QObject {
  Q_OBJECT
 public:
  // commentText: the program's one comment of the current archive (MainContext::CommentText),
  // which opening an archive sets too; null: the report keeps its own.
  TRunReport(TArcZip& zip, TOptionLists& lists, TPreferences& prefs, IControlHost& controls,
             IProgressHost& host, IReportBox& box, IReportSeams& seams,
             QString* commentText = nullptr, QObject* parent = nullptr);
  ~TRunReport() override;

  // ---- Wiring ----
  // Attaches the handlers to the engine's events OnTotalPercentDone, OnStartZip, OnSkippingFile,
  // OnNoSuchFile, OnBadPassword, OnZipComplete, OnInCompleteZip, OnStartZipInfo and
  // OnStartUnZipInfo.
  void AttachRunEvents(TArcZip& zip);
  // Clears those events again (only where this object's handlers are attached).
  void DetachRunEvents(TArcZip& zip);

  // ---- Calls of the backup run ----
  // At the start of a run: the counters to 0, the open-file question on, the comment read.
  void BeginRun();
  // A ticked file the INCLUDE patterns leave out: named in the report and counted as left out.
  void NotIncluded(const QString& path);
  // Just before the engine starts: the process time counts from now.
  void StartClock();
  // After the engine: an empty report box gets "No files missed".
  void FinishReport();
  // The report file of a run: when autoRunFile is not empty, "Unattended backup" is ticked or
  // "FullBackupReport" is checked, ProgramDir + the stamped file name of zipName + ".txt".
  // Nothing for a counting-only run or an empty box. Returns the file written, "" when none.
  QString WriteReportFile(const QString& zipName, const QString& autoRunFile);

  // ---- Engine events ----
  void ArcZip1TotalPercentDone(int Percent);
  void ArcZip1StartZip(std::string FName, TZipHeaderInfo& ZipHeader, bool& Skip);
  void ArcZip1SkippingFile(TSkipReason Reason, const std::string& FName, int FileIndex,
                           bool& Retry);
  // A selected file or folder that does not exist, or a file that vanished while the run went on.
  void ArcZip1NoSuchFile(const std::string& FName);
  void ArcZip1BadPassword(TArcUnZip* Sender, int FileIndex, std::string& NewPassword);
  void ArcZip1ZipComplete(int FileCount);
  void ArcZip1InCompleteZip(TArcUnZip* Sender, TIncompleteZipMode& IncompleteMode);
  void ArcZip1StartZipInfo(int NumFiles, int64_t TotalBytes, bool& StopNow);
  void ArcZip1StartUnZipInfo(int NumFiles, int64_t TotalBytes, bool& StopNow);

  // ---- Display routines ----
  void ClearStatusBar();
  void GaugeClear();
  void GaugeTickler();
  // 2 starts the tray animation; 0 and 1 stop it on that picture; only when the icon is shown.
  void TrayIconState(int state);
  // The elapsed time since StartClock.
  QString ProcessTimeText() const;
  // Draws the eye to a tab: its highlight toggled 7 times, 300 ms apart, then off.
  void pagetabflash(bool inner, int index);
  // The summary of an opened archive.
  void ShowZipspecs(int64_t count, int64_t totalBytes);

  // ---- Report box commands ----
  void SaveReport1Click();                     // "SavetoRTF File"
  void WordWrap1Click();                       // "WordWrap"
  void FullReport1Click();                     // "FullBackupReport"
  void Zipcomment1Click(bool zipCommentItem);  // true: "&Zip comment", false: "ZIPcomment"
  void SaveCommentClick();                     // "SaveComment"
  void ReportToZIP1Click();                    // "ReportToZIP"
  void ClearComments1Click();                  // "Clear Comments"

  // ---- State ----
  int32_t ExcludedCount = 0;
  int32_t BitNotSetCount = 0;
  int32_t NoOverwriteCount = 0;
  int32_t UnfilteredCount = 0;
  QStringList SkippedList;
  bool OpenFilePrompt = true;
  int64_t RunStartTick = 0;
  // The comment of the current archive as last read (when it was opened, at the start of a run)
  // or stored by a comment command.
  QString& CommentText;
  // How often "Repeat" was answered for the file being retried (kept across files and runs).
  uint8_t OpenFileRetries = 0;
  // Selected files and folders this run could not store: missing, vanished, unreadable. Each has
  // its report line and its line in SkippedList, whatever "FullBackupReport" says.
  int LeftOutCount = 0;
  bool WordWrap() const { return wordWrap_; }
  bool FullBackupReport() const;

  // Free space of the archive's drive in thousands of bytes (the run's DiskSpaceKb).
  std::function<uint32_t(const QString&)> DiskSpaceKb = FreeSpaceKb;
  // Whether a skipped name is a folder (a folder that cannot be opened is passed over).
  std::function<bool(const std::string&)> IsFolder = DirectoryExists;

 private:
  bool Ticked(int functionsItem) const;
  // "Unattended backup" ticked or a job running without the user: no questions.
  bool Unattended() const;
  bool DirTicked(int directoryItem) const;
  void SetPanel(const char* name, const QString& text);
  void AddLine(const QString& text);
  // The text to store as comment, checked against the end record's limit: false when the user
  // kept the archive as it is.
  bool FitComment(std::string& comment);
  // Reads the archive, sets its comment and writes it; a failure is shown. True when saved.
  bool StoreComment(const std::string& comment);
  bool Spanned() const;
  QString ZipName() const;
  // A file or folder left out: its report line, its line in the error summary, the count.
  void LeaveOut(const QString& name, const QString& label);
  // Names already reported missing in this run (a missing folder is named once, not once per
  // INCLUDE pattern).
  QSet<QString> missing_;

  TArcZip& zip_;
  TOptionLists& l_;
  TPreferences& prefs_;
  IControlHost& controls_;
  IProgressHost& host_;
  IReportBox& box_;
  IReportSeams& seams_;
  bool wordWrap_ = true;
  QString ownCommentText_;
  // The profile folders of the preset kind last seen while writing.
  int presetFoldersKind_ = 0;
  QStringList presetFolders_;
};
