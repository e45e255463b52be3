#include "app/inclusiongrid.h"

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QSignalSpy>

TEST(InclusionGrid, HeaderAndBoundsOfTheScan) {
  TInclusionGrid g;
  EXPECT_EQ(g.Cell(0, 0), "Include");
  EXPECT_EQ(g.Cell(1, 0), "Exclude");
  EXPECT_EQ(g.Cell(2, 0), "NoComp");
  EXPECT_EQ(g.RowCount(), 20);
  // Rows past the grid read as empty and cannot be written.
  g.SetCell(0, 25, "*.X");
  EXPECT_EQ(g.Cell(0, 25), "");
  g.SetCell(0, 19, " *.Y ");
  g.SetCell(0, 3, "*.*");
  EXPECT_EQ(g.Patterns(0), (QStringList{"*.*", "*.Y"}));
  EXPECT_EQ(g.RawCells(0), (QStringList{"*.*", " *.Y "}));
}

TEST(InclusionGrid, EnterUppercasesAndMovesDownButStaysInLastRow) {
  TInclusionGrid g;
  EXPECT_EQ(g.EnterKey(0, 1), 1) << "an empty cell does nothing";
  g.SetCell(1, 1, "*.bak");
  EXPECT_EQ(g.EnterKey(1, 1), 2);
  EXPECT_EQ(g.Cell(1, 1), "*.BAK");
  g.SetCell(2, 19, "*.jpg");
  EXPECT_EQ(g.EnterKey(2, 19), 19);
  EXPECT_EQ(g.Cell(2, 19), "*.JPG");
}

TEST(InclusionGrid, TidyCompactsEachColumnInOrderAndClearKeepsHeader) {
  TInclusionGrid g;
  g.SetCell(0, 2, "*.A");
  g.SetCell(0, 3, "  ");
  g.SetCell(0, 4, "*.b");
  g.SetCell(2, 19, "*.z");
  g.Tidy();
  EXPECT_EQ(g.Cell(0, 1), "*.A");
  EXPECT_EQ(g.Cell(0, 2), "*.B");
  for (int r = 3; r < 20; ++r) EXPECT_EQ(g.Cell(0, r), "") << r;
  EXPECT_EQ(g.Cell(2, 1), "*.Z");
  EXPECT_EQ(g.Cell(2, 19), "");
  g.Clear();
  for (int c = 0; c < 3; ++c)
    for (int r = 1; r < 20; ++r) EXPECT_EQ(g.Cell(c, r), "");
  EXPECT_EQ(g.Cell(2, 0), "NoComp");
}

TEST(InclusionGrid, ModelViewOfDataRows) {
  TInclusionGrid g;
  QAbstractItemModelTester tester(&g, QAbstractItemModelTester::FailureReportingMode::Fatal);
  EXPECT_EQ(g.rowCount(), 19);
  EXPECT_EQ(g.headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), "Exclude");
  QSignalSpy spy(&g, &QAbstractItemModel::dataChanged);
  EXPECT_TRUE(g.setData(g.index(0, 1), "*.tmp", Qt::EditRole));
  EXPECT_EQ(g.Cell(1, 1), "*.tmp");
  EXPECT_EQ(spy.count(), 1);
  g.Tidy();
  EXPECT_EQ(g.data(g.index(0, 1), Qt::DisplayRole).toString(), "*.TMP");

  // Loading many cells tells the view once.
  spy.clear();
  g.BeginUpdate();
  for (int r = 1; r < 20; ++r) g.SetCell(2, r, "*.X");
  g.Clear();
  EXPECT_EQ(spy.count(), 0);
  g.EndUpdate();
  EXPECT_EQ(spy.count(), 1);
}
