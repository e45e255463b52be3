#include "ui/explorerviews.h"

#include <QAction>
#include <QHeaderView>

#include "platform/programdir.h"

TExplorerTree::TExplorerTree(ExplorerTreeModel* model, QWidget* parent)
    : QTreeView(parent), model_(model) {
  setModel(model);
  setHeaderHidden(true);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setUniformRowHeights(true);
  connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current) {
            emit CurrentFolderChanged(current.data(PathRole).toString());
          });
  setContextMenuPolicy(Qt::ActionsContextMenu);
  clearSelected_ = new QAction(QStringLiteral("Clear Selected"), this);
  clearSelected_->setObjectName(QStringLiteral("ClearSelected"));
  programDir_ = new QAction(QStringLiteral("Program DIR"), this);
  programDir_->setObjectName(QStringLiteral("ProgramDIR1"));
  addAction(clearSelected_);
  addAction(programDir_);
  connect(clearSelected_, &QAction::triggered, this, &TExplorerTree::Clearchecks);
  connect(programDir_, &QAction::triggered, this, [this] { BrowseTo(PathText(ProgramDir())); });
}

void TExplorerTree::Clearchecks() {
  if (windowShown_ && model_->Store()) model_->Store()->Clear();
}

QStringList TExplorerTree::HighlightedPaths() const {
  QStringList out;
  for (const QModelIndex& i : selectionModel()->selectedRows()) out << i.data(PathRole).toString();
  return out;
}

QString TExplorerTree::CurrentFolder() const {
  return currentIndex().data(PathRole).toString();
}

bool TExplorerTree::BrowseTo(const QString& path) {
  std::string p = PathBytes(path);
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  const QModelIndex i = model_->IndexForPath(p);
  if (!i.isValid()) return false;
  for (QModelIndex a = i.parent(); a.isValid(); a = a.parent()) expand(a);
  setCurrentIndex(i);
  scrollTo(i);
  return true;
}

TExplorerList::TExplorerList(ExplorerListModel* model, QWidget* parent)
    : QTreeView(parent), model_(model) {
  setModel(model);
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setUniformRowHeights(true);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  header()->setSectionResizeMode(ExplorerListModel::NameColumn, QHeaderView::Stretch);
  header()->setStretchLastSection(false);
  connect(this, &QAbstractItemView::activated, this, [this](const QModelIndex& i) {
    const QString path = i.data(PathRole).toString();
    if (i.data(IsFolderRole).toBool()) {
      emit FolderActivated(path);
    } else {
      emit FileActivated(path);
    }
  });
}

QStringList TExplorerList::HighlightedPaths() const {
  QStringList out;
  for (const QModelIndex& i : selectionModel()->selectedRows()) out << i.data(PathRole).toString();
  return out;
}

void LinkExplorerViews(TExplorerTree* tree, TExplorerList* list) {
  QObject::connect(tree, &TExplorerTree::CurrentFolderChanged, list,
                   [list](const QString& path) { list->Model()->SetFolder(PathBytes(path)); });
  QObject::connect(list, &TExplorerList::FolderActivated, tree, [tree, list](const QString& path) {
    if (!tree->BrowseTo(path)) list->Model()->SetFolder(PathBytes(path));
  });
}
