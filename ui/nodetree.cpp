#include "ui/nodetree.h"

#include "platform/pathcodec.h"

namespace {

// A group node's internal id is 0; a track node's is its group's row + 1, so a track's parent
// is found without storing anything per track.
constexpr quintptr kGroupId = 0;

}  // namespace

TNodeTreeModel::TNodeTreeModel(QObject* parent) : QAbstractItemModel(parent) {}

QModelIndex TNodeTreeModel::index(int row, int column, const QModelIndex& parent) const {
  if (column != 0 || row < 0) return {};
  if (!parent.isValid())
    return row < static_cast<int>(groups_.size()) ? createIndex(row, 0, kGroupId) : QModelIndex();
  if (parent.internalId() != kGroupId) return {};
  const TGroup& group = groups_[static_cast<std::size_t>(parent.row())];
  if (row >= static_cast<int>(group.tracks.size())) return {};
  return createIndex(row, 0, static_cast<quintptr>(parent.row()) + 1);
}

QModelIndex TNodeTreeModel::parent(const QModelIndex& child) const {
  if (!child.isValid() || child.internalId() == kGroupId) return {};
  return createIndex(static_cast<int>(child.internalId() - 1), 0, kGroupId);
}

int TNodeTreeModel::rowCount(const QModelIndex& parent) const {
  if (!parent.isValid()) return static_cast<int>(groups_.size());
  if (parent.column() != 0 || parent.internalId() != kGroupId) return 0;
  return static_cast<int>(groups_[static_cast<std::size_t>(parent.row())].tracks.size());
}

int TNodeTreeModel::columnCount(const QModelIndex&) const {
  return 1;
}

QVariant TNodeTreeModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || role != Qt::DisplayRole) return {};
  if (index.internalId() == kGroupId)
    return GroupText(groups_[static_cast<std::size_t>(index.row())].folder);
  return Record(index)->Mp3Name();
}

Qt::ItemFlags TNodeTreeModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags result = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (index.internalId() != kGroupId) result |= Qt::ItemNeverHasChildren;
  return result;
}

void TNodeTreeModel::AppendGroup(QString folder, std::vector<TMp3PlayerPtr> tracks) {
  const int row = static_cast<int>(groups_.size());
  beginInsertRows({}, row, row);
  groups_.push_back({std::move(folder), std::move(tracks)});
  endInsertRows();
}

void TNodeTreeModel::Clear() {
  beginResetModel();
  groups_.clear();
  groups_.shrink_to_fit();
  endResetModel();
}

TMp3PlayerPtr TNodeTreeModel::Record(const QModelIndex& node) const {
  if (!node.isValid() || node.model() != this || node.internalId() == kGroupId) return {};
  return groups_[node.internalId() - 1].tracks[static_cast<std::size_t>(node.row())];
}

std::vector<TMp3PlayerPtr> TNodeTreeModel::AllRecords() const {
  std::size_t count = 0;
  for (const TGroup& group : groups_) count += group.tracks.size();
  std::vector<TMp3PlayerPtr> records;
  records.reserve(count);
  for (const TGroup& group : groups_)
    records.insert(records.end(), group.tracks.begin(), group.tracks.end());
  return records;
}

QString TNodeTreeModel::GroupText(const QString& folder) {
  return platform::displayName(folder.mid(folder.lastIndexOf(QLatin1Char('/')) + 1));
}
