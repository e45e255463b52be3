#include "app/preferences.h"

#include <system_error>

#include "app/controlhost.h"
#include "app/mb.h"
#include "platform/inifile.h"
#include "platform/programdir.h"

namespace {
const std::string kOptions = "Options";
}

const QVector<TPreferences::KeyInfo>& TPreferences::Table() {
  static const QVector<KeyInfo> table = {
      {"CatDIR", kBool, true},
      {"GFindDIR", kText, QString()},
      {"ClrDisk", kInt, 0},
      {"StartMinimised", kBool, false},
      {"BurnerDrive", kText, QString()},
      {"Burner", kText, QString()},
      {"BurnerSpeed", kInt, 0},
      {"BurnerFinal", kBool, false},
      {"Native", kBool, true},
      {"BurnerSizingAuto", kBool, true},
      {"BurnerRockRidge", kBool, true},  // read when present, never written by the dialog
      {"HotKeyNames", kText, QString()},
      {"HotKeyFunc#", kInt, 0},
      {"HotKeyVK#", kInt, 0},
      {"Expert", kBool, false},
      {"StealthEnabled", kBool, true},
      {"Hints", kBool, true},
      {"DisplayEmptyDIR", kBool, true},
      {"Themes", kBool, true},
      {"SchedBUPrompt", kBool, true},
      {"LargeFonts", kBool, false},
      {"QuickSearch", kBool, true},
      {"VTreeDisplayMode", kInt, 0},
      {"ArchiveSortBy", kInt, 0},
      {"StealthMinimizeOnLoad", kBool, true},
      {"TempDIR", kText, QString()},
      {"CheckTempSpace", kBool, true},
      {"PromptSkipOpenFiles", kBool, true},
      {"FullReport", kBool, true},
      {"StealthZIP", kBool, true},
      {"MinToTray", kBool, false},
      {"StealthARen", kBool, true},
      {"DateTimeFormat", kInt, 0},
      // A good run nobody started by hand is told on the desktop too (failures always are).
      {"NotifySuccess", kBool, false},
      // Extraction recreates every symbolic link as stored, wherever it points.
      {"ExtractLinksAsStored", kBool, false},
  };
  return table;
}

const TPreferences::KeyInfo* TPreferences::Find(const QString& key) {
  for (const KeyInfo& s : Table())
    if (key.compare(QLatin1String(s.key), Qt::CaseInsensitive) == 0) return &s;
  return nullptr;
}

TPreferences::TPreferences(QObject* parent) : QObject(parent) {
  for (const KeyInfo& s : Table()) values_.insert(QString::fromLatin1(s.key).toLower(), s.def);
  values_.insert(QStringLiteral("dirmon"), false);
}

QVariant TPreferences::Value(const QString& key) const {
  return values_.value(key.toLower());
}

void TPreferences::Set(const QString& key, const QVariant& value) {
  values_.insert(key.toLower(), value);
}

void TPreferences::Read(const IniFile& ini, const QString& key) {
  const KeyInfo* s = Find(key);
  if (!s) return;
  const std::string k = key.toStdString();
  switch (s->type) {
    case kBool:
      Set(key, ini.ReadBool(kOptions, k, s->def.toBool()));
      break;
    case kInt:
      Set(key, static_cast<int>(ini.ReadInteger(kOptions, k, s->def.toInt())));
      break;
    case kText:
      Set(key,
          QString::fromStdString(ini.ReadString(kOptions, k, s->def.toString().toStdString())));
      break;
  }
}

namespace {

void WriteValue(IniFile& ini, const QString& key, const QVariant& value) {
  const std::string k = key.toStdString();
  switch (value.typeId()) {
    case QMetaType::Bool:
      ini.WriteBool(kOptions, k, value.toBool());
      break;
    case QMetaType::Int:
    case QMetaType::LongLong:
      ini.WriteInteger(kOptions, k, value.toLongLong());
      break;
    default:
      ini.WriteString(kOptions, k, value.toString().toStdString());
      break;
  }
}

}  // namespace

bool TPreferences::Write(const QVector<QPair<QString, QVariant>>& values) {
  try {
    IniFile ini(DefaultFile().toStdString());
    for (const auto& [key, value] : values) WriteValue(ini, key, value);
    ini.Save();
  } catch (const std::system_error& e) {
    MbMessage(QStringLiteral("Settings not saved: ") + QString::fromLocal8Bit(e.what()),
              QStringLiteral("Arcavo"), false, MB_ICONEXCLAMATION);
    return false;
  }
  for (const auto& [key, value] : values) {
    Set(key, value);
    emit changed(key);
  }
  return true;
}

bool TPreferences::Write(const QString& key, const QVariant& value) {
  Set(key, value);
  bool saved = true;
  try {
    IniFile ini(DefaultFile().toStdString());
    WriteValue(ini, key, value);
    ini.Save();
  } catch (const std::system_error& e) {
    saved = false;
    MbMessage(QStringLiteral("Settings not saved: ") + QString::fromLocal8Bit(e.what()),
              QStringLiteral("Arcavo"), false, MB_ICONEXCLAMATION);
  }
  emit changed(key);
  return saved;
}

bool TPreferences::INIcheckedMenuItem(const QString& key, const IControlHost& host,
                                      const QString& item) {
  return Write(key, host.ControlChecked(item));
}

QString TPreferences::DefaultFile() {
  return QString::fromStdString(ProgramDir()) + QStringLiteral("default.ini");
}

bool TPreferences::IsDefaultFile(const QString& path) {
  return path.toLower().contains(QStringLiteral("default.ini"));
}
