// The explorer of the "Browser" tab as the window holds it: the tick store and the tree and
// list models over it, with the switches the rest of the program turns.
#pragma once

#include <QObject>
#include <memory>

#include "app/checkstore.h"
#include "app/explorermodels.h"

class TExplorer : public QObject {
  Q_OBJECT
 public:
  explicit TExplorer(QObject* parent = nullptr);

  // The ticks of the job (the tree's).
  TCheckStore& Store() { return store_; }
  ExplorerTreeModel& TreeModel() { return tree_; }
  ExplorerListModel& ListModel() { return list_; }

  // Check boxes are shown in make mode only (Setstate 3).
  void SetMakeMode(bool on);
  // Hidden items are listed exactly while "Include System & Hidden Files" is ticked.
  void SetShowHidden(bool on);
  // Started with "close" the list's ticks are not kept in step with the tree's: the list then
  // works on a store of its own.
  void SetLinked(bool linked);
  bool Linked() const { return !listStore_; }
  // Both views re-read the disk.
  void Refresh();

 private:
  TCheckStore store_;
  ExplorerTreeModel tree_{&store_};
  ExplorerListModel list_{&store_};
  std::unique_ptr<TCheckStore> listStore_;
};
