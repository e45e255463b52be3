// The dialogs of the window, each with the longest texts it shows in the program.
#include <QLineEdit>
#include <QObject>
#include <memory>

#include "app/mb.h"
#include "automation/logonstart.h"
#include "automation/stealth.h"
#include "backup/backuprun.h"
#include "backup/naming.h"
#include "backup/runreport.h"
#include "fitcheck.h"
#include "ui/aboutdialog.h"
#include "ui/backupwindow.h"
#include "ui/dlgsourceselect.h"
#include "ui/hotkeydialog.h"
#include "ui/mbdialog.h"
#include "ui/windowlife.h"

namespace {

// A drive id as the drive list spells it (vendor, product and revision padded to 8, 16 and 4).
constexpr const char* kLongDrive =
    "10:0:0,/dev/sr10: HL-DT-STDVD+-RW GSA-H73N B103 (not supported)";

// A message box as MbMessage builds it.
QWidget* MessageBox(QWidget* window, const char* text, int flags) {
  MbBox box;
  MbBuildMessage(QString::fromLatin1(text), QStringLiteral("Arcavo"), false, flags, box);
  return new TMbDialog(box, window);
}

// A box of freely captioned buttons as MbChoice builds it.
QWidget* ChoiceBox(QWidget* window, const QString& text, const char* captions) {
  MbBox box;
  box.kind = MbBox::Choice;
  box.text = text;
  box.caption = QStringLiteral("Arcavo");
  const QStringList names = MbSplitCaptions(QString::fromLatin1(captions));
  for (int i = 0; i < names.size(); ++i) box.buttons.push_back(MbButton{names[i], 11 + i, false});
  return new TMbDialog(box, window);
}

// The new-name dialog keeps a reference to its form: the form lives as long as the dialog.
QWidget* NewNameDialog(QWidget* window, const QString& title, const QString& proposal,
                       const QString& burnerRoot) {
  auto form = std::make_shared<TSaveDlgForm>(title, proposal);
  form->SetBurnerRoot(burnerRoot);
  auto* dialog = new TSaveDlgWidget(*form, window);
  QObject::connect(dialog, &QObject::destroyed, [form] {});
  return dialog;
}

}  // namespace

const std::vector<TDialogCase>& DialogCases() {
  static const std::vector<TDialogCase> cases = {
      {"burner-settings",
       [](QWidget* w) -> QWidget* {
         TBurnerSettings stored;
         stored.finalise = true;
         return new TDlgSourceSelect(
             {QString::fromLatin1(kLongDrive)}, stored,
             [](const QString&) {
               return QStringList{QStringLiteral("Max"), QStringLiteral("7056X (1,058,400 KB/s)"),
                                  QStringLiteral("11080X (16,620,000 KB/s)")};
             },
             w);
       }},
      {"hotkey",
       [](QWidget* w) -> QWidget* {
         return new TFrmHotkey(QStringLiteral("Shift+Ctrl+Alt+Win+Scroll Lock"), w);
       }},
      {"password", [](QWidget* w) -> QWidget* { return new TPasswordDlg(w); }},
      // After two different entries the label says so and the dialog stays.
      {"password-mismatch",
       [](QWidget* w) -> QWidget* {
         auto* d = new TPasswordDlg(w);
         d->findChild<QLineEdit*>(QStringLiteral("Password"))->setText(QStringLiteral("a"));
         d->findChild<QLineEdit*>(QStringLiteral("password2"))->setText(QStringLiteral("b"));
         d->done(QDialog::Accepted);
         return d;
       }},
      {"new-name",
       [](QWidget* w) {
         return NewNameDialog(w, QStringLiteral("Define StealthFile"), QStringLiteral("/tmp/"),
                              QString());
       }},
      {"new-name-disc-writer",
       [](QWidget* w) {
         return NewNameDialog(w, QStringLiteral("New EXEfile"),
                              QStringLiteral("/tmp/Backup of the documents folder.exe"),
                              QStringLiteral("/dev/sr10/"));
       }},
      {"message-question",
       [](QWidget* w) {
         return MessageBox(w, TLogonStart::kRemoveStealth, MB_YESNO | MB_ICONQUESTION);
       }},
      {"message-abort-question",
       [](QWidget* w) {
         return MessageBox(w, TWindowLife::kAbortQuestion, MB_YESNO | MB_ICONQUESTION);
       }},
      {"choice-file-open",
       [](QWidget* w) {
         return ChoiceBox(w,
                          QString::fromLatin1(rptmsg::kFileOpen1) +
                              QStringLiteral("/home/user/Documents/Quarterly report.ods") +
                              QString::fromLatin1(rptmsg::kFileOpen2),
                          rptmsg::kFileOpenButtons);
       }},
      {"choice-no-folder",
       [](QWidget* w) {
         return ChoiceBox(w,
                          QStringLiteral("/home/user/Backups/2026\r") +
                              QString::fromLatin1(TStealth::kNoSuchDirectory),
                          "Create|Cancel");
       }},
      {"notice-gauge-cancel",
       [](QWidget* w) -> QWidget* {
         MbNoticeSpec spec;
         spec.text = QString::fromLatin1(runmsg::kFinishingEject) +
                     QStringLiteral("\rCTRLkey=Subdirectories\r   SHFTkey=deletion   ");
         spec.caption = QStringLiteral("Instant Backup");
         spec.withGauge = true;
         spec.withCancel = true;
         return new TMbNoticeWindow(spec, w);
       }},
      {"about", [](QWidget* w) -> QWidget* { return CreateAboutDialog(w).release(); }},
      // Every dialog of the window has its row above: a new dialog is one more row.
  };
  return cases;
}
