#include "backup/naming.h"

#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>
#include <algorithm>
#include <cstdio>
#include <set>

#include "app/archivename.h"
#include "app/checkstore.h"
#include "app/clock.h"
#include "app/controlhost.h"
#include "app/mb.h"
#include "app/optionnames.h"
#include "app/optionscontroller.h"
#include "app/pathbytes.h"
#include "app/preferences.h"
#include "archive/arcunzip.h"
#include "backup/backuprun.h"
#include "backup/burncommands.h"
#include "backup/presets.h"

namespace {

QString S(const char* s) {
  return QString::fromLatin1(s);
}

// The folder part of a path without its trailing "/" ("/" for the root), "" when none.
QString FolderOf(const QString& path) {
  const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
  if (slash < 0) return {};
  return slash == 0 ? QStringLiteral("/") : path.left(slash);
}

QString FileNameOf(const QString& path) {
  return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QString WithSlash(const QString& folder) {
  return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

QString ChangeExtension(const QString& name, const QString& ext) {
  return name.left(name.size() - FileExtension(name).size()) + ext;
}

}  // namespace

uint32_t VersionFolderValue(const QDateTime& now) {
  const int64_t day = now.date().toJulianDay() - QDate(1, 1, 1).toJulianDay() + 1;
  const uint64_t v =
      (static_cast<uint64_t>(day) << 32) + static_cast<uint64_t>(now.time().msecsSinceStartOfDay());
  uint64_t q = v / 10000;
  const uint64_t r = v % 10000;
  if (r > 5000 || (r == 5000 && (q & 1))) ++q;
  return static_cast<uint32_t>(q & 0xFFFFFFFFu);
}

std::string VersionFolderName(uint32_t value) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "#%08X#/", value);
  return buf;
}

std::string MakeVerDIR(TArcUnZip& zip, const QDateTime& now,
                       const std::function<void(int, const std::string&)>& setEntryPath) {
  zip.ReadArchive();
  std::set<uint32_t> used;
  for (int i = 0; i < zip.EntryCount(); ++i)
    for (uint32_t v : VersionFolderValues(zip.EntryPath(i))) used.insert(v);
  uint32_t value = VersionFolderValue(now);
  while (used.count(value)) ++value;
  const std::string folder = VersionFolderName(value);
  for (int i = zip.EntryCount() - 1; i >= 0; --i) {
    const std::string path = zip.EntryPath(i);
    if (path.find("/#") != std::string::npos || path.find("#/") != std::string::npos) continue;
    setEntryPath(i, path + folder);
  }
  return folder;
}

// ---- The new-name dialog ------------------------------------------------------------------

TSaveDlgForm::TSaveDlgForm(QString title, const QString& proposal, bool presetMode)
    : title_(std::move(title)),
      text_(proposal.isEmpty() ? S(kDefaultText) : proposal),
      fileName_(FileNameOf(proposal)),
      preset_(presetMode),
      labelVisible_(proposal.endsWith(QLatin1Char('/'))) {}

void TSaveDlgForm::EditClicked() {
  if (text_ == QLatin1String(kDefaultText)) text_.clear();
}

void TSaveDlgForm::FolderClicked(const QString& folder) {
  text_ = WithSlash(folder) + fileName_;
}

void TSaveDlgForm::FileClicked(const QString& path) {
  text_ = path;
}

bool TSaveDlgForm::OkClick() {
  // A name that could not be kept in a settings file is refused here, where it is chosen.
  if (HasLineBreak(text_)) {
    MbInfo(QString::fromUtf8(kLineBreakInName));
    return false;
  }
  // A path typed in full after the proposed folder stands for itself.
  if (const qsizetype twice = text_.lastIndexOf(QLatin1String("//")); twice >= 0)
    text_ = text_.mid(twice + 1);
  if (!text_.contains(QLatin1Char('/'))) {
    MbInfo(S(kMustIncludeFolder));
    text_.clear();
    return false;
  }
  if (!preset_ && FileNameOf(text_).isEmpty()) {
    text_ = S(kIncorrectName);
    return false;
  }
  // The writer's root is no folder: the backup is staged for the disc.
  if (!burnerRoot_.isEmpty() && text_.startsWith(burnerRoot_)) return true;
  const QString folder = FolderOf(text_);
  const QFileInfo info(folder);
  if (!info.isDir()) {
    MbInfo(S(kNoFolder).arg(folder));
    return false;
  }
  if (::access(QFile::encodeName(folder).constData(), W_OK | X_OK) != 0) {
    MbInfo(S(kFolderReadOnly).arg(folder));
    return false;
  }
  return true;
}

