#include "ui/optionlistview.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLayout>
#include <QLineEdit>
#include <QMouseEvent>
#include <QStyle>

#include "app/optionlist.h"
#include "app/optionscontroller.h"
#include "ui/widgetkit.h"

void TOptionItemDelegate::initStyleOption(QStyleOptionViewItem* option,
                                          const QModelIndex& index) const {
  QStyledItemDelegate::initStyleOption(option, index);
  const int drawing = index.data(TOptionList::DrawingRole).toInt();
  if (drawing == TOptionList::Standard) return;
  // Drawn by the program: the colours replace the selection highlight, so the marking is seen
  // whatever item has the focus.
  option->state &= ~(QStyle::State_Selected | QStyle::State_HasFocus);
  const bool marked = drawing == TOptionList::Marked;
  const QColor back = marked ? MarkedBackground() : option->palette.color(QPalette::Button);
  const QColor text = marked ? MarkedText() : QColor(Qt::black);
  option->backgroundBrush = back;
  option->palette.setColor(QPalette::Text, text);
  option->palette.setColor(QPalette::WindowText, text);
  option->font.setBold(marked);
}

void TOptionItemDelegate::paint(QPainter* p, const QStyleOptionViewItem& option,
                                const QModelIndex& index) const {
  QStyledItemDelegate::paint(p, option, index);
  const auto* list = qobject_cast<const TOptionList*>(index.model());
  if (!list || list->kind() != TOptionList::Radio) return;
  QStyleOptionViewItem opt(option);
  initStyleOption(&opt, index);
  if (!(opt.features & QStyleOptionViewItem::HasCheckIndicator)) return;
  ui::RedrawItemIndicator(
      p, opt, QStyle::PE_IndicatorRadioButton,
      (opt.state & QStyle::State_Enabled) && (index.flags() & Qt::ItemIsEnabled));
}

bool TOptionItemDelegate::editorEvent(QEvent* event, QAbstractItemModel* model,
                                      const QStyleOptionViewItem& option,
                                      const QModelIndex& index) {
  switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
      return false;
    default:
      return QStyledItemDelegate::editorEvent(event, model, option, index);
  }
}

TOptionListView::TOptionListView(TOptionList* model, QWidget* parent)
    : QListView(parent), list_(model) {
  setObjectName(model->name());
  setModel(model);
  setItemDelegate(new TOptionItemDelegate(this));
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setUniformItemSizes(true);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

QSize TOptionListView::sizeHint() const {
  QStyleOptionViewItem opt;
  initViewItemOption(&opt);
  opt.features |= QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
  opt.checkState = Qt::Checked;
  opt.font.setBold(true);
  opt.fontMetrics = QFontMetrics(opt.font);
  int width = 0;
  int height = 0;
  const int rows = model()->rowCount();
  for (int r = 0; r < rows; ++r) {
    opt.index = model()->index(r, 0);
    opt.text = opt.index.data(Qt::DisplayRole).toString();
    const QSize item = style()->sizeFromContents(QStyle::CT_ItemViewItem, &opt, QSize(), this);
    width = std::max(width, item.width());
    height += item.height() + spacing();
  }
  const int frame = 2 * frameWidth();
  return {width + frame, height + frame};
}

void TOptionListView::mouseReleaseEvent(QMouseEvent* event) {
  const QModelIndex index = indexAt(event->position().toPoint());
  QListView::mouseReleaseEvent(event);
  // The box and the text act alike: one click of the model per release on an item.
  if (event->button() == Qt::LeftButton && index.isValid()) list_->Click(index.row());
}

TOptionListView* ReplaceWithOptionListView(QWidget* old, TOptionList* model) {
  QWidget* parent = old->parentWidget();
  auto* view = new TOptionListView(model, parent);
  view->setToolTip(old->toolTip());
  view->setEnabled(old->isEnabled());
  QLayoutItem* item = nullptr;
  if (parent && parent->layout()) item = parent->layout()->replaceWidget(old, view);
  if (item) {
    delete item;
  } else {
    view->setGeometry(old->geometry());
  }
  view->setVisible(!old->isHidden());
  delete old;
  return view;
}

void BindOptionEdit(QLineEdit* edit, QAbstractButton* button, TOptionEdit* model,
                    bool connectClick) {
  edit->setText(model->text());
  edit->setEnabled(model->enabled());
  if (button) button->setEnabled(model->enabled());
  QObject::connect(model, &TOptionEdit::textChanged, edit, [edit](const QString& t) {
    if (edit->text() != t) edit->setText(t);
  });
  QObject::connect(model, &TOptionEdit::enabledChanged, edit, [edit, button](bool on) {
    edit->setEnabled(on);
    if (button) button->setEnabled(on);
  });
  QObject::connect(model, &TOptionEdit::focusRequested, edit, [edit] { edit->setFocus(); });
  QObject::connect(edit, &QLineEdit::textEdited, model, &TOptionEdit::SetText);
  QObject::connect(edit, &QLineEdit::editingFinished, model, &TOptionEdit::Leave);
  if (button && connectClick)
    QObject::connect(button, &QAbstractButton::clicked, model, &TOptionEdit::ButtonClick);
}

QStringList InstallOptionViews(QWidget* root, TOptionLists& lists) {
  QStringList missing;
  for (TOptionList* list :
       {&lists.sizeList, &lists.compressionList, &lists.modeList, &lists.directoryList,
        &lists.encryptionList, &lists.functionsList, &lists.basicList, &lists.basicStampList,
        &lists.basicSizeList, &lists.stealthList, &lists.viewList, &lists.extractOptionList,
        &lists.extractModeList}) {
    QWidget* old = root->findChild<QWidget*>(list->name());
    if (old && !qobject_cast<TOptionListView*>(old))
      ReplaceWithOptionListView(old, list);
    else if (!old)
      missing << list->name();
  }
  for (TOptionEdit* edit : {&lists.maxSizeEdit, &lists.firstDiskEdit}) {
    auto* line = root->findChild<QLineEdit*>(edit->name());
    if (!line) {
      missing << edit->name();
      continue;
    }
    // The button's click is a row of the window's bindings.
    BindOptionEdit(line, root->findChild<QAbstractButton*>(edit->name() + QStringLiteral("Button")),
                   edit, false);
  }
  return missing;
}

void SetGroupCaptionHighlighted(QGroupBox* group, bool on) {
  // Addressed by name, so groups nested inside keep their own look.
  const QString selector = group->objectName().isEmpty()
                               ? QStringLiteral("QGroupBox")
                               : QStringLiteral("QGroupBox#") + group->objectName();
  group->setStyleSheet(on ? selector + QStringLiteral("::title { color: red; font-weight: bold; }")
                          : QString());
}
