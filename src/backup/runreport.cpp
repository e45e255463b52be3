#include "backup/runreport.h"

#include <sys/statvfs.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <cmath>
#include <exception>

#include "app/archivename.h"
#include "app/clock.h"
#include "app/controlhost.h"
#include "app/damagedarchive.h"
#include "app/mb.h"
#include "app/optionscontroller.h"
#include "app/preferences.h"
#include "app/secrettext.h"
#include "app/sourcelists.h"
#include "archive/zipexceptions.h"
#include "archive/zipsession.h"
#include "backup/commentstore.h"
#include "backup/presets.h"
#include "backup/reportbox.h"
#include "backup/rtfwriter.h"
#include "platform/inifile.h"
#include "platform/programdir.h"

namespace {

QString S(const char* s) {
  return QString::fromUtf8(s);
}

// A native path as text.
QString PathText(const std::string& path) {
  return QFile::decodeName(QByteArray::fromStdString(path));
}

int64_t RoundDiv(double value, double divisor) {
  return static_cast<int64_t>(std::nearbyint(value / divisor));
}

// The last n characters (code points) of text.
QString LastChars(const QString& text, qsizetype n) {
  const QList<uint> u = text.toUcs4();
  if (u.size() <= n) return text;
  return QString::fromUcs4(reinterpret_cast<const char32_t*>(u.constData() + (u.size() - n)), n);
}

qsizetype CharCount(const QString& text) {
  return text.toUcs4().size();
}

}  // namespace

// ---- Free functions ----

std::string CutComment(const std::string& comment, size_t max) {
  if (comment.size() <= max) return comment;
  size_t end = max;
  // Back off over continuation bytes so no UTF-8 sequence is cut in two.
  while (end > 0 && (static_cast<unsigned char>(comment[end]) & 0xC0) == 0x80) --end;
  return comment.substr(0, end);
}

QString ElapsedText(int64_t ms) {
  if (ms < 0) ms = 0;
  const int64_t seconds = (ms / 1000) % 60;
  const int64_t minutes = ms / 60000;
  auto two = [](int64_t v) {
    return (v < 10 ? QStringLiteral("0") : QString()) + QString::number(v);
  };
  return two(minutes) + QLatin1Char(':') + two(seconds);
}

uint32_t KbFromBytes(uint64_t bytes) {
  // Rounded to the nearest thousand; anything at or beyond the 32-bit range saturates.
  const uint64_t kb = bytes / 1000 + (bytes % 1000 >= 500 ? 1 : 0);
  return kb >= 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(kb);
}

uint32_t FreeSpaceKb(const QString& path) {
  if (path.isEmpty()) return 0;
  QString probe = QFileInfo(path).absoluteFilePath();
  // The archive need not exist yet: the nearest folder that does is asked.
  while (!QFileInfo::exists(probe)) {
    const QString up = QFileInfo(probe).absolutePath();
    if (up == probe) return 0;
    probe = up;
  }
  struct statvfs vfs;
  if (::statvfs(QFile::encodeName(probe).constData(), &vfs) != 0) return 0;
  const unsigned __int128 bytes =
      static_cast<unsigned __int128>(vfs.f_bavail) * static_cast<unsigned __int128>(vfs.f_frsize);
  return KbFromBytes(bytes > UINT64_MAX ? UINT64_MAX : static_cast<uint64_t>(bytes));
}

QString FormatMbCount(double mb) {
  QLocale locale;
  locale.setNumberOptions(QLocale::DefaultNumberOptions);
  return locale.toString(static_cast<qlonglong>(std::nearbyint(mb))).rightJustified(3, u' ');
}

