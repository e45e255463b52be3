#include "restore/archiveviewmodel.h"

#include <QDate>
#include <QDateTime>
#include <QHash>
#include <QLocale>
#include <QTime>
#include <algorithm>

namespace restore {

namespace {

constexpr quintptr kListId = ~quintptr{0};
constexpr uint8_t kUnticked = Qt::Unchecked;
constexpr uint8_t kPartly = Qt::PartiallyChecked;
constexpr uint8_t kTicked = Qt::Checked;

const char* const kHeaders[kColumnCount] = {"FileName",  "Pathname", "Size", "Type",
                                            "Date/Time", "Disk#",    "#"};

}  // namespace

TArchiveViewModel::TArchiveViewModel(QObject* parent) : QAbstractItemModel(parent) {}
TArchiveViewModel::~TArchiveViewModel() = default;

// ---- filling -----------------------------------------------------------------------------

void TArchiveViewModel::Clear() {
  beginResetModel();
  kind_ = Empty;
  entries_.reset();
  rows_ = {};
  listTicks_ = {};
  nodes_ = {};
  treeTicks_ = {};
  expanded_ = {};
  totalSize_ = 0;
  sortColumn_ = -1;
  endResetModel();
}

void TArchiveViewModel::ShowList(std::shared_ptr<const TArchiveEntries> entries,
                                 bool showFolderEntries) {
  beginResetModel();
  nodes_ = {};
  treeTicks_ = {};
  expanded_ = {};
  entries_ = std::move(entries);
  kind_ = entries_ ? List : Empty;
  rows_.clear();
  const int n = entries_ ? entries_->count() : 0;
  rows_.reserve(static_cast<size_t>(n));
  for (int e = 0; e < n; ++e)
    if (showFolderEntries || !entries_->IsFolderEntry(e)) rows_.push_back(e);
  listTicks_.assign(static_cast<size_t>(n), kUnticked);
  totalSize_ = entries_ ? entries_->TotalSize() : 0;
  sortColumn_ = -1;
  endResetModel();
}

bool TArchiveViewModel::ShowTree(std::shared_ptr<const TArchiveEntries> entries,
                                 const QString& archiveName,
                                 const std::function<bool()>& progress) {
  // Built aside and swapped in, so the view never sees a half-built tree while the window
  // dispatches events between entries.
  std::vector<Node> nodes;
  if (entries) {
    const int n = entries->count();
    nodes.reserve(static_cast<size_t>(n) + 1024);
    Node root;
    root.text = archiveName;
    nodes.push_back(std::move(root));
    // A folder's child by exact text.
    QHash<std::pair<int32_t, QString>, int32_t> childOf;
    childOf.reserve(n + 1024);
    auto addChild = [&nodes](int32_t parent, const QString& text, int32_t entry) {
      Node c;
      c.entry = entry;
      c.parent = parent;
      c.text = text;
      if (entry < 0) {
        // A row bound to a folder entry gets its path when it first holds a folder row.
        std::vector<int32_t> chain;
        for (int32_t a = parent; a > 0 && nodes[static_cast<size_t>(a)].path.isEmpty();
             a = nodes[static_cast<size_t>(a)].parent)
          chain.push_back(a);
        for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
          Node& a = nodes[static_cast<size_t>(*it)];
          const QString& ap = nodes[static_cast<size_t>(a.parent)].path;
          a.path = a.parent == 0 ? a.text : ap + QLatin1Char('/') + a.text;
        }
        const QString& pp = nodes[static_cast<size_t>(parent)].path;
        c.path = parent == 0 ? text : pp + QLatin1Char('/') + text;
      }
      const auto id = static_cast<int32_t>(nodes.size());
      c.row = static_cast<int32_t>(nodes[static_cast<size_t>(parent)].children.size());
      nodes[static_cast<size_t>(parent)].children.push_back(id);
      nodes.push_back(std::move(c));
      return id;
    };
    QStringList parts;
    QString lastFolder;
    int32_t lastFolderNode = -1;
    for (int e = 0; e < n; ++e) {
      if (progress && (e & 2047) == 2047 && !progress()) return false;
      const QString& name = entries->name[static_cast<size_t>(e)];
      const QString& stored = entries->storedPath[static_cast<size_t>(e)];
      const QString& shown = entries->shownPath[static_cast<size_t>(e)];
      // An entry inside a version folder is placed directly in the folder that holds the
      // version folders; a file there gets a row of its own beside the other versions.
      const bool versioned = shown.size() != stored.size();
      const bool ownRow = versioned && !name.isEmpty();
      // Walk (or create) the folder rows; consecutive entries of one folder reuse the walk.
      int32_t node = 0;
      QString last;
      const QString treePath = shown + name;
      if (!name.isEmpty() && shown == lastFolder && lastFolderNode >= 0) {
        node = lastFolderNode;
        last = name.trimmed();
      } else {
        parts = treePath.split(QLatin1Char('/'), Qt::SkipEmptyParts);
        for (QString& p : parts) p = p.trimmed();
        parts.removeAll(QString());
        if (parts.isEmpty()) continue;
        last = parts.takeLast();
        for (const QString& p : parts) {
          auto it = childOf.constFind({node, p});
          if (it != childOf.constEnd()) {
            node = it.value();
          } else {
            const int32_t c = addChild(node, p, -1);
            childOf.insert({node, p}, c);
            node = c;
          }
        }
        if (!name.isEmpty()) {
          lastFolder = shown;
          lastFolderNode = node;
        }
      }
      if (last.isEmpty()) continue;
      auto it = childOf.constFind({node, last});
      if (it != childOf.constEnd()) {
        // A folder entry merges with its folder row. A file gets a row of its own when it is a
        // stored version, or when the row there is another file's (a version stored before the
        // current copy): no copy of a file may vanish from the tree.
        const int32_t there = nodes[static_cast<size_t>(it.value())].entry;
        const bool fileThere = there >= 0 && !entries->name[static_cast<size_t>(there)].isEmpty();
        if (!ownRow && !(fileThere && !name.isEmpty())) continue;
      }
      const int32_t c = addChild(node, last, e);
      if (it == childOf.constEnd()) childOf.insert({node, last}, c);
    }
  }
  beginResetModel();
  rows_ = {};
  listTicks_ = {};
  entries_ = std::move(entries);
  nodes_ = std::move(nodes);
  kind_ = nodes_.empty() ? Empty : Tree;
  treeTicks_.assign(nodes_.size(), kUnticked);
  expanded_.assign(nodes_.size(), 0);
  totalSize_ = entries_ ? entries_->TotalSize() : 0;
  sortColumn_ = -1;
  endResetModel();
  Sort(kColFileName, Qt::AscendingOrder);
  return true;
}

