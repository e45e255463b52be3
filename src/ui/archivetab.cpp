// The "Archive" page: the archive view, "File Search", "Views and Expedite" and "Extract Method".
#include "ui/tabbuilders.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "ui/widgetkit.h"
#include "ui/windownames.h"

void TSearchBox::showPopup() {
  emit aboutToShowPopup();
  QComboBox::showPopup();
}

using ui::Button;
using ui::Group;
using ui::Label;
using ui::OptionListSlot;
using ui::S;

QWidget* BuildArchiveTab(const std::function<QWidget*(QWidget* page)>& buildView) {
  auto* page = new QWidget;
  page->setObjectName(S(ctl::kArchivePage));
  auto* g = new QGridLayout(page);
  g->setContentsMargins(2, 2, 2, 2);
  g->setSpacing(3);

  QWidget* view = buildView(page);
  view->setEnabled(false);
  g->addWidget(view, 0, 0, 1, 3);
  // Hidden until the open archive needs a word of warning.
  QLabel* note = Label(page, ctl::kArchiveNote, "");
  note->setWordWrap(true);
  note->setStyleSheet(QStringLiteral("color: #b00000; font-weight: bold"));
  note->setVisible(false);
  g->addWidget(note, 2, 0, 1, 3);

  QGroupBox* search = Group(page, "GroupFileSearch", "File Search");
  auto* sL = new QGridLayout(search);
  sL->setVerticalSpacing(2);
  auto* combo = new TSearchBox(search);
  combo->setObjectName(S(ctl::kSearchBox));
  combo->setEditable(true);
  // Enter searches; it never adds the text to the list (the history is the search's).
  combo->setInsertPolicy(QComboBox::NoInsert);
  combo->setEditText(S("File(wildcard*.*)"));
  combo->lineEdit()->setPlaceholderText(S("File(wildcard*.*)"));
  ui::FitComboBox(combo, combo->currentText());
  sL->addWidget(combo, 0, 0, 1, 3);
  auto* quick = new QCheckBox(S("QuickSearch"), search);
  quick->setObjectName(QStringLiteral("QuickSearchCheck"));
  quick->setChecked(true);
  quick->setToolTip(S("context find when cursor in archive box"));
  sL->addWidget(quick, 1, 0);
  sL->addWidget(Button(search, ctl::kGlobalButton, "&Global",
                       "To search current Archive type filename in File(wildcard*.*) box, then "
                       "press Enter.\r\nTo search for Filename within several ZIPfiles, enter "
                       "Filename then select Global DIR"),
                2, 0);
  auto* getZip = Button(search, ctl::kGetZipButton, "&GetZIP", "Get selected ZIP parent");
  getZip->setEnabled(false);
  sL->addWidget(getZip, 2, 1);
  sL->addWidget(Button(search, ctl::kRepeatButton, "F3"), 2, 2);
  g->addWidget(search, 1, 0);

  QGroupBox* views = Group(page, "GroupViews", "Views and Expedite");
  auto* vL = new QGridLayout(views);
  vL->setVerticalSpacing(2);
  vL->addWidget(OptionListSlot(views, "CheckListBox11"), 0, 0, 3, 1, Qt::AlignTop);
  vL->addWidget(Button(views, "ExtractBut", "E&xtract"), 0, 1);
  vL->addWidget(Button(views, "AbortBut", "Abort"), 0, 2);
  vL->addWidget(Button(views, ctl::kDeleteButton, "&Delete", "Remove File(s) From ZIP"), 1, 1);
  auto* kill = Button(views, "DeleteZipBut", "&KillZIP",
                      "Permanent Delete ZIP\r\n not saved to recycle bin!");
  kill->setEnabled(false);
  vL->addWidget(kill, 1, 2);
  auto* large = new QCheckBox(S("Large Fonts"), views);
  large->setObjectName(QStringLiteral("LargeFontsCheck"));
  vL->addWidget(large, 2, 1, 1, 2);
  g->addWidget(views, 1, 1);

  QGroupBox* method = Group(page, "GroupExtractMethod", "Extract Method");
  auto* mL = new QHBoxLayout(method);
  QWidget* exOpts = OptionListSlot(method, "ExtractOptionsList");
  QWidget* exMode = OptionListSlot(method, "ExtractModeList");
  mL->addWidget(exOpts, 0, Qt::AlignTop);
  mL->addWidget(exMode, 0, Qt::AlignTop);
  g->addWidget(method, 1, 2);
  g->setRowStretch(0, 1);
  return page;
}
