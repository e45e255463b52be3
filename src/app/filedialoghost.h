// What the logic asks of the screen's file dialogs: an open and a save dialog. The window
// implements it with Qt dialogs; tests answer from a script.
#pragma once

#include <QString>

struct FileDialogSpec {
  QString title;
  QString filter;      // "Job Files (*.job)|*.JOB;*.CAT": description|patterns pairs
  QString initialDir;  // folder to start in ("" for the dialog's choice)
  QString fileName;    // proposed file (save dialog)
};

class IFileDialogHost {
 public:
  virtual ~IFileDialogHost() = default;
  // The chosen file, or "" when the dialog was cancelled.
  virtual QString OpenFile(const FileDialogSpec& spec) = 0;
  virtual QString SaveFile(const FileDialogSpec& spec) = 0;
};