void TArchiveViewModel::SetMultiVolume(bool on) {
  if (multiVolume_ == on) return;
  multiVolume_ = on;
  if (kind_ == List && !rows_.empty()) {
    emit dataChanged(index(0, kColDisk), index(static_cast<int>(rows_.size()) - 1, kColDisk),
                     {Qt::DisplayRole});
  } else if (kind_ == Tree) {
    beginResetModel();
    endResetModel();
  }
}

void TArchiveViewModel::SetExpanded(const QModelIndex& index, bool expanded) {
  const int32_t n = NodeOf(index);
  if (n < 0 || expanded_[static_cast<size_t>(n)] == expanded) return;
  expanded_[static_cast<size_t>(n)] = expanded ? 1 : 0;
  const QModelIndex i = NodeIndex(n);
  emit dataChanged(i, i, {Qt::DecorationRole, IconKindRole});
}

// ---- rows ----------------------------------------------------------------------------------

QModelIndex TArchiveViewModel::NodeIndex(int32_t node, int column) const {
  if (node < 0 || static_cast<size_t>(node) >= nodes_.size()) return {};
  return createIndex(nodes_[static_cast<size_t>(node)].row, column, static_cast<quintptr>(node));
}

int32_t TArchiveViewModel::NodeOf(const QModelIndex& index) const {
  if (kind_ != Tree || !index.isValid() || index.model() != this) return -1;
  const quintptr id = index.internalId();
  return id < nodes_.size() ? static_cast<int32_t>(id) : -1;
}

