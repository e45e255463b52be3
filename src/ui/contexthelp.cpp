#include "ui/contexthelp.h"

#include <QAction>
#include <QFile>
#include <QHash>
#include <QMenu>
#include <QMenuBar>
#include <QWidget>

#include "app/helppages.h"

namespace {

// The sections: 2-18 the pages, groups and bars, 20-26 the menus, popups and tray; 1, 39 and
// 45 as the program opens them.
constexpr THelpTopic kTopics[] = {
    {"Mainform", helpctx::kWindow},
    {"MainMenu1", helpctx::kWindow},
    {"PageControl1", helpctx::kWindow},
    // "Browser"
    {"TabBrowser", 2},
    // "Make", inner tab "ZIP"
    {"TabMake", 3},
    {"PageControl2", 3},
    {"TabZIP", 3},
    {"GroupAdvanced", 4},
    {"GroupAddSettings", 5},
    {"GroupSecurity", 6},
    {"GroupOtherFunctions", 7},
    {"GroupInclusionGrid", 8},
    {"PopupGrid", 8},
    {"MakeDefaultBtn", 9},
    {"GroupBasic", 10},
    {"GroupStealth", helpctx::kStealth},
    // "Make", inner tab "Report /ZIP Comment && Scheduler"
    {"TabReport", 11},
    {"GroupReport", 11},
    {"PopupReport", 11},
    {"GroupScheduler", 12},
    // "Archive"
    {"TabArchive", 13},
    {"ArchiveView", 13},
    {"PopupArchive", 13},
    {"GroupFileSearch", 14},
    {"GroupViews", 15},
    {"GroupExtractMethod", 16},
    // Under the pages.
    {"ButtonBar", 17},
    {"StatusBar1", 18},
    {"StatusBar2", 18},
    // The main menu.
    {"File1", 20},
    {"View1", 21},
    {"Options1", 22},
    {"Tools1", 23},
    {"Help1", 24},
    {"ContextHelp1", 24},
    {"ContextHelpButton", 24},
    // The explorer's popups, and the tray.
    {"PopupTree", 25},
    {"PopupList", 25},
    {"PopupTray", 26},
};

int ContextOfName(const QString& name) {
  if (name.isEmpty()) return 0;
  for (const THelpTopic& t : kTopics)
    if (name == QLatin1String(t.name)) return t.context;
  return 0;
}

int ContextOfWidget(const QWidget* w) {
  for (; w; w = w->parentWidget())
    if (const int c = ContextOfName(w->objectName())) return c;
  return helpctx::kWindow;
}

// A caption as Qt makes a tool tip of it: "&&" is "&", any other "&" marks the mnemonic and
// goes, a trailing "..." goes.
QString PlainCaption(const QString& caption) {
  QString out;
  for (qsizetype i = 0; i < caption.size(); ++i) {
    if (caption[i] == QLatin1Char('&')) {
      if (i + 1 < caption.size() && caption[i + 1] == QLatin1Char('&')) out += caption[++i];
      continue;
    }
    out += caption[i];
  }
  if (out.endsWith(QLatin1String("..."))) out.chop(3);
  return out.trimmed();
}

const QString& BuiltInHelp() {
  static const QString html = [] {
    QFile f(QStringLiteral(":/help/arcavo-help.html"));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
  }();
  return html;
}

}  // namespace

std::span<const THelpTopic> HelpTopics() {
  return kTopics;
}

int HelpContextOf(const QObject* control) {
  if (!control) return helpctx::kWindow;
  if (const int c = ContextOfName(control->objectName())) return c;
  if (const auto* w = qobject_cast<const QWidget*>(control)) return ContextOfWidget(w);
  if (const auto* a = qobject_cast<const QAction*>(control)) {
    // A menu item belongs to the menu it is shown in.
    for (const QObject* o : a->associatedObjects())
      if (qobject_cast<const QMenu*>(o) || qobject_cast<const QMenuBar*>(o))
        return ContextOfWidget(static_cast<const QWidget*>(o));
  }
  return HelpContextOf(control->parent());
}

QString HelpSectionLead(int context) {
  // Read once per section: the window asks for each of its controls.
  static QHash<int, QString> leads;
  auto it = leads.constFind(context);
  if (it == leads.constEnd())
    it = leads.insert(context, HelpSectionSentence(BuiltInHelp(), context));
  return *it;
}

QString ContextHelpText(const QString& hint, int context) {
  QString text = hint;
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
      .replace(QLatin1Char('\r'), QLatin1Char('\n'));
  text = text.trimmed();
  const QString lead = HelpSectionLead(context);
  if (text.isEmpty()) return lead;
  return lead.isEmpty() ? text : text + QStringLiteral("\n\n") + lead;
}

void ApplyContextHelp(QWidget& window) {
  window.setWhatsThis(ContextHelpText(QString(), HelpContextOf(&window)));
  for (QWidget* w : window.findChildren<QWidget*>()) {
    const QString name = w->objectName();
    // Qt's own inner widgets (viewports, scroll bars) pass the question on to their control.
    if (w->toolTip().isEmpty() && (name.isEmpty() || name.startsWith(QLatin1String("qt_"))))
      continue;
    w->setWhatsThis(ContextHelpText(w->toolTip(), HelpContextOf(w)));
  }
  for (QAction* a : window.findChildren<QAction*>()) {
    if (a->isSeparator() || a->text().isEmpty()) continue;
    // An item's tool tip is its caption unless a hint was given.
    const QString hint = a->toolTip() == PlainCaption(a->text()) ? QString() : a->toolTip();
    a->setWhatsThis(ContextHelpText(hint, HelpContextOf(a)));
  }
}
