// Program-wide preferences, kept in section "Options" of ProgramDir + "default.ini".
//
// Every preference is written into that file the moment it changes (Write), and read back when
// the default settings file is loaded (Read, in the order of Table()).
#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QVariant>
#include <QVector>

class IniFile;
class IControlHost;

class TPreferences : public QObject {
  Q_OBJECT
 public:
  enum Type { kBool, kInt, kText };
  struct KeyInfo {
    const char* key;
    Type type;
    QVariant def;  // the value when the key is missing
  };
  // The preference keys in reading order.
  static const QVector<KeyInfo>& Table();
  static const KeyInfo* Find(const QString& key);

  explicit TPreferences(QObject* parent = nullptr);

  QVariant Value(const QString& key) const;
  bool Bool(const QString& key) const { return Value(key).toBool(); }
  int Int(const QString& key) const { return Value(key).toInt(); }
  QString Text(const QString& key) const { return Value(key).toString(); }

  // Changes the value in memory only (loading).
  void Set(const QString& key, const QVariant& value);
  // Reads one key of section "Options" into memory (missing: the table's default).
  void Read(const IniFile& ini, const QString& key);
  // Changes the value and writes the key into the default file at once. A file that cannot be
  // written is reported in a box; the value in memory is kept. Returns true when saved.
  bool Write(const QString& key, const QVariant& value);
  // Several keys in one save of the default file: all of them are written, or (when the file
  // cannot be written, told in a box) none, and memory keeps its values then.
  bool Write(const QVector<QPair<QString, QVariant>>& values);

  // The one check mark of a menu item saved under its key.
  bool INIcheckedMenuItem(const QString& key, const IControlHost& host, const QString& item);

  // ProgramDir + "default.ini".
  static QString DefaultFile();
  // A settings file counts as the default file when its lower-cased full name contains
  // "default.ini" (so MYDEFAULT.INI does too).
  static bool IsDefaultFile(const QString& path);

 signals:
  void changed(const QString& key);

 private:
  QHash<QString, QVariant> values_;  // by lower-cased key
};
