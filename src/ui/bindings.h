// The window binds; the operations decide. A binding names a control of the main window (its
// objectName) and the operation it starts; the window keeps all of them in one table, applies
// it once, and tests walk the same table, so a binding whose control is missing is found.
#pragma once

#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

class QObject;
class QWidget;

struct TBinding {
  enum Kind {
    Button,     // a button's click (a check box's click carries its new state)
    Item,       // a menu item's trigger (a checkable item has toggled itself already)
    Popup,      // the popup menu named popup opens on the control's context-menu request
    State,      // no command: the logic switches the control through IControlHost
    Timer,      // a timer's tick (control: the QTimer's objectName)
    Key,        // a key the window sees before its controls (control: the key, as "Esc", "F3",
                // "Shift+F1")
    TrayClick,  // a click or double click on the tray icon
  };
  Kind kind = Button;
  QString control;
  // What the binding starts or who switches the control, for people and failure messages.
  QString operation;
  std::function<void(bool checked)> handler;  // Button and Item
  QString popup;                              // Popup
  // Key: the key is taken only while this holds (null: always); otherwise it goes on to the
  // control that has the focus.
  std::function<bool()> when;
  // The connection ends with this object (null: with the window).
  QPointer<QObject> context;
};

using TBindings = std::vector<TBinding>;

// Shorthands for table rows.
TBinding OnButton(const char* control, const char* operation, std::function<void(bool)> handler,
                  QObject* context = nullptr);
TBinding OnItem(const char* control, const char* operation, std::function<void(bool)> handler,
                QObject* context = nullptr);
TBinding PopupOn(const char* control, const char* popup);
TBinding SwitchedBy(const char* control, const char* operation);
TBinding OnTimer(const char* timer, const char* operation, std::function<void()> handler,
                 QObject* context = nullptr);
TBinding OnKey(const char* key, const char* operation, std::function<void()> handler,
               std::function<bool()> when = {}, QObject* context = nullptr);
TBinding OnTrayClick(const char* icon, const char* operation, std::function<void()> handler,
                     QObject* context = nullptr);

// Appends rows to a table.
void Append(TBindings& table, TBindings rows);

// Finds the object a binding names below window, of the kind the binding needs (a button for
// Button, an action for Item, a widget for Popup, a timer for Timer, the tray icon for
// TrayClick, the window itself for Key and any object for State); null when none.
QObject* BoundControl(const QWidget& window, const TBinding& binding);

// Connects every row; returns the controls that were not found (each a failure of the table).
// Keys are taken by one event filter of the window.
QStringList ApplyBindings(QWidget& window, const TBindings& table);

// While a spy exists, ApplyBindings connects every row to the spy instead of to its handler: a
// triggered control, a key, a tick or a popup request records the row and nothing runs (a key's
// condition is not asked). Tests walk the window's controls with it.
class TBindingSpy {
 public:
  struct Call {
    QString control;
    QString operation;
  };
  TBindingSpy();
  ~TBindingSpy();
  TBindingSpy(const TBindingSpy&) = delete;
  TBindingSpy& operator=(const TBindingSpy&) = delete;
  static TBindingSpy* Current();
  std::vector<Call> calls;
};
