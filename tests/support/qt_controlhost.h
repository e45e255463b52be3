// A control host for tests: remembers every control's state by name. Unknown controls read as
// enabled, visible, unchecked and without caption until something sets them.
#pragma once

#include <QHash>
#include <QString>

#include "app/controlhost.h"

class RecordingControlHost : public IControlHost {
 public:
  struct State {
    bool enabled = true;
    bool visible = true;
    bool checked = false;
    QString caption;
  };
  void SetControlEnabled(const QString& name, bool enabled) override {
    map_[name].enabled = enabled;
  }
  void SetControlVisible(const QString& name, bool visible) override {
    map_[name].visible = visible;
  }
  void SetControlChecked(const QString& name, bool checked) override {
    map_[name].checked = checked;
  }
  void SetControlCaption(const QString& name, const QString& caption) override {
    map_[name].caption = caption;
  }
  bool ControlEnabled(const QString& name) const override { return map_.value(name).enabled; }
  bool ControlVisible(const QString& name) const override { return map_.value(name).visible; }
  bool ControlChecked(const QString& name) const override { return map_.value(name).checked; }
  QString ControlCaption(const QString& name) const override { return map_.value(name).caption; }
  bool Known(const QString& name) const { return map_.contains(name); }

 private:
  QHash<QString, State> map_;
};
