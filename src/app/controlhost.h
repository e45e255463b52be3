// What the logic asks of the window's controls: enable, show, check and caption a control,
// addressed by its name (the widget's objectName: buttons, menu items, edits, tabs, panels).
// TMainform implements it over its widgets; tests use a recording host that keeps the state in
// a map, so window modes and rules are checked without a display.
#pragma once

#include <QString>

class IControlHost {
 public:
  virtual ~IControlHost() = default;
  virtual void SetControlEnabled(const QString& name, bool enabled) = 0;
  virtual void SetControlVisible(const QString& name, bool visible) = 0;
  virtual void SetControlChecked(const QString& name, bool checked) = 0;
  virtual void SetControlCaption(const QString& name, const QString& caption) = 0;
  virtual bool ControlEnabled(const QString& name) const = 0;
  virtual bool ControlVisible(const QString& name) const = 0;
  virtual bool ControlChecked(const QString& name) const = 0;
  virtual QString ControlCaption(const QString& name) const = 0;
};
