// The desktop's opener for addresses: "mailto:" goes to xdg-email where installed, everything
// else (and mail without xdg-email) to xdg-open; without either, Qt's desktop services try.
#pragma once

#include "app/urlopener.h"

class TXdgUrlOpener : public IUrlOpener {
 public:
  bool OpenUrl(const QString& url) override;
};

// The current opener (the desktop's unless a test replaced it).
IUrlOpener& CurrentUrlOpener();
// Replaces the current opener (nullptr restores the desktop's) and returns the one it replaced
// (nullptr for the desktop's). Not owned.
IUrlOpener* SetUrlOpener(IUrlOpener* opener);
