// The backup run with the real engine, option lists, ticks and grid in a scratch folder, and
// recording fakes of the window and of the subsystems around the run.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCryptographicHash>
#include <QFile>
#include <QStringList>
#include <functional>
#include <optional>

#include "app/checkstore.h"
#include "app/inclusiongrid.h"
#include "app/optionscontroller.h"
#include "app/preferences.h"
#include "archive/arczip.h"
#include "backup/backuprun.h"
#include "platform/programdir.h"
#include "qt_controlhost.h"
#include "qt_scriptedhost.h"
#include "testutil.h"

// Readable QStrings in failure messages.
inline void PrintTo(const QString& s, std::ostream* os) {
  *os << '"' << s.toStdString() << '"';
}

struct FakeDisplay : IBackupDisplay {
  QStringList report;
  QString archivePanel;
  bool busyCursor = false;
  bool windowHidden = false;
  bool trayShown = false;
  int statusCleared = 0;
  std::vector<std::string> highlighted;
  QHash<QString, bool> alarm;
  void SetArchivePanel(const QString& t) override { archivePanel = t; }
  void ClearStatusBar() override { ++statusCleared; }
  void SetBusyCursor(bool on) override { busyCursor = on; }
  void SetControlAlarm(const QString& c, bool on) override { alarm[c] = on; }
  bool WindowHidden() const override { return windowHidden; }
  bool TrayIconShown() const override { return trayShown; }
  void ReportClear() override { report.clear(); }
  void ReportAdd(const QString& l) override { report << l; }
  int ReportLineCount() const override { return static_cast<int>(report.size()); }
  std::vector<std::string> HighlightedPaths() const override { return highlighted; }
};

struct FakeProgram : IBackupProgram {
  QString autoRun;
  QString action;
  std::optional<int> exitCode;
  QStringList names;
  QVector<int> states;
  QString AutoRunFile() const override { return autoRun; }
  void SetAutoRunFile(const QString& f) override { autoRun = f; }
  QString ActionArg() const override { return action; }
  void RequestTerminate(int code) override { exitCode = code; }
  void Setstate(int m) override { states << m; }
  void ArchiveNameChanged(const QString& n) override { names << n; }
};

struct FakeDialogs : IBackupDialogs {
  std::optional<QString> password = QString();  // nullopt: the dialog is cancelled
  int passwordShown = 0;
  QString folder;
  std::optional<QString> ShowPasswordDialog() override {
    ++passwordShown;
    return password;
  }
  QString BrowseFolder(const QString&) override { return folder; }
};

struct FakeSeams : IBackupSeams {
  QStringList calls;
  int driveKind = 0;
  TCDtypes disc;
  int64_t discFree = 0;
  bool hibernates = true;
  bool sizingAuto = true;
  bool BurnerSizingAuto() const override { return sizingAuto; }
  int GetDriveTypeEx(const QString&) override { return driveKind; }
  bool BurnerConfigured() const override { return true; }
  TCDtypes GetCDDetails() override { return disc; }
  int64_t CheckCDHasSize(const TCDtypes&) override { return discFree; }
  void WriteReportFile(const QString& r) override { calls << "report " + r; }
  bool shutsDown = true;
  bool interactive = false;  // as the last power call was made
  bool Hibernate(bool i, QString& reason) override {
    calls << "hibernate";
    interactive = i;
    if (!hibernates) reason = "no swap";
    return hibernates;
  }
  bool Shutdown(bool i, QString& reason) override {
    calls << "shutdown";
    interactive = i;
    if (!shutsDown) reason = "refused";
    return shutsDown;
  }
  QString SetRestorePoint(const QString& n, bool& set) override {
    calls << "restore point " + n;
    set = true;
    return "Restore point set";
  }
  // The archive test's outcome (Unavailable: the seam's default); it shows its box like the test.
  TVerifyResult::Outcome verifyOutcome = TVerifyResult::Passed;
  TVerifyResult VerifyArchive(const QString& n, const std::string& password) override {
    if (verifyOutcome == TVerifyResult::Unavailable)
      return IBackupSeams::VerifyArchive(n, password);
    calls << "verify " + n + (password.empty() ? "" : " with password");
    const bool ok = verifyOutcome == TVerifyResult::Passed;
    const QString text = ok ? "verified" : "found bad";
    MbMessage(text, QString(), false, ok ? MB_ICONINFORMATION : MB_ICONEXCLAMATION);
    return {verifyOutcome, text};
  }
  void ReleaseTransport() override { calls << "release"; }
  QString BurnerDriveRoot() const override { return "/media/cdrom"; }
  QString ejectRefusal;  // why the door stays shut; empty: it opens
  bool OpenCD(const QString& root, QString* why) override {
    calls << "open " + root;
    if (why) *why = ejectRefusal;
    return ejectRefusal.isEmpty();
  }
};

