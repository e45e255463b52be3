// Whether the texts of a shown window show in full: captions of labels, buttons, group boxes,
// tabs and column headers, the texts of edits and combo boxes, and every option-list item.
// Shared by the layout test and the screenshot tool.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

class QWidget;

// Every text of a visible control below window (and window itself) that does not show in full,
// as "<control> \"<text>\": needs N px, has M". Tab and header captions that the toolkit would
// draw shortened with "…" count as not in full. firstOnly: stop at the first.
QStringList ClippedTexts(const QWidget* window, bool firstOnly = false);

// The first of them, or empty.
inline QString FirstClipped(const QWidget* window) {
  return ClippedTexts(window, true).value(0);
}

// The window's dialogs, each built the way the program builds it, with the longest texts it
// shows. make returns a new top-level dialog owned by the caller, not yet shown; window is its
// parent (the main window). A dialog added to the program is one more row of DialogCases().
struct TDialogCase {
  const char* name;  // also the screenshot's file name
  std::function<QWidget*(QWidget* window)> make;
};
const std::vector<TDialogCase>& DialogCases();
