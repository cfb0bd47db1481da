// The Find command: the search dialog over the track cache, and the play of the track chosen.
#include <QComboBox>
#include <QItemSelectionModel>
#include <QTreeView>

#include "ui/mainform.h"
#include "ui/searchdialog.h"
#include "ui/tracklistmodel.h"

void TMainForm::SearchExecute() {
  TFSearch dialog(this);
  if (!dialog.Execute(Mp3Session ? Mp3Session->CacheMp3() : nullptr, cboxLng->currentIndex()))
    return;
  const TMp3PlayerPtr chosen = dialog.CurrMp3();
  if (!chosen) return;
  // The row that shows the chosen track, not the row at its id: ids stop naming rows once rows
  // are sorted or deleted, and the row marked must be the row played, or Next goes astray. A
  // track the list no longer shows (filtered out, deleted) is neither selected nor played.
  const int row = FTrackList->RowOf(chosen.get());
  if (row < 0) return;
  lvMain->selectionModel()->setCurrentIndex(
      FTrackList->index(row, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  ScrollToFirstSelected();
  CurrMp3 = chosen;
  Mp3PlayExecute();
}
