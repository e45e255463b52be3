// Times the archive view on a generated archive of 100,000 entries in 1,000 folders: opening
// with the list presentation, the tree presentation, every sort, and scrolling to the end with
// painting, all offscreen and through the same controller and widget the program uses.
//
//   bench_archive_view [entries] [folders]
// With ARCAVO_BENCH_KEEP set, the generated archive is kept (its path is printed).
#include <unistd.h>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QScrollBar>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>

#include "app/controlhost.h"
#include "app/optionscontroller.h"
#include "app/preferences.h"
#include "archive/arczip.h"
#include "archive/ziprecords.h"
#include "platform/programdir.h"
#include "restore/archiveviewcontroller.h"
#include "ui/archiveview.h"
#include "ui/filedialogs.h"

namespace {

// A stored archive with Zip64 end records (the entry count passes 65,535).
void WriteArchive(const std::string& path, int entries, int folders) {
  std::string out, central;
  std::mt19937 rng(12345);
  const int perFolder = entries / folders;
  for (int i = 0; i < entries; ++i) {
    const int f = i / perFolder;
    char name[96];
    std::snprintf(name, sizeof name, "%s%04d/%s%05d.%s", (f % 2) ? "Folder" : "folder", f,
                  (i % 3) ? "File" : "file", i, (i % 5) ? "txt" : "DAT");
    const std::string n = name;
    const std::string data(rng() % 64, 'x');
    const uint32_t crc = 0;  // never extracted here
    const uint32_t dos = (static_cast<uint32_t>(((20 + rng() % 25) << 9) | ((1 + rng() % 12) << 5) |
                                                (1 + rng() % 28))
                          << 16) |
                         static_cast<uint32_t>(((rng() % 24) << 11) | ((rng() % 60) << 5));
    const auto offset = static_cast<uint32_t>(out.size());
    PutU32(out, zipsig::kLocalHeader);
    PutU16(out, 20);
    PutU16(out, 0);
    PutU16(out, 0);
    PutU32(out, dos);
    PutU32(out, crc);
    PutU32(out, static_cast<uint32_t>(data.size()));
    PutU32(out, static_cast<uint32_t>(data.size()));
    PutU16(out, static_cast<uint16_t>(n.size()));
    PutU16(out, 0);
    out += n + data;
    PutU32(central, zipsig::kCentralHeader);
    PutU16(central, 0x031E);
    PutU16(central, 20);
    PutU16(central, 0);
    PutU16(central, 0);
    PutU32(central, dos);
    PutU32(central, crc);
    PutU32(central, static_cast<uint32_t>(data.size()));
    PutU32(central, static_cast<uint32_t>(data.size()));
    PutU16(central, static_cast<uint16_t>(n.size()));
    PutU16(central, 0);
    PutU16(central, 0);
    PutU16(central, 0);
    PutU16(central, 0);
    PutU32(central, 0100644u << 16);
    PutU32(central, offset);
    central += n;
  }
  const uint64_t cdOffset = out.size();
  out += central;
  const uint64_t z64Pos = out.size();
  PutU32(out, zipsig::kZip64EndCentral);
  PutU64(out, 44);
  PutU16(out, 45);
  PutU16(out, 45);
  PutU32(out, 0);
  PutU32(out, 0);
  PutU64(out, static_cast<uint64_t>(entries));
  PutU64(out, static_cast<uint64_t>(entries));
  PutU64(out, central.size());
  PutU64(out, cdOffset);
  PutU32(out, zipsig::kZip64Locator);
  PutU32(out, 0);
  PutU64(out, z64Pos);
  PutU32(out, 1);
  PutU32(out, zipsig::kEndCentral);
  PutU16(out, 0);
  PutU16(out, 0);
  PutU16(out, 0xFFFF);
  PutU16(out, 0xFFFF);
  PutU32(out, static_cast<uint32_t>(central.size()));
  PutU32(out, static_cast<uint32_t>(cdOffset));
  PutU16(out, 0);
  std::ofstream(path, std::ios::binary).write(out.data(), static_cast<std::streamsize>(out.size()));
}

struct NullWindow : restore::IArchiveWindow {
  void Setstate(int) override {}
  void SetArchiveName(const QString&) override {}
  void Clearchecks() override {}
  void GaugeStart() override {}
  void GaugeStop() override {}
  void SetZip64Highlighted(bool) override {}
  void SetCommentText(const QString&) override {}
  void ResetSearchBox() override {}
  void ShowArchivePage() override {}
  void FlashArchiveTab() override {}
  void ShowZipspecs(const QString&, int, uint64_t) override {}
  bool ProcessMessages() override {
    QCoreApplication::processEvents();
    return true;
  }
  QString ExplorerSelectedFolder() const override { return {}; }
  bool CtrlHeld() const override { return false; }
  QString TakePickedRecentFile() override { return {}; }
  QString RecentFileOpen(const FileDialogSpec&) override { return {}; }
  void RecordRecentFile(const QString&) override {}
  void OpenJob(const QString&) override {}
};
struct NullControls : IControlHost {
  void SetControlEnabled(const QString&, bool) override {}
  void SetControlVisible(const QString&, bool) override {}
  void SetControlChecked(const QString&, bool) override {}
  void SetControlCaption(const QString&, const QString&) override {}
  bool ControlEnabled(const QString&) const override { return true; }
  bool ControlVisible(const QString&) const override { return true; }
  bool ControlChecked(const QString&) const override { return false; }
  QString ControlCaption(const QString&) const override { return {}; }
};
struct NoSearch : restore::ISearchResultsView {
  bool SearchResultsShown() const override { return false; }
  bool ResultEntry(int, QString&, int&) const override { return false; }
};
struct NoDesktop : restore::IDesktopLauncher {
  bool OpenFile(const QString&, const QString&) override { return false; }
};

// Lets the view lay itself out and paint what is visible.
void Paint(TArchiveView& view) {
  QCoreApplication::processEvents();
  view.viewport()->repaint();
}

void Report(const char* what, qint64 ms, qint64 limit) {
  std::printf("%-40s %7lld ms  (limit %lld ms)%s\n", what, static_cast<long long>(ms),
              static_cast<long long>(limit), ms > limit ? "  OVER" : "");
}

}  // namespace

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  // Settings go to a scratch folder, never the user's.
  const QString scratch = QDir::tempPath() + "/arcavo-bench-" + QString::number(::getpid());
  QDir().mkpath(scratch);
  ::setenv("XDG_CONFIG_HOME", (scratch + "/config").toLocal8Bit().constData(), 1);
  QDir().mkpath(scratch + "/runtime");
  QFile::setPermissions(scratch + "/runtime",
                        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  ::setenv("XDG_RUNTIME_DIR", (scratch + "/runtime").toLocal8Bit().constData(), 1);
  QApplication app(argc, argv);
  const int entries = argc > 1 ? std::atoi(argv[1]) : 100000;
  const int folders = argc > 2 ? std::atoi(argv[2]) : 1000;
  const std::string zipPath = (scratch + "/bench.zip").toStdString();

  QElapsedTimer t;
  t.start();
  WriteArchive(zipPath, entries, folders);
  std::printf("generated %d entries in %d folders in %lld ms\n", entries, folders,
              static_cast<long long>(t.elapsed()));

  // The engine alone: the central directory read into the entry list (best of three).
  {
    qint64 best = -1;
    for (int i = 0; i < 3; ++i) {
      TArcZip bare;
      bare.SetZipName(zipPath);
      t.restart();
      bare.ReadArchive();
      const qint64 ms = t.elapsed();
      if (best < 0 || ms < best) best = ms;
    }
    std::printf("%-40s %7lld ms\n", "engine: read central directory", static_cast<long long>(best));
  }

  NullWindow window;
  NullControls controls;
  NoSearch search;
  NoDesktop desktop;
  TQtFileDialogHost dialog{nullptr};
  TOptionLists lists;
  TPreferences prefs;
  prefs.Set("DisplayEmptyDIR", false);
  TArcZip zip;
  restore::TArchiveViewController controller(
      zip, lists, prefs,
      restore::TArchiveViewController::Hosts{window, controls, dialog, search, desktop});
  TArchiveView view(controller);
  view.resize(1200, 800);
  view.show();
  QCoreApplication::processEvents();

  // Open with "Listview".
  t.restart();
  controller.ReadZipFile(QString::fromStdString(zipPath));
  Paint(view);
  Report("open + list presentation", t.elapsed(), 1000);
  std::printf("  rows: %d\n", controller.model().rowCount());

  // Sorts of the list: the six "Archive SortBy" orders, then the other columns by header click.
  const char* const kTags[] = {"Filename", "FileName Descending", "Size", "Size Descending",
                               "DateTime", "DateTime Descending"};
  for (int tag = 0; tag < 6; ++tag) {
    t.restart();
    controller.SortBy1Click(tag);
    Paint(view);
    Report((std::string("list sort ") + kTags[tag]).c_str(), t.elapsed(), 1000);
  }
  for (int c : {restore::kColPathname, restore::kColType, restore::kColDisk, restore::kColNumber}) {
    t.restart();
    controller.VTree1HeaderClick(c);
    Paint(view);
    Report((std::string("list sort column ") + std::to_string(c)).c_str(), t.elapsed(), 1000);
  }
  t.restart();
  view.scrollToBottom();
  Paint(view);
  Report("list scroll to end + paint", t.elapsed(), 500);
  // Sorting while every row is highlighted (the selection follows its rows).
  view.selectAll();
  t.restart();
  controller.VTree1HeaderClick(restore::kColSize);
  Paint(view);
  Report("list sort, all rows highlighted", t.elapsed(), 1000);
  view.clearSelection();

  // "ListviewDIR": columns only.
  t.restart();
  controller.CheckListBox11StateChange(opt::kViewListDir);
  Paint(view);
  Report("switch to ListviewDIR", t.elapsed(), 1000);

  // "Treeview".
  {
    THandlersDetached detached{&lists.viewList};
    lists.viewList.SetChecked(opt::kViewTree, true);
  }
  t.restart();
  controller.CheckListBox11StateChange(opt::kViewTree);
  Paint(view);
  Report("tree presentation", t.elapsed(), 3000);
  view.expandAll();
  Paint(view);
  for (int tag = 0; tag < 6; ++tag) {
    t.restart();
    controller.SortBy1Click(tag);
    Paint(view);
    Report((std::string("tree sort ") + kTags[tag]).c_str(), t.elapsed(), 1000);
  }
  t.restart();
  view.scrollToBottom();
  Paint(view);
  Report("tree (expanded) scroll to end + paint", t.elapsed(), 500);
  t.restart();
  controller.GotoLast1Click();
  Paint(view);
  Report("tree Goto Last + paint", t.elapsed(), 500);

  if (!std::getenv("ARCAVO_BENCH_KEEP"))
    QDir(scratch).removeRecursively();
  else
    std::printf("kept %s\n", zipPath.c_str());
  return 0;
}
