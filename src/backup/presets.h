// The mail and browser presets: where the Firefox and Thunderbird profiles live, which folders a
// preset ticks, and which files it leaves out while writing.
#pragma once

#include <QString>
#include <QStringList>

struct TMozillaFolders {
  QString firefox;
  QString thunderbird;
  bool found = false;  // at least one of the two exists
};

// The profile folders below home: the first existing of the usual, snap and flatpak places for
// each; a program that is not installed gets its usual place.
TMozillaFolders MozillaFolders(const QString& home);

// The folders preset kind (1-4) ticks, in order: kind 1 Firefox, then Thunderbird.
QStringList PresetFolders(int kind, const TMozillaFolders& folders);

// True when preset kind leaves out a file; below is its path below the ticked folder, starting
// with "/". Only that part is looked at, so a home folder named "mailroom" leaves nothing out.
bool PresetLeavesOut(int kind, const QString& below);

// The part of path below the first of folders that holds it ("/" + the rest); path itself when
// none does.
QString PathBelow(const QString& path, const QStringList& folders);

// The warning shown when neither profile folder exists.
QString MozillaNotFoundText();
// The hint shown once after a preset was applied.
QString PresetHintText();
