#include "ui/explorerviews.h"

#include <QAction>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyledItemDelegate>

#include "platform/programdir.h"
#include "ui/widgetkit.h"

namespace {

// Runs the view's own release handling; when it toggled the check box under the mouse, that
// item becomes the current and only selected one.
template <typename Base>
void ReleaseAndHighlight(QAbstractItemView* view, QMouseEvent* event, Base base) {
  const QPersistentModelIndex at = view->indexAt(event->position().toPoint());
  const QVariant before = at.isValid() ? at.data(Qt::CheckStateRole) : QVariant();
  base();
  if (at.isValid() && before.isValid() && at.data(Qt::CheckStateRole) != before) {
    view->selectionModel()->setCurrentIndex(
        at, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  }
}

// Draws the check box of an item that cannot be ticked now (outside make mode) greyed out: it
// shows what is ticked, and that ticking waits for something.
class TTickDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* p, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    QStyledItemDelegate::paint(p, option, index);
    const QVariant check = index.data(Qt::CheckStateRole);
    if (!check.isValid() || (index.flags() & Qt::ItemIsUserCheckable)) return;
    QStyleOptionViewItem opt(option);
    initStyleOption(&opt, index);
    ui::RedrawItemIndicator(p, opt, QStyle::PE_IndicatorItemViewItemCheck, false);
  }
};

// True when a click at pos falls on the check box of an item that cannot be ticked now.
bool OnLockedCheckBox(const QAbstractItemView* view, const QModelIndex& at, const QPoint& pos) {
  if (!at.isValid() || !at.data(Qt::CheckStateRole).isValid() ||
      (at.flags() & Qt::ItemIsUserCheckable))
    return false;
  const QRect r = view->visualRect(at);
  const QStyle* style = view->style();
  const int box = style->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, view) +
                  3 * style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 2;
  return pos.x() >= r.left() && pos.x() < r.left() + box;
}

}  // namespace

TExplorerTree::TExplorerTree(ExplorerTreeModel* model, QWidget* parent)
    : QTreeView(parent), model_(model) {
  setModel(model);
  setItemDelegate(new TTickDelegate(this));
  setHeaderHidden(true);
  // A folder is read again each time it is opened, so folders made since show up.
  connect(this, &QTreeView::expanded, this,
          [this](const QModelIndex& i) { model_->RefreshFolder(i, false); });
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setUniformRowHeights(true);
  connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current) {
            emit CurrentFolderChanged(current.data(PathRole).toString());
          });
  setContextMenuPolicy(Qt::ActionsContextMenu);
  clearSelected_ = new QAction(QStringLiteral("Clear Selected"), this);
  clearSelected_->setObjectName(QStringLiteral("ExplorerClearSelected"));
  programDir_ = new QAction(QStringLiteral("Program DIR"), this);
  programDir_->setObjectName(QStringLiteral("ExplorerProgramDIR"));
  addAction(clearSelected_);
  addAction(programDir_);
  connect(clearSelected_, &QAction::triggered, this, &TExplorerTree::Clearchecks);
  connect(programDir_, &QAction::triggered, this, [this] { BrowseToPath(ProgramDir()); });
}

void TExplorerTree::mouseReleaseEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  if (OnLockedCheckBox(this, indexAt(pos), pos)) emit TickRefused();
  ReleaseAndHighlight(this, event, [&] { QTreeView::mouseReleaseEvent(event); });
}

void TExplorerTree::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_F5 && event->modifiers() == Qt::NoModifier) {
    Reread();
    return;
  }
  if (event->key() == Qt::Key_Space && currentIndex().isValid() &&
      !(currentIndex().flags() & Qt::ItemIsUserCheckable))
    emit TickRefused();
  QTreeView::keyPressEvent(event);
}

void TExplorerTree::Reread() {
  model_->Refresh();
  emit RereadDone();
}

void TExplorerList::mouseReleaseEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  if (OnLockedCheckBox(this, indexAt(pos), pos)) emit TickRefused();
  ReleaseAndHighlight(this, event, [&] { QTreeView::mouseReleaseEvent(event); });
}

void TExplorerList::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_F5 && event->modifiers() == Qt::NoModifier) {
    emit RereadRequested();
    return;
  }
  if (event->key() == Qt::Key_Space && currentIndex().isValid() &&
      !(model_->flags(model_->index(currentIndex().row(), ExplorerListModel::NameColumn)) &
        Qt::ItemIsUserCheckable))
    emit TickRefused();
  QTreeView::keyPressEvent(event);
}

void TExplorerTree::Clearchecks() {
  if (windowShown_ && model_->Store()) model_->Store()->Clear();
}

std::vector<std::string> TExplorerTree::Highlighted() const {
  std::vector<std::string> out;
  for (const QModelIndex& i : selectionModel()->selectedRows()) out.push_back(model_->PathOf(i));
  return out;
}

QStringList TExplorerTree::HighlightedPaths() const {
  QStringList out;
  for (const QModelIndex& i : selectionModel()->selectedRows()) out << i.data(PathRole).toString();
  return out;
}

std::string TExplorerTree::CurrentFolderPath() const {
  return model_->PathOf(currentIndex());
}

QString TExplorerTree::CurrentFolder() const {
  return currentIndex().data(PathRole).toString();
}

bool TExplorerTree::BrowseTo(const QString& path) {
  return BrowseToPath(PathBytes(path));
}

bool TExplorerTree::BrowseToPath(const std::string& path) {
  std::string p = path;
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
  setItemDelegate(new TTickDelegate(this));
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setUniformRowHeights(true);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  header()->setSectionResizeMode(ExplorerListModel::NameColumn, QHeaderView::Stretch);
  header()->setStretchLastSection(false);
  connect(this, &QAbstractItemView::activated, this, [this](const QModelIndex& i) {
    const QString path = i.data(PathRole).toString();
    if (i.data(IsFolderRole).toBool()) {
      emit FolderPathActivated(model_->PathOf(i));
      emit FolderActivated(path);
    } else {
      emit FileActivated(path);
    }
  });
}

std::vector<std::string> TExplorerList::Highlighted() const {
  std::vector<std::string> out;
  for (const QModelIndex& i : selectionModel()->selectedRows()) out.push_back(model_->PathOf(i));
  return out;
}

QStringList TExplorerList::HighlightedPaths() const {
  QStringList out;
  for (const QModelIndex& i : selectionModel()->selectedRows()) out << i.data(PathRole).toString();
  return out;
}

void LinkExplorerViews(TExplorerTree* tree, TExplorerList* list) {
  // Raw paths throughout: a folder whose name is not UTF-8 does not survive a trip through text.
  QObject::connect(tree, &TExplorerTree::CurrentFolderChanged, list,
                   [tree, list] { list->Model()->SetFolder(tree->CurrentFolderPath()); });
  QObject::connect(list, &TExplorerList::FolderPathActivated, tree,
                   [tree, list](const std::string& path) {
                     if (!tree->BrowseToPath(path)) list->Model()->SetFolder(path);
                   });
  // F5 in either reads both again.
  QObject::connect(tree, &TExplorerTree::RereadDone, list, [list] { list->Model()->Refresh(); });
  QObject::connect(list, &TExplorerList::RereadRequested, tree, &TExplorerTree::Reread);
}
