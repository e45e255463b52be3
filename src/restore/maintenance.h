// Changing or checking the open archive as a whole: removing chosen entries ("&Delete" and the
// archive view's "Delete Selected"), deleting the archive file ("&KillZIP"), testing every entry
// ("ZIPtest", also the backup run's "Verify backup") and converting between a plain archive and
// a self-extractor ("ConvertZIPtoEXE").
//
// Every command takes a session on the engine for its work. Rewriting commands never put the
// only copy at risk: the engine writes the new archive to a temporary file and renames it over
// the target once complete, so a failure leaves the old archive (and an old target) as they were.
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <string>

class IControlHost;
class TArcZip;

namespace restore {

class IArchiveWindow;
class TArchiveViewController;

namespace maintmsg {
inline constexpr const char* kCaption = "Arcavo";
inline constexpr const char* kSpannedDelete = "Unable Delete From ZIP\rReason: spanned ZIP file";
inline constexpr const char* kNothingToDelete = "Error - no files to delete";
inline constexpr const char* kDeleteQuestion = "Delete selected files from: ";
inline constexpr const char* kNoneChecked =
    "No files checked/selected\rTo remove directories Checkbox select";
inline constexpr const char* kDeleteFailed = "Fatal error trying to delete";
inline constexpr const char* kKillQuestion = "Move this archive to the trash: ";
inline constexpr const char* kNoTrash =
    "There is no trash folder for this archive (%1)\rDelete it for good: ";
inline constexpr const char* kKillFailed = "Unable to delete: ";
inline constexpr const char* kZipNotFound = "Zip file not found: ";
inline constexpr const char* kNothingToTest = "Error - nothing to Test";
inline constexpr const char* kTestedOk = " files tested OK";
inline constexpr const char* kTestedBad = "Files tested as bad, or skipped!";
inline constexpr const char* kNothingToConvert = "Error: no files in archive";
inline constexpr const char* kSpannedConvert = "Can't convert a spanned archive";
inline constexpr const char* kConvertFailed = "File I/O error";
inline constexpr const char* kSavedAs = "File saved as ";
inline constexpr const char* kNoTarget = "File error";
// Captions of the test's menu item.
inline constexpr const char* kTestCaption = "ZIPtest";
inline constexpr const char* kAbortCaption = "Abort";
// The self-extractor stub beside the program.
inline constexpr const char* kStub = "ArcSFX32.bin";
}  // namespace maintmsg

// What the commands ask of the window beyond the archive view's host.
class IMaintenanceHost {
 public:
  virtual ~IMaintenanceHost() = default;
  // The password dialog of a test: true with the typed password on "OK", false on "Cancel".
  virtual bool PasswordDialog(QString& password) = 0;
  virtual void ClearStatusBar() {}
  // The start time of the status bar's process clock.
  virtual void StartProcessClock() {}
  // The disc animation of the button bar.
  virtual void DiscAnimation(bool /*on*/) {}
  // The tray icon cycles while a test runs (when it is shown); stopped it shows icon 1.
  virtual void TrayCycling(bool /*on*/) {}
  virtual void SetHourglass(bool /*on*/) {}
};

class TMaintenanceController : public QObject {
  Q_OBJECT
 public:
  // Who starts a test: the "ZIPtest" item, or the backup run verifying its new archive.
  enum class TTestSender { Menu, Run };
  struct TTestResult {
    bool tested = false;  // the test ran (false: nothing to test, or the engine was busy)
    bool passed = false;
    QString text;  // the closing box's text ("" when none was shown)
  };

  TMaintenanceController(TArcZip& zip, TArchiveViewController& view, IArchiveWindow& window,
                         IControlHost& controls, IMaintenanceHost& host, QObject* parent = nullptr);
  ~TMaintenanceController() override;

  // "&Delete" and "Delete Selected": removes the chosen entries from the open archive.
  void DeleteButClick();
  // "&KillZIP": deletes the open archive's file for good (not to a trash folder).
  void DeleteZipButClick();
  // "ZIPtest": tests every entry of the open archive; while a test runs the item reads "Abort"
  // and a second click cancels it.
  TTestResult TestButClick(TTestSender sender = TTestSender::Menu);
  // The backup run's test of the archive it wrote, with the password it was written with.
  TTestResult VerifyArchive(const QString& name, const std::string& password);
  // "ConvertZIPtoEXE": a plain archive becomes a self-extractor beside it, a self-extractor a
  // plain archive in its place.
  void ConvertButClick();

  // The running marks.
  bool DeletingEntries() const { return deleting_; }
  bool Testing() const { return testing_; }

  // Where the stub is looked for; empty: beside the program.
  std::string stubPath;

 private:
  TTestResult RunTest(TTestSender sender, const std::string& password);

  TArcZip& zip_;
  TArchiveViewController& view_;
  IArchiveWindow& window_;
  IControlHost& controls_;
  IMaintenanceHost& host_;
  bool deleting_ = false;
  bool testing_ = false;
};

}  // namespace restore