QString INamingHost::HomeFolder() const {
  return QDir::homePath();
}

// ---- Naming a new archive -----------------------------------------------------------------

TNaming::TNaming(TBackupRun& run, TArcUnZip& zip, TOptionLists& lists, TPreferences& prefs,
                 TCheckStore& ticks, IControlHost& controls, IBackupDisplay& display,
                 IBackupProgram& program, INamingHost& host, QObject* parent)
    : QObject(parent),
      run_(run),
      zip_(zip),
      l_(lists),
      prefs_(prefs),
      ticks_(ticks),
      controls_(controls),
      display_(display),
      program_(program),
      host_(host) {}

void TNaming::ApplyPreset(int kind) {
  const TMozillaFolders folders = MozillaFolders(QDir::homePath());
  // The kind stays set: the preset's filter still applies to a selection made by hand.
  if (!folders.found) {
    MbMessage(MozillaNotFoundText(), QStringLiteral("Arcavo"), false, MB_ICONEXCLAMATION);
    return;
  }
  // The profiles live in hidden folders, and hold hidden files of their own: the tree lists
  // them before it is opened down to them.
  l_.directoryList.SetChecked(opt::kDirHidden, true);
  ticks_.Clear();
  const QStringList presetFolders = PresetFolders(kind, folders);
  for (const QString& folder : presetFolders) ticks_.SetChecked(PathBytes(folder), true);
  host_.BrowseTreeTo(presetFolders);
  l_.functionsList.SetChecked(opt::kFnStamp, true);
  if (host_.HintsOn() && !presetHintShown_) {
    MbInfo(PresetHintText());
    presetHintShown_ = true;
  }
}

bool TNaming::StampTicked() const {
  return l_.functionsList.Checked(opt::kFnStamp) || l_.basicStampList.Checked(0) ||
         l_.stealthList.Checked(opt::kStealthStamp);
}

