// Times the global search over a folder of archives beside the same count done with Info-ZIP's
// zipinfo: 200 archives of 5,000 entries each (1,000,000 entries, one in eight a .doc), searched
// for *.doc through the controller the program uses, with its engine session, result records and
// the list shown in the archive view's model. Reports the wall time of both, their ratio, the
// growth of the resident size, the longest time between two dispatches of events, and the same
// for the pattern "*" (every entry a result).
//
//   bench_global_search [archives] [entries-per-archive]
// With ARCAVO_BENCH_KEEP set, the generated folder is kept (its path is printed).
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "app/controlhost.h"
#include "app/optionscontroller.h"
#include "app/preferences.h"
#include "archive/arczip.h"
#include "archive/ziprecords.h"
#include "platform/programdir.h"
#include "restore/archivesearch.h"
#include "restore/archiveviewcontroller.h"

namespace {

// A stored archive of n entries in 50 folders; every eighth entry is a .doc.
void WriteArchive(const std::string& path, int archive, int n) {
  std::string out, central;
  for (int i = 0; i < n; ++i) {
    char name[96];
    std::snprintf(name, sizeof name, "set%03d/folder%02d/file%05d.%s", archive, i % 50, i,
                  (i % 8) == 3 ? "doc" : (i % 2 ? "txt" : "dat"));
    const std::string nm = name;
    const std::string data(static_cast<size_t>(i % 7), 'x');
    const uint32_t dos = (uint32_t{(24u << 9) | (6u << 5) | 15u} << 16) | (10u << 11);
    const auto offset = static_cast<uint32_t>(out.size());
    PutU32(out, zipsig::kLocalHeader);
    PutU16(out, 10);
    PutU16(out, 0);
    PutU16(out, 0);
    PutU32(out, dos);
    PutU32(out, 0);
    PutU32(out, static_cast<uint32_t>(data.size()));
    PutU32(out, static_cast<uint32_t>(data.size()));
    PutU16(out, static_cast<uint16_t>(nm.size()));
    PutU16(out, 0);
    out += nm + data;
    PutU32(central, zipsig::kCentralHeader);
    PutU16(central, 0x031E);
    PutU16(central, 10);
    PutU16(central, 0);
    PutU16(central, 0);
    PutU32(central, dos);
    PutU32(central, 0);
    PutU32(central, static_cast<uint32_t>(data.size()));
    PutU32(central, static_cast<uint32_t>(data.size()));
    PutU16(central, static_cast<uint16_t>(nm.size()));
    PutU16(central, 0);
    PutU16(central, 0);
    PutU16(central, 0);
    PutU16(central, 0);
    PutU32(central, 0100644u << 16);
    PutU32(central, offset);
    central += nm;
  }
  const auto cdOffset = static_cast<uint32_t>(out.size());
  out += central;
  PutU32(out, zipsig::kEndCentral);
  PutU16(out, 0);
  PutU16(out, 0);
  PutU16(out, static_cast<uint16_t>(n));
  PutU16(out, static_cast<uint16_t>(n));
  PutU32(out, static_cast<uint32_t>(central.size()));
  PutU32(out, cdOffset);
  PutU16(out, 0);
  std::ofstream(path, std::ios::binary) << out;
}

long RssKb() {
  std::ifstream in("/proc/self/status");
  std::string key;
  long value = 0;
  while (in >> key) {
    if (key == "VmRSS:") {
      in >> value;
      return value;
    }
    in.ignore(1 << 20, '\n');
  }
  return 0;
}

struct Controls : IControlHost {
  void SetControlEnabled(const QString&, bool) override {}
  void SetControlVisible(const QString&, bool) override {}
  void SetControlChecked(const QString&, bool) override {}
  void SetControlCaption(const QString&, const QString&) override {}
  bool ControlEnabled(const QString&) const override { return true; }
  bool ControlVisible(const QString&) const override { return true; }
  bool ControlChecked(const QString&) const override { return false; }
  QString ControlCaption(const QString&) const override { return {}; }
};

// The window: measures the time between two dispatches of events.
struct Window : restore::IArchiveWindow {
  restore::TArchiveSearch* search = nullptr;
  QElapsedTimer since;
  qint64 longest = 0;
  int dispatches = 0;
  void Setstate(int mode) override {
    if (mode == 0 && search) search->ClearResults();
  }
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
    longest = std::max(longest, since.restart());
    ++dispatches;
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

// The engine's host as the program's: it dispatches events at most every 20 ms while reading.
struct EngineHost : TZipHost {
  Window* window = nullptr;
  QElapsedTimer since;
  int MessageBox(int, const std::string&, const std::string&, uint32_t) override { return zrNo; }
  bool ChooseArchiveFile(std::string&) override { return false; }
  bool OpenFileDialog(const TZipFileDialog&, std::string&) override { return false; }
  bool ChooseFolder(std::string&) override { return false; }
  bool ProcessMessages() override {
    if (!since.isValid() || since.elapsed() >= 20) {
      window->ProcessMessages();
      since.restart();
    }
    return false;
  }
};

struct Box : restore::ISearchBoxHost {
  QString text;
  QString SearchText() const override { return text; }
  void SetSearchText(const QString& t) override { text = t; }
  void SelectSearchText() override {}
  void SetHistoryItems(const QStringList&) override {}
  QString ChooseFolder(const QString&, const QString&) override { return {}; }
};

struct NoDialogs : IFileDialogHost {
  QString OpenFile(const FileDialogSpec&) override { return {}; }
  QString SaveFile(const FileDialogSpec&) override { return {}; }
};

struct Forward : restore::ISearchResultsView {
  restore::ISearchResultsView* target = nullptr;
  bool SearchResultsShown() const override { return target && target->SearchResultsShown(); }
  bool ResultEntry(int r, QString& a, int& e) const override {
    return target && target->ResultEntry(r, a, e);
  }
};

struct NoDesktop : restore::IDesktopLauncher {
  bool OpenFile(const QString&, const QString&) override { return false; }
};

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int archives = argc > 1 ? std::atoi(argv[1]) : 200;
  const int perArchive = argc > 2 ? std::atoi(argv[2]) : 5000;
  QTemporaryDir tmp;
  tmp.setAutoRemove(!std::getenv("ARCAVO_BENCH_KEEP"));
  ::setenv("XDG_CONFIG_HOME", (tmp.path() + "/config").toLocal8Bit().constData(), 1);
  ResetProgramDirForTest();
  const QString folder = tmp.path() + "/archives/";
  QDir().mkpath(folder);
  for (int a = 0; a < archives; ++a)
    WriteArchive(QStringLiteral("%1set%2.zip").arg(folder).arg(a, 3, 10, QChar('0')).toStdString(),
                 a, perArchive);
  std::printf("%d archives of %d entries in %s\n", archives, perArchive, qPrintable(folder));
  // Read once by both tools before timing, so neither pays for the first read from disk.
  (void)std::system(("cat " + folder.toStdString() + "*.zip > /dev/null").c_str());

