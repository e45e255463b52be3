// The archive view widget of the "Archive" tab: a tree view over the archive view model with
// uniform row heights; the Space key, header clicks and double clicks go to the archive view's
// commands (the popup menu is the window's, bound to the same commands). Also the desktop
// launcher of "Open".
#pragma once

#include <QHash>
#include <QIcon>
#include <QPointer>
#include <QTreeView>
#include <functional>

#include "restore/archiveviewhosts.h"

namespace restore {
class TArchiveViewController;
}

class TArchiveView : public QTreeView, public restore::IArchiveViewDisplay {
  Q_OBJECT
 public:
  // Shows the controller's model and registers itself as the controller's display.
  explicit TArchiveView(restore::TArchiveViewController& controller, QWidget* parent = nullptr);
  ~TArchiveView() override;

  void ApplyColumnLayout(const restore::TColumnLayout& layout) override;
  void SetFontSize(int points) override;
  void ShowSortIndicator(int column, bool descending) override;
  void ScrollToCurrent() override;
  // Keys typed into the view go here instead of the view's own keyboard search.
  std::function<void(const QString& text)> incrementalSearch;
  void keyboardSearch(const QString& search) override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QVariant Icon(int kind, const QString& fileName);
  void AfterReset();

  restore::TArchiveViewController& controller_;
  // The window may destroy the controller before its child widgets.
  QPointer<restore::TArchiveViewController> alive_;
  QHash<QString, QIcon> iconBySuffix_;
};

// Opens files with the desktop's default application.
class TQtDesktopLauncher : public restore::IDesktopLauncher {
 public:
  bool OpenFile(const QString& path, const QString& workingDir) override;
};
