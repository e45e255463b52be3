// The one global hotkey: its codes, its readable name, "Define HotKey" and its registration.
//
// A hotkey is kept as the modifier flags (ALT 1, CTRL 2, SHIFT 4, WIN 8) and a virtual-key code
// of the table below, as "HotKeyFunc#" and "HotKeyVK#" in "default.ini", with the readable name
// in "HotKeyNames". The window's keys (Qt key codes) are turned into these codes, and the grab
// turns them into the desktop's keys, so the stored values mean the same on every desktop.
#pragma once

#include <QString>
#include <functional>

class TPreferences;

namespace hotkey {
enum Modifier : int { kAlt = 1, kCtrl = 2, kShift = 4, kWin = 8 };
}

struct THotkey {
  int modifiers = 0;
  int key = 0;  // virtual-key code, 0 for none
  QString name;
};

// The key's name by its virtual-key code ("F5", "NUMPAD 0", ";"); "" for a key without one.
QString HotkeyKeyName(int virtualKey);
// The virtual-key code of a Qt key (keypad: the key came from the numeric keypad); 0 when the
// key has no code here.
int VirtualKeyOfQtKey(int qtKey, bool keypad);
// "WINKEY+", "CTRL+", "SHIFT+", "ALT+" for the flags set, in this order, then the key's name.
QString HotkeyName(int modifiers, int virtualKey);
// A combination is valid with at least one modifier and a named key.
bool HotkeyValid(int modifiers, int virtualKey);

// The global grab of the hotkey. Only one hotkey is ever grabbed.
class IHotkeyGrab {
 public:
  virtual ~IHotkeyGrab() = default;
  // The desktop lets a program grab keys for itself (an X11 session).
  virtual bool Available() const = 0;
  // Grabs the combination in place of any grabbed before; false when another program holds it.
  virtual bool Grab(int modifiers, int virtualKey) = 0;
  virtual void Release() = 0;
};

// The hotkey dialog: shows name, captures a combination.
class IHotkeyDialog {
 public:
  enum class Result { Set, Cancel, Forget };
  virtual ~IHotkeyDialog() = default;
  // captured receives the combination shown when the dialog closed with Set.
  virtual Result Run(const QString& name, THotkey& captured) = 0;
};

class THotkeyDefine {
 public:
  static constexpr const char* kNoGrab =
      "This desktop does not let a program take keys for itself.\rBind the keys you want in the "
      "desktop's keyboard settings to the command\r    arcavo --stealth-now\rwhich runs the "
      "hotkey backup in the running program.";

  THotkeyDefine(TPreferences& prefs, IHotkeyGrab& grab, IHotkeyDialog& dialog)
      : prefs_(prefs), grab_(grab), dialog_(dialog) {}

  // Stores the three keys ("HotKeyNames", "HotKeyFunc#", "HotKeyVK#") in the default file.
  std::function<void(const QString& name, int modifiers, int key)> store;

  // "Define HotKey".
  void DefineHotKeyClick();
  // The default file was loaded: a named hotkey is grabbed (quietly refused when taken).
  void Load();
  bool Grabbed() const { return grabbed_; }

 private:
  bool GrabOrSay(int modifiers, int key, const QString& name);

  TPreferences& prefs_;
  IHotkeyGrab& grab_;
  IHotkeyDialog& dialog_;
  bool grabbed_ = false;
};
