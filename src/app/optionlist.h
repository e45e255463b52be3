// Option lists: lists of items with check boxes, as models the window's list views show.
//
// A radio list has exactly one item checked at any time: checking an item unchecks the others
// and unchecking the checked item has no effect. Items can be disabled (the user cannot change
// them). A list may name one dangerous item; while that item is checked the list is drawn by the
// program, the dangerous item marked (bold red on aqua) and every other item plain.
//
// Every change is announced with its origin. Code that sets items holds a THandlersDetached
// guard on the lists it touches; changes made under the guard are announced as made by code, so
// the rules that tie lists together react only to the user.
#pragma once

#include <QAbstractListModel>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>
#include <initializer_list>

enum class ChangeOrigin { User, Code };

class TOptionList : public QAbstractListModel {
  Q_OBJECT
 public:
  enum Kind { Check, Radio };
  // How an item is to be drawn (DrawingRole).
  enum Drawing { Standard = 0, Marked = 1, Plain = 2 };
  enum Roles { DrawingRole = Qt::UserRole + 1, ItemEnabledRole };

  // defaults: the items checked at start (for a radio list exactly one).
  TOptionList(QString name, Kind kind, QStringList items, QVector<int> defaults,
              QObject* parent = nullptr);

  const QString& name() const { return name_; }
  Kind kind() const { return kind_; }
  int count() const { return static_cast<int>(items_.size()); }
  QString item(int i) const { return items_.value(i); }
  const QStringList& items() const { return items_; }

  bool Checked(int i) const;
  // Sets one item. On a radio list, checking unchecks the others and unchecking the checked
  // item is ignored. Returns true when something changed. An index outside the list is ignored.
  bool SetChecked(int i, bool on);
  // A click on an item (its box or its text): toggles it, or on a radio list checks it. A
  // disabled item ignores clicks. Returns true when the item changed.
  bool Click(int i);
  // Radio lists: the checked item (-1 if none).
  int CheckedIndex() const;
  // Bit i set when item i is checked.
  int Mask() const;
  void SetMask(int mask);
  // The items checked in a new window, as a mask, and for a radio list its one item.
  int DefaultMask() const { return defaultMask_; }
  int DefaultIndex() const;

  bool ItemEnabled(int i) const;
  void SetItemEnabled(int i, bool enabled);

  // The dangerous item (-1: none) and whether the list is now drawn with the marking.
  void SetMarkedItem(int i);
  int MarkedItem() const { return marked_; }
  bool Marking() const { return marked_ >= 0 && Checked(marked_); }
  Drawing DrawingOf(int i) const;

  bool Detached() const { return detached_ > 0; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 signals:
  // One item changed its check state: by the user, or by code under a THandlersDetached guard.
  void itemChanged(int index, ChangeOrigin origin);
  void markingChanged(bool marking);

 private:
  friend class THandlersDetached;
  void Announce(int index, bool markingBefore);

  QString name_;
  Kind kind_;
  QStringList items_;
  QVector<bool> checked_;
  QVector<bool> enabled_;
  int marked_ = -1;
  int detached_ = 0;
  int defaultMask_ = 0;
};

// While alive, changes of the given lists count as made by code.
class THandlersDetached {
 public:
  THandlersDetached(std::initializer_list<TOptionList*> lists);
  ~THandlersDetached();
  THandlersDetached(const THandlersDetached&) = delete;
  THandlersDetached& operator=(const THandlersDetached&) = delete;

 private:
  QVector<TOptionList*> lists_;
};

// One of the two size edits: a number of megabytes or the placeholder.
class TOptionEdit : public QObject {
  Q_OBJECT
 public:
  TOptionEdit(QString name, QString placeholder, QObject* parent = nullptr);

  const QString& name() const { return name_; }
  const QString& placeholder() const { return placeholder_; }
  const QString& text() const { return text_; }
  void SetText(const QString& text);
  bool enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  bool IsPlaceholder() const { return text_ == placeholder_; }

  // The user left the edit or pressed Enter: a text that is not a number becomes the placeholder.
  void Leave();
  // The edit's button: empties the edit and asks the view to put the caret in it.
  void ButtonClick();

  // A decimal number of megabytes ("650", "1.44"); signs, exponents and empty texts are not.
  static bool IsNumber(const QString& text);
  // The text as bytes (1 MB = 1,000,000 bytes, exact for up to six decimals: "1.44" gives
  // 1,440,000); 0 for the placeholder or any text that is not a number.
  static qint64 Bytes(const QString& text);
  qint64 Bytes() const { return Bytes(text_); }

 signals:
  void textChanged(const QString& text);
  void enabledChanged(bool enabled);
  void focusRequested();

 private:
  QString name_;
  QString placeholder_;
  QString text_;
  bool enabled_ = true;
};
