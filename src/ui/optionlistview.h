// Views of the option lists and size edits.
//
// TOptionListView shows a TOptionList as a list of check boxes. A click anywhere on an item, box
// or text, is one click of the model (toggle, or check on a radio list). While the list's
// dangerous item is checked the program draws the list itself: that item bold red on aqua, the
// others in normal black on the button-face colour.
#pragma once

#include <QListView>
#include <QStringList>
#include <QStyledItemDelegate>

class QAbstractButton;
class QGroupBox;
class QLineEdit;
class TOptionEdit;
class TOptionList;
class TOptionLists;

class TOptionItemDelegate : public QStyledItemDelegate {
  Q_OBJECT
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  static QColor MarkedBackground() { return QColor(0, 255, 255); }  // aqua
  static QColor MarkedText() { return QColor(255, 0, 0); }

  // The items of a one-of-many list are drawn as radio buttons.
  void paint(QPainter* p, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
  // Mouse clicks are the view's (one click per release, box or text); keys stay the delegate's.
  bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;
};

class TOptionListView : public QListView {
  Q_OBJECT
 public:
  // The view takes the model's name as its objectName.
  explicit TOptionListView(TOptionList* model, QWidget* parent = nullptr);
  TOptionList* optionList() const { return list_; }
  // Room for every item in full, one row each, with no scrolling. Items are measured in bold,
  // the way the dangerous item is drawn while it is marked, so marking never clips it.
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  TOptionList* list_;
};

// Puts a TOptionListView for model in the place of old (same parent, layout slot or geometry,
// tool tip and enabled state) and deletes old. Returns the new view.
TOptionListView* ReplaceWithOptionListView(QWidget* old, TOptionList* model);

// Connects a line edit and its button (may be null) to a size edit model: the model's text and
// enabled state show in the widgets, typing goes to the model, leaving the edit or pressing
// Enter checks the text, and the button follows the enabled state and (connectClick) empties the
// edit and puts the caret in it.
void BindOptionEdit(QLineEdit* edit, QAbstractButton* button, TOptionEdit* model,
                    bool connectClick = true);

// Puts the views of every option list into a window: each widget under root whose objectName is
// a list's name is replaced by a TOptionListView of that list, and the QLineEdits named after
// the size edits are bound to them (with the QAbstractButton named edit name + "Button", when
// present, whose click the window's bindings connect). Returns the names that were not found.
QStringList InstallOptionViews(QWidget* root, TOptionLists& lists);

// Draws a group's caption bold red (highlighted) or in the plain window-text colour.
void SetGroupCaptionHighlighted(QGroupBox* group, bool on);
