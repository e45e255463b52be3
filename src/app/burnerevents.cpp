#include "app/burnerevents.h"

#include <QCoreApplication>
#include <QMetaObject>

#include "disc/discburner.h"

void PostBurnerEventsToMainThread(TDiscBurner& burner) {
  burner.PostToMain = [](std::function<void()> call) {
    QCoreApplication* app = QCoreApplication::instance();
    // Without an application there is no event loop to wait for: the event runs at once.
    if (!app) {
      call();
      return;
    }
    QMetaObject::invokeMethod(app, std::move(call), Qt::QueuedConnection);
  };
}