QString ReportDateTime(const QDateTime& when) {
  const QLocale locale;
  // The long time format names the zone ("t"); the report leaves it out.
  QString timeFormat = locale.timeFormat(QLocale::LongFormat);
  timeFormat.remove(QRegularExpression(QStringLiteral("\\s*t+\\s*$")));
  timeFormat.remove(QRegularExpression(QStringLiteral("^\\s*t+\\s*")));
  return locale.toString(when.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
         locale.toString(when.time(), timeFormat.trimmed());
}

// ---- TRunReport ----

TRunReport::TRunReport(TArcZip& zip, TOptionLists& lists, TPreferences& prefs,
                       IControlHost& controls, IProgressHost& host, IReportBox& box,
                       IReportSeams& seams, QString* commentText, QObject* parent)
    : QObject(parent),
      CommentText(commentText ? *commentText : ownCommentText_),
      zip_(zip),
      l_(lists),
      prefs_(prefs),
      controls_(controls),
      host_(host),
      box_(box),
      seams_(seams) {}

TRunReport::~TRunReport() = default;

void TRunReport::AttachRunEvents(TArcZip& zip) {
  zip.OnTotalPercentDone = [this](TArcUnZip::TSender, int percent) {
    ArcZip1TotalPercentDone(percent);
  };
  zip.OnStartZip = [this](TArcUnZip::TSender, const std::string& name, TZipHeaderInfo& header,
                          bool& skip) { ArcZip1StartZip(name, header, skip); };
  zip.OnSkippingFile = [this](TArcUnZip::TSender, TSkipReason reason, const std::string& name,
                              int index,
                              bool& retry) { ArcZip1SkippingFile(reason, name, index, retry); };
  zip.OnBadPassword = [this](TArcUnZip::TSender sender, int index, std::string& password) {
    ArcZip1BadPassword(sender, index, password);
  };
  zip.OnNoSuchFile = [this](TArcUnZip::TSender, const std::string& name) {
    ArcZip1NoSuchFile(name);
  };
  zip.OnZipComplete = [this](TArcUnZip::TSender, int count) { ArcZip1ZipComplete(count); };
  zip.OnInCompleteZip = [this](TArcUnZip::TSender sender, TIncompleteZipMode& mode) {
    ArcZip1InCompleteZip(sender, mode);
  };
  zip.OnStartZipInfo = [this](TArcUnZip::TSender, int numFiles, int64_t totalBytes, TEndCentral&,
                              bool& stopNow) {
    ArcZip1StartZipInfo(numFiles, totalBytes, stopNow);
  };
  zip.OnStartUnZipInfo = [this](TArcUnZip::TSender, int numFiles, int64_t totalBytes,
                                bool& stopNow) {
    ArcZip1StartUnZipInfo(numFiles, totalBytes, stopNow);
  };
}

void TRunReport::DetachRunEvents(TArcZip& zip) {
  zip.OnTotalPercentDone = nullptr;
  zip.OnStartZip = nullptr;
  zip.OnSkippingFile = nullptr;
  zip.OnNoSuchFile = nullptr;
  zip.OnBadPassword = nullptr;
  zip.OnZipComplete = nullptr;
  zip.OnInCompleteZip = nullptr;
  zip.OnStartZipInfo = nullptr;
  zip.OnStartUnZipInfo = nullptr;
}

bool TRunReport::Ticked(int functionsItem) const {
  return l_.functionsList.Checked(functionsItem);
}

bool TRunReport::Unattended() const {
  return Ticked(opt::kFnUnattended) || seams_.AutoRun();
}

bool TRunReport::DirTicked(int directoryItem) const {
  return l_.directoryList.Checked(directoryItem);
}

bool TRunReport::FullBackupReport() const {
  // Asked for every file stored; the key in the preferences' own (lower) case is found without
  // a converted copy.
  return prefs_.Bool(QStringLiteral("fullreport"));
}

QString TRunReport::ZipName() const {
  return PathText(zip_.ZipName());
}

void TRunReport::SetPanel(const char* name, const QString& text) {
  controls_.SetControlCaption(S(name), text);
}

void TRunReport::AddLine(const QString& text) {
  box_.Add(text);
  box_.ScrollToCaret();
}

// ---- Calls of the run ----

void TRunReport::BeginRun() {
  ExcludedCount = BitNotSetCount = NoOverwriteCount = UnfilteredCount = 0;
  LeftOutCount = 0;
  missing_.clear();
  SkippedList.clear();
  OpenFilePrompt = true;
  CommentText = ::CommentText(zip_.ArchiveComment());
}

void TRunReport::NotIncluded(const QString& path) {
  LeaveOut(path, S(rptmsg::kNotIncluded));
}

void TRunReport::StartClock() {
  RunStartTick = CurrentClock().TickMs();
}

QString TRunReport::ProcessTimeText() const {
  return ElapsedText(CurrentClock().TickMs() - RunStartTick);
}

void TRunReport::FinishReport() {
  if (box_.Lines().isEmpty()) AddLine(S(rptmsg::kNoFilesMissed));
}

QString TRunReport::WriteReportFile(const QString& zipName, const QString& autoRunFile) {
  if (seams_.SizeCalcMode()) return {};
  if (autoRunFile.isEmpty() && !Ticked(opt::kFnUnattended) && !FullBackupReport()) return {};
  const QString fileName = QFileInfo(zipName).fileName();
  const QString name =
      QString::fromStdString(ProgramDir()) +
      EXTNdatetime(1, fileName, prefs_.Int(QStringLiteral("DateTimeFormat")), CurrentClock().Now());
  box_.SetPlainText(true);
  const QStringList lines = box_.Lines();
  if (lines.isEmpty()) return {};
  const QString file = name + QStringLiteral(".txt");
  // One conversion of the whole report (a full report has a line for every file stored).
  const QByteArray text = (lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8();
  try {
    QFile::remove(file);
    WriteFileAtomically(QFile::encodeName(file).toStdString(),
                        std::string(text.constData(), static_cast<size_t>(text.size())));
  } catch (const std::exception&) {
    // An unattended run has nobody to tell; the run's own result stands.
    return {};
  }
  return file;
}

// ---- Engine events ----

void TRunReport::ArcZip1TotalPercentDone(int Percent) {
  host_.SetTrayHint(seams_.TrayTitle() + QLatin1Char(' ') + QString::number(Percent) +
                    S(rptmsg::kDone));
  SetPanel(rctl::kProcessTimePanel, ProcessTimeText());
  host_.SetGaugePosition(Percent);
}

void TRunReport::ArcZip1StartZip(std::string FName, TZipHeaderInfo& ZipHeader, bool& Skip) {
  // 1. The date filter of the "Date Range" group.
  // Asked for every file stored: the control names are made once.
  static const QString before = S(rctl::kDateFilterBefore);
  static const QString after = S(rctl::kDateFilterAfter);
  static const QString activeFile = S(rctl::kActiveFilePanel);
  const int mode = controls_.ControlChecked(before)  ? AllBefore
                   : controls_.ControlChecked(after) ? AllAfter
                                                     : NoDateFilter;
  if (mode != NoDateFilter) {
    const QDateTime picker = host_.DatePickerValue();
    if (picker.isValid() && DateFilterSkips(mode, ZipHeader.ModifDateTime, picker)) {
      Skip = true;
      return;
    }
  }
  QString name = PathText(FName);
  // 2. The mail and browser presets leave out mail, news and cache folders below the profile
  // folders (the folders above, such as the home folder, say nothing about the file).
  const int preset = seams_.PresetKind();
  if (preset != 0) {
    if (preset != presetFoldersKind_) {
      presetFolders_ = PresetFolders(preset, MozillaFolders(QDir::homePath()));
      presetFoldersKind_ = preset;
    }
    if (PresetLeavesOut(preset, PathBelow(name, presetFolders_))) Skip = true;
  }
  // 3. The active file; a long name shows its end (no name has more characters than UTF-16
  // units).
  if (name.size() > 73 && CharCount(name) > 73) name = LastChars(name, 71);
  controls_.SetControlCaption(activeFile, name);
  // 4. The report line.
  if (seams_.DeletingEntries()) return;
  bool leftOut = false;
  if (Ticked(opt::kFnVersioning)) {
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    leftOut = (dot >= 0 && name.mid(dot, 3) == QStringLiteral(".#~")) ||
              ZipHeader.FileName.find("*.") != std::string::npos;
  }
  if (!leftOut && FullBackupReport()) AddLine(name);
}

void TRunReport::ArcZip1SkippingFile(TSkipReason Reason, const std::string& FName, int FileIndex,
                                     bool& Retry) {
  (void)FileIndex;
  const QString name = PathText(FName);
  // The engine's reason in words where the label alone would not tell ("a FIFO (named pipe),
  // not a file", "link points outside the destination").
  const QString why = QString::fromStdString(zip_.SkipText());
  if (Reason == srFileOpenError) {
    // A folder that cannot be read, what is not a file at all and a file that changed while it
    // was stored are left out without a question: there is nothing to retry.
    if (name.endsWith(QLatin1Char('/')) || (IsFolder && IsFolder(FName)) || !zip_.SkipCanRetry()) {
      Retry = false;
      LeaveOut(name, why.isEmpty() ? QString::fromLatin1(SkipReasonLabel(Reason)) : why);
      return;
    }
    if (OpenFileRetries == 3) {
      OpenFileRetries = 0;
    } else if (!Unattended() && prefs_.Bool(QStringLiteral("PromptSkipOpenFiles")) &&
               OpenFilePrompt) {
      TrayIconState(0);
      const int answer = MbChoice(S(rptmsg::kFileOpen1) + name + S(rptmsg::kFileOpen2),
                                  S(rptmsg::kCaption), 2, S(rptmsg::kFileOpenButtons));
      TrayIconState(2);
      if (answer == 11) {  // Repeat
        ++OpenFileRetries;
        Retry = true;
        return;
      }
      if (answer == 13) OpenFilePrompt = false;  // Bypass: no more questions in this run
    }
  }
  const QString label = why.isEmpty() ? QString::fromLatin1(SkipReasonLabel(Reason)) : why;
  switch (Reason) {
    case srNoOverwrite:
      ++NoOverwriteCount;
      // A selected file whose stored name another selected file took first is not in the
      // archive: the run names it and counts it as left out.
      if (seams_.RunInProgress() && !name.endsWith(QLatin1Char('/'))) LeaveOut(name, label);
      return;
    case srExcludeList:
      ++ExcludedCount;
      return;
    case srArchiveBitNotSet:
      ++BitNotSetCount;
      return;
    default:
      break;
  }
  if (Reason == srFileOpenError) {
    // A file that failed while it was read says how (a read error is not an open error); a run
    // without a user also says so on standard error.
    if (!zip_.SourceError.empty()) {
      const QString why = QString::fromStdString(zip_.SourceError);
      LeaveOut(name, why);
      MbUnattendedNote(name + S(rptmsg::kSkippedBecause) + why);
      return;
    }
    LeaveOut(name, label);
    return;
  }
  AddLine(name + S(rptmsg::kSkippedBecause) + label);
  if (FullBackupReport()) SkippedList << name + S(rptmsg::kReason) + label;
}

void TRunReport::LeaveOut(const QString& name, const QString& label) {
  ++LeftOutCount;
  AddLine(name + S(rptmsg::kSkippedBecause) + label);
  SkippedList << name + S(rptmsg::kReason) + label;
}

void TRunReport::ArcZip1NoSuchFile(const std::string& FName) {
  // A missing folder comes as folder + INCLUDE pattern: the folder is named.
  QString name = PathText(FName);
  const qsizetype slash = name.lastIndexOf(QLatin1Char('/'));
  if (slash >= 0 && name.mid(slash + 1).contains(QRegularExpression(QStringLiteral("[*?<>|]"))))
    name.truncate(slash + 1);
  if (missing_.contains(name)) return;
  missing_.insert(name);
  LeaveOut(name, S(rptmsg::kNoSuchFile));
}

void TRunReport::ArcZip1BadPassword(TArcUnZip* Sender, int FileIndex, std::string& NewPassword) {
  (void)FileIndex;
  TArcUnZip& zip = Sender ? *Sender : zip_;
  if (!zip.Password.empty()) return;  // the engine gives up on that entry
  if (std::optional<QString> password = seams_.PasswordDialog()) {
    NewPassword = TakeSecret(*password);
    return;
  }
  // Cancelled: the remaining encrypted entries are skipped without asking again. Only the
  // closure's storage is released here; nothing of it is used after this call returns.
  zip.OnBadPassword = nullptr;
}

void TRunReport::ArcZip1ZipComplete(int FileCount) {
  // 1. The last staged part goes to the disc; the staged files go in any case.
  if (seams_.CdStaging()) {
    const QString name = ZipName();
    const bool burnt = seams_.BurnPart(name);
    if (!burnt) {
      auto splitHandler = std::move(zip_.OnFileNameForSplitPart);
      zip_.OnFileNameForSplitPart = nullptr;
      zip_.CancelOperation();
      if (host_.TrayIconShown()) host_.TrayAnimation(false);
      zip_.OnFileNameForSplitPart = std::move(splitHandler);
    }
    const QString zfc =
        EXTNdatetime(0, name, prefs_.Int(QStringLiteral("DateTimeFormat")), CurrentClock().Now()) +
        QStringLiteral(".zfc");
    if (QFileInfo::exists(zfc)) QFile::remove(zfc);
    QFile::remove(name);
    if (!burnt) return;
  }
  // 2. The tray hint without the percentage.
  host_.SetTrayHint(seams_.TrayTitle());
  // 3. The error summary and the summary lines. Files left out are always summed up.
  if (!SkippedList.isEmpty() && (FullBackupReport() || LeftOutCount > 0)) {
    AddLine(S(rptmsg::kSummaryFollows));
    for (const QString& s : SkippedList) AddLine(s);
    AddLine(QString());
    AddLine(S(rptmsg::kMissingCount) + QString::number(SkippedList.size()));
    AddLine(S(rptmsg::kSummaryEnds));
  }
  if (BitNotSetCount > 0) AddLine(S(rptmsg::kBitNotSet) + QString::number(BitNotSetCount));
  if (ExcludedCount > 0) AddLine(S(rptmsg::kExcluded) + QString::number(ExcludedCount));
  if (NoOverwriteCount > 0) AddLine(S(rptmsg::kNoOverwrite) + QString::number(NoOverwriteCount));
  if (UnfilteredCount - ExcludedCount - BitNotSetCount - NoOverwriteCount > 0)
    AddLine(S(rptmsg::kFiltered) + QString::number(FileCount));
  AddLine(S(rptmsg::kArchived) + QString::number(FileCount));
  AddLine(S(rptmsg::kEnded) + ReportDateTime(CurrentClock().Now()));
  // The time is taken now, so a run without progress events still reports it.
  const QString taken = ProcessTimeText();
  SetPanel(rctl::kProcessTimePanel, taken);
  AddLine(S(rptmsg::kTimeTaken) + taken);
  // 4.
  ExcludedCount = 0;
  BitNotSetCount = 0;
}

void TRunReport::ArcZip1InCompleteZip(TArcUnZip* Sender, TIncompleteZipMode& IncompleteMode) {
  if (seams_.GlobalSearchRunning()) {
    IncompleteMode = TIncompleteZipMode::izAssumeBad;
    return;
  }
  GaugeClear();
  // An unattended run cannot wait for an answer: the file is not taken for an archive.
  if (Unattended()) {
    IncompleteMode = TIncompleteZipMode::izAssumeNotAZip;
    return;
  }
  int answer = 11;  // without a sender: Last_Disk
  if (Sender)
    answer =
        MbChoice(S(rptmsg::kIncomplete), S(rptmsg::kCaption), 1, S(rptmsg::kIncompleteButtons));
  TArcUnZip& zip = Sender ? *Sender : zip_;
  if (answer == 11) {
    IncompleteMode = TIncompleteZipMode::izAssumeMulti;
    const QString name = PathText(zip.ZipName());
    if (FileExtension(name).toLower() != QStringLiteral(".zip")) {
      const QString picked = seams_.OpenLastPart(
          QFileInfo(name).absolutePath(), S(rptmsg::kOpenLastTitle), S(rptmsg::kOpenLastFilter));
      if (picked.isEmpty()) {
        IncompleteMode = TIncompleteZipMode::izAssumeNotAZip;
        GaugeClear();
        return;
      }
      zip.SetZipName(QFile::encodeName(picked).toStdString());
    } else {
      zip.SetZipName(zip.ZipName());
    }
    GaugeTickler();
  } else if (answer == 12) {
    IncompleteMode = TIncompleteZipMode::izAssumeBad;
    GaugeTickler();
  } else {
    IncompleteMode = TIncompleteZipMode::izAssumeNotAZip;
    GaugeClear();
  }
}

void TRunReport::ArcZip1StartZipInfo(int NumFiles, int64_t TotalBytes, bool& StopNow) {
  const QString count = QString::number(NumFiles) + S(rptmsg::kDirFiles);
  // 1. Counting only (or nothing left to write): the engine stops here.
  if (seams_.SizeCalcMode() || NumFiles == 0) {
    StopNow = true;
    GaugeClear();
    const int64_t mb = RoundDiv(static_cast<double>(TotalBytes), 1000000.0);
    SetPanel(rctl::kCountPanel, count);
    SetPanel(rctl::kTotalSizePanel, S(rptmsg::kTotalSize) + QString::number(mb) + S(rptmsg::kMb));
    seams_.SizeCounted(NumFiles, TotalBytes, mb);
    SkippedList.clear();
    return;
  }
  // 2. A stealth or instant backup with the window hidden shows itself in the tray.
  if (host_.WindowHidden() && !seams_.RunInProgress()) {
    TrayIconState(2);
    controls_.SetControlVisible(S(rctl::kTrayPauseItem), true);
    controls_.SetControlVisible(S(rctl::kTrayResumeItem), false);
  }
  // 3. (SkippedList was emptied when the run began: files found missing while the engine
  // listed them stay in it.)
  host_.SetGaugeMoving(false);
  UnfilteredCount = NumFiles;
  // 4. Lines 2 and 3, then an empty line.
  AddLine(S(rptmsg::kUnfiltered) + QString::number(NumFiles) + QStringLiteral("\r\n") +
          S(rptmsg::kStarted) + ReportDateTime(CurrentClock().Now()) + QStringLiteral("\r"));
  // 5. The archive is expected at 40 % of the data (thousands of bytes).
  const int64_t est =
      static_cast<int64_t>(std::nearbyint(static_cast<double>(TotalBytes) / 1000.0 * 0.4));
  // 6. Room on the target.
  if (!DirTicked(opt::kDirSpan) && !Unattended()) {
    const uint32_t free = DiskSpaceKb ? DiskSpaceKb(ZipName()) : 0;
    const bool cdTooBig = !seams_.DiscTypeName().contains(QStringLiteral("DVD")) &&
                          seams_.CdStaging() && est > 600000;
    if (cdTooBig || (free > 2000 && est > static_cast<int64_t>(free))) {
      const int answer =
          MbChoice(S(rptmsg::kSpaceWarning), S(rptmsg::kCaption), 2, S(rptmsg::kSpaceButtons));
      if (answer != 11) {
        StopNow = true;
        return;
      }
    }
  }
  // 7. The size of what is archived in the status bar: the 40 % guess above only weighs the
  // free space, and shown as "Total size" it read as the size of the data.
  SetPanel(rctl::kActiveFilePanel, S(rptmsg::kActiveFileNone));
  SetPanel(rctl::kCountPanel, count);
  SetPanel(rctl::kTotalSizePanel,
           S(rptmsg::kTotalSize) +
               QString::number(RoundDiv(static_cast<double>(TotalBytes), 1000000.0)) +
               S(rptmsg::kMb));
  host_.DiscAnimation(true);
  // 8. The marker of the first spanned disk.
  if (zip_.MultiZipInfo.MultiMode == TMultiMode::mmSpan) seams_.WriteSpanNo(1);
}

void TRunReport::ArcZip1StartUnZipInfo(int NumFiles, int64_t TotalBytes, bool& StopNow) {
  (void)StopNow;
  SetPanel(rctl::kCountPanel, QString::number(NumFiles) + S(rptmsg::kDirFiles));
  SetPanel(rctl::kTotalSizePanel,
           S(rptmsg::kTotalSize) +
               QString::number(RoundDiv(static_cast<double>(TotalBytes), 1024000.0)) +
               S(rptmsg::kMb));
  host_.SetGaugeMoving(false);
}

// ---- Display routines ----

void TRunReport::ClearStatusBar() {
  SetPanel(rctl::kCountPanel, S(rptmsg::kCountIdle));
  SetPanel(rctl::kTotalSizePanel, S(rptmsg::kTotalIdle));
  GaugeClear();
  if (zip_.ZipName().empty()) SetPanel(rctl::kZipFilePanel, S(rptmsg::kZipFileNone));
  SetPanel(rctl::kProcessTimePanel, S(rptmsg::kProcessTime));
  SetPanel(rctl::kActiveFilePanel, S(rptmsg::kActiveFileNone));
  host_.DiscAnimation(false);
  host_.SetNormalCursor();
}

void TRunReport::GaugeClear() {
  host_.SetGaugeMoving(false);
  host_.SetGaugePosition(0);
}

void TRunReport::GaugeTickler() {
  host_.SetGaugeMoving(true);
}

void TRunReport::TrayIconState(int state) {
  if (!host_.TrayIconShown()) return;
  if (state == 2) {
    host_.TrayAnimation(true);
  } else if (state == 0 || state == 1) {
    host_.TrayAnimation(false);
    host_.TrayIcon(state);
  }
}

void TRunReport::pagetabflash(bool inner, int index) {
  bool on = false;
  for (int i = 0; i < 7; ++i) {
    on = !on;
    host_.SetTabHighlight(inner, index, on);
    Delay(300);
  }
  host_.SetTabHighlight(inner, index, false);
}

void TRunReport::ShowZipspecs(int64_t count, int64_t totalBytes) {
  SetPanel(rctl::kActiveFilePanel, QString());
  SetPanel(rctl::kCountPanel, QString::number(count) + S(rptmsg::kDirFiles));
  SetPanel(rctl::kTotalSizePanel, S(rptmsg::kTotalSize) +
                                      FormatMbCount(static_cast<double>(totalBytes) / 1000000.0) +
                                      S(rptmsg::kMb));
}

// ---- Report box commands ----

void TRunReport::SaveReport1Click() {
  const QString zipName = ZipName();
  bool saved = false;
  QString file;
  if (!zipName.isEmpty()) {
    const QFileInfo fi(zipName);
    const QString ext = FileExtension(fi.fileName());
    file = zipName.left(zipName.size() - ext.size()) + QStringLiteral(".rtf");
    // The file is RTF whatever mode the box is in, so it opens in every RTF reader.
    try {
      WriteFileAtomically(QFile::encodeName(file).toStdString(),
                          RtfDocument(box_.Lines()).toStdString());
      saved = true;
    } catch (const std::exception&) {
    }
  }
  if (!saved) {
    MbInfo(S(rptmsg::kReportSaveError));
    return;
  }
  MbInfo(S(rptmsg::kReportSaved) + file);
  box_.SetWordWrap(false);
  wordWrap_ = false;
  controls_.SetControlChecked(S(rctl::kWordWrapItem), false);
}

void TRunReport::WordWrap1Click() {
  wordWrap_ = !wordWrap_;
  controls_.SetControlChecked(S(rctl::kWordWrapItem), wordWrap_);
  box_.SetWordWrap(wordWrap_);
}

void TRunReport::FullReport1Click() {
  const bool on = !FullBackupReport();
  controls_.SetControlChecked(S(ctl::kFullReportItem), on);
  prefs_.Write(QStringLiteral("FullReport"), on);
}

void TRunReport::Zipcomment1Click(bool zipCommentItem) {
  if (zipCommentItem && CommentText.isEmpty()) {
    MbInfo(S(rptmsg::kNoZipComment));
    return;
  }
  host_.ShowReportPage();
  host_.SetControlAlarm(S(rctl::kSaveCommentButton), true);
  box_.SetWantReturns(true);
  box_.Clear();
  box_.SetReadOnly(false);
  // Plain text: every line break and blank of the comment stays where it is.
  box_.SetLines(SplitBoxLines(CommentText, false));
  box_.SetHint(S(rptmsg::kCommentHint));
}

bool TRunReport::Spanned() const {
  const TMultiMode m = zip_.MultiZipInfo.MultiMode;
  return m == TMultiMode::mmSpan || m == TMultiMode::mmBlocks;
}

bool TRunReport::FitComment(std::string& comment) {
  if (comment.size() <= kMaxCommentBytes) return true;
  const QString text =
      S(rptmsg::kCommentTooLong).arg(QLocale().toString(static_cast<qulonglong>(comment.size())));
  if (MbChoice(text, S(rptmsg::kCaption), 2, S(rptmsg::kCommentTooLongButtons)) != 11) return false;
  comment = CutComment(comment);
  return true;
}

bool TRunReport::StoreComment(const std::string& comment) {
  // Saving the comment is an operation of its own on the engine: not while another one runs.
  TZipSession session(zip_);
  if (!session) return false;
  try {
    zip_.ReadArchive();
    // The comment is saved by rewriting the archive: a damaged one would keep only what the
    // scan found.
    if (!ConfirmDamagedRewrite(zip_)) return false;
    SaveArchiveComment(zip_, comment);
    return true;
  } catch (const std::exception& e) {
    MbMessage(QString::fromStdString(e.what()), S(rptmsg::kCaption), false, MB_ICONEXCLAMATION);
    return false;
  }
}

void TRunReport::SaveCommentClick() {
  if (zip_.ZipName().empty()) {
    MbInfo(S(rptmsg::kNoArchiveToComment));
    return;
  }
  if (Spanned()) {
    MbMessage(S(rptmsg::kCommentSpanned), S(rptmsg::kCaption), false, MB_ICONEXCLAMATION);
    return;
  }
  std::string comment = LinesToComment(box_.Lines());
  // A comment too long for the archive keeps the box in editing, so it can be shortened.
  if (!FitComment(comment)) return;
  box_.SetWordWrap(false);
  wordWrap_ = false;
  controls_.SetControlChecked(S(rctl::kWordWrapItem), false);
  box_.SetWantReturns(false);
  box_.SetHint(S(rptmsg::kReportHint));
  box_.SetReadOnly(true);
  if (StoreComment(comment)) CommentText = ::CommentText(comment);
  ClearStatusBar();
  host_.SetControlAlarm(S(rctl::kSaveCommentButton), false);
}

void TRunReport::ReportToZIP1Click() {
  if (zip_.ZipName().empty()) {
    MbInfo(S(rptmsg::kNoArchiveToComment));
    return;
  }
  if (Spanned()) {
    MbInfo(S(rptmsg::kReportSpanned));
    return;
  }
  std::string comment = CommentText.toUtf8().toStdString() + LinesToComment(box_.Lines());
  if (!FitComment(comment)) return;
  if (StoreComment(comment)) CommentText.clear();
  box_.SetWordWrap(false);
  wordWrap_ = false;
  controls_.SetControlChecked(S(rctl::kWordWrapItem), false);
  ClearStatusBar();
}

void TRunReport::ClearComments1Click() {
  // A spanned or split archive is never rewritten for its comment.
  if (!zip_.ZipName().empty() && !Spanned() && StoreComment(std::string())) CommentText.clear();
  box_.Clear();
  ClearStatusBar();
}
