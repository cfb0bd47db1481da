// Play control: play, pause, stop, the timer with its end-of-track check, seeking and volume.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QLabel>
#include <QScrollBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>

#include <stdexcept>

#include "audio/bass.h"
#include "platform/mastermute.h"
#include "platform/pathcodec.h"
#include "ui/dialogs.h"
#include "ui/mainform.h"
#include "ui/milestones.h"
#include "ui/nodetree.h"
#include "ui/positionbar.h"
#include "ui/tracklistmodel.h"

void TMainForm::ConnectPlayControl() {
  connect(Timer, &QTimer::timeout, this, [this] { RunGuarded(this, [this] { TimerTimer(); }); });
  connect(Progress, &TPositionBar::MouseDown, this,
          [this](int x) { RunGuarded(this, [&] { ProgressMouseDown(x); }); });
  connect(ScrVolume, &QScrollBar::valueChanged, this, [this] { ScrVolumeChange(); });
  connect(cboxMasterMuteValue, &QCheckBox::clicked, this,
          [this] { RunGuarded(this, [this] { CheckBox1Click(); }); });
  connect(Mp3Node->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this] { Mp3NodeChange(); });
  connect(Mp3Node, &QAbstractItemView::doubleClicked, this,
          [this] { RunGuarded(this, [this] { Mp3NodeDblClick(); }); });
  connect(cboxExpand, &QCheckBox::toggled, this, [this] { cboxExpandClick(); });
  // The button's caption follows the pause state, while the command keeps its own; the button
  // takes the command's caption again whenever the command changes.
  connect(Command(QStringLiteral("Mp3Pause")), &QAction::changed, btnPause, [this] {
    if (!FPauseCaption.isEmpty()) btnPause->setText(FPauseCaption);
  });
}

void TMainForm::Mp3PlayExecute() {
  if (FEnumTabs == et_Mp3) {
    PlayCurrent();
  } else if (FEnumTabs == et_Node) {
    const QModelIndexList selected = Mp3Node->selectionModel()->selectedRows();
    if (selected.isEmpty()) return;
    NodeMp3 = NodeRecord(selected.first());
    Mp3NodeDblClick();
  }
}

void TMainForm::PlayCurrent() {
  if (!CurrMp3) return;
  const QString path = CurrMp3->Mp3Path();
  if (!platform::isFile(path)) {
    // An automatic advance passes over it without a word.
    if (FAdvancing) {
      FPlayFailed = true;
      return;
    }
    Dialogs().ShowMessage(this, QStringLiteral("File not found!"));
    return;
  }
  if (QLatin1Char('.') + QFileInfo(path).suffix().toUpper() == QLatin1String(".MP3"))
    PlayFile();
  else
    PlayStream();
}

void TMainForm::PlayFile() {
  if (!CurrMp3) return;
  AbandonStreamOpen();
  BASS_Free();
  MprisStreamStopped();
  InitBass();
  FMp3FileType = ft_Mp3;
  if (cboxShowCheckList->isChecked() && BuildCheckedList()) SelectNextChecked();
  if (!CurrMp3 || !lvMain->selectionModel()->hasSelection()) return;
  Progress->setMaximum(0);
  Mp3FileThread->Close();
  StartEngine(CurrMp3);
  Timer->start();
  FNewID = ItemIndex();
  ClearPlayingMark();
  CurrMp3->SetMp3State(1);
  if (FTrackList->rowCount() > 0) FTrackList->RecordsChanged(0, FTrackList->rowCount() - 1);
  ShowVolumePercents();
}

void TMainForm::Mp3NodeDblClick() {
  Mp3FileThread->Close();
  StartEngine(NodeMp3);
  Timer->start();
  ClearPlayingMark();
  ShowVolumePercents();
}

void TMainForm::StartEngine(const TMp3PlayerPtr& mp3) {
  Mp3FileThread = std::make_shared<TMp3FileThread>(mp3, FCurrVolume);
  if (FAdvancing)
    FAutoEngine = Mp3FileThread;
  else
    FAutoEngine.reset();
  Mp3FileThread->Start(this);
  MprisTrackStarted(mp3, false);
}

void TMainForm::ClearPlayingMark() {
  if (!Mp3Session) return;
  if (const TMp3PlayerPtr playing = Mp3Session->GetMp3Status()) {
    playing->SetMp3State(0);
    if (FTrackList->rowCount() > 0) FTrackList->RecordsChanged(0, FTrackList->rowCount() - 1);
  }
}

void TMainForm::Mp3PauseExecute() {
  if (FEnumTabs == et_Mp3) {
    if (!Mp3Session || !Mp3Session->CacheMp3()) return;
  } else if (FEnumTabs != et_Node) {
    return;
  }
  SetMp3Pause();
}

void TMainForm::SetMp3Pause() {
  if (!FControl) {
    Timer->stop();
    SetPauseCaption(true);
    Mp3FileThread->Pause();
    FControl = true;
  } else {
    Timer->start();
    SetPauseCaption(false);
    Mp3FileThread->ResumePlay();
    FControl = false;
  }
  MprisChanged();
}

