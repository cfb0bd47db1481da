#include "ui/tracklistmodel.h"

#include <QFont>

#include <algorithm>

TTrackListModel::TTrackListModel(QObject* parent) : QAbstractTableModel(parent) {}

int TTrackListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TTrackListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : colCount;
}

QString TTrackListModel::CellText(int row, int column) const {
  const Row& r = rows_[row];
  switch (column) {
    case colNumber:
      return QString::number(r.number);
    case colTitle:
      return r.record->Mp3Name();
    case colSize:
      if (!sizeTexts_.empty()) {
        if (auto it = sizeTexts_.find(r.record.get()); it != sizeTexts_.end()) return it->second;
      }
      return r.record->Mp3Size() + QStringLiteral(" KB");
    case colTime:
      return r.record->Mp3Time();
    default:
      return {};
  }
}

QVariant TTrackListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  const Row& row = rows_[index.row()];
  switch (role) {
    case Qt::DisplayRole:
      return CellText(index.row(), index.column());
    case Qt::CheckStateRole:
      if (checkMode_ && index.column() == colNumber)
        return row.checked ? Qt::Checked : Qt::Unchecked;
      return {};
    case Qt::ForegroundRole:
      // The track that is playing is red; every other row takes the list font's colour, or the
      // view's text colour when the font has none.
      if (row.record->Mp3State() == 1) return QColor(Qt::red);
      return fontColor_.isValid() ? QVariant(fontColor_) : QVariant();
    case Qt::FontRole:
      if (row.record->Mp3State() == 1) {
        QFont bold;
        bold.setBold(true);
        return bold;
      }
      return {};
    default:
      return {};
  }
}

bool TTrackListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || role != Qt::CheckStateRole || !checkMode_) return false;
  SetChecked(index.row(), value.toInt() == Qt::Checked);
  return true;
}

Qt::ItemFlags TTrackListModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags result = QAbstractTableModel::flags(index);
  if (checkMode_ && index.column() == colNumber) result |= Qt::ItemIsUserCheckable;
  return result;
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
  // Room for twice the rows, never exactly enough: each of many small appends would otherwise
  // copy the whole row store.
  if (rows_.capacity() - rows_.size() < records.size())
    rows_.reserve(std::max(rows_.size() * 2, rows_.size() + records.size()));
  for (const auto& record : records)
    rows_.push_back(Row{record, static_cast<int>(rows_.size()) + 1});
  endInsertRows();
}

void TTrackListModel::SetRecords(const std::vector<TMp3PlayerPtr>& records) {
  beginResetModel();
  rows_.clear();
  sizeTexts_.clear();
  rows_.reserve(records.size());
  for (const auto& record : records)
    rows_.push_back(Row{record, static_cast<int>(rows_.size()) + 1});
  endResetModel();
}

void TTrackListModel::SetSizeText(int row, const QString& text) {
  if (row < 0 || row >= static_cast<int>(rows_.size())) return;
  sizeTexts_[rows_[row].record.get()] = text;
  const QModelIndex cell = index(row, colSize);
  Q_EMIT dataChanged(cell, cell, {Qt::DisplayRole});
}

int TTrackListModel::RowOf(const TMp3Player* record) const {
  for (std::size_t row = 0; row < rows_.size(); ++row)
    if (rows_[row].record.get() == record) return static_cast<int>(row);
  return -1;
}

void TTrackListModel::Clear() {
  beginResetModel();
  rows_.clear();
  sizeTexts_.clear();
  endResetModel();
}

void TTrackListModel::RemoveRows(std::vector<int> rows) {
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  // From the end, one notice per run of neighbouring rows.
  for (auto last = rows.rbegin(); last != rows.rend();) {
    auto first = last;
    while (std::next(first) != rows.rend() && *std::next(first) == *first - 1) ++first;
    if (*first >= 0 && *last < static_cast<int>(rows_.size())) {
      beginRemoveRows({}, *first, *last);
      for (int row = *first; row <= *last; ++row) sizeTexts_.erase(rows_[row].record.get());
      rows_.erase(rows_.begin() + *first, rows_.begin() + *last + 1);
      endRemoveRows();
    }
    last = std::next(first);
  }
}

int TTrackListModel::CompareText(const QString& a, const QString& b) {
  const qsizetype n = std::min(a.size(), b.size());
  for (qsizetype i = 0; i < n; ++i) {
    char16_t x = a.at(i).unicode(), y = b.at(i).unicode();
    if (x >= u'a' && x <= u'z') x -= 32;
    if (y >= u'a' && y <= u'z') y -= 32;
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

void TTrackListModel::SortByColumn(int column) {
  Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  const QModelIndexList before = persistentIndexList();
  std::vector<int> order(rows_.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
  // The texts once, not once per comparison.
  std::vector<QString> keys(rows_.size());
  for (size_t i = 0; i < rows_.size(); ++i) keys[i] = CellText(static_cast<int>(i), column);
  std::stable_sort(order.begin(), order.end(),
                   [&](int x, int y) { return CompareText(keys[x], keys[y]) < 0; });
  std::vector<Row> sorted;
  sorted.reserve(rows_.size());
  std::vector<int> newRowOf(rows_.size());
  for (size_t i = 0; i < order.size(); ++i) {
    newRowOf[order[i]] = static_cast<int>(i);
    sorted.push_back(std::move(rows_[order[i]]));
  }
  rows_ = std::move(sorted);
  QModelIndexList after;
  after.reserve(before.size());
  for (const QModelIndex& index : before)
    after.push_back(this->index(newRowOf[index.row()], index.column()));
  changePersistentIndexList(before, after);
  Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void TTrackListModel::RecordsChanged(int firstRow, int lastRow) {
  if (rows_.empty()) return;
  firstRow = std::max(firstRow, 0);
  lastRow = std::min(lastRow, static_cast<int>(rows_.size()) - 1);
  if (firstRow > lastRow) return;
  Q_EMIT dataChanged(index(firstRow, 0), index(lastRow, colCount - 1));
}

void TTrackListModel::SetChecked(int row, bool checked) {
  if (rows_[row].checked == checked) return;
  rows_[row].checked = checked;
  const QModelIndex cell = index(row, colNumber);
  Q_EMIT dataChanged(cell, cell, {Qt::CheckStateRole});
}

void TTrackListModel::SetCheckMode(bool on) {
  if (checkMode_ == on) return;
  checkMode_ = on;
  if (!rows_.empty()) Q_EMIT dataChanged(index(0, colNumber), index(rowCount() - 1, colNumber));
}

void TTrackListModel::SetFontColor(const QColor& color) {
  fontColor_ = color;
  if (!rows_.empty()) Q_EMIT dataChanged(index(0, 0), index(rowCount() - 1, colCount - 1));
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