int TArchiveViewModel::EntryOf(const QModelIndex& index) const {
  if (!index.isValid() || index.model() != this) return -1;
  if (kind_ == List) {
    const int r = index.row();
    return r >= 0 && static_cast<size_t>(r) < rows_.size() ? rows_[static_cast<size_t>(r)] : -1;
  }
  const int32_t n = NodeOf(index);
  return n < 0 ? -1 : nodes_[static_cast<size_t>(n)].entry;
}

QModelIndex TArchiveViewModel::FirstRow() const {
  if (kind_ == List) return rows_.empty() ? QModelIndex() : index(0, 0);
  if (kind_ == Tree) return NodeIndex(0);
  return {};
}

QModelIndex TArchiveViewModel::LastRow() const {
  if (kind_ == List) return rows_.empty() ? QModelIndex() : index(int(rows_.size()) - 1, 0);
  if (kind_ != Tree) return {};
  int32_t n = 0;
  while (!nodes_[static_cast<size_t>(n)].children.empty())
    n = nodes_[static_cast<size_t>(n)].children.back();
  return NodeIndex(n);
}

QModelIndex TArchiveViewModel::RowOfEntry(int entry) const {
  if (kind_ == List) {
    for (size_t r = 0; r < rows_.size(); ++r)
      if (rows_[r] == entry) return index(static_cast<int>(r), 0);
  } else if (kind_ == Tree) {
    for (size_t n = 0; n < nodes_.size(); ++n)
      if (nodes_[n].entry == entry) return NodeIndex(static_cast<int32_t>(n));
  }
  return {};
}

// ---- texts ---------------------------------------------------------------------------------

QString TArchiveViewModel::FormatSize(uint64_t bytes) {
  // Thousands separators and no decimals, in the user's locale.
  QLocale locale;
  locale.setNumberOptions(QLocale::DefaultNumberOptions);
  return locale.toString(static_cast<qulonglong>(bytes));
}

QString TArchiveViewModel::FormatDosTime(uint32_t dos) {
  const unsigned date = dos >> 16, time = dos & 0xFFFF;
  QDate d(1980 + static_cast<int>(date >> 9), static_cast<int>((date >> 5) & 15),
          static_cast<int>(date & 31));
  QTime t(static_cast<int>(time >> 11), static_cast<int>((time >> 5) & 63),
          static_cast<int>((time & 31) * 2));
  if (!d.isValid() || !t.isValid()) {
    // Not a date: shown as now, as the engine reads such a date.
    const QDateTime now = QDateTime::currentDateTime();
    d = now.date();
    t = now.time();
  }
  const QLocale locale;
  return locale.toString(d, QLocale::ShortFormat) + QLatin1String("  ") +
         locale.toString(t, QLocale::ShortFormat);
}

QString TArchiveViewModel::EntryText(int e, int column) const {
  const TArchiveEntries& x = *entries_;
  const auto k = static_cast<size_t>(e);
  switch (column) {
    case kColFileName:
      return x.FileNameText(e);
    case kColPathname:
      return x.shownPath[k];
    case kColSize:
      return FormatSize(x.size[k]);
    case kColType:
      return x.TypeText(e);
    case kColDateTime:
      return FormatDosTime(x.dosTime[k]);
    case kColDisk:
      return multiVolume_ ? QString::number(x.disk[k]) : QString();
    case kColNumber:
      return QString::number(x.number[k]);
  }
  return {};
}