  TArcZip zip;
  TOptionLists lists;
  TPreferences prefs;
  Controls controls;
  Window window;
  NoDialogs dialogs;
  Forward forward;
  NoDesktop desktop;
  restore::TArchiveViewController view(
      zip, lists, prefs,
      restore::TArchiveViewController::Hosts{window, controls, dialogs, forward, desktop});
  EngineHost engineHost;
  engineHost.window = &window;
  zip.Host = &engineHost;
  Box box;
  restore::TArchiveSearch search(zip, view, window, controls, prefs, box);
  forward.target = &search;
  window.search = &search;
  prefs.Set(QStringLiteral("GFindDIR"), folder);

  for (const char* pattern : {"*.doc", "*"}) {
    box.text = QString::fromLatin1(pattern);
    search.ClearResults();
    view.ClearArchiveView();
    const long rssBefore = RssKb();
    window.longest = 0;
    window.dispatches = 0;
    window.since.start();
    QElapsedTimer t;
    t.start();
    search.GrepeatClick();
    const double ours = t.elapsed() / 1000.0;
    const long grown = (RssKb() - rssBefore) / 1024;
    const int found = search.Results() ? search.Results()->count() : 0;
    std::printf("%-6s ours: %d found in %.2f s, RSS +%ld MB, %d dispatches, longest gap %lld ms\n",
                pattern, found, ours, grown, window.dispatches,
                static_cast<long long>(window.longest));
    if (std::string(pattern) != "*.doc") continue;
    const std::string peer = "for f in " + folder.toStdString() +
                             "*.zip; do zipinfo -1 \"$f\"; done | grep -ci '\\.doc$'";
    t.restart();
    FILE* p = ::popen(peer.c_str(), "r");
    char line[64] = {0};
    if (p && !std::fgets(line, sizeof line, p)) line[0] = 0;
    if (p) ::pclose(p);
    for (char& c : line)
      if (c == '\n') c = 0;
    const double theirs = t.elapsed() / 1000.0;
    std::printf("*.doc  zipinfo | grep: %s found in %.2f s\n", std::string(line).c_str(), theirs);
    std::printf("*.doc  ratio ours / zipinfo: %.3f\n", ours / theirs);
  }
  return 0;
}
