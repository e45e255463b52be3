// Extracting and restoring: "E&xtract", the archive view's "Extract Selected" / "Extract All"
// items, the abort button, and the engine's handlers for target folders of versioned backups and
// for bad passwords.
//
// The options of the "Extract Method" group become the engine's settings: "Expand Directories"
// recreates stored folders, "Overwrite files" replaces existing files, "Extract ALL files" takes
// every entry instead of the chosen rows, "Versioned DIRs" keeps version folders (otherwise every
// version lands in the folder that holds the version folders), and the mode list picks plain
// extraction, update (missing or older targets) or freshen (older existing targets only).
// "Links as stored" recreates every symbolic link as stored; without it a link whose target
// leads outside the destination is left out and named in the report.
#pragma once

#include <QObject>
#include <QSet>
#include <QString>
#include <QVector>
#include <string>

class TArcUnZip;
class TOptionLists;
class TZipSession;

namespace restore {

class TArchiveViewController;
class ISearchResultsView;

// Item positions of the two lists of the "Extract Method" group.
namespace extractopt {
enum OptionItem { kExpandDirs, kOverwrite, kAll, kVersionedDirs, kLinksAsStored };
enum ModeItem { kExtract, kUpdate, kFreshen };
}  // namespace extractopt

namespace extractmsg {
inline constexpr const char* kFolderTitle =
    "Select destination Drive if directories saved\rOr destination folder if Directory names not "
    "saved";
inline constexpr const char* kFileNotFound = "file not found: ";
inline constexpr const char* kNoFiles =
    "    No files selected to extract\rTo restore all check [Extract ALL files]";
inline constexpr const char* kErrorReading = "Error in reading ";
inline constexpr const char* kFilesExtracted = " Files Extracted";
inline constexpr const char* kCaption = "Arcavo";
// Why a copy of a file in a version folder is not restored when the folders are folded.
inline constexpr const char* kOlderCopy = "OlderCopy";
// The head of the closing box when encrypted entries were not extracted (%1 how many, %2 " was"
// or "s were"): the password typed was wrong, or the password dialog was cancelled.
inline constexpr const char* kWrongPassword = "Wrong password: %1 encrypted file%2 not extracted";
inline constexpr const char* kNoPassword = "No password given: %1 encrypted file%2 not extracted";
// The closing box's line when links were left out for pointing outside the destination (%1 how
// many, %2 "" or "s").
inline constexpr const char* kLinksLeftOut =
    "%1 link%2 pointing outside the destination left out (see the report)";
}  // namespace extractmsg

// What extraction asks of the window.
class IRestoreHost {
 public:
  virtual ~IRestoreHost() = default;
  // The folder dialog: the chosen folder, "" when cancelled.
  virtual QString ChooseFolder(const QString& title, const QString& initialDir) = 0;
  // The password dialog: true with the typed password on "OK", false on "Cancel".
  virtual bool PasswordDialog(QString& password) = 0;
  // The archive view's cursor: hourglass or normal.
  virtual void SetHourglass(bool on) = 0;
  // The status bar's busy gauge; clearing the status bar also stops it (and the disc animation).
  virtual void GaugeStart() = 0;
  // The button bar's disc animation.
  virtual void DiscAnimation(bool /*on*/) {}
  virtual void ClearStatusBar() = 0;
  // The gauge restarted and cleared.
  virtual void GaugeClear() = 0;
  // The report box emptied before an extraction; the elapsed time counts from now.
  virtual void ClearReportBox() = 0;
  virtual void StartProcessClock() = 0;
  // Dispatches pending events.
  virtual void ProcessMessages() = 0;
  // A line for the report box: a skipped entry, when the engine has no skip handler of the
  // program's report attached.
  virtual void ReportLine(const QString& /*line*/) {}
};

// Options set before "E&xtract" runs, by the archive view's popup items.
enum class TExtractPreset {
  None,
  SelectedOverwrite,    // "Extract Selected" > "OverWrite"
  SelectedNoOverwrite,  // "Extract Selected" > "NoOverwrite"
  AllOverwrite,         // "Extract All" > "Overwrite"
  AllNoOverwrite,       // "Extract All" > "NoOverwrite"
};

class TExtractController : public QObject {
  Q_OBJECT
 public:
  TExtractController(TArcUnZip& zip, TOptionLists& lists, TArchiveViewController& view,
                     ISearchResultsView& search, IRestoreHost& host, QObject* parent = nullptr);
  ~TExtractController() override;

  // "E&xtract": asks for the destination, applies the preset, extracts from the open archive or
  // from the search results. Afterwards "Overwrite files" and "Extract ALL files" are unchecked
  // and the password is forgotten, whatever happened.
  void ExtractButClick(TExtractPreset preset = TExtractPreset::None);
  // The abort button: stops a running extraction (of search results: the remaining rows too).
  void BitBtn2Click();

  // The workers (ExtractButClick chooses, inside its session on the engine): the open archive,
  // or the rows of search results.
  void ExtractFiles();
  void ExtractFilesGroup();
  // Search results: how many rows are chosen (ticked or highlighted), whether the row of a
  // record is chosen, and the records of the chosen rows (every row with all) in row order.
  int Checkselected() const;
  bool Checkselected(int record) const;
  QVector<int> ChosenRecords(bool all) const;

  // The engine's handlers.
  void ArcZip1StartUnZip(int FileIndex, std::string& FName, bool& Skip);
  void ArcZip1BadPassword(TArcUnZip* Sender, int FileIndex, std::string& NewPassword);
  // The password prompt of the extraction is on (again after a cancelled prompt).
  void AttachPasswordHandler();
  bool PasswordHandlerAttached() const { return passwordAttached_; }

  // The destination chosen last.
  const QString& Destination() const { return destination_; }
  void SetDestination(const QString& folder) { destination_ = folder; }

 private:
  // The extraction's handlers and settings on its session.
  void Listen(TZipSession& session);
  bool Option(int item) const;
  // The options onto the engine; DestDir := destination.
  void MapOptions();
  void UncheckAfterRun();
  // With version folders folded, the entries that would land on the same file: the current copy
  // is taken, else the newest version; the others (entry numbers) are passed over.
  void ChooseVersions();
  // The head of the closing box when entries were skipped for their password.
  QString PasswordFailure() const;
  // The closing box's line on links left out, with its line break in front; "" when none.
  QString LinksLeftOut() const;

  TArcUnZip& zip_;
  TOptionLists& lists_;
  TArchiveViewController& view_;
  ISearchResultsView& search_;
  IRestoreHost& host_;
  QString destination_;
  bool freshen_ = false;
  bool passwordAttached_ = false;
  int filesDone_ = 0;
  // Entries of this extraction skipped for their password.
  int badPassword_ = 0;
  // Links of this extraction left out for pointing outside the destination.
  int linksOutside_ = 0;
  bool groupRunning_ = false;
  bool abortRequested_ = false;
  QSet<int> olderCopies_;
};

}  // namespace restore