void TNaming::NewZipButClick(NamingSender sender, int presetKind) {
  run_.SyncArchiveName();
  // 1. The date filter starts afresh.
  host_.ResetDateFilter();

  // 2. A preset's selection is not thrown away without asking.
  if (sender != NamingSender::Preset && !ticks_.Empty() && run_.PresetKind() > 0) {
    if (MbMessage(S(kPresetQuestion), QStringLiteral("Arcavo"), false,
                  MB_YESNO + MB_ICONQUESTION) == IDNO)
      return;
  }

  // 3.-6. A clean state. The archive named last keeps its folder for the proposal.
  const QString current = host_.FocusedTreePath();
  const bool currentIsFolder = !current.isEmpty() && QFileInfo(current).isDir();
  if (const QString named = FolderOf(run_.ZipName()); !named.isEmpty()) lastFolder_ = named;
  if (sender == NamingSender::NewZip || sender == NamingSender::NewZipMenu) {
    host_.LoadDefaultSettings();
    ticks_.Clear();
    zip_.CloseArchive();
  }
  controls_.SetControlEnabled(S(ctl::kStealthList), true);
  run_.SetExeMode(false);
  stealthDefineMode_ = false;
  host_.ClearDirMonitors();
  program_.Setstate(0);
  if (sender != NamingSender::ModifyJob) {
    zip_.CloseArchive();
  } else {
    const QString archiveFile = FileNameOf(run_.ZipName());
    if (current.isEmpty()) {
      lastNewName_ = run_.ZipName();
    } else if (currentIsFolder) {
      lastNewName_ = WithSlash(QStorageInfo(current).rootPath()) + archiveFile;
    } else {
      lastNewName_ = WithSlash(FolderOf(current)) + archiveFile;
    }
  }

  // 7. The proposal: the name accepted last; otherwise the folder of the archive named last, or
  // the home folder. Never the folder focused in the tree: that is what gets backed up, and an
  // archive inside its own source would take itself in.
  const int format = prefs_.Int(QStringLiteral("DateTimeFormat"));
  const QDateTime now = CurrentClock().Now();
  QString proposal;
  if (!lastNewName_.isEmpty())
    proposal = EXTNdatetime(0, lastNewName_, format, now);
  else if (!lastFolder_.isEmpty() && QFileInfo(lastFolder_).isDir())
    proposal = WithSlash(lastFolder_);
  else
    proposal = WithSlash(host_.HomeFolder());

  // 8. Title and extension.
  QString ext = QStringLiteral(".zip");
  QString title = QStringLiteral("New ZIPfile");
  if (sender == NamingSender::NewExe) {
    run_.SetExeMode(true);
    title = QStringLiteral("New EXEfile");
    ext = QStringLiteral(".exe");
  } else if (sender == NamingSender::Define) {
    title = QStringLiteral("Define StealthFile");
    stealthDefineMode_ = true;
  }

  // 9. The dialog; a preset names the archive after the preset.
  const bool preset = sender == NamingSender::Preset;
  if (preset) {
    static const char* const kPresetNames[] = {"TBFF", "TBmail", "TBprofile", "FFsettings"};
    const int kind = std::clamp(presetKind, 1, 4);
    run_.SetPresetKind(kind);
    lastNewName_ = S(kPresetNames[kind - 1]);
    const QString folder =
        proposal.endsWith(QLatin1Char('/')) ? proposal : WithSlash(FolderOf(proposal));
    proposal = folder + lastNewName_;
  }
  TSaveDlgForm form(title, proposal, preset);
  form.SetBurnerRoot(TBurnerSettings::Read(prefs_).drive);
  const std::optional<QString> accepted = host_.ShowSaveDialog(form);

  // 10. The answer.
  if (accepted) {
    lastNewName_ = ChangeExtension(*accepted, ext);
    if (stealthDefineMode_ && host_.BasicView()) {
      MbNoticeText(S(kDefineNotice), QStringLiteral("Arcavo"));
      Delay(4000);
      MbNoticeClose();
    }
  } else {
    lastNewName_.clear();
  }
  const QString chosen = lastNewName_;

  // 11./12. The new archive name.
  if (chosen.isEmpty()) {
    run_.SetPresetKind(0);
    return;
  }
  l_.firstDiskEdit.SetText(l_.firstDiskEdit.placeholder());
  QString name = chosen;
  if (sender == NamingSender::Define) {
    const QString folder = FolderOf(chosen);
    const QString file = FileNameOf(chosen);
    name = folder +
           (file.contains(QLatin1String("stealth_")) ? QStringLiteral("/")
                                                     : QStringLiteral("/stealth_")) +
           file;
    const qsizetype doubled = name.indexOf(QLatin1String("//"));
    if (doubled >= 0) name.remove(doubled, 1);
  }
  if (StampTicked()) {
    name = EXTNdatetime(1, name, format, now) +
           (run_.ExeMode() ? QStringLiteral(".EXE") : QStringLiteral(".ZIP"));
  }
  display_.ClearStatusBar();
  run_.SetArchiveName(name, true);
  lastFolder_ = FolderOf(name);
  program_.Setstate(3);
  // The reset of step 4 is not silent.
  if (sender == NamingSender::NewZip || sender == NamingSender::NewZipMenu)
    display_.StatusNote(S(kResetNote));
  if (preset) ApplyPreset(run_.PresetKind());
  if (sender == NamingSender::Define && host_.HintsOn()) {
    MbNoticeText(S(kDefineHint), QStringLiteral("Arcavo"));
    Delay(4000);
    MbNoticeClose();
  }
}

void TNaming::NameToFilename1Click() {
  host_.SetSearchText(host_.FocusedArchiveEntryName());
}
