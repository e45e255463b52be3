#include "backup/burncommands.h"

#include <sys/stat.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <chrono>
#include <cmath>
#include <fstream>
#include <sstream>
#include <thread>

#include "app/burnerevents.h"
#include "app/mb.h"
#include "app/pathbytes.h"
#include "app/preferences.h"
#include "backup/removable.h"
#include "backup/udisks.h"
#include "disc/discburner.h"
#include "platform/mounts.h"
#include "platform/volumeservice.h"

namespace {

QString S(const char* text) {
  return QString::fromUtf8(text);
}

// A question that erases or replaces what is on a disc defaults to its second button (Cancel,
// No) for a user at the screen; an unattended run keeps answering with the first, as its jobs
// were set up to.
int DestructiveDefault() {
  return MbUnattended() ? 0 : MB_DEFBUTTON2;
}

const QString kArcavo = QStringLiteral("Arcavo");

void Pump() {
  if (QCoreApplication::instance()) QCoreApplication::processEvents();
}

// "/dev/srN/" at the start of path, or "".
QString PseudoRoot(const QString& path) {
  static const QRegularExpression root(QStringLiteral("^/dev/sr[0-9]+/"));
  const QRegularExpressionMatch m = root.match(path);
  return m.hasMatch() ? m.captured(0) : QString();
}

// The part of path that names its drive: the writer's pseudo-folder, or the folder itself.
QString DrivePart(const QString& path) {
  const QString pseudo = PseudoRoot(path);
  if (!pseudo.isEmpty()) return pseudo;
  return path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/');
}

// The mounts of the device node ("sr0") in the mount table under procRoot.
std::vector<TMountEntry> MountsOf(const std::string& node, const std::string& procRoot = "/proc") {
  std::ifstream in(procRoot + "/self/mountinfo");
  std::stringstream text;
  text << in.rdbuf();
  std::vector<TMountEntry> out;
  for (const TMountEntry& m : ParseMountInfo(text.str()))
    if (m.source == "/dev/" + node) out.push_back(m);
  return out;
}

QString Thousands(int64_t n) {
  QString digits = QString::number(n);
  for (qsizetype i = digits.size() - 3; i > 0; i -= 3) digits.insert(i, QLatin1Char(','));
  return digits;
}

QString Mb(uint64_t sectors) {
  return QString::number(static_cast<double>(sectors) * 2048.0 / 1048576.0, 'f', 2) +
         QStringLiteral(" MB");
}

}  // namespace

// ---- Settings ------------------------------------------------------------------------------

TBurnerSettings TBurnerSettings::Read(const TPreferences& prefs) {
  TBurnerSettings s;
  s.burner = prefs.Text(QStringLiteral("Burner"));
  s.drive = prefs.Text(QStringLiteral("BurnerDrive"));
  s.speed = prefs.Int(QStringLiteral("BurnerSpeed"));
  s.finalise = prefs.Bool(QStringLiteral("BurnerFinal"));
  s.native = prefs.Bool(QStringLiteral("Native"));
  s.sizingAuto = prefs.Bool(QStringLiteral("BurnerSizingAuto"));
  s.rockRidge = prefs.Bool(QStringLiteral("BurnerRockRidge"));
  return s;
}

bool SaveBurnerSettings(TPreferences& prefs, const TBurnerSettings& s) {
  return prefs.Write({{QStringLiteral("BurnerDrive"), s.drive},
                      {QStringLiteral("Burner"), s.burner},
                      {QStringLiteral("BurnerSpeed"), s.speed},
                      {QStringLiteral("BurnerFinal"), s.finalise},
                      {QStringLiteral("Native"), s.native},
                      {QStringLiteral("BurnerSizingAuto"), s.sizingAuto}});
}

int SpeedOfEntry(const QString& entry) {
  const qsizetype x = entry.indexOf(QLatin1Char('X'));
  if (x <= 0) return 0;
  bool ok = false;
  const int speed = entry.left(x).trimmed().toInt(&ok);
  return ok ? speed : 0;
}

