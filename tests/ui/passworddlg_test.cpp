#include "ui/passworddlg.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

TEST(PasswordDlg, ClosesOnlyWithTwoEqualTexts) {
  TPasswordDlg dlg;
  dlg.show();
  EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Password Dialog"));
  EXPECT_EQ(dlg.labelText(), QStringLiteral("Enter same password twice:"));
  auto* first = dlg.findChild<QLineEdit*>(QStringLiteral("Password"));
  auto* second = dlg.findChild<QLineEdit*>(QStringLiteral("password2"));
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->echoMode(), QLineEdit::Password);

  // "Cancel" with different texts: the dialog stays open and says so.
  first->setText(QStringLiteral("secret"));
  second->setText(QStringLiteral("other"));
  dlg.findChild<QPushButton*>(QStringLiteral("CancelBtn"))->click();
  EXPECT_TRUE(dlg.isVisible());
  EXPECT_EQ(dlg.labelText(), QStringLiteral("Not same password"));
  EXPECT_TRUE(first->text().isEmpty());
  EXPECT_TRUE(second->text().isEmpty());

  first->setText(QStringLiteral("secret"));
  second->setText(QStringLiteral("secret"));
  dlg.findChild<QPushButton*>(QStringLiteral("OKBtn"))->click();
  EXPECT_FALSE(dlg.isVisible());
  EXPECT_EQ(dlg.result(), QDialog::Accepted);
  EXPECT_EQ(dlg.password(), QStringLiteral("secret"));
}
