#include "app/explorermodels.h"

#include <QDateTime>
#include <QDir>
#include <algorithm>

struct ExplorerTreeModel::Node {
  std::string path;
  std::string name;
  Node* parent = nullptr;
  int row = 0;
  bool fetched = false;
  int hasKids = -1;  // -1 not yet known
  std::vector<std::unique_ptr<Node>> kids;

  void Renumber() {
    for (size_t i = 0; i < kids.size(); ++i) kids[i]->row = static_cast<int>(i);
  }
};

Qt::CheckState ToQtCheckState(TickState s) {
  switch (s) {
    case TickState::Checked:
      return Qt::Checked;
    case TickState::Mixed:
      return Qt::PartiallyChecked;
    default:
      return Qt::Unchecked;
  }
}

// ---------------------------------------------------------------- tree

ExplorerTreeModel::ExplorerTreeModel(TCheckStore* store, QObject* parent)
    : QAbstractItemModel(parent), store_(store), root_(std::make_unique<Node>()) {
  root_->fetched = true;
  if (store_) connect(store_, &TCheckStore::Changed, this, &ExplorerTreeModel::TicksChanged);
  SetRoots(ExplorerRoots(PathBytes(QDir::homePath())));
}

ExplorerTreeModel::~ExplorerTreeModel() = default;

void ExplorerTreeModel::SetRoots(const std::vector<std::string>& roots) {
  beginResetModel();
  root_->kids.clear();
  for (const std::string& r : roots) {
    auto n = std::make_unique<Node>();
    n->path = r;
    n->name = r;
    n->parent = root_.get();
    root_->kids.push_back(std::move(n));
  }
  root_->Renumber();
  endResetModel();
}

ExplorerTreeModel::Node* ExplorerTreeModel::NodeOf(const QModelIndex& index) const {
  return index.isValid() ? static_cast<Node*>(index.internalPointer()) : root_.get();
}

QModelIndex ExplorerTreeModel::IndexOf(Node* node) const {
  if (!node || node == root_.get()) return {};
  return createIndex(node->row, 0, node);
}

std::string ExplorerTreeModel::PathOf(const QModelIndex& index) const {
  return index.isValid() ? NodeOf(index)->path : std::string();
}

QModelIndex ExplorerTreeModel::index(int row, int column, const QModelIndex& parent) const {
  if (column != 0 || row < 0) return {};
  Node* p = NodeOf(parent);
  if (row >= static_cast<int>(p->kids.size())) return {};
  return createIndex(row, 0, p->kids[row].get());
}

QModelIndex ExplorerTreeModel::parent(const QModelIndex& child) const {
  if (!child.isValid()) return {};
  return IndexOf(NodeOf(child)->parent);
}

int ExplorerTreeModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid() && parent.column() != 0) return 0;
  return static_cast<int>(NodeOf(parent)->kids.size());
}

int ExplorerTreeModel::columnCount(const QModelIndex&) const {
  return 1;
}

bool ExplorerTreeModel::hasChildren(const QModelIndex& parent) const {
  Node* n = NodeOf(parent);
  if (n->fetched) return !n->kids.empty();
  if (n->hasKids < 0) n->hasKids = FolderHasEntries(n->path, showHidden_, true) ? 1 : 0;
  return n->hasKids == 1;
}

bool ExplorerTreeModel::canFetchMore(const QModelIndex& parent) const {
  return !NodeOf(parent)->fetched;
}

void ExplorerTreeModel::fetchMore(const QModelIndex& parent) {
  Node* n = NodeOf(parent);
  if (n->fetched) return;
  n->fetched = true;
  const std::vector<FsEntry> list = ListFolder(n->path, showHidden_, true);
  n->hasKids = list.empty() ? 0 : 1;
  if (list.empty()) return;
  beginInsertRows(parent, 0, static_cast<int>(list.size()) - 1);
  for (const FsEntry& e : list) {
    auto k = std::make_unique<Node>();
    k->path = e.path;
    k->name = e.name;
    k->parent = n;
    n->kids.push_back(std::move(k));
  }
  n->Renumber();
  endInsertRows();
}

