// IControlHost over the main window's widgets: a control is found by its name (the objectName
// of a widget, action or menu below the window), never by its caption.
#pragma once

#include <QHash>
#include <QPointer>

#include "app/controlhost.h"

class QObject;
class QWidget;

class TWindowControls : public IControlHost {
 public:
  explicit TWindowControls(QWidget& window) : window_(window) {}

  void SetControlEnabled(const QString& name, bool enabled) override;
  void SetControlVisible(const QString& name, bool visible) override;
  void SetControlChecked(const QString& name, bool checked) override;
  void SetControlCaption(const QString& name, const QString& caption) override;
  bool ControlEnabled(const QString& name) const override;
  bool ControlVisible(const QString& name) const override;
  bool ControlChecked(const QString& name) const override;
  QString ControlCaption(const QString& name) const override;

  // The control of that name; null when none.
  QObject* FindControl(const QString& name) const;

 private:
  QWidget& window_;
  // Controls found by name: a run asks for its status panels for every file it stores.
  mutable QHash<QString, QPointer<QObject>> cache_;
};