inline std::string Sha256(const std::string& path) {
  return QCryptographicHash::hash(QByteArray::fromStdString(testutil::ReadFile(path)),
                                  QCryptographicHash::Sha256)
      .toHex()
      .toStdString();
}

struct RunFixture : ::testing::Test {
  testutil::TempDir dir;
  testutil::IsolatedXdg xdg{dir.path()};
  ScriptedHost boxes;
  FakeClock clock{QDateTime(QDate(2003, 1, 3), QTime(15, 35))};
  RecordingControlHost controls;
  TArcZip zip;
  TOptionLists lists;
  TPreferences prefs;
  TCheckStore ticks;
  TInclusionGrid grid;
  FakeDisplay display;
  FakeProgram program;
  FakeDialogs dialogs;
  FakeSeams seams;
  std::unique_ptr<TBackupRun> run;
  std::string src;
  std::string out;
  std::string archive;

  RunFixture() {
    ResetProgramDirForTest();
    run = std::make_unique<TBackupRun>(zip, lists, prefs, ticks, grid, controls, display, program,
                                       dialogs, seams);
    src = dir / "src";
    out = dir / "out";
    ::mkdir(src.c_str(), 0755);
    ::mkdir((src + "/sub").c_str(), 0755);
    ::mkdir((src + "/empty").c_str(), 0755);
    ::mkdir(out.c_str(), 0755);
    testutil::WriteFile(src + "/a.txt", std::string(5000, 'a'));
    testutil::WriteFile(src + "/b.TMP", "temporary");
    testutil::WriteFile(src + "/sub/c.jpg", std::string(3000, 'c'));
    testutil::WriteFile(src + "/sub/d.txt", "d");
    archive = out + "/docs.zip";
    grid.SetCell(TInclusionGrid::INCLUDE, 1, "*.*");
    ticks.SetChecked(src, true);
    run->SetArchiveName(QString::fromStdString(archive), true);
    // The run's defaults for these tests: copy, recursion with folders, no stamp.
    lists.functionsList.SetChecked(opt::kFnStamp, false);
    lists.basicStampList.SetChecked(0, false);
    lists.stealthList.SetChecked(opt::kStealthStamp, false);
    lists.directoryList.SetChecked(opt::kDirDirectoryFirstDisk, false);
    prefs.Set("FullReport", false);
    prefs.Set("CheckTempSpace", false);
  }
  ~RunFixture() override { ResetProgramDirForTest(); }

  // Runs the backup; the closing box is expected with text (any text when empty).
  void RunExpecting(const QString& closing) {
    if (closing.isEmpty())
      boxes.Answer(IDOK);
    else
      boxes.Answer(IDOK, closing);
    run->WriteZbtnClick();
  }

  // The archive's entries: stored name -> method (and encrypted flag in bit 8).
  std::map<std::string, int> Entries(const std::string& path) {
    TArcUnZip reader;
    reader.SetZipName(path);
    reader.ReadArchive();
    std::map<std::string, int> m;
    for (int i = 0; i < reader.EntryCount(); ++i) {
      const TZipHeaderInfo& h = reader.EntryHeader(i);
      std::string name = reader.EntryFullName(i);
      // Names are stored with the full folder; keep the part below the scratch folder.
      const std::string root = dir.path().substr(1) + "/";
      if (name.rfind(root, 0) == 0) name = name.substr(root.size());
      m[name] = h.ComprMethod | ((h.Flag & 1) ? 0x100 : 0);
    }
    return m;
  }
};
