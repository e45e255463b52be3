#include "ui/recentmenu.h"

#include <QAction>
#include <QMenu>

TRecentMenu::TRecentMenu(TFileMenuHandler* handler, QMenu* menu)
    : QObject(menu), handler_(handler), menu_(menu) {
  separator_ = menu_->addSeparator();
  connect(handler_, &TFileMenuHandler::MenuChanged, this, &TRecentMenu::Rebuild);
  Rebuild();
}

void TRecentMenu::Rebuild() {
  for (QAction* a : actions_) {
    menu_->removeAction(a);
    a->deleteLater();
  }
  actions_.clear();
  separator_->setVisible(handler_->SeparatorVisible());
  const auto entries = handler_->Entries();
  for (int i = 0; i < entries.size(); ++i) {
    auto* a = new QAction(entries[i].caption, menu_);
    if (handler_->AddShortcut) a->setShortcut(QKeySequence(Qt::ALT | entries[i].key.unicode()));
    a->setData(entries[i].path);
    // Queued: choosing an entry rebuilds this menu, which must not delete the action while it
    // is still delivering its signal.
    connect(
        a, &QAction::triggered, handler_, [h = handler_, i] { h->ChooseEntry(i); },
        Qt::QueuedConnection);
    menu_->addAction(a);
    actions_.push_back(a);
  }
}
