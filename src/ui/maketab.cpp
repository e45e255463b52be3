// The "Make" page: the inner tab "ZIP" with the option groups and the inclusion grid, and the
// inner tab "Report /ZIP Comment && Scheduler".
#include "ui/tabbuilders.h"

#include <QCheckBox>
#include <QDateTimeEdit>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimeEdit>
#include <QVBoxLayout>

#include "backup/reporthosts.h"
#include "ui/inclusiongridview.h"
#include "ui/widgetkit.h"
#include "ui/windownames.h"

using ui::Button;
using ui::Group;
using ui::Label;
using ui::OptionListSlot;
using ui::S;

TMakeTab BuildMakeTab(TInclusionGrid* grid) {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("TabMake"));
  auto* v = new QVBoxLayout(page);
  v->setContentsMargins(1, 1, 1, 1);
  auto* inner = new QTabWidget(page);
  inner->setObjectName(S(ctl::kMakePages));
  TInclusionGridView* gridView = nullptr;
  inner->addTab(BuildZipTab(grid, &gridView), QStringLiteral("ZIP"));
  inner->addTab(BuildReportTab(), S("Report /ZIP Comment && Scheduler"));
  v->addWidget(inner);
  return {page, gridView};
}

namespace {

void Compact(QLayout* l) {
  l->setContentsMargins(3, 0, 3, 1);
  l->setSpacing(1);
}

void BuildZipColumn0(QWidget* page, QVBoxLayout* col0) {
  // Column 0: "Advanced" with "Size && Compression", then "Add Settings".
  QGroupBox* adv = Group(page, "GroupAdvanced", "Advanced");
  auto* advL = new QVBoxLayout(adv);
  Compact(advL);
  QGroupBox* sc = Group(adv, "GroupSizeCompression", "Size && Compression");
  auto* scL = new QGridLayout(sc);
  Compact(scL);
  QWidget* sizeList = OptionListSlot(sc, "SizeList");
  QWidget* compList =
      OptionListSlot(sc, "CompressionList",
                     "    Maximum (standard)\r\nMedium for slower computers\r\nNone "
                     "for already compressed files.");
  scL->addWidget(sizeList, 0, 0, 3, 1, Qt::AlignTop);
  scL->addWidget(ui::EditWithButton(sc, "ComboEdit1", "MaxSizeMb", false), 0, 1);
  scL->addWidget(ui::EditWithButton(sc, "ComboEdit2", "Disk#1Free", true), 1, 1);
  scL->addWidget(compList, 2, 1);
  scL->setColumnStretch(0, 3);
  scL->setColumnStretch(1, 2);
  advL->addWidget(sc);
  col0->addWidget(adv);

  QGroupBox* add = Group(page, "GroupAddSettings", "Add Settings");
  auto* addL = new QVBoxLayout(add);
  Compact(addL);
  addL->addWidget(OptionListSlot(add, "ModeList"));
  QGroupBox* range = Group(add, "GroupDateRange", "Date Range");
  range->setFlat(true);
  auto* rangeL = new QGridLayout(range);
  Compact(rangeL);
  const char* rNames[] = {ctl::kDateFilterNone, rctl::kDateFilterBefore, rctl::kDateFilterAfter};
  const char* rCaps[] = {"No date filter", "All before", "All after"};
  for (int i = 0; i < 3; ++i) {
    auto* r = new QRadioButton(S(rCaps[i]), range);
    r->setObjectName(S(rNames[i]));
    r->setChecked(i == 0);
    rangeL->addWidget(r, i / 2, i % 2);
  }
  // "All before" and "All after" compare date and time of day.
  auto* picker = new QDateTimeEdit(QDateTime::currentDateTime(), range);
  picker->setObjectName(S(ctl::kDateFilterPicker));
  picker->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm"));
  picker->setCalendarPopup(true);
  rangeL->addWidget(picker, 1, 1);
  addL->addWidget(range);
  col0->addWidget(add);
  col0->addStretch();
}

void BuildZipColumn1(QWidget* page, QVBoxLayout* col1) {
  // Column 1: "Security && Directory Settings", "Other Functions", the defaults button.
  QGroupBox* sec = Group(page, "GroupSecurity", "Security && Directory Settings");
  auto* secL = new QVBoxLayout(sec);
  Compact(secL);
  secL->addWidget(OptionListSlot(sec, "DirectoryList"));
  // How "Encrypt ZIP" encrypts, and beside it what the choice means for the archive's readers.
  auto* enc = new QHBoxLayout;
  enc->setSpacing(3);
  enc->addWidget(OptionListSlot(sec, "EncryptionList"), 0, Qt::AlignTop);
  // Broken by hand: a wrapped label's height is only known once it is laid out, too late for
  // the window's least size.
  QLabel* note = Label(sec, "EncryptionNote",
                       "AES archives need a reader\nwith AES support (7-Zip,\nWinZip, bsdtar).");
  enc->addWidget(note, 1, Qt::AlignTop);
  secL->addLayout(enc);
  col1->addWidget(sec);

  QGroupBox* other = Group(page, "GroupOtherFunctions", "Other Functions");
  auto* otherL = new QVBoxLayout(other);
  Compact(otherL);
  otherL->addWidget(OptionListSlot(
      other, "FunctionsList",
      "DateTimeStamp:Append DateTime to Filename\r\nVersioning:Add Version to "
      "Filename\r\nUnattended:Least user intervention\r\nO/C:On completion, switch P/C "
      "off\r\nRestore:Do this once every few days."));
  col1->addWidget(other);
  col1->addWidget(Button(page, "MakeDefaultBtn", "Make these settings default"));
  col1->addStretch();
}

void BuildZipColumn2(QWidget* page, QVBoxLayout* col2, TInclusionGrid* grid,
                     TInclusionGridView** gridView) {
  // Column 2: grid, stealth and basic view.
  QGroupBox* inc = Group(page, "GroupInclusionGrid", "Inclusion Grid");
  auto* incL = new QVBoxLayout(inc);
  Compact(incL);
  auto* table = new TInclusionGridView(grid, inc);
  *gridView = table;
  table->setObjectName(S(ctl::kInclusionGrid));
  table->setToolTip(S("Inclusion specifications for Archive\r\n    Click cell to add/change"));
  table->verticalHeader()->setVisible(false);
  // The header and four rows at least.
  table->setMinimumHeight(table->horizontalHeader()->sizeHint().height() +
                          4 * table->verticalHeader()->defaultSectionSize() +
                          2 * table->frameWidth());
  incL->addWidget(table);
  col2->addWidget(inc, 1);

  QGroupBox* stealth = Group(page, "GroupStealth", "Stealth/Instant Backup");
  auto* stL = new QGridLayout(stealth);
  Compact(stL);
  stL->addWidget(OptionListSlot(stealth, "StealthList"), 0, 0, 2, 1, Qt::AlignTop);
  stL->addWidget(Button(stealth, "StealthDefineBtn", "Define", "Define Stealth file"), 0, 1);
  stL->addWidget(Button(stealth, "StealthStartBtn", "Start", "Start Stealth mode"), 1, 1);
  col2->addWidget(stealth);

  QGroupBox* basic = Group(page, "GroupBasic", "Basic");
  auto* bL = new QGridLayout(basic);
  Compact(bL);
  bL->addWidget(OptionListSlot(basic, "BasicList"), 0, 0, 3, 1, Qt::AlignTop);
  bL->addWidget(OptionListSlot(basic, "BasicStampList"), 0, 1);
  bL->addWidget(OptionListSlot(basic, "BasicSizeList"), 1, 1);
  bL->addWidget(Button(basic, "BasicWriteZbtn", "&WriteZIP", "Begin ZIP to file"), 3, 0, 1, 2);
  col2->addWidget(basic);
}

}  // namespace