QVariant ExplorerTreeModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  Node* n = NodeOf(index);
  switch (role) {
    case Qt::DisplayRole:
      return PathText(n->name);
    case Qt::ToolTipRole:
    case PathRole:
      return PathText(n->path);
    case IsFolderRole:
      return true;
    case Qt::CheckStateRole:
      // Shown in every mode, so a new user sees that folders are ticked; only make mode lets
      // them change (flags).
      if (!store_) return {};
      return ToQtCheckState(store_->State(n->path));
    default:
      return {};
  }
}

bool ExplorerTreeModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || role != Qt::CheckStateRole || !showChecks_ || !store_) return false;
  const auto state = static_cast<Qt::CheckState>(value.toInt());
  store_->SetChecked(NodeOf(index)->path, state != Qt::Unchecked);
  return true;
}

Qt::ItemFlags ExplorerTreeModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (showChecks_) f |= Qt::ItemIsUserCheckable;
  return f;
}

QVariant ExplorerTreeModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (section == 0 && orientation == Qt::Horizontal && role == Qt::DisplayRole) {
    return QStringLiteral("Folders");
  }
  return {};
}

void ExplorerTreeModel::SetShowHidden(bool on) {
  if (showHidden_ == on) return;
  showHidden_ = on;
  Refresh();
}

void ExplorerTreeModel::SetShowChecks(bool on) {
  if (showChecks_ == on) return;
  showChecks_ = on;
  EmitChecks(root_.get());
}

void ExplorerTreeModel::Refresh() {
  RefreshNode(root_.get());
}

void ExplorerTreeModel::RefreshFolder(const QModelIndex& index, bool deep) {
  if (index.isValid()) RefreshNode(NodeOf(index), deep);
}

void ExplorerTreeModel::RefreshNode(Node* n, bool deep) {
  if (n != root_.get()) {
    n->hasKids = -1;
    if (n->fetched) {
      const std::vector<FsEntry> list = ListFolder(n->path, showHidden_, true);
      const QModelIndex parent = IndexOf(n);
      // Drop the folders that are gone (from the end, so rows stay valid) ...
      for (int i = static_cast<int>(n->kids.size()) - 1; i >= 0; --i) {
        const std::string& name = n->kids[i]->name;
        const bool kept =
            std::any_of(list.begin(), list.end(), [&](const FsEntry& e) { return e.name == name; });
        if (!kept) {
          beginRemoveRows(parent, i, i);
          n->kids.erase(n->kids.begin() + i);
          n->Renumber();
          endRemoveRows();
        }
      }
      // ... then add the new ones where the listing's order puts them; what is left is a
      // subsequence of the new listing, in the same order.
      for (size_t j = 0; j < list.size(); ++j) {
        if (j < n->kids.size() && n->kids[j]->name == list[j].name) continue;
        beginInsertRows(parent, static_cast<int>(j), static_cast<int>(j));
        auto k = std::make_unique<Node>();
        k->path = list[j].path;
        k->name = list[j].name;
        k->parent = n;
        n->kids.insert(n->kids.begin() + static_cast<long>(j), std::move(k));
        n->Renumber();
        endInsertRows();
      }
      n->hasKids = n->kids.empty() ? 0 : 1;
    }
  }
  if (deep)
    for (auto& k : n->kids) RefreshNode(k.get(), true);
}

QModelIndex ExplorerTreeModel::IndexForPath(const std::string& path) {
  Node* best = nullptr;
  for (auto& r : root_->kids) {
    if (r->path == path || IsPathBelow(path, r->path)) {
      if (!best || r->path.size() > best->path.size()) best = r.get();
    }
  }
  if (!best) return {};
  Node* n = best;
  while (n->path != path) {
    fetchMore(IndexOf(n));
    Node* next = nullptr;
    for (auto& k : n->kids) {
      if (k->path == path || IsPathBelow(path, k->path)) next = k.get();
    }
    if (!next) return {};
    n = next;
  }
  return IndexOf(n);
}

