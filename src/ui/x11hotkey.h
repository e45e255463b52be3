// The global hotkey on X11: the key is grabbed on the root window (xcb_grab_key) for every
// keycode of its keysym and every state of Lock, NumLock and ScrollLock, and its presses are read
// from the application's native events.
#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QVector>
#include <cstdint>

#include "automation/hotkey.h"

// The X keysym of a virtual-key code of the hotkey table; 0 when none.
uint32_t KeysymOfVirtualKey(int virtualKey);

class TX11HotkeyGrab : public QObject, public IHotkeyGrab, public QAbstractNativeEventFilter {
  Q_OBJECT
 public:
  explicit TX11HotkeyGrab(QObject* parent = nullptr);
  ~TX11HotkeyGrab() override;

  bool Available() const override;
  bool Grab(int modifiers, int virtualKey) override;
  void Release() override;

  bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

 signals:
  void pressed();

 private:
  struct TGrab {
    uint8_t keycode;
    uint16_t mods;
  };
  QVector<TGrab> grabs_;
  QVector<uint8_t> keycodes_;
  uint16_t mods_ = 0;
  uint16_t ignored_ = 0;  // Lock, NumLock and ScrollLock
};
