// The inclusion grid: three columns of wildcard patterns (INCLUDE, EXCLUDE, NOCOMP) that narrow
// the selection, keep files out of the archive and store files without compression.
//
// The grid has 20 rows; row 0 is the header ("Include", "Exclude", "NoComp") and rows 1-19 hold
// the patterns. Operations that scan the grid look at rows 1 to 29 (kScanRows); rows past the
// last grid row read as empty and writes to them are ignored.
//
// The class is also the Qt model a table view edits: model row r is grid row r + 1, and the
// header row is the model's horizontal header.
#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <QStringList>
#include <array>
#include <vector>

#include "app/optionhosts.h"

class TInclusionGrid : public QAbstractTableModel, public IGridCells {
  Q_OBJECT
 public:
  enum Column { INCLUDE = 0, EXCLUDE = 1, NOCOMP = 2 };
  static constexpr int kColCount = 3;
  static constexpr int kRowCount = 20;  // header row 0 included
  static constexpr int kScanRows = 29;  // rows 1..29 are scanned

  explicit TInclusionGrid(QObject* parent = nullptr);

  int RowCount() const override { return kRowCount; }
  int ColCount() const { return kColCount; }

  // Cell text; the header for row 0; empty outside the grid.
  QString Cell(int col, int row) const override;
  // Sets a cell (row 0 sets a header text). Outside the grid: ignored.
  void SetCell(int col, int row, const QString& text) override;

  // Repainting is suspended between these while many cells change (nested calls allowed).
  void BeginUpdate() override { ++updating_; }
  void EndUpdate() override;

  // Enter in a cell: a non-empty cell is put in upper case and the cursor moves one row down
  // (it stays in the last row). Returns the row the cursor is in afterwards.
  int EnterKey(int col, int row);
  // For each column the non-blank cells of rows 1-29 are written back from row 1 down, in their
  // old order and in upper case; blank cells are dropped.
  void Tidy();
  // Empties rows 1-29 of all columns; the header stays.
  void Clear();
  // The patterns a new window's grid holds in a column, from row 1 down.
  static const QStringList& DefaultColumn(int col);

  // The trimmed, non-empty cells of rows 1-29 of one column, in row order.
  QStringList Patterns(int col) const;
  // The cells of rows 1-29 of one column that are not empty, untrimmed, in row order.
  QStringList RawCells(int col) const;

  // QAbstractItemModel
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 private:
  void EmitAll();
  std::array<std::array<QString, kRowCount>, kColCount> cells_;
  int updating_ = 0;
};