QString TArchiveViewModel::NodeText(int32_t node, int column) const {
  const Node& n = nodes_[static_cast<size_t>(node)];
  if (node == 0) {
    if (column == kColFileName) return n.text;
    if (column == kColSize) return FormatSize(totalSize_);
    return {};
  }
  if (column == kColFileName) return n.text;
  if (n.entry < 0) return {};
  return EntryText(n.entry, column);
}

QString TArchiveViewModel::Text(const QModelIndex& index, int column) const {
  if (kind_ == List) {
    const int e = EntryOf(index);
    return e < 0 ? QString() : EntryText(e, column);
  }
  const int32_t n = NodeOf(index);
  return n < 0 ? QString() : NodeText(n, column);
}

// ---- QAbstractItemModel ------------------------------------------------------------------

QModelIndex TArchiveViewModel::index(int row, int column, const QModelIndex& parent) const {
  if (row < 0 || column < 0 || column >= kColumnCount) return {};
  if (kind_ == List) {
    if (parent.isValid() || static_cast<size_t>(row) >= rows_.size()) return {};
    return createIndex(row, column, kListId);
  }
  if (kind_ != Tree) return {};
  if (!parent.isValid()) return row == 0 ? NodeIndex(0, column) : QModelIndex();
  const int32_t p = NodeOf(parent);
  if (p < 0 || parent.column() != 0) return {};
  const auto& ch = nodes_[static_cast<size_t>(p)].children;
  if (static_cast<size_t>(row) >= ch.size()) return {};
  return createIndex(row, column, static_cast<quintptr>(ch[static_cast<size_t>(row)]));
}

QModelIndex TArchiveViewModel::parent(const QModelIndex& child) const {
  const int32_t n = NodeOf(child);
  if (n <= 0) return {};
  return NodeIndex(nodes_[static_cast<size_t>(n)].parent);
}

int TArchiveViewModel::rowCount(const QModelIndex& parent) const {
  if (kind_ == List) return parent.isValid() ? 0 : static_cast<int>(rows_.size());
  if (kind_ != Tree) return 0;
  if (!parent.isValid()) return 1;
  if (parent.column() != 0) return 0;
  const int32_t n = NodeOf(parent);
  return n < 0 ? 0 : static_cast<int>(nodes_[static_cast<size_t>(n)].children.size());
}

int TArchiveViewModel::columnCount(const QModelIndex&) const {
  return kColumnCount;
}

bool TArchiveViewModel::hasChildren(const QModelIndex& parent) const {
  return rowCount(parent) > 0;
}

Qt::CheckState TArchiveViewModel::CheckState(const QModelIndex& index) const {
  if (kind_ == List) {
    const int e = EntryOf(index);
    return e < 0 ? Qt::Unchecked : static_cast<Qt::CheckState>(listTicks_[static_cast<size_t>(e)]);
  }
  const int32_t n = NodeOf(index);
  return n < 0 ? Qt::Unchecked : static_cast<Qt::CheckState>(treeTicks_[static_cast<size_t>(n)]);
}

QVariant TArchiveViewModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.model() != this || kind_ == Empty) return {};
  const int column = index.column();
  switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
      if (role == Qt::ToolTipRole && column != kColFileName) return {};
      return Text(index, column);
    case Qt::CheckStateRole:
      if (column != kColFileName) return {};
      return static_cast<int>(CheckState(index));
    case Qt::TextAlignmentRole:
      if (column == kColSize || column == kColNumber || column == kColDisk)
        return static_cast<int>(Qt::AlignRight | Qt::AlignVCenter);
      return {};
    case EntryNumberRole:
      return EntryOf(index);
    case IconKindRole:
    case Qt::DecorationRole: {
      if (column != kColFileName) return {};
      const int e = EntryOf(index);
      IconKind kind = FileIcon;
      QString name;
      if (e >= 0 && !entries_->IsFolderEntry(e)) {
        name = entries_->name[static_cast<size_t>(e)];
      } else {
        const int32_t n = NodeOf(index);
        kind = n >= 0 && expanded_[static_cast<size_t>(n)] ? FolderOpenIcon : FolderClosedIcon;
      }
      if (role == IconKindRole) return static_cast<int>(kind);
      return decoration_ ? decoration_(kind, name) : QVariant();
    }
  }
  return {};
}

