#include "backup/appziphost.h"

#include <QCoreApplication>
#include <QString>

#include "app/clock.h"
#include "app/mb.h"

int TAppZipHost::MessageBox(int, const std::string& title, const std::string& text,
                            uint32_t flags) {
  // The engine's button and icon flags have the values of the program's MB_ constants.
  return MbMessage(QString::fromStdString(text), QString::fromStdString(title), false,
                   static_cast<int>(flags));
}

bool TAppZipHost::ProcessMessages() {
  if (QCoreApplication::instance()) QCoreApplication::processEvents();
  return MbTerminating();
}

void TAppZipHost::Sleep(int milliseconds) {
  Delay(milliseconds);
}
