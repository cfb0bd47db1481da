// Durations in the background: a new duration scanner after tracks were added, and its results
// in the records, the main list, the status bar and the busy indicator.
//
// Threading: main thread only. The scanner's worker (playback/timethread.h) reads files and
// queues plain results here; a result is written to its record wherever that record is shown.
#include <QLabel>
#include <QProgressBar>

#include <algorithm>
#include <vector>

#include "platform/freememory.h"
#include "playback/timethread.h"
#include "ui/mainform.h"
#include "ui/milestones.h"
#include "ui/tracklistmodel.h"

void TMainForm::StartTimeThread() {
  // Every add command ends here, its gathered paths freed.
  Mp3Session->TrimCache();
  platform::returnFreedMemory();
  auto scanner = std::make_unique<TTimeThread>(Mp3Session->CacheMp3());
  TTimeThread* started = scanner.get();
  // A scan still running is superseded: it stops at its next file and its results are dropped.
  TTimeThread::Replace(std::move(scanner));
  if (started->HasCache()) {
    ProgressBar1->setMaximum(started->EntryCount());
    ProgressBar1->setValue(0);
  }
  if (started->Tracks().empty()) {
    ProgressBar1->hide();
    lblLoading->hide();
    return;
  }
  started->Start([this](const TTimeBatch& batch) { ShowTimes(batch); });
}

void TMainForm::ShowTimes(const TTimeBatch& batch) {
  TTimeThread* scanner = TimeThread.get();
  if (!scanner || !Mp3Session || batch.serial != scanner->Serial()) return;
  const std::vector<TMp3Player*> written = scanner->ApplyBatch(batch, Mp3Session->CacheMp3());
  if (!written.empty()) {
    StatusPanel(1)->setText(QStringLiteral("Total Time ") +
                            TMp3Session::GetTotalTime(scanner->Total()));
    // One change notice for the rows that show the records written, wherever they are now.
    // Sorted, not hashed: no allocation per record (see TTimeThread::ApplyBatch).
    std::vector<const TMp3Player*> changed(written.begin(), written.end());
    std::sort(changed.begin(), changed.end());
    int first = -1, last = -1;
    for (int row = 0; row < FTrackList->rowCount(); ++row) {
      if (!std::binary_search(changed.begin(), changed.end(), FTrackList->Record(row).get()))
        continue;
      if (first < 0) first = row;
      last = row;
    }
    if (first >= 0) FTrackList->RecordsChanged(first, last);
  }
  ProgressBar1->setValue(scanner->Position());
  if (batch.finished) {
    ProgressBar1->hide();
    lblLoading->hide();
    // The scan's inputs are gone with its last batch.
    platform::returnFreedMemory();
    milestones::Mark("durations", static_cast<long long>(scanner->Position()));
  }
}
