// The about box: the program's name and version, the versions of Qt and zlib it runs with, and
// its licence.
#pragma once

#include <QDialog>
#include <memory>

#include <QString>

// The licence as the package states it (the "License:" field of its Debian copyright file,
// built into the program): "Licence: " + the licence's name, then its text.
QString LicenceText();

// The about box, not yet shown.
std::unique_ptr<QDialog> CreateAboutDialog(QWidget* parent);

// Shows the about box modally; it is gone when this returns.
void ShowAboutDialog(QWidget* parent);
