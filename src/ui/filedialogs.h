// The program's open and save dialogs, as Qt file dialogs.
#pragma once

#include <QString>

#include "app/filedialoghost.h"

class QWidget;

class TQtFileDialogHost : public IFileDialogHost {
 public:
  explicit TQtFileDialogHost(QWidget* parent) : parent_(parent) {}
  QString OpenFile(const FileDialogSpec& spec) override;
  QString SaveFile(const FileDialogSpec& spec) override;

  // "Job Files (*.job)|*.JOB;*.CAT" as Qt's filter: "Job Files (*.job) (*.JOB *.job *.CAT
  // *.cat)". Patterns are given in both cases, as file names here are case-sensitive.
  static QString QtFilter(const QString& filter);

 private:
  QWidget* parent_;
};
