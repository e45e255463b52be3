// "Select Burner/Burn Speed": the writer, its speed and the burner switches. The dialog only
// shows and collects; the burn commands list the drives, probe the speeds and store the choice.
#pragma once

#include <QDialog>
#include <QStringList>
#include <functional>

#include "backup/burncommands.h"

class QCheckBox;
class QComboBox;
class QPushButton;

class TDlgSourceSelect : public QDialog {
  Q_OBJECT
 public:
  // devices: the drives found; speeds: the speed entries of a drive ("Max" first).
  TDlgSourceSelect(const QStringList& devices, const TBurnerSettings& stored,
                   std::function<QStringList(const QString& device)> speeds,
                   QWidget* parent = nullptr);

  QString Device() const;
  QString SpeedText() const;
  bool Finalise() const;
  bool Native() const;
  bool AutoDiskSize() const;

  // The speed list of the chosen drive, built again (it drops down, or another drive is chosen).
  void cbSpeedDropDown();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void Native1Click(bool checked);

  std::function<QStringList(const QString&)> speeds_;
  QComboBox* devices_ = nullptr;
  QComboBox* speed_ = nullptr;
  QCheckBox* final_ = nullptr;
  QCheckBox* native_ = nullptr;
  QCheckBox* autos_ = nullptr;
  QPushButton* save_ = nullptr;
  QPushButton* cancel_ = nullptr;
  bool showing_ = false;
};

class TBurnCommands;
class QWidget;
// "&Burner Settings": the dialog over the burn commands; "Save" stores the six settings
// together, "Cancel" nothing. True when saved.
bool CDBurner1Click(TBurnCommands& burn, QWidget* parent);
