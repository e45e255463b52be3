// Context help: which help section each control of the main window belongs to, and the help
// text "?" and Shift+F1 show for it (the control's hint, then its section's first sentence).
//
// The table below is the one place that ties controls to sections: the help opener, the
// "What's This?" texts and the check of the help's anchors all read it.
#pragma once

#include <QString>
#include <span>

class QObject;
class QWidget;

namespace helpctx {
inline constexpr int kWindow = 1;     // the main window as a whole
inline constexpr int kFirstRun = 39;  // the first start of the program
inline constexpr int kStealth = 45;   // the group "Stealth/Instant Backup"
}  // namespace helpctx

// A control, group, page, menu or popup (by objectName) and its section of the help. Everything
// inside it belongs to the same section unless it has an entry of its own.
struct THelpTopic {
  const char* name;
  int context;
};

std::span<const THelpTopic> HelpTopics();

// The section of a widget or menu item: its own entry or that of the nearest enclosing control,
// group, page or menu; the window's section when none has one.
int HelpContextOf(const QObject* control);

// The first sentence of a section, from the help built into the program ("" when the help has
// no such section).
QString HelpSectionLead(int context);

// What "?" shows for a control: its hint, a blank line, its section's first sentence.
QString ContextHelpText(const QString& hint, int context);

// Gives every control, group and menu item of window its context-help text.
void ApplyContextHelp(QWidget& window);
