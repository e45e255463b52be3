// The hotkey dialog: captures one key combination for the global hotkey.
#pragma once

#include <QDialog>
#include <QLineEdit>

#include "automation/hotkey.h"

class QPushButton;

// The edit that captures combinations: each key press shows its readable name; typed characters
// never reach the text.
class THotkeyEdit : public QLineEdit {
  Q_OBJECT
 public:
  explicit THotkeyEdit(QWidget* parent = nullptr);
  const THotkey& captured() const { return captured_; }
  bool valid() const { return valid_; }

 signals:
  void captureChanged(bool valid);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  bool event(QEvent* event) override;

 private:
  THotkey captured_;
  bool valid_ = false;
};

class TFrmHotkey : public QDialog {
  Q_OBJECT
 public:
  explicit TFrmHotkey(const QString& name, QWidget* parent = nullptr);

  // How the dialog closed; a window closed without a button counts as "Cancel".
  IHotkeyDialog::Result result() const { return result_; }
  // The combination shown when "Set" was pressed.
  const THotkey& captured() const { return edit_->captured(); }
  THotkeyEdit* edit() const { return edit_; }
  QPushButton* setButton() const { return set_; }
  QPushButton* cancelButton() const { return cancel_; }
  QPushButton* forgetButton() const { return forget_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  THotkeyEdit* edit_ = nullptr;
  QPushButton* set_ = nullptr;
  QPushButton* cancel_ = nullptr;
  QPushButton* forget_ = nullptr;
  IHotkeyDialog::Result result_ = IHotkeyDialog::Result::Cancel;
};

// The dialog as THotkeyDefine runs it.
class TQtHotkeyDialog : public IHotkeyDialog {
 public:
  explicit TQtHotkeyDialog(QWidget* parent) : parent_(parent) {}
  Result Run(const QString& name, THotkey& captured) override;

 private:
  QWidget* parent_;
};