QString SpeedEntry(int kbs) {
  const QString number =
      kbs < 10 ? QStringLiteral("%1").arg(kbs, 2, 10, QLatin1Char('0')) : QString::number(kbs);
  return number + QStringLiteral("X (") + Thousands(int64_t{kbs} * 150) + QStringLiteral(" KB/s)");
}

QStringList ProbeSpeeds(int maxSpeed, const std::function<int(int)>& setAndRead) {
  QStringList list{QStringLiteral("Max")};
  for (int s = maxSpeed; s >= 1;) {
    const int v = setAndRead(s);
    const QString entry = SpeedEntry(v);
    if (!list.contains(entry)) list << entry;
    // Every speed between the one the drive settled on and the one asked for gives the same
    // answer on a drive that rounds down; one that rounds up is asked at every step.
    s = std::min(s, v) - 1;
  }
  return list;
}

// ---- The commands --------------------------------------------------------------------------

TBurnCommands::TBurnCommands(TDiscBurner& burner, TPreferences& prefs, IBurnDisplay& display)
    : burner_(burner), prefs_(prefs), display_(display) {
  burner_.OnWriteDone = [this](TDiscBurner*, const std::string& error) { BurnerWriteDone(error); };
  burner_.OnEraseDone = [this](TDiscBurner*, bool withError) { BurnerEraseDone(withError); };
  if (!burner_.ProcessMessages) burner_.ProcessMessages = Pump;
  // A burner not made by the program's context (tests) still hands its completion to the event
  // loop.
  if (!burner_.PostToMain) PostBurnerEventsToMainThread(burner_);
}

TBurnCommands::~TBurnCommands() {
  // The writer's completion must not come after this object has gone.
  burner_.AbortWrite();
  burner_.WaitForWorkers();
  burner_.OnWriteDone = nullptr;
  burner_.OnEraseDone = nullptr;
}

TBurnerSettings TBurnCommands::Settings() const {
  return TBurnerSettings::Read(prefs_);
}

bool TBurnCommands::Configured() const {
  const TBurnerSettings s = Settings();
  return !s.burner.isEmpty() && !s.drive.isEmpty();
}

bool TBurnCommands::EnsureTransport() {
  if (burner_.ASPIInitialized() && !burner_.DeviceList.empty()) return true;
  return burner_.InitTransport();
}

QStringList TBurnCommands::Devices() {
  QStringList list;
  if (!EnsureTransport()) return list;
  for (const std::string& id : burner_.DeviceList) {
    const QString q = QString::fromStdString(id);
    if (!list.contains(q)) list << q;
  }
  return list;
}

QStringList TBurnCommands::SpeedList(const QString& device) {
  if (device.isEmpty() || !EnsureTransport()) return {QStringLiteral("Max")};
  burner_.SelectDevice(device.toStdString());
  if (burner_.Adapter == 254) return {QStringLiteral("Max")};
  const uint16_t kept = burner_.WriteSpeed();
  QStringList list = ProbeSpeeds(burner_.MaxWriteSpeed(), [this](int s) {
    burner_.SetWriteSpeed(static_cast<uint16_t>(s));
    return static_cast<int>(burner_.CurrentWriteSpeed());
  });
  burner_.SetWriteSpeed(kept);
  return list;
}

bool TBurnCommands::SaveChoice(const QString& device, const QString& speedEntry, bool finalise,
                               bool native, bool sizingAuto) {
  TBurnerSettings s = Settings();
  s.burner.clear();
  s.drive.clear();
  s.speed = SpeedOfEntry(speedEntry);
  s.finalise = finalise;
  s.native = native;
  s.sizingAuto = sizingAuto;
  if (!device.isEmpty() && EnsureTransport()) {
    burner_.SelectDevice(device.toStdString());
    if (burner_.Adapter != 254) {
      burner_.SetWriteSpeed(static_cast<uint16_t>(s.speed));
      burner_.FinalizeDisc = finalise;
      s.burner = QString::fromStdString(burner_.DeviceId);
      s.drive = QString::fromStdString(burner_.DriveRoot());
      s.speed = burner_.WriteSpeed();
      s.finalise = burner_.FinalizeDisc;
    }
  }
  return SaveBurnerSettings(prefs_, s);
}

