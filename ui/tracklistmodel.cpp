#include "ui/tracklistmodel.h"

TTrackListModel::TTrackListModel(QObject* parent) : QAbstractTableModel(parent) {}

int TTrackListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TTrackListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : colCount;
}

QVariant TTrackListModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid()) return {};
  const Row& row = rows_[index.row()];
  switch (index.column()) {
    case colNumber:
      return QString::number(row.number);
    case colTitle:
      return row.record->Mp3Name();
    case colSize:
      return row.record->Mp3Size() + QStringLiteral(" KB");
    case colTime:
      return row.record->Mp3Time();
    default:
      return {};
  }
}

QVariant TTrackListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  switch (section) {
    case colNumber:
      return QStringLiteral("№");
    case colTitle:
      return QStringLiteral("Title");
    case colSize:
      return QStringLiteral("Size");
    case colTime:
      return QStringLiteral("Time");
    default:
      return {};
  }
}

void TTrackListModel::AppendRecords(const std::vector<TMp3PlayerPtr>& records) {
  if (records.empty()) return;
  const int first = static_cast<int>(rows_.size());
  beginInsertRows({}, first, first + static_cast<int>(records.size()) - 1);
  rows_.reserve(rows_.size() + records.size());
  for (const auto& record : records)
    rows_.push_back(Row{record, static_cast<int>(rows_.size()) + 1});
  endInsertRows();
}

void TTrackListModel::Clear() {
  beginResetModel();
  rows_.clear();
  endResetModel();
}

TTagListModel::TTagListModel(QObject* parent) : QAbstractTableModel(parent) {}

int TTagListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(records_.size());
}

int TTagListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : 1;
}

QVariant TTagListModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid()) return {};
  return records_[index.row()]->Mp3Name();
}

QVariant TTagListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (section != 0 || orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  return QStringLiteral("Title");
}

void TTagListModel::SetRecords(std::vector<TMp3PlayerPtr> records) {
  beginResetModel();
  records_ = std::move(records);
  endResetModel();
}