void TMainForm::SetPauseCaption(bool paused) {
  static const char* const kCaptions[2][2] = {{"Pause", "Resume"}, {"Пауза", "Продължи"}};
  const int language = cboxLng->currentIndex();
  if (language != 0 && language != 1) return;
  FPauseCaption = QString::fromUtf8(kCaptions[language][paused ? 1 : 0]);
  btnPause->setText(FPauseCaption);
}

void TMainForm::Mp3CloseExecute() {
  Progress->setMaximum(0);
  Timer->stop();
  if (FMp3FileType == ft_Mp3) {
    Mp3FileThread->Close();
    Mp3FileThread->Stop();
  } else if (FMp3FileType == ft_M3u) {
    AbandonStreamOpen();
    BASS_Stop();
    MprisStreamStopped();
  }
  MprisChanged();
}

void TMainForm::TimerTimer() {
  // The check may start the next track, which replaces the engine it runs on.
  const TMp3FileThreadPtr engine = Mp3FileThread;
  engine->CheckTrackEnd();
  StatusPanel(0)->setText(QStringLiteral("Time ") +
                          TMp3Session::SecToTime(Mp3FileThread->Position()));
  Progress->SetPosition(static_cast<int>(Mp3FileThread->Position()));
  // Also how the end of a track reaches the bus.
  MprisChanged();
}

void TMainForm::TrackEndCheck(bool stopped) {
  const int last = FTrackList->rowCount() - 1;
  if (cboxRepeat->isChecked() && ItemIndex() == last) FNewID = -1;
  if (!cboxRepeat->isChecked() && FNewID == last) return;
  if (!stopped) return;
  FSkipped = 0;
  AdvanceAutomatically();
}

void TMainForm::AdvanceAutomatically() {
  for (;;) {
    FAdvancing = true;
    FPlayFailed = false;
    struct Done {
      bool& advancing;
      ~Done() { advancing = false; }
    } done{FAdvancing};
    if (pcMain->currentWidget() == tsMp3Player)
      Mp3NextPlay();
    else if (pcMain->currentWidget() == tsMp3Node)
      Mp3NodeNextPlay();
    if (!FPlayFailed || !PassOverUnplayable()) return;
  }
}

bool TMainForm::PassOverUnplayable() {
  ++FSkipped;
  // A step in the tree never leaves its group, so it ends by itself.
  if (pcMain->currentWidget() != tsMp3Player) return true;
  // The row tried counts as played, so the next step moves past it.
  if (ItemIndex() >= 0) FNewID = ItemIndex();
  const int last = FTrackList->rowCount() - 1;
  if (FSkipped > last) {
    // A whole pass found nothing to play.
    Timer->stop();
    Progress->setMaximum(0);
    return false;
  }
  return cboxRepeat->isChecked() || FNewID != last;
}

void TMainForm::TrackOpened(TMp3FileThread* engine, bool opened) {
  if (opened) milestones::Mark("playing");
  MprisChanged();
  if (engine != FAutoEngine.lock().get()) return;
  if (opened) {
    FSkipped = 0;
    return;
  }
  // Silence under a playing mark helps nobody: the advance goes on to the next track.
  ClearPlayingMark();
  if (PassOverUnplayable()) AdvanceAutomatically();
}

void TMainForm::ProgressMouseDown(int x) {
  const int width = Progress->width();
  if (width <= 0) return;
  const std::int64_t target = std::int64_t{x} * Mp3FileThread->GetLength() / width;
  Mp3FileThread->SetPosition(static_cast<std::uint32_t>(target));
  MprisSeeked();
}

void TMainForm::ScrVolumeChange() {
  const int position = ScrVolume->value();
  // Both back ends: a file played from the tree after a stream leaves the type at the stream,
  // and the bar must still drive what is heard. What starts next starts at this volume.
  FCurrVolume = Mp3FileThread->SetVolume(position);
  BASS_SetVolume(static_cast<float>(position / 100.0));
  ShowVolumePercents();
  MprisChanged();
}

void TMainForm::CheckBox1Click() {
  SetMasterMuteValue(cboxMasterMuteValue->isChecked());
}

void TMainForm::SetMasterMuteValue(bool value) {
  const int r = platform::setMasterMute(value);
  if (r != platform::kMuteOk) {
    throw std::runtime_error(
        QStringLiteral("SetMasterMuteValue failure, multimedia system error #%1")
            .arg(r)
            .toStdString());
  }
}

void TMainForm::ShowVolumePercents() {
  lblPercents->setText(QString::number(ScrVolume->value()) + QStringLiteral(" % "));
}

void TMainForm::SetPositionMaximum(std::uint32_t ms) {
  Progress->setMaximum(static_cast<int>(std::min<std::uint32_t>(ms, INT32_MAX)));
}

void TMainForm::ShowOpenError(const QString& text) {
  Dialogs().ShowMessage(this, text);
}
