// Check-list widgets for the option lists of the "Make" and "Archive" tabs: one row per item,
// each with a check box. A radio list keeps exactly one item checked.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class QListWidget;
class QWidget;

// Height of one row: the lists show all their items without scrolling.
constexpr int kOptionRowHeight = 15;

struct OptionListSpec {
  const char* name;  // objectName
  QStringList items;
  QList<int> checked;  // items checked at start
  bool radio = false;
  QString hint;
};

QListWidget* NewOptionList(QWidget* parent, const OptionListSpec& spec);
// Indexes of the checked items.
QList<int> CheckedItems(const QListWidget* list);
