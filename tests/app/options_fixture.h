// Fakes of the program around the option lists and a fixture that wires them together in an
// isolated program folder.
#pragma once

#include <gtest/gtest.h>

#include <QStringList>

#include "app/optionhosts.h"
#include "app/optionscontroller.h"
#include "app/preferences.h"
#include "app/settingsfiles.h"
#include "platform/programdir.h"
#include "qt_controlhost.h"
#include "qt_scriptedhost.h"
#include "testutil.h"

struct FakeEnv : IOptionEnvironment {
  bool archiveLoaded = false;
  bool runInProgress = false;
  bool searchResults = false;
  std::optional<double> measuredMb;
  QString sizeCalcText;
  bool windowShown = true;
  bool directRemovable = false;
  std::optional<bool> hiddenShown;
  QString archiveName;
  QStringList namesSet;
  bool exeMode = false;
  bool addToArchive = false;
  QString autoRunFile;
  int terminated = 0;
  int runOnStartup = 0;

  bool ArchiveLoaded() const override { return archiveLoaded; }
  bool RunInProgress() const override { return runInProgress; }
  bool HasArchiveSearchResults() const override { return searchResults; }
  std::optional<double> MeasuredSizeMb() const override { return measuredMb; }
  void SetSizeCalcText(const QString& t) override { sizeCalcText = t; }
  bool WindowShown() const override { return windowShown; }
  bool ArchiveOnDirectRemovable() const override { return directRemovable; }
  void ShowHiddenItems(bool show) override { hiddenShown = show; }
  QString ArchiveName() const override { return archiveName; }
  void SetArchiveName(const QString& name) override {
    archiveName = name;
    namesSet << name;
  }
  bool ExeMode() const override { return exeMode; }
  void SetAddToArchive(bool on) override { addToArchive = on; }
  QString AutoRunFile() const override { return autoRunFile; }
  void TerminateApplication() override { ++terminated; }
  int RunOnStartup() const override { return runOnStartup; }
};

struct FakeModeHost : IWindowModeHost {
  QStringList calls;
  std::optional<bool> checkBoxes;
  std::optional<bool> zip64;
  QHash<QString, bool> groupHighlight;
  void ShowExplorerCheckBoxes(bool show) override { checkBoxes = show; }
  void ClearArchiveSearchResults() override { calls << "ClearArchiveSearchResults"; }
  void ResetGlobalSearchFlag() override { calls << "ResetGlobalSearchFlag"; }
  void ClearArchiveView() override { calls << "ClearArchiveView"; }
  void ClearStatusBar() override { calls << "ClearStatusBar"; }
  void ResetTrayStealthFlag() override { calls << "ResetTrayStealthFlag"; }
  void SetTrayIconStatic() override { calls << "SetTrayIconStatic"; }
  void SetZip64Highlighted(bool on) override { zip64 = on; }
  void SetGroupCaptionHighlighted(const QString& g, bool on) override { groupHighlight[g] = on; }
};

struct FakeScheduler : ISchedulerControls {
  int days = 0;
  QString time;
  QString file = QStringLiteral("JOB Filename");
  int timerStarts = 0;
  void SetScheduleDays(int d) override { days = d; }
  void SetScheduleTime(const QString& t) override { time = t; }
  void SetScheduleFile(const QString& f) override { file = f; }
  QString ScheduleFile() const override { return file; }
  void StartSchedulerTimer() override { ++timerStarts; }
};

// The standard grid: a header row and 19 data rows of three columns.
struct GridTable : IGridCells {
  QString cells[3][20];
  int RowCount() const override { return 20; }
  QString Cell(int c, int r) const override { return cells[c][r]; }
  void SetCell(int c, int r, const QString& t) override { cells[c][r] = t; }
};

// Everything of the options subsystem in a program folder of its own. The scripted host fails
// the test on any message box that was not announced with Answer().
struct OptionsFixture : ::testing::Test {
  testutil::TempDir dir;
  testutil::IsolatedXdg xdg{dir.path()};
  ScriptedHost boxes;
  FakeClock clock{QDateTime(QDate(2003, 1, 3), QTime(15, 35))};
  RecordingControlHost host;
  FakeEnv env;
  FakeModeHost modeHost;
  FakeScheduler scheduler;
  GridTable grid;
  TOptionLists lists;
  TPreferences prefs;
  TOptionsController options{lists, prefs, host, env, modeHost};
  TSettingsFiles settings{lists, prefs, options, host, env, scheduler, grid};

  OptionsFixture() { ResetProgramDirForTest(); }
  ~OptionsFixture() override { ResetProgramDirForTest(); }

  std::string DefaultIni() const { return ProgramDir() + "default.ini"; }
};
