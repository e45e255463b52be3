#include "ui/passworddlg.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
QLineEdit* MaskedEdit(QWidget* parent, const char* name) {
  auto* e = new QLineEdit(parent);
  e->setObjectName(QString::fromLatin1(name));
  e->setEchoMode(QLineEdit::Password);
  e->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));  // "*"
  return e;
}
}  // namespace

TPasswordDlg::TPasswordDlg(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("PasswordDlg"));
  setWindowTitle(QString::fromLatin1(restore::passwordmsg::kCaption));
  setWindowFlags(Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setModal(true);
  auto* v = new QVBoxLayout(this);
  label_ = new QLabel(entry_.label, this);
  label_->setObjectName(QStringLiteral("PasswordLabel"));
  v->addWidget(label_);
  password_ = MaskedEdit(this, "Password");
  password2_ = MaskedEdit(this, "password2");
  v->addWidget(password_);
  v->addWidget(password2_);
  auto* h = new QHBoxLayout;
  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("OKBtn"));
  ok->setDefault(true);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  cancel->setObjectName(QStringLiteral("CancelBtn"));
  h->addStretch();
  h->addWidget(ok);
  h->addWidget(cancel);
  v->addLayout(h);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);  // Escape rejects as well
}

QString TPasswordDlg::password() const {
  return password_->text();
}

QString TPasswordDlg::labelText() const {
  return label_->text();
}

void TPasswordDlg::FromWidgets() {
  entry_.password = password_->text();
  entry_.password2 = password2_->text();
}

void TPasswordDlg::ToWidgets() {
  label_->setText(entry_.label);
  password_->setText(entry_.password);
  password2_->setText(entry_.password2);
  if (entry_.focusFirst) {
    password_->setFocus();
    password_->setCursorPosition(entry_.caretPosition);
  }
}

void TPasswordDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  password_->setFocus();
  password_->setCursorPosition(0);
}

void TPasswordDlg::done(int result) {
  FromWidgets();
  if (!entry_.CanClose()) {
    ToWidgets();
    return;
  }
  QDialog::done(result);
}

std::optional<QString> TPasswordDlg::Ask(QWidget* parent) {
  TPasswordDlg dlg(parent);
  if (dlg.exec() != QDialog::Accepted) return std::nullopt;
  return dlg.password();
}
