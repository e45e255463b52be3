// One staged backup to a disc target, as the program runs it without its window: the backup run,
// its report and the burn commands over an emulated CD-R writer (sr0 in DRIVES_FOLDER). Each part
// is staged in the program folder and burnt; at every "insert disk" prompt the burnt disc is taken
// out (its image kept as discN.img beside the drive) and a blank disc of 400 MB goes in. Prints
// the figures bench/disc_staging.py compares with zip -s and genisoimage.
//
//   bench_disc_staging DRIVES_FOLDER SOURCE_FOLDER PART_MB LEVEL(9|5|0)
//
// The program folder is $XDG_CONFIG_HOME/arcavo/: the caller points it at a scratch folder.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QHash>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/controlhost.h"
#include "app/explorer.h"
#include "app/filedialoghost.h"
#include "app/inclusiongrid.h"
#include "app/maincontext.h"
#include "app/mainwiring.h"
#include "app/mb.h"
#include "app/optionnames.h"
#include "app/optionscontroller.h"
#include "app/preferences.h"
#include "app/startupseams.h"
#include "backup/backupcore.h"
#include "backup/backuprun.h"
#include "backup/burncommands.h"
#include "backup/naming.h"
#include "backup/reporthosts.h"
#include "disc/discburner.h"
#include "disc/scsidevice.h"
#include "discemu/emulateddrive.h"
#include "nullhosts.h"

using namespace nullhosts;

