// The explorer's models over the local file system: the folder tree and the list of the current
// folder's content. Both show the ticks of one TCheckStore as tri-state check boxes (only while
// check boxes are switched on, in make mode) and send the user's ticks to it. Hidden items are
// listed only while hidden items are switched on.
#pragma once

#include <QAbstractItemModel>
#include <QAbstractTableModel>
#include <QPointer>
#include <memory>
#include <string>
#include <vector>

#include "app/checkstore.h"
#include "app/fslisting.h"

// Roles both models answer besides display and check state.
enum ExplorerRole {
  PathRole = Qt::UserRole + 1,  // the full path as text
  IsFolderRole,                 // bool
};

class ExplorerTreeModel : public QAbstractItemModel {
  Q_OBJECT
 public:
  explicit ExplorerTreeModel(TCheckStore* store, QObject* parent = nullptr);
  ~ExplorerTreeModel() override;

  // The top-level folders (by default ExplorerRoots: the home folder, "/" and mounted volumes).
  void SetRoots(const std::vector<std::string>& roots);
  void SetShowHidden(bool on);
  bool ShowHidden() const { return showHidden_; }
  void SetShowChecks(bool on);
  bool ShowChecks() const { return showChecks_; }
  TCheckStore* Store() const { return store_; }

  std::string PathOf(const QModelIndex& index) const;
  // The node of a folder, loading the folders on the way to it; invalid when no root holds it or
  // it does not exist.
  QModelIndex IndexForPath(const std::string& path);
  // Re-reads every loaded folder from disk, keeping what is still there.
  void Refresh();
  // The same for one folder, with the loaded folders below it when deep.
  void RefreshFolder(const QModelIndex& index, bool deep);

  QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  bool hasChildren(const QModelIndex& parent = QModelIndex()) const override;
  bool canFetchMore(const QModelIndex& parent) const override;
  void fetchMore(const QModelIndex& parent) override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  struct Node;
  Node* NodeOf(const QModelIndex& index) const;
  QModelIndex IndexOf(Node* node) const;
  void RefreshNode(Node* node, bool deep = true);
  void TicksChanged();
  void EmitChecks(Node* node);

  QPointer<TCheckStore> store_;
  std::unique_ptr<Node> root_;
  bool showHidden_ = false;
  bool showChecks_ = false;
};

class ExplorerListModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  enum Column { NameColumn = 0, SizeColumn, DateColumn, ColumnCount };
  explicit ExplorerListModel(TCheckStore* store, QObject* parent = nullptr);

  // Shows the content of a folder ("" shows nothing).
  void SetFolder(const std::string& folder);
  const std::string& Folder() const { return folder_; }
  void SetShowHidden(bool on);
  bool ShowHidden() const { return showHidden_; }
  void SetShowChecks(bool on);
  bool ShowChecks() const { return showChecks_; }
  // Another store (nullptr: none). Used to run the list unlinked from the tree.
  void SetStore(TCheckStore* store);
  TCheckStore* Store() const { return store_; }
  void Refresh();

  const FsEntry* EntryAt(int row) const;
  std::string PathOf(const QModelIndex& index) const;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  void TicksChanged();

  QPointer<TCheckStore> store_;
  QMetaObject::Connection storeConnection_;
  std::string folder_;
  std::vector<FsEntry> entries_;
  bool showHidden_ = false;
  bool showChecks_ = false;
};

// The check-box value of a tick state.
Qt::CheckState ToQtCheckState(TickState s);