void ExplorerTreeModel::EmitChecks(Node* n) {
  if (!n->kids.empty()) {
    const QModelIndex p = IndexOf(n);
    emit dataChanged(index(0, 0, p), index(static_cast<int>(n->kids.size()) - 1, 0, p),
                     {Qt::CheckStateRole});
  }
  for (auto& k : n->kids) EmitChecks(k.get());
}

void ExplorerTreeModel::TicksChanged() {
  EmitChecks(root_.get());
}

// ---------------------------------------------------------------- list

ExplorerListModel::ExplorerListModel(TCheckStore* store, QObject* parent)
    : QAbstractTableModel(parent) {
  SetStore(store);
}

void ExplorerListModel::SetStore(TCheckStore* store) {
  disconnect(storeConnection_);
  store_ = store;
  if (store_) {
    storeConnection_ =
        connect(store_, &TCheckStore::Changed, this, &ExplorerListModel::TicksChanged);
  }
  TicksChanged();
}

void ExplorerListModel::SetFolder(const std::string& folder) {
  folder_ = folder;
  Refresh();
}

void ExplorerListModel::Refresh() {
  beginResetModel();
  entries_ = folder_.empty() ? std::vector<FsEntry>{} : ListFolder(folder_, showHidden_, false);
  endResetModel();
}

void ExplorerListModel::SetShowHidden(bool on) {
  if (showHidden_ == on) return;
  showHidden_ = on;
  Refresh();
}

void ExplorerListModel::SetShowChecks(bool on) {
  if (showChecks_ == on) return;
  showChecks_ = on;
  TicksChanged();
}

const FsEntry* ExplorerListModel::EntryAt(int row) const {
  if (row < 0 || row >= static_cast<int>(entries_.size())) return nullptr;
  return &entries_[row];
}

std::string ExplorerListModel::PathOf(const QModelIndex& index) const {
  const FsEntry* e = index.isValid() ? EntryAt(index.row()) : nullptr;
  return e ? e->path : std::string();
}

int ExplorerListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(entries_.size());
}

int ExplorerListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : ColumnCount;
}

QVariant ExplorerListModel::data(const QModelIndex& index, int role) const {
  const FsEntry* e = index.isValid() ? EntryAt(index.row()) : nullptr;
  if (!e) return {};
  if (role == PathRole) return PathText(e->path);
  if (role == IsFolderRole) return e->folder;
  if (role == Qt::CheckStateRole) {
    if (index.column() != NameColumn || !store_) return {};
    return ToQtCheckState(store_->State(e->path));
  }
  if (role == Qt::TextAlignmentRole && index.column() == SizeColumn) {
    return QVariant::fromValue(Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter));
  }
  if (role != Qt::DisplayRole) return {};
  switch (index.column()) {
    case NameColumn:
      return PathText(e->name);
    case SizeColumn:
      // KB are thousands of bytes, rounded up so a small file never shows 0 KB.
      return e->folder ? QString() : QStringLiteral("%1 KB").arg((e->size + 999) / 1000);
    case DateColumn:
      return QDateTime::fromSecsSinceEpoch(e->mtime).toString(QStringLiteral("yyyy-MM-dd hh:mm"));
    default:
      return {};
  }
}

bool ExplorerListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  const FsEntry* e = index.isValid() ? EntryAt(index.row()) : nullptr;
  if (!e || role != Qt::CheckStateRole || index.column() != NameColumn || !showChecks_ || !store_)
    return false;
  store_->SetChecked(e->path, static_cast<Qt::CheckState>(value.toInt()) != Qt::Unchecked);
  return true;
}

Qt::ItemFlags ExplorerListModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (showChecks_ && index.column() == NameColumn) f |= Qt::ItemIsUserCheckable;
  return f;
}

QVariant ExplorerListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  switch (section) {
    case NameColumn:
      return QStringLiteral("Name");
    case SizeColumn:
      return QStringLiteral("Size");
    case DateColumn:
      return QStringLiteral("Modified");
    default:
      return {};
  }
}

void ExplorerListModel::TicksChanged() {
  if (!entries_.empty()) {
    emit dataChanged(index(0, NameColumn), index(static_cast<int>(entries_.size()) - 1, NameColumn),
                     {Qt::CheckStateRole});
  }
}
