#include "backup/appziphost.h"

#include <QCoreApplication>
#include <QString>
#include <chrono>

#include "app/clock.h"
#include "app/mb.h"

int TAppZipHost::MessageBox(int, const std::string& title, const std::string& text,
                            uint32_t flags) {
  // The engine's button and icon flags have the values of the program's MB_ constants.
  return MbMessage(QString::fromStdString(text), QString::fromStdString(title), false,
                   static_cast<int>(flags));
}

bool TAppZipHost::ProcessMessages() {
  // The engine asks between any two files; pending events are dispatched at most every few
  // milliseconds, so a run of many small files does not spend its time in the event loop.
  const auto now = std::chrono::steady_clock::now();
  if (now - lastDispatch_ >= kDispatchInterval && QCoreApplication::instance()) {
    QCoreApplication::processEvents();
    lastDispatch_ = std::chrono::steady_clock::now();
  }
  return MbTerminating();
}

void TAppZipHost::Sleep(int milliseconds) {
  Delay(milliseconds);
}
