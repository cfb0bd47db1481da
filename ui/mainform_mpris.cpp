// The window on the desktop bus's media-player interface: what it publishes of the play state,
// and the bus's requests, which run the window's own commands on the page they act on. Without
// a session bus nothing is registered and every notice below is a null test.
//
// Threading: main thread only.
#include <QAction>
#include <QDBusConnection>
#include <QScrollBar>
#include <QTimer>

#include "audio/mp3device.h"
#include "playback/streamopener.h"
#include "ui/mainform.h"
#include "ui/mpris.h"

class TMainForm::TMprisLink final : public TMprisHost {
 public:
  explicit TMprisLink(TMainForm* form) : form_(form) {}

  std::unique_ptr<TMprisService> service;
  TMp3PlayerPtr track;  // what was started last, a file or a radio entry
  bool stream = false;
  bool streamOn = false;  // the station was started and has not failed or been stopped
  QString streamAddress;  // the address its open connects to

  TMprisState MprisState() override {
    TMprisState state;
    state.PlaybackStatus = Status();
    state.Metadata = Metadata();
    const QScrollBar* bar = form_->ScrVolume;
    const int range = bar->maximum() - bar->minimum();
    state.Volume = range > 0 ? static_cast<double>(bar->value() - bar->minimum()) / range : 0.0;
    // The play commands act only on the track list and the folder tree.
    const bool onList = form_->FEnumTabs == et_Mp3 || form_->FEnumTabs == et_Node;
    const auto enabled = [&](const char* name) {
      return onList && form_->Command(QLatin1String(name))->isEnabled();
    };
    state.CanGoNext = enabled("Mp3Next");
    state.CanGoPrevious = enabled("Mp3Prev");
    // Pause acts on the file engine only: a station plays on through it.
    state.CanPause = enabled("Mp3Pause") && !stream;
    state.CanPlay = enabled("Mp3Play") || (state.PlaybackStatus == Paused() && state.CanPause);
    // The bar's end is the open file's length, as a click on the bar seeks by it.
    state.CanSeek = !stream && state.PlaybackStatus != Stopped() && form_->Progress->maximum() > 0;
    return state;
  }

  std::int64_t MprisPosition() override {
    if (stream || Mp3FileThread->Mode() == TMp3Mode::NotReady) return 0;
    return std::int64_t{Mp3FileThread->Position()} * 1000;
  }

  void MprisCommand(TMprisCommand command) override {
    // Queued: a command may show a message box, and the bus call is answered first. On the
    // service, so that a request still queued when the window goes is dropped with it.
    QTimer::singleShot(0, service.get(), [this, command] { Run(command); });
  }

  void MprisSetVolume(double volume) override {
    QScrollBar* bar = form_->ScrVolume;
    // The bar's own change is what sets the sound, as a drag of it does.
    bar->setValue(bar->minimum() + qRound(volume * (bar->maximum() - bar->minimum())));
  }

  std::int64_t MprisSeek(std::int64_t position) override {
    const std::int64_t ms = position / 1000;
    if (ms > std::int64_t{Mp3FileThread->GetLength()}) {
      MprisCommand(TMprisCommand::Next);
      return -1;
    }
    // As a click on the position bar.
    Mp3FileThread->SetPosition(static_cast<std::uint32_t>(ms));
    return MprisPosition();
  }

  void MprisRaise() override { form_->BringToFront(); }

  void MprisQuit() override {
    QTimer::singleShot(0, service.get(), [this] { Trigger("AExit"); });
  }

 private:
  static QString Playing() { return QStringLiteral("Playing"); }
  static QString Paused() { return QStringLiteral("Paused"); }
  static QString Stopped() { return QStringLiteral("Stopped"); }

  QString Status() const {
    if (!track) return Stopped();
    if (stream) return streamOn ? Playing() : Stopped();
    switch (Mp3FileThread->Mode()) {
      case TMp3Mode::Playing:
        return Playing();
      case TMp3Mode::Paused:
        return Paused();
      default:
        return Stopped();
    }
  }

