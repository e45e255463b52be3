// The button bar under the pages and the two status bars at the bottom of the window.
#include "ui/tabbuilders.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "backup/reporthosts.h"
#include "ui/widgetkit.h"
#include "ui/windownames.h"

using ui::Button;
using ui::Label;
using ui::S;

QWidget* BuildButtonBar() {
  auto* bar = new QWidget;
  bar->setObjectName(QStringLiteral("ButtonBar"));
  auto* h = new QHBoxLayout(bar);
  h->setContentsMargins(0, 0, 0, 0);
  h->setSpacing(3);
  auto* zip64 = Label(bar, ctl::kZip64Label, "ZIP64");
  zip64->setToolTip(S("Indicates this ZIP is not Winzip compatible  (4Gb or >65535 files)"));
  zip64->setStyleSheet(QStringLiteral("color: silver;"));
  zip64->setVisible(false);
  h->addWidget(zip64);
  h->addStretch();
  h->addWidget(Button(bar, "ZipOpenBut", "&Restore", "Open Archive/ZIP file"));
  h->addWidget(Button(bar, "OpenCbutton", "o&PenJob", "Restore previous job settings"));
  h->addWidget(Button(bar, "SaveCbtn", "&SaveJob", "Save this job  to file"));
  h->addWidget(Button(bar, "NewZipBut", "&NewZIP", "Create New ZIP"));
  h->addWidget(Button(bar, "NewEXEBut", "New&EXE", "Create New EXE"));
  h->addWidget(Button(bar, "AddBut", "&AddToZIP", "Add File(s) to ZIP"));
  h->addWidget(Button(bar, "PauseBtn", "Pause", "Pause/Resume "));
  h->addWidget(Button(bar, "WriteZbtn", "&WriteZIP", "Begin ZIP to file"));
  return bar;
}

void BuildStatusBars(QWidget* host, QVBoxLayout* layout) {
  const QString hint = S("ZIP Filesize Calculator on left check button.");
  auto* s1 = new QStatusBar(host);
  s1->setObjectName(QStringLiteral("StatusBar1"));
  s1->setSizeGripEnabled(false);
  s1->setToolTip(hint);
  auto* calc = new QWidget(s1);
  auto* cL = new QHBoxLayout(calc);
  cL->setContentsMargins(0, 0, 0, 0);
  cL->setSpacing(1);
  auto* calcEdit = new QLineEdit(S("FILE Size calc"), calc);
  calcEdit->setObjectName(S(ctl::kSizeCalcEdit));
  calcEdit->setToolTip(S("Selected files size"));
  ui::FitLineEdit(calcEdit, {calcEdit->text()});
  auto* calcBtn = new QToolButton(calc);
  calcBtn->setObjectName(S(ctl::kSizeCalcButton));
  calcBtn->setText(QStringLiteral("✓"));
  calcBtn->setToolTip(S("Selected files size"));
  cL->addWidget(calcEdit);
  cL->addWidget(calcBtn);
  s1->addWidget(calc);
  auto* spacer = new QWidget(s1);
  spacer->setObjectName(QStringLiteral("StatusSpacer"));
  spacer->setFixedWidth(1);
  s1->addWidget(spacer);
  auto* time = Label(s1, rctl::kProcessTimePanel, "Process Time");
  s1->addWidget(time);
  auto* zipFile = Label(s1, rctl::kZipFilePanel, "ZipFile: <none>");
  s1->addWidget(zipFile);
  auto* active = Label(s1, rctl::kActiveFilePanel, "ActiveFile: <none>");
  active->setMinimumWidth(40);
  active->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  s1->addWidget(active, 1);
  layout->addWidget(s1);

  auto* s2 = new QStatusBar(host);
  s2->setObjectName(QStringLiteral("StatusBar2"));
  s2->setSizeGripEnabled(false);
  s2->setToolTip(hint);
  auto* disc = new QLabel(s2);
  disc->setObjectName(S(ctl::kDiscImage));
  disc->setPixmap(ui::ProgramIcon().pixmap(16, 16));
  disc->setMinimumWidth(22);
  s2->addWidget(disc);
  auto* count = Label(s2, rctl::kCountPanel, "DIR&files count");
  count->setMinimumWidth(count->sizeHint().width() + count->fontMetrics().averageCharWidth() * 4);
  s2->addWidget(count);
  auto* total = Label(s2, rctl::kTotalSizePanel, "Total size (Kb)");
  total->setMinimumWidth(total->sizeHint().width() + total->fontMetrics().averageCharWidth() * 4);
  s2->addWidget(total);
  auto* gauge = new QProgressBar(s2);
  gauge->setObjectName(S(ctl::kGauge));
  gauge->setRange(0, 100);
  gauge->setValue(0);
  gauge->setTextVisible(false);
  s2->addWidget(gauge, 1);
  layout->addWidget(s2);
}
