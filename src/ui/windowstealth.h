// The window's side of stealth mode, the hotkey backup and the instant backup: TStealth over the
// window's engine (ArcZip1), the explorer's ticks, the inclusion grid, the option lists, the
// general timer (Timer1) and the tray icon, plus the "Stealth" menu's check items.
//
// Each stealth pass and instant write runs in its own engine session: the stealth settings are
// put on the engine for that write only and the engine's idle state comes back after it, so no
// other operation inherits them.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

#include "automation/stealth.h"
#include "ui/bindings.h"

class IStartupSeams;
class ITrayHost;
class TMainform;

class TWindowStealth : public QObject, public IStealthHost {
  Q_OBJECT
 public:
  TWindowStealth(TMainform& form, IStartupSeams& startup);
  ~TWindowStealth() override;

  TStealth& logic() { return stealth_; }

  // The menu's check items ("Enable", "StealthExclZIP", "AutoRenameOnSize", "MinimizeOnLoad"),
  // each saved in the default settings when its mark changes, and the general timer's ticks,
  // which go to the countdown.
  TBindings Bindings();

  // The monitors' start and stop for the tray's "Pause"/"Resume" and the way to and from it.
  void MonitorsStopStart(bool start) { stealth_.DirMonArrayStopStart(start); }
  bool HasMonitors() const { return stealth_.MonitorCount() > 0; }

  // Test seams: the general timer and Delay run this many times faster than asked (1 in the
  // program), and the modifier keys come from here when set.
  int speedUp = 1;
  std::function<Qt::KeyboardModifiers()> modifiers;

  // IStealthHost
  QObject* NoticeCancelTarget() override;
  QString ArchiveName() const override;
  QStringList TickedPaths() override;
  bool StealthExclZip() const override;
  bool MonitorSubDirectories() const override;
  bool JobRecursion() const override;
  bool MoveThenDelete() const override;
  void SetStealthListEnabled(bool enabled) override;
  void SetIncludeList(const QStringList& paths) override { include_ = paths; }
  void CheckAddVersioning() override;
  void SetAutoRunFile(const QString& file) override;
  void SetArchiveName(const QString& name) override;
  bool ArchiveBusy() const override;
  bool ArchiveHasEntries() const override;
  bool ArchiveExists() const override;
  void ConfigureEngine(const TStealthEngineSettings& settings) override { settings_ = settings; }
  void OpenArchive() override;
  void MakeVersionFolder() override { versionDue_ = true; }
  QString AddFiles(const QStringList& files) override;
  bool WindowHidden() const override;
  void Minimise() override;
  void SetTrayStealth(bool running) override;
  void TrayAnimation(bool on) override;
  void ClearStatusBar() override;
  void Delay(int ms) override;
  void StartGeneralTimer(int intervalMs) override;
  void StopGeneralTimer() override;
  bool GeneralTimerActive() const override;
  bool ControlHeld() const override;
  bool ShiftHeld() const override;

 private:
  // A check item of the "Stealth" menu was clicked: wasChecked is its mark before the click,
  // decide gives the new one; a changed mark is saved under key.
  void MenuToggle(const char* item, const char* key, bool wasChecked,
                  const std::function<bool(bool)>& decide);
  ITrayHost* Tray() const;
  Qt::KeyboardModifiers Modifiers() const;

  TMainform& form_;
  IStartupSeams& startup_;
  TStealth stealth_;
  TStealthEngineSettings settings_;
  QStringList include_;
  // The next write first moves the archive's entries into a new version folder.
  bool versionDue_ = false;
};