bool TBurnCommands::ScanForWriter(TBurnerSettings& found) {
  found = Settings();
  found.native = true;
  found.sizingAuto = true;
  bool writer = false;
  if (EnsureTransport()) {
    for (const std::string& id : burner_.DeviceList) {
      burner_.SelectDevice(id);
      if (burner_.Adapter == 254 || !(burner_.Capabilities & capWriteCdR)) continue;
      found.burner = QString::fromStdString(burner_.DeviceId);
      found.drive = QString::fromStdString(burner_.DriveRoot());
      found.speed = burner_.WriteSpeed();
      found.finalise = burner_.FinalizeDisc;
      writer = true;
      break;
    }
  }
  ReleaseTransport();
  return writer;
}

void TBurnCommands::ReleaseTransport() {
  burner_.ReleaseTransport();
}

bool TBurnCommands::SelectStored() {
  const QString id = Settings().burner;
  if (id.isEmpty()) return false;
  burner_.SelectDevice(id.toStdString());
  return burner_.Adapter != 254;
}

int TBurnCommands::DiscTargetKind(const QString& path) {
  const QString root = PseudoRoot(path);
  if (root.isEmpty()) return -1;
  const std::string node = root.mid(5, root.size() - 6).toStdString();
  for (const TMountEntry& m : MountsOf(node))
    if (!m.ReadOnly()) return 2;
  return 1;
}

bool TBurnCommands::IsBurnerRoot(const QString& folder) const {
  const QString drive = Settings().drive;
  if (drive.isEmpty()) return false;
  QString f = folder;
  if (!f.endsWith(QLatin1Char('/'))) f += QLatin1Char('/');
  return f.compare(drive, Qt::CaseInsensitive) == 0;
}

QString TBurnCommands::DiscTypeName() {
  if (!EnsureTransport() || !SelectStored()) return {};
  return QString::fromLatin1(::DiscTypeName(burner_.DiscType()));
}

QString TBurnCommands::Drive() const {
  return Settings().drive;
}

bool TBurnCommands::DiskCheck(TDisc& disc) {
  disc = TDisc{};
  if (EnsureTransport() && SelectStored()) disc = burner_.GetDiscInfo();
  if (!disc.Present) MbInfo(S(burnmsg::kNoDisk));
  return disc.Present != 0;
}

TCDtypes TBurnCommands::GetCDDetails(const QString& drive) {
  TCDtypes rec;
  rec.Ready = true;
  rec.Drive = Drive();
  // A burn or an erase has the drive: asking it now would come between its commands.
  if (WriterBusy()) {
    MbInfo(S(burnmsg::kBusy));
    rec.Ready = false;
    return rec;
  }
  if (!EnsureTransport() || !SelectStored()) {
    // No writer to ask: nothing can be written.
    rec.Ready = false;
    return rec;
  }
  burner_.SetWriteSpeed(static_cast<uint16_t>(Settings().speed));
  if (burner_.Capabilities & capWriteCdR) rec.Drive = QString::fromStdString(burner_.DriveRoot());
  if (burner_.Capabilities & capUnderrunProtection) burner_.UnderrunProtection = true;
  const QString asked = drive.isEmpty() ? Drive() : drive;
  if (DrivePart(asked).compare(Drive(), Qt::CaseInsensitive) == 0) {
    bool ready = false;
    for (int round = 0; round < 5 && !ready; ++round) {
      rec.Kind = burner_.IsErasable() ? 2 : 1;
      const uint32_t free = burner_.FreeSectors();
      if (free != 0) {
        rec.Capacity = burner_.DiscCapacity();
        rec.FreeK = std::llround(static_cast<double>(free) * 2048.0 / 1024.0 / 1024.0 * 1000.0);
      }
      ready = burner_.TestUnitReady(5000);
      if (!ready) Pump();
    }
    rec.Ready = ready;
  }
  rec.TypeName = QString::fromLatin1(::DiscTypeName(burner_.DiscType()));
  return rec;
}

bool TBurnCommands::WaitUnitReady(int rounds) {
  for (int i = 0; i < rounds; ++i) {
    if (burner_.TestUnitReady(5000)) return true;
    Pump();
  }
  return false;
}

