#pragma once
// The folder tree's nodes: a track node carries its record, a group node none.
#include <QModelIndex>
#include <QStandardItem>
#include <QVariant>

#include "model/mp3objects.h"

Q_DECLARE_METATYPE(TMp3PlayerPtr)

inline constexpr int kNodeRecordRole = Qt::UserRole + 1;

inline TMp3PlayerPtr NodeRecord(const QModelIndex& node) {
  return node.isValid() ? node.data(kNodeRecordRole).value<TMp3PlayerPtr>() : TMp3PlayerPtr();
}

inline void SetNodeRecord(QStandardItem* node, const TMp3PlayerPtr& record) {
  node->setData(QVariant::fromValue(record), kNodeRecordRole);
}

// The node after `node` in the tree's full display order: first child, else next sibling, else
// the next sibling of the nearest ancestor that has one. Invalid at the end.
inline QModelIndex NextNode(const QModelIndex& node) {
  const QAbstractItemModel* model = node.model();
  if (!model) return {};
  if (model->rowCount(node) > 0) return model->index(0, 0, node);
  for (QModelIndex at = node; at.isValid(); at = at.parent()) {
    const QModelIndex parent = at.parent();
    if (at.row() + 1 < model->rowCount(parent)) return model->index(at.row() + 1, 0, parent);
  }
  return {};
}

// The node before `node`: the previous sibling's last descendant, else the parent.
inline QModelIndex PrevNode(const QModelIndex& node) {
  const QAbstractItemModel* model = node.model();
  if (!model) return {};
  const QModelIndex parent = node.parent();
  if (node.row() == 0) return parent;
  QModelIndex at = model->index(node.row() - 1, 0, parent);
  while (model->rowCount(at) > 0) at = model->index(model->rowCount(at) - 1, 0, at);
  return at;
}
