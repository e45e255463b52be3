#include "app/explorer.h"

TExplorer::TExplorer(QObject* parent) : QObject(parent) {}

void TExplorer::SetMakeMode(bool on) {
  tree_.SetShowChecks(on);
  list_.SetShowChecks(on);
}

void TExplorer::SetShowHidden(bool on) {
  tree_.SetShowHidden(on);
  list_.SetShowHidden(on);
}

void TExplorer::SetLinked(bool linked) {
  if (linked == Linked()) return;
  if (linked) {
    list_.SetStore(&store_);
    listStore_.reset();
  } else {
    listStore_ = std::make_unique<TCheckStore>();
    list_.SetStore(listStore_.get());
  }
}

void TExplorer::Refresh() {
  tree_.Refresh();
  list_.Refresh();
}
