// Radio entries: the stream opens on a worker (playback/streamopener.h) and reports through
// queued calls, so the window stays usable while a server connects or the buffer fills.
#include <QCoreApplication>
#include <QScrollBar>

#include "audio/bass.h"
#include "playback/streamopener.h"
#include "ui/dialogs.h"
#include "ui/mainform.h"
#include "ui/milestones.h"
#include "ui/tracklistmodel.h"

void TMainForm::PlayStream() {
  milestones::Mark("play-stream");
  AbandonStreamOpen();
  BASS_Free();
  InitBass();
  // Init starts the library at full volume; the station starts where the bar is.
  BASS_SetVolume(static_cast<float>(FCurrVolume / 100.0));
  FMp3FileType = ft_M3u;
  Mp3FileThread->Close();
  StartStream();
}

void TMainForm::StartStream() {
  if (!CurrMp3) return;
  if (!FStreamOpener) {
    FStreamOpener = std::make_unique<TStreamOpener>([this](const TStreamReport& report) {
      QMetaObject::invokeMethod(
          this, [this, report] { StreamStatus(report); }, Qt::QueuedConnection);
    });
  }
  // The row the open reports to: the one selected when it began, wherever it moves since.
  const int row = ItemIndex();
  FStreamRecord = row >= 0 ? FTrackList->Record(row) : TMp3PlayerPtr();
  // A title belongs to the station that sent it.
  FStreamTitle.clear();
  FStreamOpener->Start(CurrMp3->Mp3Path());
  MprisTrackStarted(CurrMp3, true);
}

void TMainForm::AbandonStreamOpen() {
  if (FStreamOpener) FStreamOpener->Abandon();
}

void TMainForm::StreamStatus(const TStreamReport& report) {
  if (!FStreamOpener || report.serial != FStreamOpener->Serial()) return;
  milestones::Mark("stream", report.code);
  // Before the error box, which waits for its answer.
  MprisStreamReport(report);
  const auto showInRow = [this](const QString& text) {
    if (!FStreamRecord) return;
    FTrackList->SetSizeText(FTrackList->RowOf(FStreamRecord.get()), text);
  };
  switch (report.code) {
    case kStreamConnecting:
      showInRow(QStringLiteral("connecting..."));
      break;
    case kStreamFailed:
      showInRow(QStringLiteral("not playing"));
      Dialogs().ShowMessage(
          this, QStringLiteral("Can't play the stream\r\n(error code: %1)").arg(report.value));
      break;
    case kStreamBuffering:
      showInRow(QStringLiteral("buffering... %1%").arg(report.value));
      break;
    case kStreamTitle:
      FStreamTitle = report.text;
      break;
    default:
      break;
  }
}
