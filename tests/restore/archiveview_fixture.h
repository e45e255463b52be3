// Fakes of the window around the archive view and a fixture that wires the controller to them
// in an isolated program folder.
#pragma once

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QStringList>

#include "app/optionscontroller.h"
#include "app/preferences.h"
#include "archive/arczip.h"
#include "platform/programdir.h"
#include "qt_controlhost.h"
#include "qt_scriptedhost.h"
#include "qtprint.h"
#include "restore/archiveviewcontroller.h"
#include "testutil.h"
#include "zipbuilder.h"

struct FakeArchiveWindow : restore::IArchiveWindow {
  QStringList calls;
  QString archiveName;
  QString comment;
  std::optional<bool> zip64;
  int gauge = 0;  // starts minus stops
  QString explorerFolder;
  bool ctrl = false;
  QString pickedRecent;
  QString recentAnswer;
  QString recorded;
  QString job;
  FileDialogSpec lastSpec;

  void Setstate(int mode) override { calls << QStringLiteral("Setstate %1").arg(mode); }
  void SetArchiveName(const QString& n) override { archiveName = n; }
  void Clearchecks() override { calls << "Clearchecks"; }
  void GaugeStart() override { ++gauge; }
  void GaugeStop() override { --gauge; }
  void SetZip64Highlighted(bool on) override { zip64 = on; }
  QString note;  // the archive page's note
  void ShowArchiveNote(const QString& n) override { note = n; }
  void SetCommentText(const QString& c) override { comment = c; }
  void ResetSearchBox() override { calls << "ResetSearchBox"; }
  void ShowArchivePage() override { calls << "ShowArchivePage"; }
  void FlashArchiveTab() override { calls << "FlashArchiveTab"; }
  void ShowZipspecs(const QString& n, int c, uint64_t t) override {
    calls << QStringLiteral("ShowZipspecs %1 %2 %3").arg(QFileInfo(n).fileName()).arg(c).arg(t);
  }
  std::function<void()> onProcessMessages;  // runs once, as a user event would
  bool ProcessMessages() override {
    if (auto f = std::exchange(onProcessMessages, nullptr)) f();
    return true;
  }
  QString ExplorerSelectedFolder() const override { return explorerFolder; }
  bool CtrlHeld() const override { return ctrl; }
  QString TakePickedRecentFile() override { return std::exchange(pickedRecent, QString()); }
  QString RecentFileOpen(const FileDialogSpec& s) override {
    lastSpec = s;
    calls << "RecentFileOpen";
    return recentAnswer;
  }
  void RecordRecentFile(const QString& f) override { recorded = f; }
  void OpenJob(const QString& f) override { job = f; }
};

struct FakeDisplay : restore::IArchiveViewDisplay {
  restore::TColumnLayout layout;
  int layouts = 0;
  int fontSize = 0;
  int sortColumn = -1;
  bool descending = false;
  void ApplyColumnLayout(const restore::TColumnLayout& l) override {
    layout = l;
    ++layouts;
  }
  void SetFontSize(int p) override { fontSize = p; }
  void ShowSortIndicator(int c, bool d) override {
    sortColumn = c;
    descending = d;
  }
  void ScrollToCurrent() override {}
};

struct FakeOpenDialog : IFileDialogHost {
  QString answer;
  int shown = 0;
  FileDialogSpec spec;
  QString OpenFile(const FileDialogSpec& s) override {
    ++shown;
    spec = s;
    return answer;
  }
  QString SaveFile(const FileDialogSpec&) override { return {}; }
};

struct FakeSearch : restore::ISearchResultsView {
  bool shown = false;
  QVector<QPair<QString, int>> records;  // archive and entry of each result
  bool SearchResultsShown() const override { return shown; }
  bool ResultEntry(int record, QString& archive, int& entry) const override {
    if (record < 0 || record >= records.size()) return false;
    archive = records[record].first;
    entry = records[record].second;
    return true;
  }
};

struct FakeLauncher : restore::IDesktopLauncher {
  QStringList opened;
  bool OpenFile(const QString& p, const QString&) override {
    opened << p;
    return true;
  }
};

struct ArchiveViewFixture : ::testing::Test {
  testutil::TempDir dir;
  testutil::IsolatedXdg xdg{dir.path()};
  ScriptedHost boxes;
  RecordingControlHost controls;
  FakeArchiveWindow window;
  FakeDisplay display;
  FakeOpenDialog dialog;
  FakeSearch search;
  FakeLauncher launcher;
  TOptionLists lists;
  TPreferences prefs;
  TArcZip zip;
  std::unique_ptr<restore::TArchiveViewController> view;

  ArchiveViewFixture() {
    ResetProgramDirForTest();
    view = std::make_unique<restore::TArchiveViewController>(
        zip, lists, prefs,
        restore::TArchiveViewController::Hosts{window, controls, dialog, search, launcher});
    view->SetDisplay(&display);
  }
  ~ArchiveViewFixture() override {
    view.reset();
    ResetProgramDirForTest();
  }

  // Writes an archive built by b into the scratch folder.
  QString WriteArchive(const std::string& name, const ZipBuilder& b) {
    testutil::WriteFile(dir / name, b.Build());
    return QString::fromStdString(dir / name);
  }
  void SetViewMode(int mode) {
    THandlersDetached d{&lists.viewList};
    lists.viewList.SetChecked(mode, true);
  }
  restore::TArchiveViewModel& model() { return view->model(); }
  // The child of parent whose first column reads text (invalid when none).
  QModelIndex Child(const QModelIndex& parent, const QString& text) {
    for (int r = 0; r < model().rowCount(parent); ++r)
      if (model().index(r, 0, parent).data().toString() == text) return model().index(r, 0, parent);
    return {};
  }
  // Column text of a row under parent.
  QString Text(int row, int column, const QModelIndex& parent = {}) {
    return model().index(row, column, parent).data().toString();
  }
};
