#include "automation/hotkey.h"

#include <Qt>

#include "app/mb.h"
#include "app/preferences.h"

QString HotkeyKeyName(int vk) {
  static const char* const kNav[] = {"PAGEUP", "PAGEDOWN", "END",   "HOME",
                                     "LEFT",   "UP",       "RIGHT", "DOWN"};
  static const char* const kPad[] = {"MULTIPLY", "ADD", nullptr, "SUBTRACT", "DECIMAL", "DIVIDE"};
  switch (vk) {
    case 8:
      return QStringLiteral("BACKSPACE");
    case 9:
      return QStringLiteral("TAB");
    case 13:
      return QStringLiteral("ENTER");
    case 19:
      return QStringLiteral("PAUSE");
    case 27:
      return QStringLiteral("ESCAPE");
    case 32:
      return QStringLiteral("SPACE");
    case 42:
      return QStringLiteral("PRINT");
    case 45:
      return QStringLiteral("INSERT");
    case 46:
      return QStringLiteral("DELETE");
    case 144:
      return QStringLiteral("NUMLOCK");
    default:
      break;
  }
  if (vk >= 33 && vk <= 40) return QString::fromLatin1(kNav[vk - 33]);
  if ((vk >= 48 && vk <= 57) || (vk >= 65 && vk <= 90)) return QString(QChar(vk));
  if (vk >= 96 && vk <= 105) return QStringLiteral("NUMPAD ") + QChar('0' + vk - 96);
  if (vk >= 106 && vk <= 111 && kPad[vk - 106]) return QString::fromLatin1(kPad[vk - 106]);
  if (vk >= 112 && vk <= 123) return QStringLiteral("F") + QString::number(vk - 111);
  if (vk >= 186 && vk <= 192) return QString(QChar(";=,-./`"[vk - 186]));
  if (vk >= 219 && vk <= 222) return QString(QChar("[\\]'"[vk - 219]));
  return QString();
}

int VirtualKeyOfQtKey(int key, bool keypad) {
  if (keypad) {
    if (key >= Qt::Key_0 && key <= Qt::Key_9) return 96 + key - Qt::Key_0;
    switch (key) {
      case Qt::Key_Asterisk:
        return 106;
      case Qt::Key_Plus:
        return 107;
      case Qt::Key_Minus:
        return 109;
      case Qt::Key_Period:
      case Qt::Key_Comma:
        return 110;
      case Qt::Key_Slash:
        return 111;
      case Qt::Key_Enter:
        return 13;
      default:
        break;  // keypad navigation keys below
    }
  }
  if (key >= Qt::Key_0 && key <= Qt::Key_9) return 48 + key - Qt::Key_0;
  if (key >= Qt::Key_A && key <= Qt::Key_Z) return 65 + key - Qt::Key_A;
  if (key >= Qt::Key_F1 && key <= Qt::Key_F12) return 112 + key - Qt::Key_F1;
  switch (key) {
    case Qt::Key_Backspace:
      return 8;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
      return 9;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return 13;
    case Qt::Key_Pause:
      return 19;
    case Qt::Key_Escape:
      return 27;
    case Qt::Key_Space:
      return 32;
    case Qt::Key_PageUp:
      return 33;
    case Qt::Key_PageDown:
      return 34;
    case Qt::Key_End:
      return 35;
    case Qt::Key_Home:
      return 36;
    case Qt::Key_Left:
      return 37;
    case Qt::Key_Up:
      return 38;
    case Qt::Key_Right:
      return 39;
    case Qt::Key_Down:
      return 40;
    case Qt::Key_Print:
      return 42;
    case Qt::Key_Insert:
      return 45;
    case Qt::Key_Delete:
      return 46;
    case Qt::Key_NumLock:
      return 144;
    case Qt::Key_Semicolon:
    case Qt::Key_Colon:
      return 186;
    case Qt::Key_Equal:
    case Qt::Key_Plus:
      return 187;
    case Qt::Key_Comma:
    case Qt::Key_Less:
      return 188;
    case Qt::Key_Minus:
    case Qt::Key_Underscore:
      return 189;
    case Qt::Key_Period:
    case Qt::Key_Greater:
      return 190;
    case Qt::Key_Slash:
    case Qt::Key_Question:
      return 191;
    case Qt::Key_QuoteLeft:
    case Qt::Key_AsciiTilde:
      return 192;
    case Qt::Key_BracketLeft:
    case Qt::Key_BraceLeft:
      return 219;
    case Qt::Key_Backslash:
    case Qt::Key_Bar:
      return 220;
    case Qt::Key_BracketRight:
    case Qt::Key_BraceRight:
      return 221;
    case Qt::Key_Apostrophe:
    case Qt::Key_QuoteDbl:
      return 222;
    default:
      return 0;
  }
}

QString HotkeyName(int modifiers, int vk) {
  QString name;
  if (modifiers & hotkey::kWin) name += QStringLiteral("WINKEY+");
  if (modifiers & hotkey::kCtrl) name += QStringLiteral("CTRL+");
  if (modifiers & hotkey::kShift) name += QStringLiteral("SHIFT+");
  if (modifiers & hotkey::kAlt) name += QStringLiteral("ALT+");
  return name + HotkeyKeyName(vk);
}

bool HotkeyValid(int modifiers, int vk) {
  return (modifiers & 15) != 0 && !HotkeyKeyName(vk).isEmpty();
}

bool THotkeyDefine::GrabOrSay(int modifiers, int key, const QString& name) {
  grabbed_ = grab_.Grab(modifiers, key);
  if (!grabbed_)
    MbMessage(QStringLiteral("Hotkey ") + name + QStringLiteral(" is used by another program"),
              QStringLiteral("Arcavo"), false, MB_ICONEXCLAMATION);
  return grabbed_;
}

void THotkeyDefine::DefineHotKeyClick() {
  if (!grab_.Available()) {
    MbInfo(QString::fromLatin1(kNoGrab));
    return;
  }
  THotkey captured;
  switch (dialog_.Run(prefs_.Text(QStringLiteral("HotKeyNames")), captured)) {
    case IHotkeyDialog::Result::Cancel:
      // Nothing changes: the three keys and the grab stay as they were.
      return;
    case IHotkeyDialog::Result::Forget:
      grab_.Release();
      grabbed_ = false;
      if (store) store(QString(), 0, 0);
      return;
    case IHotkeyDialog::Result::Set:
      break;
  }
  if (!HotkeyValid(captured.modifiers, captured.key)) return;
  const QString name = HotkeyName(captured.modifiers, captured.key);
  GrabOrSay(captured.modifiers, captured.key, name);
  if (store) store(name, captured.modifiers, captured.key);
}

void THotkeyDefine::Load() {
  const QString name = prefs_.Text(QStringLiteral("HotKeyNames"));
  const int modifiers = prefs_.Int(QStringLiteral("HotKeyFunc#"));
  const int key = prefs_.Int(QStringLiteral("HotKeyVK#"));
  if (name.isEmpty() || !grab_.Available() || !HotkeyValid(modifiers, key)) return;
  GrabOrSay(modifiers, key, name);
}
