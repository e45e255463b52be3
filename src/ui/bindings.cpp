#include "ui/bindings.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>

namespace {

TBindingSpy* g_spy = nullptr;

// The keys of one window, taken before its controls see them (the application's event filter).
class TKeyBindings : public QObject {
 public:
  struct Row {
    QKeyCombination key;
    std::function<void()> handler;
    std::function<bool()> when;
  };
  TKeyBindings(QWidget& window, std::vector<Row> rows)
      : QObject(&window), window_(window), rows_(std::move(rows)) {
    qApp->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return false;
    auto* w = qobject_cast<QWidget*>(watched);
    if (!w || w->window() != &window_) return false;
    auto* key = static_cast<QKeyEvent*>(event);
    const Qt::KeyboardModifiers mods = key->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier |
                                                           Qt::AltModifier | Qt::MetaModifier);
    const QKeyCombination pressed(mods, Qt::Key(key->key()));
    for (const Row& r : rows_) {
      if (r.key != pressed || (r.when && !r.when())) continue;
      r.handler();
      return true;
    }
    return false;
  }

 private:
  QWidget& window_;
  std::vector<Row> rows_;
};

QKeyCombination KeyOf(const QString& name) {
  const QKeySequence seq = QKeySequence::fromString(name, QKeySequence::PortableText);
  return seq.isEmpty() ? QKeyCombination() : seq[0];
}

}  // namespace

TBindingSpy::TBindingSpy() {
  g_spy = this;
}

TBindingSpy::~TBindingSpy() {
  if (g_spy == this) g_spy = nullptr;
}

TBindingSpy* TBindingSpy::Current() {
  return g_spy;
}

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

TBinding OnTimer(const char* timer, const char* operation, std::function<void()> handler,
                 QObject* context) {
  TBinding b = OnButton(
      timer, operation, [handler](bool) { handler(); }, context);
  b.kind = TBinding::Timer;
  return b;
}

TBinding OnKey(const char* key, const char* operation, std::function<void()> handler,
               std::function<bool()> when, QObject* context) {
  TBinding b = OnButton(
      key, operation, [handler](bool) { handler(); }, context);
  b.kind = TBinding::Key;
  b.when = std::move(when);
  return b;
}

TBinding OnTrayClick(const char* icon, const char* operation, std::function<void()> handler,
                     QObject* context) {
  TBinding b = OnButton(
      icon, operation, [handler](bool) { handler(); }, context);
  b.kind = TBinding::TrayClick;
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
    case TBinding::Timer:
      return window.findChild<QTimer*>(binding.control);
    case TBinding::TrayClick:
      return window.findChild<QSystemTrayIcon*>(binding.control);
    case TBinding::Key:
      return KeyOf(binding.control) == QKeyCombination() ? nullptr : const_cast<QWidget*>(&window);
  }
  return nullptr;
}

QStringList ApplyBindings(QWidget& window, const TBindings& table) {
  QStringList missing;
  TBindingSpy* spy = TBindingSpy::Current();
  std::vector<TKeyBindings::Row> keys;
  for (const TBinding& b : table) {
    QObject* o = BoundControl(window, b);
    QMenu* popup = b.kind == TBinding::Popup ? window.findChild<QMenu*>(b.popup) : nullptr;
    if (!o || (b.kind == TBinding::Popup && !popup)) {
      missing << b.control;
      continue;
    }
    QObject* context = b.context ? b.context.data() : &window;
    std::function<void(bool)> handler = b.handler;
    if (spy) {
      handler = [spy, control = b.control, operation = b.operation](bool) {
        spy->calls.push_back({control, operation});
      };
    }
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
        if (spy)
          QObject::connect(w, &QWidget::customContextMenuRequested, popup,
                           [handler](const QPoint&) { handler(false); });
        else
          QObject::connect(w, &QWidget::customContextMenuRequested, popup,
                           [w, popup](const QPoint& pos) { popup->popup(w->mapToGlobal(pos)); });
        break;
      }
      case TBinding::Timer:
        QObject::connect(static_cast<QTimer*>(o), &QTimer::timeout, context,
                         [handler] { handler(false); });
        break;
      case TBinding::TrayClick:
        QObject::connect(static_cast<QSystemTrayIcon*>(o), &QSystemTrayIcon::activated, context,
                         [handler](QSystemTrayIcon::ActivationReason r) {
                           if (r == QSystemTrayIcon::Trigger || r == QSystemTrayIcon::DoubleClick)
                             handler(false);
                         });
        break;
      case TBinding::Key: {
        // A key whose context has gone is left to the controls.
        QPointer<QObject> guard(context);
        std::function<bool()> when = [guard] { return !guard.isNull(); };
        if (!spy && b.when) when = [guard, w = b.when] { return guard && w(); };
        keys.push_back({KeyOf(b.control), [handler] { handler(false); }, std::move(when)});
        break;
      }
      case TBinding::State:
        break;
    }
  }
  if (!keys.empty()) new TKeyBindings(window, std::move(keys));
  return missing;
}
