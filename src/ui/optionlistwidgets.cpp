#include "ui/optionlistwidgets.h"

#include <QListWidget>
#include <QSignalBlocker>

QListWidget* NewOptionList(QWidget* parent, const OptionListSpec& spec) {
  auto* list = new QListWidget(parent);
  list->setObjectName(QString::fromLatin1(spec.name));
  list->setToolTip(spec.hint);
  list->setUniformItemSizes(true);
  list->setSelectionMode(QAbstractItemView::NoSelection);
  list->setFocusPolicy(Qt::StrongFocus);
  list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  const int row = kOptionRowHeight;
  for (int i = 0; i < spec.items.size(); ++i) {
    auto* item = new QListWidgetItem(spec.items.at(i), list);
    item->setSizeHint(QSize(0, row));
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
    item->setCheckState(spec.checked.contains(i) ? Qt::Checked : Qt::Unchecked);
  }
  // Clicking an item's text toggles it like its box.
  QObject::connect(list, &QListWidget::itemClicked, list, [list](QListWidgetItem* item) {
    if (!(item->flags() & Qt::ItemIsEnabled)) return;
    const QPoint local = list->viewport()->mapFromGlobal(QCursor::pos());
    if (local.x() <= 20) return;  // the box itself already toggled it
    item->setCheckState(item->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
  });
  if (spec.radio) {
    QObject::connect(list, &QListWidget::itemChanged, list, [list](QListWidgetItem* item) {
      const QSignalBlocker block(list);
      if (item->checkState() == Qt::Checked) {
        for (int i = 0; i < list->count(); ++i)
          if (list->item(i) != item) list->item(i)->setCheckState(Qt::Unchecked);
      } else if (CheckedItems(list).isEmpty()) {
        item->setCheckState(Qt::Checked);  // a radio list never ends with nothing checked
      }
    });
  }
  // Every row shows at once, and every item in full.
  int widest = 0;
  for (const QString& t : spec.items)
    widest = std::max(widest, list->fontMetrics().horizontalAdvance(t));
  list->setMinimumWidth(widest + 24 + 2 * list->frameWidth());
  list->setFixedHeight(row * static_cast<int>(spec.items.size()) + 2 * list->frameWidth() + 2);
  return list;
}

QList<int> CheckedItems(const QListWidget* list) {
  QList<int> out;
  for (int i = 0; i < list->count(); ++i)
    if (list->item(i)->checkState() == Qt::Checked) out.append(i);
  return out;
}
