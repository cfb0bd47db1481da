#pragma once
// Models of the record lists. The track cache owns the records; a row keeps only what it adds
// (its number, its check mark, a reference to its record) and reads the record in data().
#include <QAbstractTableModel>
#include <QColor>

#include <unordered_map>
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
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // Appends rows numbered on from the current row count, with one change notice for all.
  void AppendRecords(const std::vector<TMp3PlayerPtr>& records);
  // Replaces every row by these records, numbered 1..n; check marks are lost.
  void SetRecords(const std::vector<TMp3PlayerPtr>& records);
  void Clear();
  // Removes the rows given (any order, duplicates allowed).
  void RemoveRows(std::vector<int> rows);
  // Orders the rows by the text of a column, ascending, keeping rows of equal text in order.
  void SortByColumn(int column);
  // Tells the view that the cells of these records changed (a record may be shown once).
  void RecordsChanged(int firstRow, int lastRow);
  // A text shown in the row's Size cell instead of the record's size (a stream's state), until
  // the rows are replaced or cleared. The record itself is not changed, so it is never saved.
  void SetSizeText(int row, const QString& text);
  // The row showing this record, -1 when none does.
  int RowOf(const TMp3Player* record) const;

  const TMp3PlayerPtr& Record(int row) const { return rows_[row].record; }
  bool IsChecked(int row) const { return rows_[row].checked; }
  void SetChecked(int row, bool checked);
  // Check boxes are shown only in check-list mode.
  void SetCheckMode(bool on);
  bool CheckMode() const { return checkMode_; }
  // The text colour of rows other than the playing one; an invalid colour draws them in the
  // view's own text colour.
  void SetFontColor(const QColor& color);

  // The list's own text order: only a-z fold to upper case, everything else compares by code
  // unit, and a prefix sorts first.
  static int CompareText(const QString& a, const QString& b);
  QString CellText(int row, int column) const;

 private:
  struct Row {
    TMp3PlayerPtr record;
    int number;
    bool checked = false;
  };
  std::vector<Row> rows_;
  std::unordered_map<const TMp3Player*, QString> sizeTexts_;
  bool checkMode_ = false;
  QColor fontColor_ = Qt::black;
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
