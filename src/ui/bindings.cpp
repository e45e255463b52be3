#include "ui/bindings.h"

#include <QAbstractButton>
#include <QAction>
#include <QMenu>
#include <QWidget>

TBinding OnButton(const char* control, const char* operation, std::function<void(bool)> handler,
                  QObject* context) {
  TBinding b;
  b.kind = TBinding::Button;
  b.control = QString::fromUtf8(control);
  b.operation = QString::fromUtf8(operation);
  b.handler = std::move(handler);
  b.context = context;
  return b;
}

TBinding OnItem(const char* control, const char* operation, std::function<void(bool)> handler,
                QObject* context) {
  TBinding b = OnButton(control, operation, std::move(handler), context);
  b.kind = TBinding::Item;
  return b;
}

TBinding PopupOn(const char* control, const char* popup) {
  TBinding b;
  b.kind = TBinding::Popup;
  b.control = QString::fromUtf8(control);
  b.popup = QString::fromUtf8(popup);
  b.operation = QStringLiteral("opens ") + b.popup;
  return b;
}

TBinding SwitchedBy(const char* control, const char* operation) {
  TBinding b;
  b.kind = TBinding::State;
  b.control = QString::fromUtf8(control);
  b.operation = QString::fromUtf8(operation);
  return b;
}

void Append(TBindings& table, TBindings rows) {
  for (TBinding& b : rows) table.push_back(std::move(b));
}

QObject* BoundControl(const QWidget& window, const TBinding& binding) {
  switch (binding.kind) {
    case TBinding::Button:
      return window.findChild<QAbstractButton*>(binding.control);
    case TBinding::Item:
      return window.findChild<QAction*>(binding.control);
    case TBinding::Popup:
      return window.findChild<QWidget*>(binding.control);
    case TBinding::State:
      return window.findChild<QObject*>(binding.control);
  }
  return nullptr;
}

QStringList ApplyBindings(QWidget& window, const TBindings& table) {
  QStringList missing;
  for (const TBinding& b : table) {
    QObject* o = BoundControl(window, b);
    QMenu* popup = b.kind == TBinding::Popup ? window.findChild<QMenu*>(b.popup) : nullptr;
    if (!o || (b.kind == TBinding::Popup && !popup)) {
      missing << b.control;
      continue;
    }
    QObject* context = b.context ? b.context.data() : &window;
    auto handler = b.handler;
    switch (b.kind) {
      case TBinding::Button:
        QObject::connect(static_cast<QAbstractButton*>(o), &QAbstractButton::clicked, context,
                         [handler](bool checked) { handler(checked); });
        break;
      case TBinding::Item:
        QObject::connect(static_cast<QAction*>(o), &QAction::triggered, context,
                         [handler](bool checked) { handler(checked); });
        break;
      case TBinding::Popup: {
        auto* w = static_cast<QWidget*>(o);
        w->setContextMenuPolicy(Qt::CustomContextMenu);
        QObject::connect(w, &QWidget::customContextMenuRequested, popup,
                         [w, popup](const QPoint& pos) { popup->popup(w->mapToGlobal(pos)); });
        break;
      }
      case TBinding::State:
        break;
    }
  }
  return missing;
}
