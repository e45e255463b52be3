#include "ui/windowcontrols.h"

#include <QAbstractButton>
#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTabWidget>

#include "ui/widgetkit.h"

QObject* TWindowControls::FindControl(const QString& name) const {
  if (name.isEmpty()) return nullptr;
  // A control found by its name before is taken again while it lives (controls keep the names
  // they are built with).
  if (const auto it = cache_.constFind(name); it != cache_.cend() && *it) return *it;
  QObject* o = window_.findChild<QObject*>(name);
  if (o) cache_.insert(name, o);
  return o;
}

void TWindowControls::SetControlEnabled(const QString& name, bool enabled) {
  QObject* o = FindControl(name);
  if (auto* a = qobject_cast<QAction*>(o))
    a->setEnabled(enabled);
  else if (auto* w = qobject_cast<QWidget*>(o))
    w->setEnabled(enabled);
}

void TWindowControls::SetControlVisible(const QString& name, bool visible) {
  QObject* o = FindControl(name);
  if (auto* a = qobject_cast<QAction*>(o))
    a->setVisible(visible);
  else if (auto* w = qobject_cast<QWidget*>(o))
    w->setVisible(visible);
}

void TWindowControls::SetControlChecked(const QString& name, bool checked) {
  QObject* o = FindControl(name);
  if (auto* a = qobject_cast<QAction*>(o))
    a->setChecked(checked);
  else if (auto* b = qobject_cast<QAbstractButton*>(o))
    b->setChecked(checked);
  else if (auto* g = qobject_cast<QGroupBox*>(o))
    g->setChecked(checked);
}

void TWindowControls::SetControlCaption(const QString& name, const QString& caption) {
  QObject* o = FindControl(name);
  if (auto* a = qobject_cast<QAction*>(o))
    a->setText(caption);
  else if (auto* m = qobject_cast<QMenu*>(o))
    m->setTitle(caption);
  else if (auto* b = qobject_cast<QAbstractButton*>(o))
    b->setText(caption);
  else if (auto* g = qobject_cast<QGroupBox*>(o))
    g->setTitle(caption);
  else if (auto* l = qobject_cast<QLabel*>(o))
    l->setText(caption);
  else if (auto* e = qobject_cast<QLineEdit*>(o))
    e->setText(caption);
  else if (auto* w = qobject_cast<QWidget*>(o)) {
    if (auto* tabs = qobject_cast<QTabWidget*>(w->parentWidget() ? w->parentWidget()->parentWidget()
                                                                 : nullptr))
      tabs->setTabText(tabs->indexOf(w), caption);
  }
}

bool TWindowControls::ControlEnabled(const QString& name) const {
  QObject* o = FindControl(name);
  if (auto* a = qobject_cast<QAction*>(o)) return a->isEnabled();
  if (auto* w = qobject_cast<QWidget*>(o)) return w->isEnabled();
  return false;
}

bool TWindowControls::ControlVisible(const QString& name) const {
  QObject* o = FindControl(name);
  if (auto* a = qobject_cast<QAction*>(o)) return a->isVisible();
  if (auto* w = qobject_cast<QWidget*>(o)) return !w->isHidden();
  return false;
}

bool TWindowControls::ControlChecked(const QString& name) const {
  QObject* o = FindControl(name);
  if (auto* a = qobject_cast<QAction*>(o)) return a->isChecked();
  if (auto* b = qobject_cast<QAbstractButton*>(o)) return b->isChecked();
  if (auto* g = qobject_cast<QGroupBox*>(o)) return g->isChecked();
  return false;
}

QString TWindowControls::ControlCaption(const QString& name) const {
  return ui::CaptionOf(FindControl(name));
}
