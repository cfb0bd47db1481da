#pragma once
// The search dialog: the user narrows the tracks down by a piece of their title and picks one.
// The window's Find command makes it for one use and plays the track chosen with OK.
//
// Threading: main thread only.
#include <QAbstractTableModel>
#include <QDialog>

#include <memory>
#include <vector>

#include "model/mp3objects.h"

class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeView;

// The result rows: each row is a reference to its record, which data() reads.
class TSearchResultsModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { colTitle, colTime, colCount };
  // Shared, so that listing every track copies nothing.
  using TRecords = std::shared_ptr<const std::vector<TMp3PlayerPtr>>;

  explicit TSearchResultsModel(QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // Replaces every row; without times the Time cells stay empty. Null clears.
  void SetRecords(TRecords records, bool withTimes);
  const TMp3PlayerPtr& Record(int row) const { return (*records_)[row]; }

 private:
  TRecords records_;
  bool withTimes_ = false;
};

class TFSearch : public QDialog {
  Q_OBJECT

 public:
  explicit TFSearch(QWidget* parent = nullptr);

  // Init, then the dialog modally: true when it was closed with OK.
  bool Execute(const TMp3Cache* Names, int LanguageIndex);
  // Translates the dialog after the language box's index (0 English, 1 Bulgarian, otherwise
  // none), keeps the records of `Names` (null: there are none) and lists them all.
  void Init(const TMp3Cache* Names, int LanguageIndex);
  // The track chosen with OK; null when none was.
  const TMp3PlayerPtr& CurrMp3() const { return FCurrMp3; }

  QLabel* lblSearchKey;
  QLineEdit* edtSearch;
  QLabel* lblSearchResults;
  QTreeView* lvSearch;
  QPushButton* btnSearchOK;
  QPushButton* btnSearchCancel;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void FillNames();
  void FilterNames(const QString& Key);
  void edtSearchChange();
  void lvSearchDblClick();
  bool lvSearchKeyPress(const QKeyEvent* event);
  void btnSearchOKClick();
  void btnSearchCancelClick();

  // A copy of the references, so records removed from the cache while the dialog is open stay
  // valid until it closes.
  TSearchResultsModel::TRecords FNames;
  // The titles of FNames folded for the search, made at the first key.
  std::vector<QString> FFoldedNames;
  TMp3PlayerPtr FCurrMp3;
  TSearchResultsModel* FResults;
};
