// The help: an HTML document with one section per context number (anchor "ctxN"), shown by the
// desktop's browser.
//
// Desktop openers drop the "#fragment" of a file address, so a section is opened through a small
// generated page that sends the browser on to "arcavo-help.html#ctxN". The pages live in a
// private folder of the user's: $XDG_RUNTIME_DIR/arcavo/, or a folder of its own in the
// temporary folder when there is no runtime folder.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>

#include "app/urlopener.h"

class THelpPages {
 public:
  // candidates: where the help's start page is looked for, first match wins. By default the
  // program's resource folders.
  THelpPages();
  explicit THelpPages(QStringList candidates);

  // Opens the help at section context. A second request for the same section within a second
  // of the last one is dropped (true): every request would open another browser tab. A box says
  // why when there is no help or nothing to show it (false); with problem given, the reason (and
  // where the help is) goes there instead, and no box waits.
  bool Open(int context, IUrlOpener& opener, QString* problem = nullptr);

 private:
  QStringList candidates_;
  int lastContext_ = -1;
  int64_t lastTick_ = 0;
};

// The folder of the generated pages, with no trailing "/": made with mode 0700 when missing and
// taken only when it is a real folder of the user's own; "" when none can be had.
QString HelpPageFolder();

// The page that sends the browser on to target (an encoded address, fragment included): a meta
// refresh, a script for browsers that ignore it, and a link for the user.
QByteArray HelpRedirectPage(const QString& target);

// The first sentence of section context of the help's HTML: the text of the first paragraph
// after the anchor, tags removed, entities decoded, up to its first full stop. "" when the
// section is missing.
QString HelpSectionSentence(const QString& html, int context);
