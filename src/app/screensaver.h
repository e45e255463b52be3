// Holds off the screen saver and monitor power-down while the window is in front, through the
// freedesktop ScreenSaver service on the session bus when that service exists.
#pragma once

#include <QDBusConnection>
#include <QString>

class ScreenSaverInhibitor {
 public:
  static constexpr const char* kService = "org.freedesktop.ScreenSaver";
  static constexpr const char* kPath = "/org/freedesktop/ScreenSaver";

  explicit ScreenSaverInhibitor(QDBusConnection bus = QDBusConnection::sessionBus());
  ~ScreenSaverInhibitor();

  // Inhibits (true) or releases (false); repeated calls with the same value do nothing.
  void SetInhibited(bool on);
  bool inhibited() const { return cookie_ != 0; }

 private:
  QDBusConnection bus_;
  uint cookie_ = 0;
};
