// The password dialog: the password typed twice into two masked edits. It closes (by "OK",
// "Cancel" or the close box) only when both edits hold the same text; otherwise it says "Not same
// password", empties both edits and stays open.
#pragma once

#include <QDialog>
#include <optional>

#include "restore/passwordentry.h"

class QLabel;
class QLineEdit;

class TPasswordDlg : public QDialog {
  Q_OBJECT
 public:
  explicit TPasswordDlg(QWidget* parent = nullptr);

  QString password() const;
  QString labelText() const;
  // Shows the dialog modally: the password on "OK", nothing on "Cancel".
  static std::optional<QString> Ask(QWidget* parent);

  void done(int result) override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  // The edits' texts into the rules, and the rules' state back into the widgets.
  void FromWidgets();
  void ToWidgets();

  restore::TPasswordEntry entry_;
  QLabel* label_ = nullptr;
  QLineEdit* password_ = nullptr;
  QLineEdit* password2_ = nullptr;
};
