#include "ui/inclusiongridview.h"

#include <QAction>
#include <QHeaderView>
#include <QKeyEvent>

TInclusionGridView::TInclusionGridView(TInclusionGrid* grid, QWidget* parent)
    : QTableView(parent), grid_(grid) {
  setModel(grid);
  setToolTip(QStringLiteral("Inclusion specifications for Archive\n    Click cell to add/change"));
  setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::DoubleClicked |
                  QAbstractItemView::EditKeyPressed | QAbstractItemView::AnyKeyPressed);
  setSelectionMode(QAbstractItemView::SingleSelection);
  horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
  verticalHeader()->hide();
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  setContextMenuPolicy(Qt::ActionsContextMenu);
  tidy_ = new QAction(QStringLiteral("Tidy Grid"), this);
  tidy_->setObjectName(QStringLiteral("GridViewTidy"));
  clear_ = new QAction(QStringLiteral("Clear Grid"), this);
  clear_->setObjectName(QStringLiteral("GridViewClear"));
  addAction(tidy_);
  addAction(clear_);
  connect(tidy_, &QAction::triggered, grid_, &TInclusionGrid::Tidy);
  connect(clear_, &QAction::triggered, grid_, &TInclusionGrid::Clear);
}

void TInclusionGridView::Enter() {
  const QModelIndex cur = currentIndex();
  if (!cur.isValid()) return;
  const int row = grid_->EnterKey(cur.column(), cur.row() + 1);
  setCurrentIndex(grid_->index(row - 1, cur.column()));
}

void TInclusionGridView::keyPressEvent(QKeyEvent* event) {
  if (state() != EditingState &&
      (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
    Enter();
    return;
  }
  QTableView::keyPressEvent(event);
}

void TInclusionGridView::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) {
  QTableView::closeEditor(editor, hint);
  // Enter in the editor commits the text and ends with SubmitModelCache.
  if (hint == QAbstractItemDelegate::SubmitModelCache) Enter();
}
