// Editing and presenting the main list: rebuilds, the fast search, delete and clear, sorting,
// selection, check-list mode.
#include <QCheckBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QProgressBar>
#include <QTimer>
#include <QTreeView>

#include <unordered_map>

#include "ui/dialogs.h"
#include "ui/mainform.h"
#include "ui/titlesearch.h"
#include "ui/tracklistmodel.h"
#include "ui/waitcursor.h"

void TMainForm::RefreshList() {
  const TMp3Cache* cache = Mp3Session->CacheMp3();
  if (!cache) return;
  TWaitCursor wait;
  // Rows waiting for a suspended update are in the cache already.
  FPendingRows.clear();
  FTrackList->SetRecords(*cache);
  FNewItem = FTrackList->rowCount() - 1;
}

void TMainForm::FastSearch(const QString& Key) {
  const TMp3Cache* cache = Mp3Session->CacheMp3();
  if (!cache) return;
  CurrMp3.reset();
  FPendingRows.clear();
  FTrackList->SetRecords(TracksWithTitle(*cache, TTitleKey(Key)));
  FNewItem = FTrackList->rowCount() - 1;
}

void TMainForm::edtSearchChange() {
  const QString text = edtSearch->text();
  if (text.isEmpty())
    RefreshList();
  else
    FastSearch(text);
}

void TMainForm::ARefreshExecute() {
  RefreshList();
}

void TMainForm::DeleteExecute() {
  TMp3Cache* cache = Mp3Session->CacheMp3();
  if (!cache) return;
  if (!Dialogs().Confirm(this, QStringLiteral("Are you shure?"))) return;
  if (FTrackList->rowCount() == 0) return;

  std::vector<int> rows;
  std::unordered_map<const TMp3Player*, int> toRemove;  // record -> rows showing it
  for (const QModelIndex& index : lvMain->selectionModel()->selectedRows()) {
    rows.push_back(index.row());
    ++toRemove[FTrackList->Record(index.row()).get()];
  }
  // Each removed row takes the first occurrence of its record out of the cache.
  std::erase_if(*cache, [&](const TMp3PlayerPtr& mp3) {
    auto it = toRemove.find(mp3.get());
    if (it == toRemove.end() || it->second == 0) return false;
    --it->second;
    return true;
  });
  FTrackList->RemoveRows(std::move(rows));
  RefreshList();
  // The saved list follows at once, so a crash after a delete loses nothing.
  SaveMainPlayList(MainPlayListFile());
}

void TMainForm::AClearPlayListExecute() {
  {
    TWaitCursor wait;
    FPendingRows.clear();
    FTrackList->Clear();
    FTagList->SetRecords({});
    if (Mp3Session) Mp3Session->SetRefresh();
    AbandonStreamOpen();
    Mp3FileThread->Close();
    Progress->setValue(0);
    CurrMp3.reset();
    Timer->stop();
  }
  if (FTrackList->rowCount() == 0) SaveMainPlayList(MainPlayListFile());
}

void TMainForm::lvMainDblClick() {
  if (!lvMain->selectionModel()->hasSelection()) return;
  Progress->setMaximum(0);
  Mp3PlayExecute();
}

void TMainForm::lvMainSelectItem() {
  const int first = ItemIndex();
  if (first >= 0) CurrMp3 = FTrackList->Record(first);
}

void TMainForm::lvMainColumnClick(int column) {
  ColumnToSort = column;
  FTrackList->SortByColumn(column);
}

void TMainForm::cboxShowCheckListClick() {
  FTrackList->SetCheckMode(cboxShowCheckList->isChecked());
}

bool TMainForm::lvMainKeyDown(QKeyEvent* event) {
  if (event->key() == Qt::Key_A && (event->modifiers() & Qt::ControlModifier)) {
    lvMain->selectAll();
    return true;
  }
  if (event->key() == Qt::Key_F5) {
    RefreshList();
    return true;
  }
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    lvMainDblClick();
    return true;
  }
  return false;
}
