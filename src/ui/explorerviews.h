// The explorer views of the "Browser" tab: the folder tree and the list of the current folder.
// They only view ExplorerTreeModel / ExplorerListModel; the ticks live in the models' store.
#pragma once

#include <QString>
#include <QStringList>
#include <QTreeView>
#include <string>
#include <vector>

#include "app/explorermodels.h"

class QAction;

class TExplorerTree : public QTreeView {
  Q_OBJECT
 public:
  explicit TExplorerTree(ExplorerTreeModel* model, QWidget* parent = nullptr);
  ExplorerTreeModel* Model() const { return model_; }

  // The highlighted (selected) folders, used as the sources when nothing is ticked: as raw
  // paths, and as text for display.
  std::vector<std::string> Highlighted() const;
  QStringList HighlightedPaths() const;
  // The folder of the current item ("" when none).
  std::string CurrentFolderPath() const;
  QString CurrentFolder() const;
  // Opens the tree down to a folder given as a raw path.
  bool BrowseToPath(const std::string& path);
  // Opens the tree down to a folder and makes it the current item (false when not found).
  bool BrowseTo(const QString& path);
  // Unticks everything; does nothing before the window has been shown for the first time.
  void Clearchecks();
  void SetWindowShown() { windowShown_ = true; }

  // The popup: "Clear Selected" (Clearchecks) and "Program DIR" (browse to the program folder).
  QAction* ClearSelectedAction() const { return clearSelected_; }
  QAction* ProgramDirAction() const { return programDir_; }

  // F5: every folder read again from disk (the list with it, when linked).
  void Reread();

 signals:
  // The current folder changed (the list shows its content).
  void CurrentFolderChanged(const QString& path);
  // A check box was clicked (or Space pressed) while ticking is not possible (no archive named).
  void TickRefused();
  // The tree was read again (F5).
  void RereadDone();

 protected:
  // A click on a check box also makes its item the highlighted one.
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  ExplorerTreeModel* model_;
  QAction* clearSelected_;
  QAction* programDir_;
  bool windowShown_ = false;
};

class TExplorerList : public QTreeView {
  Q_OBJECT
 public:
  explicit TExplorerList(ExplorerListModel* model, QWidget* parent = nullptr);
  ExplorerListModel* Model() const { return model_; }
  std::vector<std::string> Highlighted() const;
  QStringList HighlightedPaths() const;

 signals:
  // A double-click (or Enter) on a folder or on a file.
  void FolderActivated(const QString& path);
  void FileActivated(const QString& path);
  // The same for a folder, with its raw path (names need not be UTF-8).
  void FolderPathActivated(const std::string& path);
  // As the tree's.
  void TickRefused();
  // F5 in the list.
  void RereadRequested();

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  ExplorerListModel* model_;
};

// Keeps a tree and a list together: the list shows the tree's current folder, and a folder
// opened in the list becomes the tree's current folder.
void LinkExplorerViews(TExplorerTree* tree, TExplorerList* list);
