#include "app/optionlist.h"

#include <QRegularExpression>

TOptionList::TOptionList(QString name, Kind kind, QStringList items, QVector<int> defaults,
                         QObject* parent)
    : QAbstractListModel(parent),
      name_(std::move(name)),
      kind_(kind),
      items_(std::move(items)),
      checked_(items_.size(), false),
      enabled_(items_.size(), true) {
  setObjectName(name_);
  for (int i : defaults)
    if (i >= 0 && i < count()) checked_[i] = true;
  defaultMask_ = Mask();
}

int TOptionList::DefaultIndex() const {
  for (int i = 0; i < count(); ++i)
    if (defaultMask_ & (1 << i)) return i;
  return 0;
}

bool TOptionList::Checked(int i) const {
  return i >= 0 && i < count() && checked_[i];
}

bool TOptionList::SetChecked(int i, bool on) {
  if (i < 0 || i >= count() || checked_[i] == on) return false;
  if (kind_ == Radio && !on) return false;  // a radio list never ends with nothing checked
  const bool markingBefore = Marking();
  checked_[i] = on;
  if (kind_ == Radio) {
    for (int j = 0; j < count(); ++j)
      if (j != i && checked_[j]) {
        checked_[j] = false;
        emit dataChanged(index(j), index(j));
      }
  }
  emit dataChanged(index(i), index(i));
  Announce(i, markingBefore);
  return true;
}

void TOptionList::Announce(int i, bool markingBefore) {
  if (Marking() != markingBefore) {
    // The drawing of every item depends on the marking.
    emit dataChanged(index(0), index(count() - 1), {DrawingRole});
    emit markingChanged(Marking());
  }
  emit itemChanged(i, Detached() ? ChangeOrigin::Code : ChangeOrigin::User);
}

bool TOptionList::Click(int i) {
  if (i < 0 || i >= count() || !enabled_[i]) return false;
  if (kind_ == Radio) return SetChecked(i, true);
  return SetChecked(i, !checked_[i]);
}

int TOptionList::CheckedIndex() const {
  for (int i = 0; i < count(); ++i)
    if (checked_[i]) return i;
  return -1;
}

int TOptionList::Mask() const {
  int mask = 0;
  for (int i = 0; i < count(); ++i)
    if (checked_[i]) mask |= 1 << i;
  return mask;
}

void TOptionList::SetMask(int mask) {
  for (int i = 0; i < count(); ++i) SetChecked(i, (mask >> i) & 1);
}

bool TOptionList::ItemEnabled(int i) const {
  return i >= 0 && i < count() && enabled_[i];
}

void TOptionList::SetItemEnabled(int i, bool on) {
  if (i < 0 || i >= count() || enabled_[i] == on) return;
  enabled_[i] = on;
  emit dataChanged(index(i), index(i));
}

void TOptionList::SetMarkedItem(int i) {
  marked_ = (i >= 0 && i < count()) ? i : -1;
}

TOptionList::Drawing TOptionList::DrawingOf(int i) const {
  if (!Marking()) return Standard;
  return i == marked_ ? Marked : Plain;
}

int TOptionList::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : count();
}

QVariant TOptionList::data(const QModelIndex& idx, int role) const {
  if (!idx.isValid() || idx.row() >= count()) return {};
  const int i = idx.row();
  switch (role) {
    case Qt::DisplayRole:
      return items_[i];
    case Qt::CheckStateRole:
      return checked_[i] ? Qt::Checked : Qt::Unchecked;
    case DrawingRole:
      return static_cast<int>(DrawingOf(i));
    case ItemEnabledRole:
      return enabled_[i];
    default:
      return {};
  }
}

bool TOptionList::setData(const QModelIndex& idx, const QVariant& value, int role) {
  // A view changing a check state is the user clicking the item.
  if (!idx.isValid() || role != Qt::CheckStateRole) return false;
  const bool on = value.toInt() == Qt::Checked;
  if (Checked(idx.row()) == on) return false;
  return Click(idx.row());
}

Qt::ItemFlags TOptionList::flags(const QModelIndex& idx) const {
  if (!idx.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags f = Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
  if (enabled_[idx.row()]) f |= Qt::ItemIsEnabled | Qt::ItemIsUserCheckable;
  return f;
}

THandlersDetached::THandlersDetached(std::initializer_list<TOptionList*> lists) : lists_(lists) {
  for (TOptionList* l : lists_) ++l->detached_;
}

THandlersDetached::~THandlersDetached() {
  for (TOptionList* l : lists_) --l->detached_;
}

TOptionEdit::TOptionEdit(QString name, QString placeholder, QObject* parent)
    : QObject(parent), name_(std::move(name)), placeholder_(std::move(placeholder)) {
  setObjectName(name_);
  text_ = placeholder_;
}

void TOptionEdit::SetText(const QString& text) {
  if (text == text_) return;
  text_ = text;
  emit textChanged(text_);
}

void TOptionEdit::SetEnabled(bool on) {
  if (on == enabled_) return;
  enabled_ = on;
  emit enabledChanged(on);
}

void TOptionEdit::Leave() {
  if (!IsNumber(text_)) SetText(placeholder_);
}

void TOptionEdit::ButtonClick() {
  SetText(QString());
  emit focusRequested();
}

bool TOptionEdit::IsNumber(const QString& text) {
  static const QRegularExpression number(QStringLiteral("^\\s*(\\d+(\\.\\d*)?|\\.\\d+)\\s*$"));
  return number.match(text).hasMatch();
}

qint64 TOptionEdit::Bytes(const QString& text) {
  if (!IsNumber(text)) return 0;
  const QString t = text.trimmed();
  const int dot = t.indexOf(QLatin1Char('.'));
  const QString whole = dot < 0 ? t : t.left(dot);
  QString fraction = dot < 0 ? QString() : t.mid(dot + 1);
  fraction = fraction.left(6).leftJustified(6, QLatin1Char('0'));
  if (whole.size() > 12) return 0;  // beyond any medium; would overflow
  return whole.toLongLong() * 1000000 + fraction.toLongLong();
}
