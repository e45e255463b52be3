// The builders of the main window's pages, the button bar and the status bars. Each builds its
// widgets with their control names, captions, hints and initial states; the window puts them
// together and binds them.
#pragma once

#include <QComboBox>
#include <functional>

class QVBoxLayout;
class QWidget;
class TExplorer;
class TExplorerList;
class TExplorerTree;
class TInclusionGrid;
class TInclusionGridView;

struct TBrowserTab {
  QWidget* page = nullptr;
  TExplorerTree* tree = nullptr;
  TExplorerList* list = nullptr;
};
// "Browser": the explorer tree beside the explorer list, both showing explorer's models.
TBrowserTab BuildBrowserTab(TExplorer& explorer);

struct TMakeTab {
  QWidget* page = nullptr;
  TInclusionGridView* grid = nullptr;
};
// "Make" with its inner tabs "ZIP" (the option groups, the inclusion grid showing grid) and
// "Report /ZIP Comment && Scheduler".
TMakeTab BuildMakeTab(TInclusionGrid* grid);
QWidget* BuildZipTab(TInclusionGrid* grid, TInclusionGridView** gridView);
QWidget* BuildReportTab();

// The search box of "File Search": tells when its list is about to open.
class TSearchBox : public QComboBox {
  Q_OBJECT
 public:
  using QComboBox::QComboBox;
  void showPopup() override;
 signals:
  void aboutToShowPopup();
};

// "Archive": the archive view (buildView makes it on the page), "File Search", "Views and
// Expedite" and "Extract Method".
QWidget* BuildArchiveTab(const std::function<QWidget*(QWidget* page)>& buildView);

// The row of command buttons under the pages.
QWidget* BuildButtonBar();
// The two status bars at the bottom of host, added to layout.
void BuildStatusBars(QWidget* host, QVBoxLayout* layout);
