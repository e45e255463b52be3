#include "ui/dlgsourceselect.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>

#include "app/mb.h"

TDlgSourceSelect::TDlgSourceSelect(const QStringList& devices, const TBurnerSettings& stored,
                                   std::function<QStringList(const QString&)> speeds,
                                   QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowStaysOnTopHint),
      speeds_(std::move(speeds)) {
  setObjectName(QStringLiteral("DlgSourceSelect"));
  setWindowTitle(QStringLiteral("Select Burner/Burn Speed"));
  setToolTip(QStringLiteral("Click ''Save'' to store settings as default"));
  auto* grid = new QGridLayout(this);
  cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
  cancel_->setObjectName(QStringLiteral("CancelBtn"));
  devices_ = new QComboBox(this);
  devices_->setObjectName(QStringLiteral("ComboBox1"));
  speed_ = new QComboBox(this);
  speed_->setObjectName(QStringLiteral("cbSpeed"));
  final_ = new QCheckBox(QStringLiteral("Finalise"), this);
  final_->setObjectName(QStringLiteral("Final1"));
  save_ = new QPushButton(QStringLiteral("Save"), this);
  save_->setObjectName(QStringLiteral("Save1"));
  save_->setDefault(true);
  native_ = new QCheckBox(QStringLiteral("Native"), this);
  native_->setObjectName(QStringLiteral("Native1"));
  autos_ = new QCheckBox(QStringLiteral("AutoDiskSize"), this);
  autos_->setObjectName(QStringLiteral("CDBautos1"));
  grid->addWidget(new QLabel(QStringLiteral("Select"), this), 0, 0);
  grid->addWidget(devices_, 0, 1, 1, 2);
  grid->addWidget(new QLabel(QStringLiteral("Set Burn Speed "), this), 1, 0);
  grid->addWidget(speed_, 1, 1);
  grid->addWidget(final_, 1, 2);
  grid->addWidget(native_, 2, 1);
  grid->addWidget(autos_, 2, 2);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(cancel_);
  buttons->addStretch(1);
  buttons->addWidget(save_);
  grid->addLayout(buttons, 3, 0, 1, 3);
  // Without a writer the dialog says so where the drives would be listed.
  auto* status = new QLabel(QStringLiteral("No disc writer was found. Connect one, then open "
                                           "Options > Burner Settings again"),
                            this);
  status->setObjectName(QStringLiteral("BurnerStatus"));
  status->setWordWrap(true);
  status->setVisible(devices.isEmpty());
  grid->addWidget(status, 4, 0, 1, 3);
  setTabOrder(cancel_, devices_);
  setTabOrder(devices_, speed_);
  setTabOrder(speed_, final_);
  setTabOrder(final_, save_);
  setTabOrder(save_, native_);
  setTabOrder(native_, autos_);
  layout()->setSizeConstraint(QLayout::SetFixedSize);

  // The stored writer is preselected; one not found (or none stored) leaves the first drive.
  devices_->addItems(devices);
  const int stored_at = devices.indexOf(stored.burner);
  devices_->setCurrentIndex(stored_at >= 0 ? stored_at : (devices.isEmpty() ? -1 : 0));
  showing_ = true;
  final_->setChecked(stored.finalise);
  native_->setChecked(stored.native);
  autos_->setChecked(stored.sizingAuto);
  showing_ = false;
  cbSpeedDropDown();
  // The speed the writer is stored with, when the drive offers it.
  for (int i = 0; i < speed_->count(); ++i)
    if (stored.speed != 0 && SpeedOfEntry(speed_->itemText(i)) == stored.speed)
      speed_->setCurrentIndex(i);

  connect(save_, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
  connect(native_, &QCheckBox::clicked, this, &TDlgSourceSelect::Native1Click);
  connect(devices_, &QComboBox::currentIndexChanged, this, [this] { cbSpeedDropDown(); });
}

void TDlgSourceSelect::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // Centred on the screen, above every other window.
  raise();
}

void TDlgSourceSelect::cbSpeedDropDown() {
  const int kept = speed_->currentIndex();
  speed_->clear();
  const QStringList entries = speeds_ ? speeds_(Device()) : QStringList{QStringLiteral("Max")};
  speed_->addItems(entries.isEmpty() ? QStringList{QStringLiteral("Max")} : entries);
  speed_->setCurrentIndex(kept >= 0 && kept < speed_->count() ? kept : 0);
}

void TDlgSourceSelect::Native1Click(bool checked) {
  if (checked || showing_) return;
  if (MbMessage(QStringLiteral("Keep 'Native' checked unless CDRW is not recording\r\r\nPress OK "
                               "to continue, or Cancel to discard"),
                QString(), true, MB_OKCANCEL | MB_ICONEXCLAMATION) != IDOK)
    native_->setChecked(true);
}

QString TDlgSourceSelect::Device() const {
  return devices_->currentText();
}
QString TDlgSourceSelect::SpeedText() const {
  return speed_->currentText();
}
bool TDlgSourceSelect::Finalise() const {
  return final_->isChecked();
}
bool TDlgSourceSelect::Native() const {
  return native_->isChecked();
}
bool TDlgSourceSelect::AutoDiskSize() const {
  return autos_->isChecked();
}

bool CDBurner1Click(TBurnCommands& burn, QWidget* parent) {
  // The dialog asks the drive for its speeds: never while a burn or an erase writes.
  if (burn.RefusedWhileBusy()) return false;
  burn.EnsureTransport();
  TDlgSourceSelect dialog(
      burn.Devices(), burn.Settings(),
      [&burn](const QString& device) { return burn.SpeedList(device); }, parent);
  bool saved = false;
  if (dialog.exec() == QDialog::Accepted)
    saved = burn.SaveChoice(dialog.Device(), dialog.SpeedText(), dialog.Finalise(), dialog.Native(),
                            dialog.AutoDiskSize());
  burn.ReleaseTransport();
  return saved;
}
