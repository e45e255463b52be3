// Small helpers the window's builders share: named buttons, groups, labels and menu items, the
// placeholder of an option list, edits and combo boxes sized to their text, the program's icon.
// Every control gets its control name as objectName.
#pragma once

#include <QIcon>
#include <QString>
#include <QStringList>
#include <QStyle>
#include <initializer_list>
#include <utility>

class QPainter;
class QStyleOptionViewItem;

class QAction;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QObject;
class QPushButton;
class QWidget;

namespace ui {

inline QString S(const char* text) {
  return QString::fromUtf8(text);
}

// The program's icon: a small disc drawn in code, so no image file is needed.
QIcon ProgramIcon();

// The place of an option list: InstallOptionViews puts the list's view here, with this name,
// hint and layout slot. The items come from the list's model.
QWidget* OptionListSlot(QWidget* parent, const char* name, const char* hint = "");

QPushButton* Button(QWidget* parent, const char* name, const char* caption, const char* hint = "");
QGroupBox* Group(QWidget* parent, const char* name, const char* caption);
QLabel* Label(QWidget* parent, const char* name, const char* text);
// An edit with a small button named name + "Button" (its click, emptying the edit, is bound by
// the window to the edit's model).
QWidget* EditWithButton(QWidget* parent, const char* name, const char* text, bool enabled);

// An edit never narrower than the longest of texts.
void FitLineEdit(QLineEdit* edit, const QStringList& texts);
// An editable combo box never narrower than text in its edit and its arrow button.
void FitComboBox(QComboBox* combo, const QString& text);

QAction* AddItem(QMenu* menu, const char* name, const char* caption, bool checkable = false,
                 bool checked = false);
QMenu* AddSub(QMenu* menu, const char* name, const char* caption);
// Items of one radio group; the item at index checked starts checked. Tags are the positions.
void AddRadioItems(QMenu* menu, std::initializer_list<std::pair<const char*, const char*>> items,
                   int checked);

// The caption the user sees on a control: a menu item's or button's text, a group's title, a
// label's or edit's text, a tab page's tab text, otherwise the window title.
QString CaptionOf(const QObject* o);

// Draws again the check indicator of an item view item that opt (as initialised for the item)
// has drawn: as indicator (a check box or a radio button), enabled or greyed out.
void RedrawItemIndicator(QPainter* p, const QStyleOptionViewItem& opt,
                         QStyle::PrimitiveElement indicator, bool enabled);

}  // namespace ui
