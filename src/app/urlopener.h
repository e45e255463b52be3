// Handing an address to the desktop: a web page or a local page to the browser, a "mailto:"
// address to the mail program. The program's opener asks the desktop's tools; tests record.
#pragma once

#include <QString>

class IUrlOpener {
 public:
  virtual ~IUrlOpener() = default;
  // Hands url (already encoded) to the desktop; false when nothing could take it.
  virtual bool OpenUrl(const QString& url) = 0;
};