namespace {

using TClock = std::chrono::steady_clock;

// 400 MB in sectors.
constexpr uint32_t kDiscSectors = 400000000 / 2048;

// The screen's side, answered the way a user at the machine would.
struct Controls : IControlHost {
  QHash<QString, bool> enabled, visible, checked;
  QHash<QString, QString> captions;
  void SetControlEnabled(const QString& n, bool on) override { enabled[n] = on; }
  void SetControlVisible(const QString& n, bool on) override { visible[n] = on; }
  void SetControlChecked(const QString& n, bool on) override { checked[n] = on; }
  void SetControlCaption(const QString& n, const QString& c) override { captions[n] = c; }
  bool ControlEnabled(const QString& n) const override { return enabled.value(n, true); }
  bool ControlVisible(const QString& n) const override { return visible.value(n, true); }
  bool ControlChecked(const QString& n) const override { return checked.value(n); }
  QString ControlCaption(const QString& n) const override { return captions.value(n); }
};
struct NoDialogs : IBackupDialogs {
  std::optional<QString> ShowPasswordDialog() override { return std::nullopt; }
  QString BrowseFolder(const QString&) override { return {}; }
};

// Every box is answered with its first button (OK at the prompts, the room question and the
// closing message); onBox runs first.
struct Boxes : IMbHost {
  QStringList texts;
  std::function<void(const QString&)> onBox;
  Boxes() { SetMbHost(this); }
  ~Boxes() override { SetMbHost(nullptr); }
  int ShowBox(const MbBox& box) override {
    texts << box.text;
    if (onBox) onBox(box.text);
    return box.buttons.isEmpty() ? IDOK : box.buttons.first().result;
  }
  void OpenNotice(const MbNoticeSpec&) override {}
  void StepNotice(int) override {}
  void CloseNotice() override {}
};

TEmuState BlankDisc() {
  TEmuState s = TEmuState::ForProfile("CD-R");
  s.Capacity = kDiscSectors;
  return s;
}

// The id the device layer lists for the emulated drive in folder.
std::string EmulatedId(const std::string& folder) {
  TSCSIDevice probe;
  probe.SetTransport(std::make_unique<TEmulatedTransport>(folder));
  probe.InitTransport();
  return probe.DeviceList.empty() ? std::string() : probe.DeviceList.front();
}

// Copies the drive's image to `to` inside the kernel.
bool CopyImage(const std::string& from, const std::string& to) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  bool ok = in >= 0 && out >= 0;
  struct stat st {};
  if (ok) ok = ::fstat(in, &st) == 0;
  for (off_t left = ok ? st.st_size : 0; ok && left > 0;) {
    const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, static_cast<size_t>(left), 0);
    ok = n > 0;
    left -= n;
  }
  if (in >= 0) ::close(in);
  if (out >= 0) ::close(out);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: bench_disc_staging DRIVES_FOLDER SOURCE_FOLDER PART_MB LEVEL\n");
    return 2;
  }
  QCoreApplication app(argc, argv);
  const std::string drives = argv[1];
  const QString source = QString::fromLocal8Bit(argv[2]);
  const int level = std::atoi(argv[4]);
  if (!TEmulatedDrive::Create(drives + "/sr0", "CD-R", 0) ||
      !BlankDisc().Save(drives + "/sr0.state")) {
    std::fprintf(stderr, "bench_disc_staging: cannot make a drive in %s\n", drives.c_str());
    return 1;
  }
  InstallEmulatedDrives();
  ::setenv("ARCAVO_EMULATED_DRIVES", drives.c_str(), 1);

  Boxes boxes;
  Controls controls;
  NoFiles files;
  NoNaming naming;
  NoModes modes;
  NoScheduler scheduler;
  NoProgress progress;
  LinesBox box;
  NoDialogs dialogs;
  IBackupDisplay display;
  IBackupSeams seams;
  IStartupSeams startup;
  IMainWindow window;
  MainContext ctx;
  WireSubsystems(ctx, controls, startup, window, modes, scheduler, files);
  TBackupCore core(ctx, controls, display, dialogs, naming, seams);
  core.AttachReport(progress, box);
  TBurnerSettings burner;
  burner.burner = QString::fromStdString(EmulatedId(drives));
  burner.drive = QStringLiteral("/dev/sr0/");
  if (burner.burner.isEmpty() || !SaveBurnerSettings(*ctx.Prefs, burner)) {
    std::fprintf(stderr, "bench_disc_staging: no emulated writer\n");
    return 1;
  }
  ctx.Prefs->Set(QStringLiteral("CheckTempSpace"), false);
  ctx.Prefs->Set(QStringLiteral("FullReport"), false);
  TOptionLists& l = *ctx.Lists;
  ctx.Grid->SetCell(TInclusionGrid::INCLUDE, 1, QStringLiteral("*.*"));
  ctx.Explorer->Store().SetChecked(source.toStdString(), true);
  l.functionsList.SetChecked(opt::kFnStamp, false);
  l.basicStampList.SetChecked(0, false);
  l.directoryList.SetChecked(opt::kDirRecursion, true);
  l.compressionList.SetChecked(level >= 9   ? opt::kCompMax
                               : level == 0 ? opt::kCompNone
                                            : opt::kCompLow,
                               true);
  l.maxSizeEdit.SetText(QString::fromLocal8Bit(argv[3]));
  core.run().SetArchiveName(QStringLiteral("/dev/sr0/docs.zip"), true);

  // At the prompt for disc n the disc before it is taken out and a blank one goes in; the time
  // that takes is the emulation's (a user changes the disc), not the program's.
  double swapSeconds = 0;
  int discs = 1;
  bool swapFailed = false;
  boxes.onBox = [&](const QString& text) {
    const QString prompt = QStringLiteral("     Please insert disk #");
    if (!text.startsWith(prompt) ||
        text.mid(prompt.size()).section(QLatin1Char('\r'), 0, 0) == QLatin1String("1"))
      return;
    const auto start = TClock::now();
    const std::string image = drives + "/sr0.img";
    swapFailed |= !CopyImage(image, drives + "/disc" + std::to_string(discs) + ".img");
    swapFailed |= ::truncate(image.c_str(), 0) != 0;
    auto* transport = dynamic_cast<TEmulatedTransport*>(ctx.Burner->Transport());
    if (transport && transport->DriveByNode("sr0"))
      transport->DriveByNode("sr0")->SetState(BlankDisc());
    else
      swapFailed = true;
    ++discs;
    swapSeconds += std::chrono::duration<double>(TClock::now() - start).count();
  };

  const auto start = TClock::now();
  core.run().WriteZbtnClick();
  const double seconds = std::chrono::duration<double>(TClock::now() - start).count();
  // The last disc stays in the drive: its image is kept under the same kind of name.
  const bool kept = ::rename((drives + "/sr0.img").c_str(),
                             (drives + "/disc" + std::to_string(discs) + ".img").c_str()) == 0;

  const int status = core.run().LastExitStatus();
  const QString closing = boxes.texts.isEmpty() ? QString() : boxes.texts.last();
  if (status != kExitOk || swapFailed || !kept ||
      !closing.startsWith(QStringLiteral("    Backup successful"))) {
    std::fprintf(stderr, "bench_disc_staging: the run failed (exit status %d)\n", status);
    for (const QString& t : boxes.texts) std::fprintf(stderr, "  box: %s\n", qPrintable(t));
    return 1;
  }
  std::printf("seconds=%.3f swap_seconds=%.3f discs=%d boxes=%lld\n", seconds, swapSeconds, discs,
              static_cast<long long>(boxes.texts.size()));
  return 0;
}
