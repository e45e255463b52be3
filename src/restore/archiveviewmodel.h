// The archive view's model: one archive's entries as a flat list (the "Listview" and
// "ListviewDIR" presentations, which differ only in the columns the view shows) or as a tree of
// folders ("Treeview").
//
// Built for archives of 100,000 entries and more:
//  - a list keeps only the vector of entry numbers it shows; texts are formatted when asked for;
//  - the tree builds its folder rows once, finding a folder's child by name through a hash;
//  - sorting is a stable sort of the rows on keys computed once per sort;
//  - ticks live in a byte per row; in the tree a folder's tick covers everything below it and
//    a folder with some ticked rows below it shows as partly ticked.
#pragma once

#include <QAbstractItemModel>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "restore/archiveentries.h"

namespace restore {

enum TArchiveColumn {
  kColFileName = 0,
  kColPathname = 1,
  kColSize = 2,
  kColType = 3,
  kColDateTime = 4,
  kColDisk = 5,
  kColNumber = 6,
  kColumnCount = 7
};

class TArchiveViewModel : public QAbstractItemModel {
  Q_OBJECT
 public:
  enum Kind { Empty, List, Tree };
  // What a row's icon shows; the window turns it into a picture (DecorationRole).
  enum IconKind { FileIcon, FolderClosedIcon, FolderOpenIcon };
  enum Roles {
    EntryNumberRole = Qt::UserRole + 1,  // int: the bound entry, -1 for folder and root rows
    IconKindRole,                        // IconKind
  };
  using DecorationProvider = std::function<QVariant(IconKind kind, const QString& fileName)>;

  explicit TArchiveViewModel(QObject* parent = nullptr);
  ~TArchiveViewModel() override;

  // ---- filling ----
  // Empties the view (no rows).
  void Clear();
  // A flat list of the entries; folder entries (empty name) only when showFolderEntries.
  void ShowList(std::shared_ptr<const TArchiveEntries> entries, bool showFolderEntries);
  // The tree under one root row titled with the archive name. progress() is called every few
  // thousand entries; when it returns false the build stops and the view stays empty.
  bool ShowTree(std::shared_ptr<const TArchiveEntries> entries, const QString& archiveName,
                const std::function<bool()>& progress = {});
  // "Disk#" shows volume numbers only for spanned or split archives.
  void SetMultiVolume(bool on);
  // The view tells which folder rows are expanded (for the open/closed folder icon).
  void SetExpanded(const QModelIndex& index, bool expanded);
  void SetDecorationProvider(DecorationProvider provider) { decoration_ = std::move(provider); }

  Kind kind() const { return kind_; }
  const TArchiveEntries* entries() const { return entries_.get(); }

  // ---- sorting ----
  // Stable sort by column; rows keep their order among equals. Folder rows come first.
  void Sort(int column, Qt::SortOrder order);
  int sortColumn() const { return sortColumn_; }
  Qt::SortOrder sortOrder() const { return sortOrder_; }

  // ---- rows ----
  // The entry bound to a row (-1: folder or root row, or an invalid index).
  int EntryOf(const QModelIndex& index) const;
  // The first row and the last row (the deepest last one in the tree); invalid when empty.
  QModelIndex FirstRow() const;
  QModelIndex LastRow() const;
  // The row bound to an entry (the first such row); invalid when the entry has none.
  QModelIndex RowOfEntry(int entry) const;

  // ---- ticks ----
  Qt::CheckState CheckState(const QModelIndex& index) const;
  // Ticks or unticks a row; in the tree the rows below follow and the rows above are updated.
  void SetTicked(const QModelIndex& index, bool ticked);
  void ClearTicks();
  int TickedCount() const;
  // Calls f with every ticked row's entry number (folder rows are passed over), in row order.
  void ForEachTickedEntry(const std::function<void(int entry)>& f) const;

  // ---- QAbstractItemModel ----
  QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  bool hasChildren(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override { Sort(column, order); }

  // Texts of the columns as the view shows them (also used by tests and the benchmark).
  QString Text(const QModelIndex& index, int column) const;
  static QString FormatSize(uint64_t bytes);
  static QString FormatDosTime(uint32_t dos);

 private:
  struct Node {
    int32_t entry = -1;  // -1: folder row or the root row
    int32_t parent = -1;
    int32_t row = 0;  // position among the parent's children
    QString text;     // path component (the archive name for the root)
    QString path;     // full folder path of folder rows: parent path + "/" + text
    std::vector<int32_t> children;
  };
  struct TreeBuild;

  QModelIndex NodeIndex(int32_t node, int column = 0) const;
  int32_t NodeOf(const QModelIndex& index) const;
  QString EntryText(int entry, int column) const;
  QString NodeText(int32_t node, int column) const;
  void SortList(int column, Qt::SortOrder order);
  void SortTree(int column, Qt::SortOrder order);
  // Sets a subtree's ticks; returns nothing, emits per touched child range.
  void SetSubtree(int32_t node, uint8_t state);
  void UpdateAncestors(int32_t node);
  void EmitCheckChanged(int32_t parentNode, int first, int last);

  Kind kind_ = Empty;
  std::shared_ptr<const TArchiveEntries> entries_;
  bool multiVolume_ = false;
  int sortColumn_ = -1;
  Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
  DecorationProvider decoration_;

  // List: the entry numbers in row order and a tick byte per entry.
  std::vector<int32_t> rows_;
  std::vector<uint8_t> listTicks_;

  // Tree: node 0 is the root row; a tick state (Qt::CheckState) and an expanded flag per node.
  std::vector<Node> nodes_;
  std::vector<uint8_t> treeTicks_;
  std::vector<uint8_t> expanded_;
  uint64_t totalSize_ = 0;
};

}  // namespace restore
