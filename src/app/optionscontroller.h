// The option lists of the "Make" tab with their rules, the window modes and the expert view.
#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>

#include "app/optionlist.h"
#include "app/optionnames.h"

class IControlHost;
class IOptionEnvironment;
class IWindowModeHost;
class TPreferences;

// Every option list and size edit of the window, with its items and defaults.
class TOptionLists {
 public:
  TOptionLists();
  TOptionLists(const TOptionLists&) = delete;
  TOptionLists& operator=(const TOptionLists&) = delete;

  TOptionList sizeList;
  TOptionList compressionList;
  TOptionList modeList;
  TOptionList directoryList;
  TOptionList encryptionList;
  TOptionList functionsList;
  TOptionList basicList;
  TOptionList basicStampList;
  TOptionList basicSizeList;
  TOptionList stealthList;
  TOptionList viewList;
  TOptionList extractOptionList;
  TOptionList extractModeList;
  TOptionEdit maxSizeEdit;
  TOptionEdit firstDiskEdit;

  // The list with this name (nullptr when none).
  TOptionList* ByName(const QString& name);
};

class TOptionsController : public QObject {
  Q_OBJECT
 public:
  TOptionsController(TOptionLists& lists, TPreferences& prefs, IControlHost& host,
                     IOptionEnvironment& env, IWindowModeHost& modeHost, QObject* parent = nullptr);

  // Window modes: 0 idle, 1 archive open, 2 report, 3 make. Other values do nothing.
  void Setstate(int mode);
  int state() const { return state_; }
  // True while the window prepares a backup, false while it shows an archive.
  bool MakeMode() const { return makeMode_; }

  // The spanning rule: the directory list's spanning items follow the basic size list and the
  // archive's drive. Runs after a user change of the basic size list and for "&Modify Job".
  void SpanRule();

  // "Basic" / "Advanced" chosen by the user: applies the view and saves "Expert".
  void ExpertModeClick(bool advanced);
  // Shows the view of the "Expert" preference (after loading).
  void ApplyExpertView();
  bool Advanced() const;

  // The date-time stamp in a "DateTimeFormat" (0-3), e.g. "-2003-Jan-03_1535".
  static QString DateTimeStamp(int format, const QDateTime& when);
  // An archive name without extension and cut before its first "-20".
  static QString StampBase(const QString& archiveName);

 signals:
  // The archive view list changed ("VTreeDisplayMode").
  void viewModeChanged(int mode);

 private:
  void SizeListChanged(int i, ChangeOrigin origin);
  void CompressionListChanged(int i, ChangeOrigin origin);
  void ModeListChanged(int i, ChangeOrigin origin);
  void BasicListChanged(int i, ChangeOrigin origin);
  void DirectoryListChanged(int i, ChangeOrigin origin);
  void BasicSizeListChanged(int i, ChangeOrigin origin);
  void FunctionsListChanged(int i, ChangeOrigin origin);
  void BasicStampListChanged(int i, ChangeOrigin origin);
  void StealthListChanged(int i, ChangeOrigin origin);
  void ViewListChanged(int i, ChangeOrigin origin);
  void ExtractOptionListChanged(int i, ChangeOrigin origin);
  // Sets the three DateTimeStamp twins to on and renames the archive.
  void StampChanged(bool on);
  void ResetSizes();

  TOptionLists& l_;
  TPreferences& prefs_;
  IControlHost& host_;
  IOptionEnvironment& env_;
  IWindowModeHost& modeHost_;
  int state_ = 0;
  bool makeMode_ = false;
};
