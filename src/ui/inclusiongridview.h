// The inclusion grid's table on the "Make" tab: cells edited in place, Enter puts a cell in
// upper case and moves down, and a popup with "Tidy Grid" and "Clear Grid".
#pragma once

#include <QTableView>

#include "app/inclusiongrid.h"

class QAction;

class TInclusionGridView : public QTableView {
  Q_OBJECT
 public:
  explicit TInclusionGridView(TInclusionGrid* grid, QWidget* parent = nullptr);
  TInclusionGrid* Grid() const { return grid_; }
  QAction* TidyAction() const { return tidy_; }
  QAction* ClearAction() const { return clear_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;

 private:
  void Enter();
  TInclusionGrid* grid_;
  QAction* tidy_;
  QAction* clear_;
};
