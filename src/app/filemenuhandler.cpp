#include "app/filemenuhandler.h"

#include <QFileInfo>
#include <algorithm>

#include "app/checkstore.h"
#include "app/clock.h"
#include "app/mb.h"
#include "platform/inifile.h"
#include "platform/programdir.h"

namespace {

const char kSection[] = "RecentFiles";

bool FileExists(const QString& path) {
  const QFileInfo fi(path);
  return !path.isEmpty() && fi.exists() && !fi.isDir();
}

QChar KeyChar(int i) {
  return i < 9 ? QChar('1' + i) : QChar('A' + (i - 9));
}

}  // namespace

TFileMenuHandler::TFileMenuHandler(QObject* parent) : QObject(parent) {}

TFileMenuHandler::~TFileMenuHandler() {
  if (!loaded_) return;  // never loaded nor changed: the file stays as it is
  try {
    Save();
  } catch (const std::exception&) {
    // Nothing to tell at exit; the file was written at the last change.
  }
}

void TFileMenuHandler::SetMaxList(int n) {
  maxList_ = std::clamp(n, 1, kMaxListLimit);
  if (list_.size() > maxList_) {
    list_ = list_.mid(0, maxList_);
    Changed();
  }
}

QString TFileMenuHandler::HistoryPath() const {
  return PathText(ProgramDir()) + IniFileName;
}

QVector<TFileMenuHandler::MenuEntry> TFileMenuHandler::Entries() const {
  QVector<MenuEntry> out;
  if (!EnableMenuList) return out;
  for (int i = 0; i < list_.size(); ++i) {
    MenuEntry e;
    e.path = list_[i];
    e.key = KeyChar(i);
    // A "&" in the path is shown as itself, not taken for an accelerator.
    QString shown = e.path;
    shown.replace(QLatin1Char('&'), QStringLiteral("&&"));
    e.caption = AddShortcut ? QStringLiteral("&") + e.key + QLatin1Char(' ') + shown : shown;
    out.push_back(e);
  }
  return out;
}

void TFileMenuHandler::Save() const {
  IniFile ini(PathBytes(HistoryPath()));
  ini.EraseSection(kSection);
  for (int i = 0; i < list_.size(); ++i) {
    ini.WriteString(kSection, "File" + std::to_string(i), PathBytes(list_[i]));
  }
  ini.Save();
}

void TFileMenuHandler::EnsureLoaded() {
  if (loaded_) return;
  loaded_ = true;
  const IniFile ini(PathBytes(HistoryPath()));
  const std::vector<std::string> keys = ini.Keys(kSection);
  for (size_t i = 0; i < keys.size(); ++i) {
    const QString path = PathText(ini.ReadString(kSection, "File" + std::to_string(i), ""));
    if (!path.isEmpty() && !list_.contains(path)) list_ << path;
  }
}

void TFileMenuHandler::Changed() {
  EnsureLoaded();
  if (list_.size() > maxList_) list_ = list_.mid(0, maxList_);
  try {
    Save();
  } catch (const std::system_error& e) {
    MbMessage(QStringLiteral("Cannot write ") + HistoryPath() + QStringLiteral("\r") +
                  QString::fromLocal8Bit(e.what()),
              QStringLiteral("Arcavo"), false, MB_OK + MB_ICONEXCLAMATION);
  }
  emit MenuChanged();
}

void TFileMenuHandler::Load(const QStringList& arguments) {
  const IniFile ini(PathBytes(HistoryPath()));
  QStringList stored, fresh;
  const std::vector<std::string> keys = ini.Keys(kSection);
  for (size_t i = 0; i < keys.size(); ++i) {
    const std::string value = ini.ReadString(kSection, "File" + std::to_string(i), "");
    const QString path = PathText(value);
    stored << path;
    if (FileExists(path) && !fresh.contains(path)) fresh << path;
  }
  list_ = fresh;
  loaded_ = true;
  // The history is written back only when loading changed it (a file gone, a doubled entry, too
  // many entries, no history file yet): an unchanged list costs no write and fsync at each start.
  if (fresh == stored && fresh.size() <= maxList_ && QFileInfo::exists(HistoryPath())) {
    emit MenuChanged();
  } else {
    Changed();
  }
  if (ParamCountLook > 0 && ParamCountLook < arguments.size()) {
    const QString arg = arguments[ParamCountLook];
    if (FileExists(arg)) SetCurrentFile(arg);
  }
}

void TFileMenuHandler::SetCurrentFile(const QString& path) {
  const qsizetype at = list_.indexOf(path);
  if (at < 0) {
    list_.prepend(path);
  } else if (MoveToTop) {
    list_.move(at, 0);
  }
  FileChangedCaption = path;
  Changed();
  if (OnNewFormCaption) OnNewFormCaption(this, path);
}

bool TFileMenuHandler::Allowed(const QString& path) {
  return !OnOpen || OnOpen(this, path);
}

void TFileMenuHandler::NotFound(const QString& path) {
  QString text = NotFoundString;
  text.replace(QLatin1String("%s"), path);
  MbMessage(text, QString(), false, MB_OK + MB_ICONERROR);
}

void TFileMenuHandler::ChooseEntry(int index) {
  if (index < 0 || index >= list_.size()) return;
  const QString path = list_[index];
  if (!FileExists(path)) {
    NotFound(path);
    list_.removeAt(index);
    Changed();
    return;
  }
  if (Allowed(path)) SetCurrentFile(path);
}

QString TFileMenuHandler::Execute() {
  if (!OpenDialog) return {};
  const QString path = OpenDialog->OpenFile(DialogSpec);
  if (path.isEmpty()) return {};
  if (!FileExists(path)) {
    NotFound(path);
    return {};
  }
  if (!Allowed(path)) return {};
  const qsizetype at = list_.indexOf(path);
  if (at >= 0) list_.removeAt(at);
  list_.prepend(path);  // a file chosen in the dialog always goes to the top
  FileChangedCaption = path;
  Changed();
  if (OnNewFormCaption) OnNewFormCaption(this, path);
  return path;
}

void TFileMenuHandler::ClearHistory() {
  loaded_ = true;  // the file's entries go too
  list_.clear();
  EnableMenuList = false;
  Changed();
  Delay(100);
  EnableMenuList = true;
  emit MenuChanged();
}
