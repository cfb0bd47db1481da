// The main list on the page "Mp3": a view over the track cache.
#include <QCheckBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTreeView>

#include "ui/dialogs.h"

#include "ui/formprogress.h"
#include "ui/mainform.h"
#include "ui/tracklistmodel.h"

void TMainForm::CreateTrackList() {
  FTrackList = new TTrackListModel(this);
  lvMain->setModel(FTrackList);
  const int widths[] = {50, 280, 100, 100};
  for (int column = 0; column < TTrackListModel::colCount; ++column)
    lvMain->setColumnWidth(column, widths[column]);

  // The enabling rule follows the rows and the selections.
  for (QAbstractItemModel* model :
       {static_cast<QAbstractItemModel*>(FTrackList), lvPlayLists->model(), Mp3Node->model()}) {
    connect(model, &QAbstractItemModel::rowsInserted, this, &TMainForm::ScheduleActionUpdate);
    connect(model, &QAbstractItemModel::rowsRemoved, this, &TMainForm::ScheduleActionUpdate);
    connect(model, &QAbstractItemModel::modelReset, this, &TMainForm::ScheduleActionUpdate);
  }
  for (QTreeView* view : {lvMain, lvPlayLists, Mp3Node})
    connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TMainForm::ScheduleActionUpdate);

  connect(lvMain->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this](const QItemSelection& selected) {
            if (!selected.isEmpty()) lvMainSelectItem();
          });
  connect(lvMain, &QAbstractItemView::doubleClicked, this,
          [this] { RunGuarded(this, [this] { lvMainDblClick(); }); });
  lvMain->header()->setSectionsClickable(true);
  lvMain->header()->setSortIndicatorShown(false);
  connect(lvMain->header(), &QHeaderView::sectionClicked, this,
          [this](int column) { lvMainColumnClick(column); });
  connect(edtSearch, &QLineEdit::textChanged, this, [this] { edtSearchChange(); });
  connect(cboxShowCheckList, &QCheckBox::toggled, this, [this] { cboxShowCheckListClick(); });
}

void TMainForm::BeginListUpdate() {
  ++FListUpdateDepth;
}

void TMainForm::EndListUpdate() {
  if (--FListUpdateDepth > 0) return;
  if (!FPendingRows.empty()) {
    FTrackList->AppendRecords(FPendingRows);
    FNewItem = FTrackList->rowCount() - 1;
  }
  // Not clear(): a folder scan would leave room for every row it added, for the rest of the run.
  std::vector<TMp3PlayerPtr>().swap(FPendingRows);
  ResumeEndIfRequested();
}

int TMainForm::RowCountWithPending() const {
  return FTrackList->rowCount() + static_cast<int>(FPendingRows.size());
}

void TMainForm::AppendRow(const TMp3PlayerPtr& record) {
  if (FListUpdateDepth > 0) {
    FPendingRows.push_back(record);
    return;
  }
  FTrackList->AppendRecords({record});
  FNewItem = FTrackList->rowCount() - 1;
}

void TMainForm::LoadPlayListFile(const QString& path) {
  TBusyScope busy(this);
  TMp3Settings& settings = Mp3Session->Mp3Settings();
  settings.SetOnLoadProgress([this](TMp3Session* sender) { ShowLoadProgress(sender); });
  FLoadProgressCount.reset();
  const std::vector<TMp3PlayerPtr> records = settings.ReadPlayList(path);
  if (FormProgress) FormProgress->hide();
  if (records.empty()) return;
  // One change notice for all rows; the status bar ends on the last record's total.
  FTrackList->AppendRecords(records);
  StatusPanel(1)->setText(QStringLiteral("Total Time ") +
                          TMp3Session::GetTotalTime(records.back()->Mp3TotalTime()));
}
