// The about box: the program's name and version, the versions of Qt and zlib it runs with, and
// its licence.
#pragma once

#include <QDialog>
#include <memory>

// The licence line of the about box. A placeholder until the licence is announced.
inline constexpr const char* kLicenceLine = "Licence: to be announced by the owner";

// The about box, not yet shown.
std::unique_ptr<QDialog> CreateAboutDialog(QWidget* parent);

// Shows the about box modally; it is gone when this returns.
void ShowAboutDialog(QWidget* parent);
