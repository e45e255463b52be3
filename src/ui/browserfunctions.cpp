#include "ui/browserfunctions.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QFile>
#include <QPointer>
#include <set>

#include "app/mb.h"
#include "ui/desktopopener.h"
#include "ui/explorerviews.h"
#include "ui/mainform.h"
#include "ui/windownames.h"

namespace {

const QString kCaption = QStringLiteral("Arcavo");

std::string ParentOf(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  const size_t slash = p.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : p.substr(0, slash);
}

QString Shown(const std::string& path) {
  return QFile::decodeName(QByteArray::fromStdString(path));
}

}  // namespace

QUrl LocalFileUrl(const std::string& path) {
  return QUrl::fromEncoded("file://" + QByteArray::fromStdString(path).toPercentEncoding("/"),
                           QUrl::StrictMode);
}

bool TDesktopShell::OpenUrl(const QUrl& url) {
  // The same opener as help pages and mail: xdg-open first, Qt's desktop services last.
  return CurrentUrlOpener().OpenUrl(QString::fromLatin1(url.toEncoded()));
}

void TDesktopShell::ShowItems(const QList<QUrl>& items, std::function<void(bool)> done) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    done(false);
    return;
  }
  QStringList uris;
  for (const QUrl& u : items) uris << QString::fromLatin1(u.toEncoded());
  QDBusMessage call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.FileManager1"),
      QStringLiteral("/org/freedesktop/FileManager1"),
      QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
  call << uris << QString();
  // The file manager may be started by the bus first: the answer is awaited off the click.
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 10000));
  QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                   [done = std::move(done)](QDBusPendingCallWatcher* w) {
                     w->deleteLater();
                     done(!w->isError());
                   });
}

TBrowserFunctions::TBrowserFunctions(TMainform& form)
    : QObject(&form), form_(form), real_(std::make_unique<TDesktopShell>()), shell_(real_.get()) {}

TBrowserFunctions::~TBrowserFunctions() = default;

void TBrowserFunctions::SetShell(IDesktopShell* shell) {
  shell_ = shell ? shell : real_.get();
}

void TBrowserFunctions::Open(const std::vector<std::string>& paths) {
  if (paths.empty()) {
    MbInfo(QStringLiteral("Highlight a file or folder first"));
    return;
  }
  for (const std::string& p : paths)
    if (!shell_->OpenUrl(LocalFileUrl(p)))
      MbMessage(QStringLiteral("No program of the desktop opens\r\n") + Shown(p), kCaption, false,
                MB_OK | MB_ICONEXCLAMATION);
}

void TBrowserFunctions::ShowInFileManager(const std::vector<std::string>& paths) {
  if (paths.empty()) {
    MbInfo(QStringLiteral("Highlight a file or folder first"));
    return;
  }
  QList<QUrl> urls;
  for (const std::string& p : paths) urls << LocalFileUrl(p);
  QPointer<TBrowserFunctions> self(this);
  shell_->ShowItems(urls, [self, paths](bool shown) {
    if (shown || !self) return;
    // No file manager answers on the bus: the folders that hold the items are opened instead.
    std::set<std::string> folders;
    for (const std::string& p : paths) folders.insert(ParentOf(p));
    for (const std::string& f : folders)
      if (!self->shell_->OpenUrl(LocalFileUrl(f)))
        MbMessage(QStringLiteral("No file manager shows\r\n") + Shown(f), kCaption, false,
                  MB_OK | MB_ICONEXCLAMATION);
  });
}

std::vector<std::string> TBrowserFunctions::TreeItems() const {
  TExplorerTree* tree = form_.explorerTree();
  if (!tree) return {};
  std::vector<std::string> items = tree->Highlighted();
  if (items.empty() && !tree->CurrentFolderPath().empty())
    items.push_back(tree->CurrentFolderPath());
  return items;
}

std::vector<std::string> TBrowserFunctions::ListItems() const {
  TExplorerList* list = form_.explorerList();
  if (!list) return {};
  std::vector<std::string> items = list->Highlighted();
  if (items.empty() && !list->Model()->Folder().empty()) items.push_back(list->Model()->Folder());
  return items;
}

TBindings TBrowserFunctions::Bindings() {
  return {
      OnItem(
          ctl::kTreeOpenItem, "open with the desktop (TBrowserFunctions::Open)",
          [this](bool) { Open(TreeItems()); }, this),
      OnItem(
          ctl::kTreeShowItem, "show in the file manager (TBrowserFunctions::ShowInFileManager)",
          [this](bool) { ShowInFileManager(TreeItems()); }, this),
      OnItem(
          ctl::kListOpenItem, "open with the desktop (TBrowserFunctions::Open)",
          [this](bool) { Open(ListItems()); }, this),
      OnItem(
          ctl::kListShowItem, "show in the file manager (TBrowserFunctions::ShowInFileManager)",
          [this](bool) { ShowInFileManager(ListItems()); }, this),
  };
}
