// Next and previous in the main list and in the folder tree, and the check-list order.
#include <QCheckBox>
#include <QItemSelectionModel>
#include <QProgressBar>
#include <QTimer>
#include <QTreeView>

#include "ui/mainform.h"
#include "ui/nodetree.h"
#include "ui/tracklistmodel.h"

int TMainForm::ItemIndex() const {
  // From the ranges, not the selected rows: the timer asks this while every row may be selected.
  int first = -1;
  for (const QItemSelectionRange& range : lvMain->selectionModel()->selection())
    if (first < 0 || range.top() < first) first = range.top();
  return first;
}

void TMainForm::SetItemIndex(int row) {
  QItemSelectionModel* selection = lvMain->selectionModel();
  const auto flags = QItemSelectionModel::Rows;
  if (row == -1) {
    const int first = ItemIndex();
    if (first >= 0)
      selection->select(FTrackList->index(first, 0), QItemSelectionModel::Deselect | flags);
    return;
  }
  if (row < 0 || row >= FTrackList->rowCount()) return;
  const QModelIndex index = FTrackList->index(row, 0);
  selection->select(index, QItemSelectionModel::Select | flags);
  selection->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
}

void TMainForm::ScrollToFirstSelected() {
  const int first = ItemIndex();
  if (first >= 0) lvMain->scrollTo(FTrackList->index(first, 0), QAbstractItemView::EnsureVisible);
}

void TMainForm::Mp3NextExecute() {
  if (FEnumTabs == et_Mp3)
    Mp3NextPlay();
  else if (FEnumTabs == et_Node)
    Mp3NodeNextPlay();
}

void TMainForm::Mp3PrevExecute() {
  if (FEnumTabs == et_Mp3)
    Mp3PrevPlay();
  else if (FEnumTabs == et_Node)
    Mp3NodePrevPlay();
}

void TMainForm::Mp3NextPlay() {
  const int rows = FTrackList->rowCount();
  if (rows == 0) return;
  if (ItemIndex() == rows - 1) FNewID = -1;
  SetItemIndex(-1);
  // A row that is gone (removed since it played, or the last while another is selected) wraps.
  int next = FNewID + 1;
  if (next < 0 || next >= rows) next = 0;
  SetItemIndex(next);
  ScrollToFirstSelected();
  if (!lvMain->selectionModel()->hasSelection()) return;
  Progress->setMaximum(0);
  Mp3PlayExecute();
}

void TMainForm::Mp3PrevPlay() {
  if (FTrackList->rowCount() == 0) return;
  if (ItemIndex() == 0) return;
  SetItemIndex(-1);
  SetItemIndex(FNewID - 1);
  ScrollToFirstSelected();
  if (!lvMain->selectionModel()->hasSelection()) return;
  Progress->setMaximum(0);
  Mp3PlayExecute();
}

namespace {

void StepInTree(TMainForm* form, QTreeView* tree, QModelIndex (*step)(const QModelIndex&)) {
  const QModelIndexList selected = tree->selectionModel()->selectedRows();
  if (tree->model()->rowCount() == 0 || selected.isEmpty()) return;
  form->Progress->setMaximum(0);
  const QModelIndex n = step(selected.first());
  const TMp3PlayerPtr record = NodeRecord(n);
  if (!record) {
    // The end of a group: the current file plays on, unwatched.
    form->Timer->stop();
    return;
  }
  tree->selectionModel()->setCurrentIndex(
      n, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  tree->scrollTo(n);
  NodeMp3 = record;
  form->Mp3NodeDblClick();
}

}  // namespace

void TMainForm::Mp3NodeNextPlay() {
  StepInTree(this, Mp3Node, &NextNode);
}

void TMainForm::Mp3NodePrevPlay() {
  StepInTree(this, Mp3Node, &PrevNode);
}

bool TMainForm::BuildCheckedList() {
  if (FCheckListView) return true;
  FCheckedList = std::make_unique<QStringList>();
  if (!lvMain->selectionModel()->hasSelection()) return false;
  for (int row = 0; row < FTrackList->rowCount() && cboxShowCheckList->isChecked(); ++row)
    if (FTrackList->IsChecked(row)) FCheckedList->append(QString::number(row));
  if (FCheckedList->isEmpty()) return false;
  FCheckListView = true;
  return true;
}

void TMainForm::lvMainClick() {
  FCheckListView = false;
  BuildCheckedList();
}

void TMainForm::SelectNextChecked() {
  if (!FCheckedList) return;
  if (FStartCount < FCheckedList->size()) {
    const int idx = FCheckedList->at(FStartCount).toInt();
    SetItemIndex(-1);
    if (idx >= 0 && idx < FTrackList->rowCount()) {
      CurrMp3 = FTrackList->Record(idx);
      // Selected by its row, not by the record's id: ids stop naming rows once rows are deleted
      // or sorted, and the ticked row is what the user asked for.
      SetItemIndex(idx);
      ScrollToFirstSelected();
    } else {
      // The ticked row is gone since the list was built: nothing to play.
      CurrMp3.reset();
    }
  }
  if (++FStartCount >= FCheckedList->size()) FStartCount = 0;
}
