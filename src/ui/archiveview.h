// The archive view widget of the "Archive" tab: a tree view over the archive view model with
// uniform row heights, its popup ("Goto First", "Goto Last", "Clear Selected", "Open"), the
// Space key, header clicks and double clicks bound to the archive view's commands. Also the
// desktop launcher of "Open".
#pragma once

#include <QHash>
#include <QIcon>
#include <QPointer>
#include <QTreeView>

#include "restore/archiveviewhosts.h"

class QMenu;

namespace restore {
class TArchiveViewController;
}

class TArchiveView : public QTreeView, public restore::IArchiveViewDisplay {
  Q_OBJECT
 public:
  // Shows the controller's model and registers itself as the controller's display.
  explicit TArchiveView(restore::TArchiveViewController& controller, QWidget* parent = nullptr);
  ~TArchiveView() override;

  // The popup menu; the window may add its own items.
  QMenu* popupMenu() const { return popup_; }

  void ApplyColumnLayout(const restore::TColumnLayout& layout) override;
  void SetFontSize(int points) override;
  void ShowSortIndicator(int column, bool descending) override;
  void ScrollToCurrent() override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  QVariant Icon(int kind, const QString& fileName);
  void AfterReset();

  restore::TArchiveViewController& controller_;
  // The window may destroy the controller before its child widgets.
  QPointer<restore::TArchiveViewController> alive_;
  QMenu* popup_ = nullptr;
  QHash<QString, QIcon> iconBySuffix_;
};

// Opens files with the desktop's default application.
class TQtDesktopLauncher : public restore::IDesktopLauncher {
 public:
  bool OpenFile(const QString& path, const QString& workingDir) override;
};
