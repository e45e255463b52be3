#include "ui/hotkeydialog.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

THotkeyEdit::THotkeyEdit(QWidget* parent) : QLineEdit(parent) {
  setObjectName(QStringLiteral("HotkeyEdit"));
}

bool THotkeyEdit::event(QEvent* event) {
  // Tab and Backtab are combinations too, not a move to the next control.
  if (event->type() == QEvent::KeyPress) {
    keyPressEvent(static_cast<QKeyEvent*>(event));
    return true;
  }
  return QLineEdit::event(event);
}

void THotkeyEdit::keyPressEvent(QKeyEvent* event) {
  const Qt::KeyboardModifiers m = event->modifiers();
  int modifiers = 0;
  if (m & Qt::MetaModifier) modifiers |= hotkey::kWin;
  if (m & Qt::ControlModifier) modifiers |= hotkey::kCtrl;
  if (m & Qt::ShiftModifier) modifiers |= hotkey::kShift;
  if (m & Qt::AltModifier) modifiers |= hotkey::kAlt;
  // A modifier key being pressed counts as held, whatever the platform reports with its press.
  switch (event->key()) {
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
      modifiers |= hotkey::kWin;
      break;
    case Qt::Key_Control:
      modifiers |= hotkey::kCtrl;
      break;
    case Qt::Key_Shift:
      modifiers |= hotkey::kShift;
      break;
    case Qt::Key_Alt:
      modifiers |= hotkey::kAlt;
      break;
    default:
      break;
  }
  const int key = VirtualKeyOfQtKey(event->key(), m & Qt::KeypadModifier);
  captured_ = {modifiers, key, HotkeyName(modifiers, key)};
  valid_ = HotkeyValid(modifiers, key);
  setText(captured_.name);
  event->accept();
  emit captureChanged(valid_);
}

TFrmHotkey::TFrmHotkey(const QString& name, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("FrmHotkey"));
  setWindowTitle(QStringLiteral("Hotkey Define"));
  setWindowFlag(Qt::WindowStaysOnTopHint, true);
  auto* v = new QVBoxLayout(this);
  v->addWidget(new QLabel(QStringLiteral("Hotkey: press desired Key Combo, then SET "), this));
  edit_ = new THotkeyEdit(this);
  edit_->setText(name);
  v->addWidget(edit_);
  auto* buttons = new QHBoxLayout;
  auto button = [this, buttons](const char* caption, const char* objectName) {
    auto* b = new QPushButton(QString::fromLatin1(caption), this);
    b->setObjectName(QString::fromLatin1(objectName));
    b->setAutoDefault(false);
    buttons->addWidget(b);
    return b;
  };
  set_ = button("Set", "HotkeySetBtn");
  cancel_ = button("Cancel", "HotkeyCancelBtn");
  forget_ = button("Forget", "HotkeyForgetBtn");
  set_->setEnabled(false);
  v->addLayout(buttons);
  connect(edit_, &THotkeyEdit::captureChanged, set_, &QPushButton::setEnabled);
  connect(set_, &QPushButton::clicked, this, [this] {
    result_ = IHotkeyDialog::Result::Set;
    accept();
  });
  connect(cancel_, &QPushButton::clicked, this, [this] {
    result_ = IHotkeyDialog::Result::Cancel;
    reject();
  });
  connect(forget_, &QPushButton::clicked, this, [this] {
    result_ = IHotkeyDialog::Result::Forget;
    reject();
  });
}

void TFrmHotkey::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen())
    move(s->availableGeometry().center() - rect().center());
  edit_->setFocus();
  edit_->end(false);
}

IHotkeyDialog::Result TQtHotkeyDialog::Run(const QString& name, THotkey& captured) {
  TFrmHotkey dialog(name, parent_);
  dialog.exec();
  if (dialog.result() == Result::Set) captured = dialog.captured();
  return dialog.result();
}
