// The fields table of the vizadavu-form window (FormWindow.ui), which can hand
// a cell edit still in progress to the model, so Submit from the keyboard
// (Ctrl+Return, or Return in the URL) sends what is typed.
#pragma once

#include <QPersistentModelIndex>
#include <QTableWidget>

namespace vizadavu::form {

class FieldTable : public QTableWidget {
 public:
  using QTableWidget::QTableWidget;
  void CommitEdit() {
    if (state() != QAbstractItemView::EditingState || !editing_.isValid()) return;
    if (QWidget* editor = indexWidget(editing_)) {
      commitData(editor);
      closeEditor(editor, QAbstractItemDelegate::NoHint);
    }
  }

 protected:
  bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override {
    const bool started = QTableWidget::edit(index, trigger, event);
    if (started) editing_ = index;
    return started;
  }

 private:
  QPersistentModelIndex editing_;
};

}  // namespace vizadavu::form
