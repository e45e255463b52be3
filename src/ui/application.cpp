#include "ui/application.h"

#include "app/lifecycle.h"

bool TApplication::notify(QObject* receiver, QEvent* event) {
  return TAppLifecycle::CallGuarded([&] { return QApplication::notify(receiver, event); },
                                    onException);
}
