// Start at log-on: the desktop's autostart entry $XDG_CONFIG_HOME/autostart/<name>.desktop
// (~/.config/autostart when the variable is unset or not absolute) starts the program, plainly
// or with a stealth job, when the user logs on. The "StartUp" and "Stealth@StartUp" menu items
// write and delete it.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class IControlHost;
class IFileDialogHost;

// The value of a desktop entry's Exec key for these arguments: each one in double quotes with
// '"', '`', '$' and '\' escaped by a backslash, '%' doubled, and the result escaped once more as
// a desktop entry string ('\' as "\\", line breaks and tabs as "\n", "\r", "\t"), so that a path
// holding a blank or a shell character starts this program and nothing else.
QString DesktopExecValue(const QStringList& args);
// The arguments of an Exec value (the reverse of DesktopExecValue; unquoted arguments are split
// at blanks). Empty when the value is empty; nullopt when its quoting is broken.
std::optional<QStringList> DesktopExecArguments(const QString& value);
// The autostart entry's path for name.
QString AutostartEntryPath(const QString& name);

// mode 0: writes the entry starting args (the program path, optionally a job path), atomically;
// returns 0, or -1 when it could not be written. mode 1: deletes it; 0, or -1 when it stays.
// mode 2: reads it: 0 absent, empty or unreadable, 1 a stealth start (the program with a job),
// 2 a plain start.
int RunOnStartup(int mode, const QString& name, const QStringList& args = {});

class TLogonStart {
 public:
  static constexpr const char* kEntryName = "ArcavoStealth";
  static constexpr const char* kRemoveStealth =
      "You already have Stealth@Startup checked\rClick YES if you want to remove Stealth Mode";
  static constexpr const char* kStartMinimised = "Start Minimised?";
  static constexpr const char* kStealthQuestion = "You want Stealth to start when you log in?";
  static constexpr const char* kDialogTitle = "Open Existing Stealth Job File";
  static constexpr const char* kJobFilter =
      "Job Files (*.job)|stealth_*.job;STEALTH_*.job;stealth_*.CAT;STEALTH_*.CAT";

  TLogonStart(IControlHost& controls, IFileDialogHost& dialogs, QString programPath)
      : controls_(controls), dialogs_(dialogs), program_(std::move(programPath)) {}

  // "Start Minimised" toggled and saved (the preference handler of the window).
  std::function<void()> toggleStartMinimised;
  // The folder the stealth job dialog starts in.
  std::function<QString()> jobFolder;

  // "StartUp" and "Stealth@StartUp".
  void StartUpClick();
  void StealthAtStartUpClick();
  // What the entry says now: 0 none, 1 plain start, 2 stealth start (the settings' numbering).
  static int Registration();

 private:
  bool Write(const QStringList& args);
  void Delete();

  IControlHost& controls_;
  IFileDialogHost& dialogs_;
  QString program_;
};