QWidget* BuildZipTab(TInclusionGrid* grid, TInclusionGridView** gridView) {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("TabZIP"));
  auto* columns = new QHBoxLayout(page);
  columns->setContentsMargins(1, 0, 1, 0);
  columns->setSpacing(3);
  auto* col0 = new QVBoxLayout;
  auto* col1 = new QVBoxLayout;
  auto* col2 = new QVBoxLayout;
  for (QVBoxLayout* c : {col0, col1, col2}) {
    c->setSpacing(2);
    columns->addLayout(c, 1);
  }
  BuildZipColumn0(page, col0);
  BuildZipColumn1(page, col1);
  BuildZipColumn2(page, col2, grid, gridView);
  return page;
}

QWidget* BuildReportTab() {
  auto* page = new QWidget;
  page->setObjectName(S(ctl::kReportPage));
  auto* h = new QHBoxLayout(page);
  h->setContentsMargins(2, 2, 2, 2);

  QGroupBox* rep = Group(page, "GroupReport", "Report/ZIP comment");
  auto* rL = new QVBoxLayout(rep);
  // Plain text: a full report holds a line for every file of a run.
  auto* box = new QPlainTextEdit(rep);
  box->setObjectName(S(ctl::kReportBox));
  // Read-only but enabled: the report of the last run can be scrolled, selected and copied.
  box->setReadOnly(true);
  rL->addWidget(box, 1);
  auto* rb = new QHBoxLayout;
  rb->addWidget(Button(rep, "SaveCommentBtn", "SaveComment"));
  rb->addWidget(Button(rep, "ReportToZIPBtn", "ReportToZIP"));
  rb->addStretch();
  rL->addLayout(rb);
  h->addWidget(rep, 3);

  QGroupBox* sch = Group(page, "GroupScheduler", "Scheduler");
  auto* sL = new QGridLayout(sch);
  sL->setVerticalSpacing(2);
  auto* steps = Label(sch, "SchedLabelSteps",
                      "Have a predefined JOB ready, then step through the items below\r\n"
                      "sequentially, top to bottom. To clear schedule, click [Forget]");
  sL->addWidget(steps, 0, 0, 1, 3);
  sL->addWidget(Label(sch, "SchedLabelJob", "[Open JOB file] above to get desired JOB Filename"), 2,
                0, 1, 3);
  sL->addWidget(Button(sch, "SchedOpenJobBtn", "Open JOB file"), 1, 0);
  auto* jobEdit = new QLineEdit(S("JOB Filename"), sch);
  jobEdit->setObjectName(S(ctl::kSchedJobFile));
  jobEdit->setToolTip(S("This must be a peviously saved JOB file!"));
  sL->addWidget(jobEdit, 3, 0, 1, 3);
  sL->addWidget(Label(sch, "SchedLabelDays", "Run on which days?"), 4, 0, 1, 3);
  const char* days[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                        "Thursday", "Friday", "Saturday"};
  auto* daysBox = new QWidget(sch);
  auto* dL = new QGridLayout(daysBox);
  dL->setContentsMargins(0, 0, 0, 0);
  dL->setVerticalSpacing(0);
  for (int i = 0; i < 7; ++i) {
    auto* c = new QCheckBox(S(days[i]), daysBox);
    c->setObjectName(QStringLiteral("Sched") + S(days[i]));
    dL->addWidget(c, i / 4, i % 4);
  }
  sL->addWidget(daysBox, 5, 0, 1, 3);
  sL->addWidget(Label(sch, "SchedLabelTime", "At what time?"), 6, 0);
  auto* time = new QTimeEdit(QTime(0, 0), sch);
  time->setObjectName(S(ctl::kSchedTime));
  sL->addWidget(time, 6, 1);
  auto* missed = new QCheckBox(S("Run missed backups"), sch);
  missed->setObjectName(S(ctl::kSchedRunMissed));
  missed->setChecked(true);
  missed->setToolTip(
      S("A backup whose time passed while the computer was off or asleep, or "
        "Arcavo was not running, runs once at the next start or wake-up"));
  sL->addWidget(missed, 7, 0, 1, 3);
  sL->addWidget(Label(sch, "SchedLabelStale", "Warn after days without a backup:"), 8, 0);
  auto* stale = new QSpinBox(sch);
  stale->setObjectName(S(ctl::kSchedStaleDays));
  stale->setRange(0, 365);
  stale->setSpecialValueText(S("twice the interval"));
  sL->addWidget(stale, 8, 1, 1, 2);
  auto* notifyGood = new QCheckBox(S("Notify also when unattended backups succeed"), sch);
  notifyGood->setObjectName(S(ctl::kNotifySuccess));
  sL->addWidget(notifyGood, 9, 0, 1, 3);
  auto* set = Button(sch, "SchedSetBtn", "Set");
  set->setEnabled(false);
  sL->addWidget(set, 10, 0);
  sL->addWidget(Button(sch, "SchedForgetBtn", "Forget"), 10, 1);
  sL->setRowStretch(11, 1);
  h->addWidget(sch, 2);
  return page;
}