  QVariantMap Metadata() const {
    QVariantMap metadata;
    if (!track) {
      metadata.insert(QStringLiteral("mpris:trackid"), QVariant::fromValue(MprisNoTrack()));
      return metadata;
    }
    // Object paths take no '-': a negative id gets '_'.
    const int id = track->Mp3ID();
    const QString idText = (id < 0 ? QStringLiteral("_") : QString()) +
                           QString::number(id < 0 ? -static_cast<qint64>(id) : id);
    metadata.insert(
        QStringLiteral("mpris:trackid"),
        QVariant::fromValue(QDBusObjectPath(QStringLiteral("/org/velmo/track/") + idText)));
    const bool titled = stream && !form_->FStreamTitle.isEmpty();
    metadata.insert(QStringLiteral("xesam:title"), titled ? form_->FStreamTitle : track->Mp3Name());
    if (stream) {
      if (!streamAddress.isEmpty()) metadata.insert(QStringLiteral("xesam:url"), streamAddress);
    } else {
      if (const auto length = MprisLengthOf(track->Mp3Time()))
        metadata.insert(QStringLiteral("mpris:length"), QVariant::fromValue(qlonglong{*length}));
      metadata.insert(QStringLiteral("xesam:url"), MprisFileUrl(track->Mp3Path()));
    }
    return metadata;
  }

  void Trigger(const char* name) { form_->Command(QLatin1String(name))->trigger(); }

  void Run(TMprisCommand command) {
    const QString status = Status();
    switch (command) {
      case TMprisCommand::PlayPause:
        if (status == Playing())
          Pause(status);
        else
          Play(status);
        break;
      case TMprisCommand::Play:
        Play(status);
        break;
      case TMprisCommand::Pause:
        Pause(status);
        break;
      case TMprisCommand::Stop:
        Trigger("Mp3Close");
        break;
      case TMprisCommand::Next:
        Trigger("Mp3Next");
        break;
      case TMprisCommand::Previous:
        Trigger("Mp3Prev");
        break;
    }
  }

  // A paused track resumes (the window's Resume); a stopped player plays the current track.
  void Play(const QString& status) {
    if (status == Paused())
      Trigger("Mp3Pause");
    else if (status == Stopped())
      Trigger("Mp3Play");
  }

  void Pause(const QString& status) {
    if (status != Playing() || stream) return;
    // A play or a seek while paused leaves the pause flag set with the track playing; the
    // window's next Pause then only resumes, so a second one is needed to pause.
    if (form_->FControl) Trigger("Mp3Pause");
    Trigger("Mp3Pause");
  }

  TMainForm* form_;
};

void TMainForm::RegisterMpris() {
  auto link = std::make_unique<TMprisLink>(this);
  link->service = TMprisService::Register(link.get(), QDBusConnection::sessionBus());
  if (!link->service) return;
  // The Can* values follow the play commands' enabling.
  for (const char* name : {"Mp3Play", "Mp3Pause", "Mp3Next", "Mp3Prev"})
    connect(Command(QLatin1String(name)), &QAction::changed, this, [this] { MprisChanged(); });
  FMpris = link.release();
}

void TMainForm::UnregisterMpris() {
  delete FMpris;
  FMpris = nullptr;
}

void TMainForm::MprisChanged() {
  if (FMpris) FMpris->service->Changed();
}

void TMainForm::MprisTrackStarted(const TMp3PlayerPtr& mp3, bool stream) {
  if (!FMpris) return;
  FMpris->track = mp3;
  FMpris->stream = stream;
  FMpris->streamOn = stream;
  FMpris->streamAddress.clear();
  MprisChanged();
}

void TMainForm::MprisStreamReport(const TStreamReport& report) {
  if (!FMpris) return;
  if (report.code == kStreamConnecting) FMpris->streamAddress = report.text;
  if (report.code == kStreamFailed) FMpris->streamOn = false;
  MprisChanged();
}

void TMainForm::MprisStreamStopped() {
  if (!FMpris) return;
  FMpris->streamOn = false;
  MprisChanged();
}

void TMainForm::MprisSeeked() {
  if (FMpris) FMpris->service->Seeked(FMpris->MprisPosition());
}

QString TMainForm::MprisServiceName() const {
  return FMpris ? FMpris->service->ServiceName() : QString();
}
