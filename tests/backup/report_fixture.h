// Shared set-up of the progress and report tests: an engine, the option lists, preferences in
// isolated folders, recording hosts and the scripted message boxes.
#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <optional>

#include "app/optionscontroller.h"
#include "app/preferences.h"
#include "archive/arczip.h"
#include "backup/reportbox.h"
#include "backup/reporthosts.h"
#include "backup/runreport.h"
#include "platform/programdir.h"
#include "qt_controlhost.h"
#include "qt_scriptedhost.h"
#include "testutil.h"

struct RecordingProgressHost : IProgressHost {
  bool moving = false;
  int position = -1;
  bool disc = false;
  bool trayShown = false;
  bool trayAnimating = false;
  int trayIcon = -1;
  QString trayHint;
  bool hidden = false;
  int reportPageShown = 0;
  QHash<QString, bool> alarm;
  QDateTime picker;
  QStringList tabs;
  void SetTabHighlight(bool inner, int index, bool on) override {
    tabs << QStringLiteral("%1/%2/%3").arg(inner).arg(index).arg(on);
  }
  void SetGaugeMoving(bool m) override { moving = m; }
  void SetGaugePosition(int p) override { position = p; }
  void DiscAnimation(bool on) override { disc = on; }
  bool TrayIconShown() const override { return trayShown; }
  void TrayAnimation(bool on) override { trayAnimating = on; }
  void TrayIcon(int i) override { trayIcon = i; }
  void SetTrayHint(const QString& h) override { trayHint = h; }
  bool WindowHidden() const override { return hidden; }
  void ShowReportPage() override { ++reportPageShown; }
  void SetControlAlarm(const QString& c, bool on) override { alarm[c] = on; }
  QDateTime DatePickerValue() const override { return picker; }
};

struct FakeReportSeams : IReportSeams {
  bool sizeCalc = false;
  bool running = true;
  bool staging = false;
  int preset = 0;
  bool deleting = false;
  bool searching = false;
  bool autoRun = false;
  QString discType;
  bool burnOk = true;
  QStringList burnt;
  QList<int> spanNos;
  std::optional<QString> password;
  int passwordAsked = 0;
  QString lastPart;
  QStringList openDialogs;
  int countedFiles = -1;
  int64_t countedMb = -1;
  bool SizeCalcMode() const override { return sizeCalc; }
  bool RunInProgress() const override { return running; }
  bool CdStaging() const override { return staging; }
  int PresetKind() const override { return preset; }
  bool DeletingEntries() const override { return deleting; }
  bool GlobalSearchRunning() const override { return searching; }
  void SizeCounted(int n, int64_t, int64_t mb) override {
    countedFiles = n;
    countedMb = mb;
  }
  QString DiscTypeName() const override { return discType; }
  bool BurnPart(const QString& p) override {
    burnt << p;
    return burnOk;
  }
  void WriteSpanNo(int d) override { spanNos << d; }
  std::optional<QString> PasswordDialog() override {
    ++passwordAsked;
    return password;
  }
  QString OpenLastPart(const QString& folder, const QString& title,
                       const QString& filter) override {
    openDialogs << folder + "|" + title + "|" + filter;
    return lastPart;
  }
  bool AutoRun() const override { return autoRun; }
  QString TrayTitle() const override { return QStringLiteral("Arcavo V100"); }
};

struct ReportFixture {
  testutil::TempDir dir;
  testutil::IsolatedXdg xdg{dir / "xdg"};
  ScriptedHost mb;
  FakeClock clock{QDateTime(QDate(2006, 5, 4), QTime(21, 0))};
  TArcZip zip;
  TOptionLists lists;
  TPreferences prefs;
  RecordingControlHost controls;
  RecordingProgressHost host;
  TReportLines box;
  FakeReportSeams seams;
  TRunReport report{zip, lists, prefs, controls, host, box, seams};

  ReportFixture() {
    ResetProgramDirForTest();
    prefs.Set(QStringLiteral("FullReport"), false);
    // Plenty of room unless a test says otherwise.
    report.DiskSpaceKb = [](const QString&) { return 0u; };
  }
  ~ReportFixture() { ResetProgramDirForTest(); }

  QString Caption(const char* name) const {
    return controls.ControlCaption(QString::fromUtf8(name));
  }
  // The run's own part of the report's start, as the backup run writes it.
  void StartRun(const QString& zipName) {
    report.BeginRun();
    box.Clear();
    box.Add(QStringLiteral("Beginning Add to ") + zipName);
    report.StartClock();
  }
};
