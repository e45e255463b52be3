// Shows the recent-job list of a TFileMenuHandler at the end of a menu: a separator (hidden
// while the list is empty) and one action per entry with its Alt shortcut.
#pragma once

#include <QObject>
#include <QVector>

#include "app/filemenuhandler.h"

class QAction;
class QMenu;

class TRecentMenu : public QObject {
  Q_OBJECT
 public:
  TRecentMenu(TFileMenuHandler* handler, QMenu* menu);
  QAction* Separator() const { return separator_; }
  const QVector<QAction*>& Actions() const { return actions_; }
  // Rebuilds the entries from the handler (done on every change of the list).
  void Rebuild();

 private:
  TFileMenuHandler* handler_;
  QMenu* menu_;
  QAction* separator_;
  QVector<QAction*> actions_;
};
