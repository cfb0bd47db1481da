#pragma once
// The folder tree's model: top-level group nodes, one per folder that held MP3 files, each with
// its track nodes. A group keeps its folder's full path and the records of its tracks, nothing
// more: a track node is one reference to its record, which the tree shares with the track cache
// and the program-wide references.
//
// Threading: main thread only.
#include <QAbstractItemModel>

#include <vector>

#include "model/mp3objects.h"

class TNodeTreeModel : public QAbstractItemModel {
  Q_OBJECT

 public:
  struct TGroup {
    QString folder;
    std::vector<TMp3PlayerPtr> tracks;
  };

  explicit TNodeTreeModel(QObject* parent = nullptr);

  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  // Appends one group node with its track nodes, with one change notice.
  void AppendGroup(QString folder, std::vector<TMp3PlayerPtr> tracks);
  void Clear();
  const std::vector<TGroup>& Groups() const { return groups_; }
  // The record of a track node; null for a group node or an invalid index.
  TMp3PlayerPtr Record(const QModelIndex& node) const;
  // Every track of every group, group after group.
  std::vector<TMp3PlayerPtr> AllRecords() const;
  // The group node's text: the last component of its folder's path.
  static QString GroupText(const QString& folder);

 private:
  std::vector<TGroup> groups_;
};

// The record of the node, null for a group node.
inline TMp3PlayerPtr NodeRecord(const QModelIndex& node) {
  const auto* model = qobject_cast<const TNodeTreeModel*>(node.model());
  return model ? model->Record(node) : TMp3PlayerPtr();
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
