#pragma once
// Models of the record lists. The track cache owns the records; a row keeps only what it adds
// (its number, its check state, a reference to its record) and reads the record in data().
#include <QAbstractTableModel>

#include <vector>

#include "model/mp3objects.h"

class TTrackListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { colNumber, colTitle, colSize, colTime, colCount };

  explicit TTrackListModel(QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // Appends rows numbered on from the current row count, with one change notice for all.
  void AppendRecords(const std::vector<TMp3PlayerPtr>& records);
  void Clear();

  const TMp3PlayerPtr& Record(int row) const { return rows_[row].record; }

 private:
  struct Row {
    TMp3PlayerPtr record;
    int number;
  };
  std::vector<Row> rows_;
};

// The tag page's list: one column "Title" with the record's display name.
class TTagListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit TTagListModel(QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  void SetRecords(std::vector<TMp3PlayerPtr> records);
  const TMp3PlayerPtr& Record(int row) const { return records_[row]; }

 private:
  std::vector<TMp3PlayerPtr> records_;
};