int64_t TBurnCommands::CheckCDHasSize(const TCDtypes& disc) {
  int64_t r = disc.FreeK;
  if (disc.TypeName.contains(QLatin1String("DVD"))) return r;
  while (r < 500000) {
    if (!WaitUnitReady(6)) return 0;
    if (disc.Kind == 2) {
      if (EraseDisk(true, true) == TErase::Cancelled) return 13;
      r = int64_t{burner_.FreeSectors()} * 2048 / 1024;
      break;
    }
    const int answer = MbChoice(S(burnmsg::kOnlyFree) + QString::number(std::llround(r / 1000.0)) +
                                    S(burnmsg::kOnlyFreeTail),
                                QString(), 2, QStringLiteral("OK|RETRY|CANCEL"));
    r = int64_t{burner_.FreeSectors()} * 2048 / 1024;
    if (answer == 11) break;
    if (answer != 12) return 13;
    // Nobody there to put in another disc: retrying would ask for ever.
    if (MbUnattended()) return 13;
  }
  return r;
}

bool TBurnCommands::Unmount() {
  const std::string node = burner_.DriveLetter();
  if (node.empty() || MountsOf(node, procRoot).empty()) return true;
  if (disks) disks->Unmount(node);
  return MountsOf(node, procRoot).empty();
}

void TBurnCommands::WaitForTimer() {
  QElapsedTimer clock;
  clock.start();
  qint64 next = 250;
  while (timer1_) {
    Pump();
    if (clock.elapsed() >= next) {
      Timer1Tick();
      next += 250;
    }
    if (timer1_) std::this_thread::sleep_for(std::chrono::milliseconds(waitSliceMs));
  }
}

TBurnCommands::TErase TBurnCommands::EraseDisk(bool ask, bool quick) {
  if (WriterBusy()) {
    MbInfo(S(burnmsg::kBusy));
    return TErase::Failed;
  }
  const int64_t mb = std::llround(static_cast<double>(burner_.FreeSectors()) * 2.0 / 1024.0);
  const QString prefix =
      mb == 0 ? S(burnmsg::kNoSpace)
              : S(burnmsg::kDiskHas) + QString::number(mb) + S(burnmsg::kDiskHasTail);
  for (;;) {
    const int answer = ask ? MbChoice(prefix + S(burnmsg::kEraseAsk), QString(), 1,
                                      QStringLiteral("CONTINUE|ERASE|CANCEL"))
                           : 12;
    if (answer == 11) return TErase::Continued;
    if (answer != 12) return TErase::Cancelled;
    TErase result = TErase::Failed;
    if (!burner_.IsErasable()) {
      MbInfo(S(burnmsg::kNotErasableReplace));
    } else if (Unmount()) {
      display_.SetGaugeGreen(true);
      display_.SetActivity(S(burnmsg::kErasing));
      eraseError_ = true;
      burning_ = false;
      SetBusy(true);
      if (burner_.EraseDisc(quick)) {
        timer1_ = true;
        WaitForTimer();
        if (!eraseError_) result = TErase::Erased;
      }
      SetBusy(false);
      display_.SetGaugeGreen(false);
      display_.SetActivity(QStringLiteral("ActiveFile: <none>"));
      display_.SetGaugePosition(0);
    } else {
      MbInfo(S(burnmsg::kMounted));
    }
    // Without a user, or once erased, there is nothing to ask again; with one, a disc still
    // without room is offered again (another disc may have been put in).
    if (result == TErase::Erased || !ask || MbUnattended()) return result;
    if (burner_.FreeSectors() != 0) return result;
  }
}

