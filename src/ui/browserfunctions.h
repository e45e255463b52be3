// "Browser Functions" of the explorer tree's and list's popups: "Open" hands the highlighted
// files and folders to the desktop's opener, "Show in File Manager" asks the session's file
// manager to show them (selected in their folders), or else opens their folders.
#pragma once

#include <QList>
#include <QObject>
#include <QUrl>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ui/bindings.h"

class TMainform;

// The desktop as the explorer's popups reach it; tests replace it.
class IDesktopShell {
 public:
  virtual ~IDesktopShell() = default;
  // Opens url with the desktop's opener; false when nothing took it.
  virtual bool OpenUrl(const QUrl& url) = 0;
  // Asks the file manager to show the items; done(false) when no file manager took them.
  virtual void ShowItems(const QList<QUrl>& items, std::function<void(bool shown)> done) = 0;
};

// QDesktopServices, and org.freedesktop.FileManager1 on the session bus.
class TDesktopShell : public IDesktopShell {
 public:
  bool OpenUrl(const QUrl& url) override;
  void ShowItems(const QList<QUrl>& items, std::function<void(bool shown)> done) override;
};

// A local file's URL from its raw path (a name that is not UTF-8 keeps its bytes).
QUrl LocalFileUrl(const std::string& path);

class TBrowserFunctions : public QObject {
 public:
  explicit TBrowserFunctions(TMainform& form);
  ~TBrowserFunctions() override;

  // The desktop (the real one by default). Null restores it.
  void SetShell(IDesktopShell* shell);

  // Opens every path; a path nothing opens is said in a box.
  void Open(const std::vector<std::string>& paths);
  // Shows the paths in the file manager, or else opens their folders.
  void ShowInFileManager(const std::vector<std::string>& paths);

  // The four items of the two popups.
  TBindings Bindings();

 private:
  // What the popup's items act on: the highlighted items of the tree or of the list (the list
  // falls back to the folder it shows, the tree to its current folder).
  std::vector<std::string> TreeItems() const;
  std::vector<std::string> ListItems() const;

  TMainform& form_;
  std::unique_ptr<TDesktopShell> real_;
  IDesktopShell* shell_;
};
