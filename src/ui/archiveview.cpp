#include "ui/archiveview.h"

#include <QDesktopServices>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QStyle>
#include <QUrl>

#include "app/optionnames.h"
#include "restore/archiveviewcontroller.h"

using restore::TArchiveViewModel;

TArchiveView::TArchiveView(restore::TArchiveViewController& controller, QWidget* parent)
    : QTreeView(parent), controller_(controller), alive_(&controller) {
  setObjectName(QString::fromLatin1(ctl::kArchiveView));
  controller_.SetDisplay(this);
  TArchiveViewModel& model = controller_.model();
  setModel(&model);
  setSelectionModel(&controller_.selection());
  setUniformRowHeights(true);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSortingEnabled(false);
  setRootIsDecorated(false);
  setAllColumnsShowFocus(true);
  header()->setSectionsClickable(true);
  header()->setSortIndicatorShown(true);
  header()->setStretchLastSection(false);
  static const int kWidths[restore::kColumnCount] = {480, 220, 100, 60, 130, 50, 60};
  for (int c = 0; c < restore::kColumnCount; ++c) setColumnWidth(c, kWidths[c]);
  setColumnHidden(restore::kColPathname, true);
  setColumnHidden(restore::kColDisk, true);

  model.SetDecorationProvider(
      [this](TArchiveViewModel::IconKind kind, const QString& name) { return Icon(kind, name); });
  connect(header(), &QHeaderView::sectionClicked, this,
          [this](int column) { controller_.VTree1HeaderClick(column); });
  connect(this, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
    if (controller_.model().EntryOf(index) >= 0) controller_.Open1Click();
  });
  connect(this, &QTreeView::expanded, this,
          [this](const QModelIndex& i) { controller_.model().SetExpanded(i, true); });
  connect(this, &QTreeView::collapsed, this,
          [this](const QModelIndex& i) { controller_.model().SetExpanded(i, false); });
  connect(&model, &QAbstractItemModel::modelReset, this, [this] { AfterReset(); });
}

TArchiveView::~TArchiveView() {
  if (!alive_) return;
  controller_.SetDisplay(nullptr);
  controller_.model().SetDecorationProvider({});
}

void TArchiveView::AfterReset() {
  const bool tree = controller_.model().kind() == TArchiveViewModel::Tree;
  setRootIsDecorated(tree);
  if (tree) expand(controller_.model().FirstRow());
}

QVariant TArchiveView::Icon(int kind, const QString& fileName) {
  if (kind == TArchiveViewModel::FolderOpenIcon)
    return style()->standardIcon(QStyle::SP_DirOpenIcon);
  if (kind == TArchiveViewModel::FolderClosedIcon)
    return style()->standardIcon(QStyle::SP_DirClosedIcon);
  // One icon per file type: looking a type up is far slower than drawing a row.
  const QString suffix = QFileInfo(fileName).suffix().toLower();
  auto it = iconBySuffix_.constFind(suffix);
  if (it == iconBySuffix_.constEnd()) {
    static QFileIconProvider provider;
    it = iconBySuffix_.insert(suffix, provider.icon(QFileInfo(fileName)));
  }
  return it.value();
}

void TArchiveView::ApplyColumnLayout(const restore::TColumnLayout& layout) {
  setColumnWidth(restore::kColFileName, layout.fileNameWidth);
  setColumnHidden(restore::kColPathname, !layout.pathnameVisible);
  setColumnHidden(restore::kColDisk, !layout.diskVisible);
}

void TArchiveView::SetFontSize(int points) {
  QFont f = font();
  f.setPointSize(points);
  setFont(f);
}

void TArchiveView::ShowSortIndicator(int column, bool descending) {
  header()->setSortIndicator(column, descending ? Qt::DescendingOrder : Qt::AscendingOrder);
}

void TArchiveView::ScrollToCurrent() {
  if (currentIndex().isValid()) scrollTo(currentIndex());
}

void TArchiveView::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Space) {
    controller_.VTree1KeyAction();
    event->accept();
    return;
  }
  QTreeView::keyPressEvent(event);
}

void TArchiveView::keyboardSearch(const QString& search) {
  if (incrementalSearch) incrementalSearch(search);
}

// ---- desktop -------------------------------------------------------------

bool TQtDesktopLauncher::OpenFile(const QString& path, const QString&) {
  return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}