bool TBurnCommands::AddPaths(const QStringList& paths) {
  const QString drive = Drive();
  // Only the first name found on the disc is asked about: one answer covers the burn.
  bool asked = false;
  for (qsizetype i = paths.size() - 1; i >= 0; --i) {
    const QString& path = paths[i];
    const QString name = QFileInfo(path).fileName();
    // A file of that name in the session read back from the disc.
    for (TFEntry* e = burner_.Root()->FirstChild; e && !asked; e = e->Next) {
      if (!e->Imported || QString::fromStdString(e->LongName) != name) continue;
      asked = true;
      const bool erasable = burner_.IsErasable();
      const int answer =
          MbMessage(drive + name + S(erasable ? burnmsg::kExistsErase : burnmsg::kExistsReplace),
                    kArcavo, true, MB_OKCANCEL | MB_ICONEXCLAMATION | DestructiveDefault());
      if (answer != IDOK) return false;
      if (erasable) {
        if (EraseDisk(false, true) != TErase::Erased) return false;
        // The disc is empty now: start again without what was read back.
        burner_.ClearImage(65535, 8191);
        return AddPaths(paths);
      }
      break;
    }
    const std::string p = PathBytes(path);
    struct stat st;
    const size_t skippedBefore = burner_.SkippedFiles().size();
    int added = 0;
    if (::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
      added = burner_.AddDir("/", p, false, true, true, 63, "*.*");
    else
      added = burner_.AddFile("/", p, false);
    const auto& skipped = burner_.SkippedFiles();
    if (added != 1 || skipped.size() != skippedBefore) {
      // Burning without it would close a session that misses it and report success.
      QString why = added == 255 ? QStringLiteral("no such file") : QStringLiteral("not added");
      QString what = path;
      if (skipped.size() != skippedBefore) {
        what = QString::fromStdString(skipped[skippedBefore].Path);
        why = QString::fromStdString(skipped[skippedBefore].Reason);
      }
      LastBurnError = S(burnmsg::kNotAdded) + what + QStringLiteral(" (") + why + QLatin1Char(')');
      MbMessage(LastBurnError, kArcavo, false, MB_ICONEXCLAMATION);
      return false;
    }
    Pump();
  }
  return true;
}

bool TBurnCommands::SizeCheck() {
  // Every kind of disc, DVDs too: a session that does not fit is never started.
  for (;;) {
    const int type = burner_.DiscType();
    const uint64_t need = burner_.SectorsToWrite(type), room = burner_.Room(type);
    if (need <= room) return true;
    LastBurnError = S(burnmsg::kInsufficient) + QString::number(need * 2) + S(burnmsg::kAvailable) +
                    QString::number(uint64_t{room} * 2) + QStringLiteral("KB");
    if (MbUnattended()) {
      MbMessage(LastBurnError, kArcavo, false, MB_ICONEXCLAMATION);
      return false;
    }
    const int answer = MbChoice(LastBurnError + S(burnmsg::kAction), QString(), 2,
                                QStringLiteral("RETRY|ERASE|CANCEL"));
    if (answer == 11) continue;
    if (answer == 12 && EraseDisk(true, true) != TErase::Cancelled) continue;
    return false;
  }
}

bool TBurnCommands::ForeignAgreed() {
  burner_.OverwriteForeign = false;
  const QString foreign = QString::fromStdString(burner_.ForeignFileSystem());
  if (foreign.isEmpty()) return true;
  // Cancel is the default: without a user the disc is kept.
  const int answer = MbChoice(S(burnmsg::kForeign) + foreign + S(burnmsg::kForeignTail), kArcavo, 2,
                              QStringLiteral("Overwrite|Cancel"));
  if (answer != 11) return false;
  burner_.OverwriteForeign = true;
  return true;
}

bool TBurnCommands::WriterBusy() const {
  return burning_ || timer1_ || burner_.InUse();
}

bool TBurnCommands::Busy() const {
  return WriterBusy() || (runBusy && runBusy());
}

bool TBurnCommands::RefusedWhileBusy() const {
  if (!Busy()) return false;
  MbInfo(S(burnmsg::kBusy));
  return true;
}

void TBurnCommands::SetBusy(bool busy) {
  display_.SetBurnerBusy(busy);
}

bool TBurnCommands::BurnFiles(const QStringList& paths) {
  LastBurnError.clear();
  BurnNotices.clear();
  // One burn at a time: a second one would clear the image the running one is still reading.
  if (WriterBusy()) {
    LastBurnError = S(burnmsg::kBusy);
    MbInfo(LastBurnError);
    return false;
  }
  const TBurnerSettings settings = Settings();
  if (!EnsureTransport() || !SelectStored()) return false;
  GetCDDetails(settings.drive);
  if (!WaitUnitReady(5)) return false;
  if (burner_.FreeSectors() == 0 && EraseDisk(true, true) == TErase::Cancelled) return false;

  burner_.ImportSession = -1;
  burner_.ReplaceFile = true;
  burner_.JolietFileSystem = true;
  burner_.RockRidge = settings.rockRidge;
  burner_.FinalizeDisc = settings.finalise;
  burner_.SetWriteSpeed(static_cast<uint16_t>(settings.speed));
  burner_.ClearImage(65535, 8191);
  // The disc's last session, read back now: a name already on the disc is asked about.
  burner_.ImportSessionTree();
  if (!AddPaths(paths)) return false;

  burner_.PerformOPC = true;
  if (!burner_.PrepareImage()) {
    LastBurnError = QStringLiteral("IMAGE TOO LARGE FOR ISO 9660");
    MbMessage(LastBurnError, kArcavo, false, MB_ICONEXCLAMATION);
    return false;
  }
  if (burner_.FileCount() + burner_.DirCount() == 0) return false;

  const int gauge = display_.GaugePosition();
  bool result = false;
  for (;;) {
    if (!SizeCheck()) {
      result = false;
      break;
    }
    LastBurnError.clear();
    if (!ForeignAgreed()) {
      LastBurnError = S(burnmsg::kForeignKept);
      result = false;
      break;
    }
    if (!Unmount()) {
      LastBurnError = S(burnmsg::kMounted);
      result = false;
    } else {
      display_.SetGaugeGreen(true);
      display_.SetGaugePosition(0);
      display_.SetActivity(S(burnmsg::kBurning));
      display_.TrayAnimation(true);
      display_.DiscAnimation(true);
      burning_ = true;
      finishing_ = false;
      // Set before the burn starts: a failure to start reports at once.
      timer1_ = true;
      SetBusy(true);
      result = burner_.BurnImage();
      if (result) {
        display_.SetPauseCaption(QStringLiteral("Abort"));
        WaitForTimer();
      }
      timer1_ = false;
      burning_ = false;
      SetBusy(false);
    }
    if (LastBurnError.isEmpty() && result) break;
    if (LastBurnError.isEmpty()) LastBurnError = S(burnmsg::kUndefined);
    // Without a user the error ends the burn: the default answer would erase and retry for ever.
    if (MbUnattended()) {
      result = false;
      break;
    }
    const int answer = MbChoice(LastBurnError + S(burnmsg::kAction), QString(), 2,
                                QStringLiteral("RETRY|ERASE|CANCEL"));
    if (answer == 11 || (answer == 12 && EraseDisk(true, true) != TErase::Cancelled)) continue;
    result = false;
    break;
  }
  display_.SetGaugeGreen(false);
  if (gauge >= 1 && gauge <= 99)
    display_.SetGaugePosition(gauge);
  else
    display_.ClearStatusBar();
  display_.DiscAnimation(false);
  display_.TrayAnimation(false);
  display_.SetPauseCaption(QStringLiteral("Pause"));
  burner_.OverwriteForeign = false;
  if (result)
    for (const TSkippedFile& n : burner_.Notices())
      BurnNotices << QString::fromStdString(n.Path) + QStringLiteral(": ") +
                         QString::fromStdString(n.Reason);
  return result;
}

void TBurnCommands::BurnerWriteDone(const std::string& error) {
  LastBurnError.clear();
  burner_.WaitReady(10000, 5000);
  timer1_ = false;
  LastBurnError = QString::fromStdString(error);
}

void TBurnCommands::BurnerEraseDone(bool withError) {
  burner_.WaitReady(10000, 5000);
  eraseError_ = withError;
  timer1_ = false;
}

void TBurnCommands::Timer1Tick() {
  if (!timer1_) return;
  if (!burning_) {
    display_.SetGaugePosition(burner_.EraseProgress());
    return;
  }
  const int64_t image = burner_.ImageSize();
  const int percent =
      image > 0
          ? static_cast<int>(std::min<int64_t>(100, burner_.WrittenBytes() / 2048 * 100 / image))
          : 0;
  display_.SetGaugePosition(percent);
  display_.SetTrayHint(display_.TrayTitle() + QStringLiteral(" BurnCD: ") +
                       QString::number(percent) + QStringLiteral("% done"));
  if (percent >= 100 && !finishing_) {
    finishing_ = true;
    display_.SetActivity(S(Settings().finalise ? burnmsg::kFinalizing : burnmsg::kClosing));
  }
}

void TBurnCommands::AbortWrite() {
  if (!burner_.Writing()) return;
  burner_.AbortWrite();
  // The writer still empties the drive's cache; the burn's wait goes on until it reports.
  if (burning_) display_.SetActivity(S(burnmsg::kAborting));
}

void TBurnCommands::StopBurner() {
  burner_.AbortWrite();
  burner_.WaitForWorkers();
  ReleaseTransport();
}

// ---- Menu commands -------------------------------------------------------------------------

void TBurnCommands::EraseCDRW1Click(bool quick) {
  if (RefusedWhileBusy()) return;
  const TCDtypes disc = GetCDDetails();
  if (!disc.Ready) {
    MbInfo(S(burnmsg::kNotReady));
  } else if (disc.Kind != 2) {
    MbInfo(S(burnmsg::kNotErasable));
  } else if (MbMessage(S(burnmsg::kProceed), kArcavo, true,
                       MB_YESNO | MB_ICONQUESTION | DestructiveDefault()) == IDYES) {
    // Erased, failed and cancelled are told apart: only a finished erase is a success.
    while (EraseDisk(false, quick) == TErase::Erased) {
      if (MbChoice(S(burnmsg::kErased), kArcavo, 2, QStringLiteral("Repeat|Exit")) != 11) {
        ReleaseTransport();
        return;
      }
    }
    MbInfo(S(burnmsg::kEraseFailed));
  }
  ReleaseTransport();
}

void TBurnCommands::CDproperties1Click() {
  if (RefusedWhileBusy()) return;
  for (;;) {
    TDisc disc;
    if (!DiskCheck(disc)) break;
    const QString text = QStringLiteral("Medium:        ") +
                         QString::fromLatin1(::DiscTypeName(burner_.DiscType())) +
                         QStringLiteral("\r") + QStringLiteral("Disc Size:     ") +
                         Mb(disc.Capacity) + QStringLiteral("\r") +
                         QStringLiteral("Used Space:   ") + Mb(disc.Used) + QStringLiteral("\r") +
                         QStringLiteral("Free Space:   ") + Mb(burner_.FreeSectors());
    if (MbChoice(text, kArcavo, 1, QStringLiteral("Repeat|Exit")) != 11) break;
  }
  ReleaseTransport();
}

void TBurnCommands::SFTburn1Click(const QStringList& selection) {
  if (selection.isEmpty()) return;
  const TBurnerSettings settings = Settings();
  if (settings.drive.isEmpty()) return;
  if (RefusedWhileBusy()) return;
  int kind = DiscTargetKind(settings.drive);
  if (kind < 0) kind = ::GetDriveTypeEx(DefaultVolumeService(), PathBytes(settings.drive));
  if (kind == 2 || kind == 3) {
    // A disc mounted for writing is written where it is mounted ("/dev/srN/" is no folder).
    QString folder = settings.drive;
    const QString pseudo = PseudoRoot(folder);
    if (!pseudo.isEmpty()) {
      const std::string node = pseudo.mid(5, pseudo.size() - 6).toStdString();
      for (const TMountEntry& m : MountsOf(node, procRoot))
        if (!m.ReadOnly()) folder = QString::fromStdString(m.mountPoint);
    }
    if (!display_.CopyInto(selection, folder))
      MbMessage(S(burnmsg::kCopyFailed) + folder, kArcavo, false, MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  if (kind == 0 && settings.native) return;
  const bool burnt = BurnFiles(selection);
  ReleaseTransport();
  if (burnt && !BurnNotices.isEmpty())
    MbInfo(S(burnmsg::kNotices) + QStringLiteral("\r") + BurnNotices.join(QStringLiteral("\r")));
}
