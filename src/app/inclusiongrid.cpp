#include "app/inclusiongrid.h"

TInclusionGrid::TInclusionGrid(QObject* parent) : QAbstractTableModel(parent) {
  cells_[INCLUDE][0] = QStringLiteral("Include");
  cells_[EXCLUDE][0] = QStringLiteral("Exclude");
  cells_[NOCOMP][0] = QStringLiteral("NoComp");
}

QString TInclusionGrid::Cell(int col, int row) const {
  if (col < 0 || col >= kColCount || row < 0 || row >= kRowCount) return {};
  return cells_[col][row];
}

void TInclusionGrid::SetCell(int col, int row, const QString& text) {
  if (col < 0 || col >= kColCount || row < 0 || row >= kRowCount) return;
  if (cells_[col][row] == text) return;
  cells_[col][row] = text;
  if (updating_ > 0) return;
  if (row == 0) {
    emit headerDataChanged(Qt::Horizontal, col, col);
  } else {
    const QModelIndex i = index(row - 1, col);
    emit dataChanged(i, i);
  }
}

int TInclusionGrid::EnterKey(int col, int row) {
  if (Cell(col, row).isEmpty()) return row;
  SetCell(col, row, Cell(col, row).toUpper());
  return row + 1 < kRowCount ? row + 1 : row;
}

void TInclusionGrid::Tidy() {
  for (int c = 0; c < kColCount; ++c) {
    QStringList kept;
    for (int r = 1; r <= kScanRows; ++r) {
      const QString text = Cell(c, r).toUpper();
      if (!text.trimmed().isEmpty()) kept << text;
    }
    for (int r = 1; r < kRowCount; ++r) {
      cells_[c][r] = r - 1 < kept.size() ? kept[r - 1] : QString();
    }
  }
  EmitAll();
}

const QStringList& TInclusionGrid::DefaultColumn(int col) {
  static const QStringList include{QStringLiteral("*.*")};
  static const QStringList exclude{QStringLiteral("*.TMP"), QStringLiteral("*.SWP")};
  // Row 3 repeats "*.JPG", as the first window always had it.
  static const QStringList nocomp{QStringLiteral("*.JPG"), QStringLiteral("*.GIF"),
                                  QStringLiteral("*.JPG"), QStringLiteral("*.MP3"),
                                  QStringLiteral("*.OGG"), QStringLiteral("*.MP4")};
  static const QStringList none;
  switch (col) {
    case INCLUDE:
      return include;
    case EXCLUDE:
      return exclude;
    case NOCOMP:
      return nocomp;
    default:
      return none;
  }
}

void TInclusionGrid::Clear() {
  for (auto& col : cells_) {
    for (int r = 1; r < kRowCount; ++r) col[r].clear();
  }
  EmitAll();
}

QStringList TInclusionGrid::Patterns(int col) const {
  QStringList out;
  for (int r = 1; r <= kScanRows; ++r) {
    const QString t = Cell(col, r).trimmed();
    if (!t.isEmpty()) out << t;
  }
  return out;
}

QStringList TInclusionGrid::RawCells(int col) const {
  QStringList out;
  for (int r = 1; r <= kScanRows; ++r) {
    const QString t = Cell(col, r);
    if (!t.isEmpty()) out << t;
  }
  return out;
}

void TInclusionGrid::EndUpdate() {
  if (updating_ > 0 && --updating_ == 0) {
    emit headerDataChanged(Qt::Horizontal, 0, kColCount - 1);
    EmitAll();
  }
}

void TInclusionGrid::EmitAll() {
  if (updating_ > 0) return;
  emit dataChanged(index(0, 0), index(kRowCount - 2, kColCount - 1));
}

int TInclusionGrid::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kRowCount - 1;
}

int TInclusionGrid::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColCount;
}

QVariant TInclusionGrid::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  if (role == Qt::DisplayRole || role == Qt::EditRole) {
    return Cell(index.column(), index.row() + 1);
  }
  return {};
}

bool TInclusionGrid::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || role != Qt::EditRole) return false;
  SetCell(index.column(), index.row() + 1, value.toString());
  return true;
}

QVariant TInclusionGrid::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Horizontal) return Cell(section, 0);
  return section + 1;
}

Qt::ItemFlags TInclusionGrid::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable;
}
