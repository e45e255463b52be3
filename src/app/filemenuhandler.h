// The recent-job list at the end of the "&File" menu: the most recently opened job and archive
// files, most recent first, kept in a small INI file in the program's folder (section
// "RecentFiles", keys File0, File1, ... in list order).
//
// The handler keeps the list and the file; it exposes the menu entries (caption and shortcut
// key) and the ui shows them as actions. The file is written every time the list changes, so
// entries added since the last load are never lost, and once more when the handler goes away.
// A handler whose list was never loaded (a run that ends before the window shows) leaves the
// file as it is; a change made before the load keeps the entries the file holds.
#pragma once

#include <QChar>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>
#include <functional>

#include "app/filedialoghost.h"

class TFileMenuHandler : public QObject {
  Q_OBJECT
 public:
  struct MenuEntry {
    QString caption;  // "&" + key + " " + path, with a "&" of the path doubled
    QChar key;        // '1'..'9', then 'A', 'B', ...: the Alt shortcut
    QString path;
  };
  static constexpr int kMaxListLimit = 35;

  explicit TFileMenuHandler(QObject* parent = nullptr);
  ~TFileMenuHandler() override;

  // Properties.
  QString IniFileName = QStringLiteral("Options.ini");  // in the program's folder
  QString NotFoundString = QStringLiteral("File %s not found.");
  QString FileChangedCaption;  // the file last made current
  bool AddShortcut = true;
  bool EnableMenuList = true;
  bool MoveToTop = true;
  int ParamCountLook = 1;  // the command-line argument opened at load, 0 = none
  int Tag = 0;             // 1 while the job opening runs the dialog through the handler
  IFileDialogHost* OpenDialog = nullptr;
  FileDialogSpec DialogSpec;  // how OpenDialog is shown
  // Asked whether a file may be opened (no function: yes).
  std::function<bool(TFileMenuHandler*, const QString&)> OnOpen;
  // Told the current file after it changed.
  std::function<void(TFileMenuHandler*, const QString&)> OnNewFormCaption;

  void SetMaxList(int n);
  int MaxList() const { return maxList_; }

  // The history file's full path (program folder + IniFileName).
  QString HistoryPath() const;
  const QStringList& List() const { return list_; }
  // The menu entries (none while EnableMenuList is off) and the separator before them.
  QVector<MenuEntry> Entries() const;
  bool SeparatorVisible() const { return EnableMenuList && !list_.isEmpty(); }

  // Loading when the window becomes visible: the list is read from the file, entries whose file
  // is gone are dropped; then the command-line argument ParamCountLook of arguments (argument 0
  // is the program) becomes the current file when it exists.
  void Load(const QStringList& arguments = {});
  // An entry of the menu was chosen.
  void ChooseEntry(int index);
  // The open dialog through the handler; returns the opened file ("" when none).
  QString Execute();
  // "&Clear History".
  void ClearHistory();
  // Makes a file the current one (top of the list) and tells OnNewFormCaption.
  void SetCurrentFile(const QString& path);
  // Writes the history file (erasing the section first).
  void Save() const;

 signals:
  // The entries changed (the ui rebuilds the menu).
  void MenuChanged();

 private:
  void Changed();
  bool Allowed(const QString& path);
  void NotFound(const QString& path);

  // Reads the file's entries into the list when that has not happened yet, so that writing the
  // list never drops what the file holds.
  void EnsureLoaded();

  QStringList list_;
  int maxList_ = 10;
  bool loaded_ = false;
};
