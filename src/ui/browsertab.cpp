// The "Browser" page: the explorer tree of folders beside the explorer list of the chosen folder.
#include "ui/tabbuilders.h"

#include <QHBoxLayout>
#include <QSplitter>
#include <QWidget>

#include "app/explorer.h"
#include "ui/explorerviews.h"
#include "ui/widgetkit.h"
#include "ui/windownames.h"

using ui::S;

TBrowserTab BuildBrowserTab(TExplorer& explorer) {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("TabBrowser"));
  auto* h = new QHBoxLayout(page);
  h->setContentsMargins(2, 2, 2, 2);
  auto* split = new QSplitter(Qt::Horizontal, page);

  auto* tree = new TExplorerTree(&explorer.TreeModel(), split);
  tree->setObjectName(S(ctl::kExplorerTree));
  tree->setToolTip(S("Single-Click directory to select"));
  tree->setEnabled(false);

  auto* list = new TExplorerList(&explorer.ListModel(), split);
  list->setObjectName(S(ctl::kExplorerList));
  list->setToolTip(S("Double-Click ZIP to Open, Single-Click directory to select"));
  list->setEnabled(false);
  list->setColumnWidth(0, 220);
  LinkExplorerViews(tree, list);
  split->setSizes({280, 500});
  h->addWidget(split);
  return {page, tree, list};
}
