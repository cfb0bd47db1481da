#pragma once
// Draws the cells of a list as usual and, while switched on, a grid line along the right and
// bottom edge of every cell.
#include <QStyledItemDelegate>

class TGridLineDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  bool Shown() const { return shown_; }
  void SetShown(bool shown) { shown_ = shown; }

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;

 private:
  bool shown_ = false;
};