bool TArchiveViewModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::CheckStateRole || index.column() != kColFileName || kind_ == Empty) return false;
  if (!index.isValid() || index.model() != this) return false;
  SetTicked(index, value.toInt() == Qt::Checked);
  return true;
}

Qt::ItemFlags TArchiveViewModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (index.column() == kColFileName) f |= Qt::ItemIsUserCheckable;
  if (kind_ == List) {
    f |= Qt::ItemNeverHasChildren;
  } else {
    const int32_t n = NodeOf(index);
    if (n >= 0 && nodes_[static_cast<size_t>(n)].children.empty()) f |= Qt::ItemNeverHasChildren;
  }
  return f;
}

QVariant TArchiveViewModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount) return {};
  if (role == Qt::DisplayRole) return QString::fromLatin1(kHeaders[section]);
  return {};
}

// ---- sorting -------------------------------------------------------------------------------

namespace {

// Keys of one column for the rows being sorted: text columns compare case-insensitively through
// case-folded copies, the others as numbers.
struct ColumnKeys {
  int column = 0;
  std::vector<QString> text;
  std::vector<uint64_t> number;
  bool IsText() const {
    return column == kColFileName || column == kColPathname || column == kColType;
  }
};

}  // namespace

void TArchiveViewModel::Sort(int column, Qt::SortOrder order) {
  if (column < 0 || column >= kColumnCount) return;
  sortColumn_ = column;
  sortOrder_ = order;
  if (kind_ == List)
    SortList(column, order);
  else if (kind_ == Tree)
    SortTree(column, order);
}

