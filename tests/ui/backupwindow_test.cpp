#include "ui/backupwindow.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "app/pathbytes.h"
#include "qt_scriptedhost.h"
#include "testutil.h"

TEST(PasswordDlg, ClosesOnlyWhenBothEditsAgree) {
  TPasswordDlg dlg;
  EXPECT_EQ(dlg.windowTitle(), "Password Dialog");
  auto* p1 = dlg.findChild<QLineEdit*>("Password");
  auto* p2 = dlg.findChild<QLineEdit*>("password2");
  ASSERT_TRUE(p1 && p2);
  EXPECT_EQ(p1->echoMode(), QLineEdit::Password);
  p1->setText("one");
  p2->setText("two");
  dlg.setResult(-1);
  dlg.done(QDialog::Rejected);  // Cancel with different texts does not close either
  EXPECT_EQ(dlg.result(), -1);
  EXPECT_TRUE(p1->text().isEmpty());
  EXPECT_TRUE(p2->text().isEmpty());
  bool mismatchShown = false;
  for (QLabel* l : dlg.findChildren<QLabel*>()) mismatchShown |= l->text() == "Not same password";
  EXPECT_TRUE(mismatchShown);
  p1->setText("same");
  p2->setText("same");
  dlg.done(QDialog::Accepted);
  EXPECT_EQ(dlg.result(), QDialog::Accepted);
  EXPECT_EQ(dlg.password(), "same");

  // Through the window's host: OK gives the text; Cancel is a cancel, whatever was typed.
  TBackupWindowHost host(nullptr);
  for (bool ok : {true, false}) {
    QTimer::singleShot(0, [ok] {
      auto* d = qobject_cast<TPasswordDlg*>(QApplication::activeModalWidget());
      ASSERT_TRUE(d);
      d->findChild<QLineEdit*>("Password")->setText("typed");
      d->findChild<QLineEdit*>("password2")->setText("typed");
      d->done(ok ? QDialog::Accepted : QDialog::Rejected);
    });
    const std::optional<QString> answer = host.ShowPasswordDialog();
    EXPECT_EQ(answer, ok ? std::optional<QString>("typed") : std::nullopt);
  }
}

TEST(SaveDlgWidget, OkRunsTheNameChecks) {
  ScriptedHost boxes;
  testutil::TempDir tmp;
  const QString data = QString::fromStdString(tmp.path());
  TSaveDlgForm form("New ZIPfile", data + "/");
  TSaveDlgWidget dlg(form);
  EXPECT_EQ(dlg.windowTitle(), "New ZIPfile");
  auto* edit = dlg.findChild<QLineEdit*>("SaveDlgEdit");
  ASSERT_TRUE(edit);
  dlg.setResult(-1);
  dlg.accept();  // a folder without a file name
  EXPECT_EQ(edit->text(), "Incorrect filename criteria");
  EXPECT_EQ(dlg.result(), -1);
  edit->setText("docs.zip");
  boxes.Answer(IDOK, "Must include Drive/Directory");
  dlg.accept();
  EXPECT_TRUE(edit->text().isEmpty());
  // A name with a line break could not be kept in the job's settings: refused here.
  edit->setText(data + "/docs\n2.zip");
  boxes.Answer(IDOK, QString::fromUtf8(kLineBreakInName));
  dlg.accept();
  EXPECT_EQ(dlg.result(), -1);
  edit->setText(data + "/docs.zip");
  dlg.accept();
  EXPECT_EQ(dlg.result(), QDialog::Accepted);
  EXPECT_EQ(form.Text(), data + "/docs.zip");
  EXPECT_EQ(dlg.findChild<QPushButton*>("SaveDlgBurner"), nullptr);

  // With a writer, its root is offered: the remembered name goes onto the disc.
  TSaveDlgForm disc("New ZIPfile", "/data/docs.zip");
  disc.SetBurnerRoot("/dev/sr0/");
  TSaveDlgWidget discDlg(disc);
  auto* burner = discDlg.findChild<QPushButton*>("SaveDlgBurner");
  ASSERT_TRUE(burner);
  burner->click();
  EXPECT_EQ(discDlg.findChild<QLineEdit*>("SaveDlgEdit")->text(), "/dev/sr0/docs.zip");
  discDlg.accept();
  EXPECT_EQ(discDlg.result(), QDialog::Accepted);
  EXPECT_EQ(disc.Text(), "/dev/sr0/docs.zip");
}