void TArchiveViewModel::SortList(int column, Qt::SortOrder order) {
  if (rows_.empty()) return;
  const TArchiveEntries& x = *entries_;
  // Keys indexed by entry number.
  ColumnKeys keys;
  keys.column = column;
  const size_t n = static_cast<size_t>(x.count());
  if (keys.IsText()) {
    keys.text.resize(n);
    for (int32_t e : rows_) {
      const auto k = static_cast<size_t>(e);
      keys.text[k] = (column == kColFileName   ? x.FileNameText(e)
                      : column == kColPathname ? x.shownPath[k]
                                               : x.TypeText(e))
                         .toCaseFolded();
    }
  } else {
    keys.number.resize(n);
    for (int32_t e : rows_) {
      const auto k = static_cast<size_t>(e);
      keys.number[k] = column == kColSize       ? x.size[k]
                       : column == kColDateTime ? DosTimeSortKey(x.dosTime[k])
                       : column == kColDisk     ? static_cast<uint64_t>(e)
                                                : 0;
    }
  }
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  const std::vector<int32_t> before = rows_;
  const bool asc = order == Qt::AscendingOrder;
  if (column != kColNumber) {
    if (keys.IsText()) {
      std::stable_sort(rows_.begin(), rows_.end(), [&](int32_t a, int32_t b) {
        const QString& ka = keys.text[static_cast<size_t>(a)];
        const QString& kb = keys.text[static_cast<size_t>(b)];
        return asc ? ka < kb : kb < ka;
      });
    } else {
      std::stable_sort(rows_.begin(), rows_.end(), [&](int32_t a, int32_t b) {
        const uint64_t ka = keys.number[static_cast<size_t>(a)];
        const uint64_t kb = keys.number[static_cast<size_t>(b)];
        return asc ? ka < kb : kb < ka;
      });
    }
  }
  // Persistent indexes (current row, selection) follow their entries.
  const QModelIndexList from = persistentIndexList();
  if (!from.isEmpty()) {
    std::vector<int32_t> newRow(n, -1);
    for (size_t r = 0; r < rows_.size(); ++r) newRow[static_cast<size_t>(rows_[r])] = int32_t(r);
    QModelIndexList to;
    to.reserve(from.size());
    for (const QModelIndex& i : from) {
      const int32_t e = before[static_cast<size_t>(i.row())];
      to << createIndex(newRow[static_cast<size_t>(e)], i.column(), kListId);
    }
    changePersistentIndexList(from, to);
  }
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void TArchiveViewModel::SortTree(int column, Qt::SortOrder order) {
  const size_t n = nodes_.size();
  ColumnKeys keys;
  keys.column = column;
  const TArchiveEntries* x = entries_.get();
  if (keys.IsText()) {
    keys.text.resize(n);
    for (size_t i = 1; i < n; ++i) {
      const Node& node = nodes_[i];
      keys.text[i] = (node.entry < 0 ? node.path : NodeText(int32_t(i), column)).toCaseFolded();
    }
  } else {
    keys.number.resize(n);
    for (size_t i = 1; i < n; ++i) {
      const int e = nodes_[i].entry;
      if (e < 0) continue;
      const auto k = static_cast<size_t>(e);
      keys.number[i] = column == kColSize       ? x->size[k]
                       : column == kColDateTime ? DosTimeSortKey(x->dosTime[k])
                       : column == kColDisk     ? static_cast<uint64_t>(e)
                                                : 0;
    }
  }
  const bool asc = order == Qt::AscendingOrder;
  auto less = [&](int32_t a, int32_t b) {
    const bool fa = nodes_[static_cast<size_t>(a)].entry < 0;
    const bool fb = nodes_[static_cast<size_t>(b)].entry < 0;
    // Folder rows first; two folder rows by their paths.
    if (fa != fb) return fa;
    if (fa || keys.IsText()) {
      const QString& ka = keys.text[static_cast<size_t>(a)];
      const QString& kb = keys.text[static_cast<size_t>(b)];
      return asc ? ka < kb : kb < ka;
    }
    const uint64_t ka = keys.number[static_cast<size_t>(a)];
    const uint64_t kb = keys.number[static_cast<size_t>(b)];
    return asc ? ka < kb : kb < ka;
  };
  if (!keys.IsText()) {
    // Folder rows compare by path whatever the column.
    keys.text.resize(n);
    for (size_t i = 1; i < n; ++i)
      if (nodes_[i].entry < 0) keys.text[i] = nodes_[i].path.toCaseFolded();
  }
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  const QModelIndexList from = persistentIndexList();
  std::vector<int32_t> fromNodes;
  fromNodes.reserve(static_cast<size_t>(from.size()));
  for (const QModelIndex& i : from) fromNodes.push_back(NodeOf(i));
  for (Node& node : nodes_) {
    if (node.children.size() < 2) continue;
    if (column != kColNumber) {
      std::stable_sort(node.children.begin(), node.children.end(), less);
    } else {
      std::stable_partition(node.children.begin(), node.children.end(),
                            [&](int32_t c) { return nodes_[static_cast<size_t>(c)].entry < 0; });
    }
    for (size_t r = 0; r < node.children.size(); ++r)
      nodes_[static_cast<size_t>(node.children[r])].row = static_cast<int32_t>(r);
  }
  if (!from.isEmpty()) {
    QModelIndexList to;
    to.reserve(from.size());
    for (qsizetype k = 0; k < from.size(); ++k)
      to << NodeIndex(fromNodes[static_cast<size_t>(k)], from[k].column());
    changePersistentIndexList(from, to);
  }
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

// ---- ticks ---------------------------------------------------------------------------------

void TArchiveViewModel::EmitCheckChanged(int32_t parentNode, int first, int last) {
  const QModelIndex p = NodeIndex(parentNode);
  emit dataChanged(index(first, 0, p), index(last, 0, p), {Qt::CheckStateRole});
}

void TArchiveViewModel::SetTicked(const QModelIndex& idx, bool ticked) {
  const uint8_t state = ticked ? kTicked : kUnticked;
  if (kind_ == List) {
    const int e = EntryOf(idx);
    if (e < 0 || listTicks_[static_cast<size_t>(e)] == state) return;
    listTicks_[static_cast<size_t>(e)] = state;
    const QModelIndex i = index(idx.row(), 0);
    emit dataChanged(i, i, {Qt::CheckStateRole});
    return;
  }
  const int32_t n = NodeOf(idx);
  if (n < 0) return;
  SetSubtree(n, state);
  UpdateAncestors(nodes_[static_cast<size_t>(n)].parent);
}

void TArchiveViewModel::SetSubtree(int32_t node, uint8_t state) {
  treeTicks_[static_cast<size_t>(node)] = state;
  const QModelIndex self = NodeIndex(node);
  emit dataChanged(self, self, {Qt::CheckStateRole});
  std::vector<int32_t> stack{node};
  while (!stack.empty()) {
    const int32_t p = stack.back();
    stack.pop_back();
    const auto& ch = nodes_[static_cast<size_t>(p)].children;
    if (ch.empty()) continue;
    for (int32_t c : ch) {
      treeTicks_[static_cast<size_t>(c)] = state;
      if (!nodes_[static_cast<size_t>(c)].children.empty()) stack.push_back(c);
    }
    EmitCheckChanged(p, 0, static_cast<int>(ch.size()) - 1);
  }
}

void TArchiveViewModel::UpdateAncestors(int32_t node) {
  for (int32_t p = node; p >= 0; p = nodes_[static_cast<size_t>(p)].parent) {
    bool any = false, all = true;
    for (int32_t c : nodes_[static_cast<size_t>(p)].children) {
      const uint8_t s = treeTicks_[static_cast<size_t>(c)];
      any = any || s != kUnticked;
      all = all && s == kTicked;
    }
    const uint8_t state = all ? kTicked : any ? kPartly : kUnticked;
    if (treeTicks_[static_cast<size_t>(p)] == state) return;
    treeTicks_[static_cast<size_t>(p)] = state;
    const QModelIndex i = NodeIndex(p);
    emit dataChanged(i, i, {Qt::CheckStateRole});
  }
}

void TArchiveViewModel::ClearTicks() {
  if (kind_ == List) {
    std::fill(listTicks_.begin(), listTicks_.end(), kUnticked);
    if (!rows_.empty())
      emit dataChanged(index(0, 0), index(static_cast<int>(rows_.size()) - 1, 0),
                       {Qt::CheckStateRole});
  } else if (kind_ == Tree) {
    SetSubtree(0, kUnticked);
  }
}

int TArchiveViewModel::TickedCount() const {
  const auto& v = kind_ == List ? listTicks_ : treeTicks_;
  return static_cast<int>(std::count(v.begin(), v.end(), kTicked));
}

void TArchiveViewModel::ForEachTickedEntry(const std::function<void(int)>& f) const {
  if (kind_ == List) {
    for (int32_t e : rows_)
      if (listTicks_[static_cast<size_t>(e)] == kTicked) f(e);
    return;
  }
  if (kind_ != Tree) return;
  std::vector<int32_t> stack{0};
  while (!stack.empty()) {
    const int32_t n = stack.back();
    stack.pop_back();
    const Node& node = nodes_[static_cast<size_t>(n)];
    if (node.entry >= 0 && treeTicks_[static_cast<size_t>(n)] == kTicked) f(node.entry);
    for (auto it = node.children.rbegin(); it != node.children.rend(); ++it) stack.push_back(*it);
  }
}

}  // namespace restore
