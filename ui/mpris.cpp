#include "ui/mpris.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QTimer>

#include <unistd.h>

#include <algorithm>
#include <cmath>

#include "platform/pathcodec.h"

namespace {

constexpr const char* kPlayerInterface = "org.mpris.MediaPlayer2.Player";

}  // namespace

QDBusObjectPath MprisNoTrack() {
  return QDBusObjectPath(QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack"));
}

std::optional<std::int64_t> MprisLengthOf(const QString& timeText) {
  const QStringList parts = timeText.trimmed().split(QLatin1Char(':'));
  if (parts.size() < 2 || parts.size() > 3) return std::nullopt;
  std::int64_t seconds = 0;
  for (qsizetype i = 0; i < parts.size(); ++i) {
    bool ok = false;
    const int value = parts[i].toInt(&ok);
    // Minutes and seconds under the largest part stay under 60; the bound keeps the sum small.
    if (!ok || value < 0 || parts[i].startsWith(QLatin1Char('+')) || value > 1000000 ||
        (i > 0 && value >= 60))
      return std::nullopt;
    seconds = seconds * 60 + value;
  }
  if (seconds == 0) return std::nullopt;
  return seconds * 1000000;
}

QString MprisFileUrl(const QString& path) {
  return QStringLiteral("file://") +
         QString::fromLatin1(platform::encodePath(path).toPercentEncoding("/"));
}

std::unique_ptr<TMprisService> TMprisService::Register(TMprisHost* host, QDBusConnection bus) {
  if (!bus.isConnected()) return nullptr;
  std::unique_ptr<TMprisService> service(new TMprisService(host, bus));
  if (!bus.registerObject(QLatin1String(kObjectPath), service.get(),
                          QDBusConnection::ExportAdaptors))
    return nullptr;
  // Another player with our name (a copy of the program over another data folder) keeps it.
  const QString names[] = {
      QLatin1String(kServiceName),
      QLatin1String(kServiceName) + QStringLiteral(".instance") + QString::number(::getpid())};
  for (const QString& name : names) {
    if (bus.registerService(name)) {
      service->FServiceName = name;
      service->FPublished = host->MprisState();
      return service;
    }
  }
  bus.unregisterObject(QLatin1String(kObjectPath));
  return nullptr;
}

TMprisService::TMprisService(TMprisHost* host, QDBusConnection bus)
    : FHost(host), FBus(std::move(bus)) {
  new TMprisRootAdaptor(this);
  FPlayer = new TMprisPlayerAdaptor(this);
}

TMprisService::~TMprisService() {
  if (FServiceName.isEmpty()) return;
  FBus.unregisterService(FServiceName);
  FBus.unregisterObject(QLatin1String(kObjectPath));
}

void TMprisService::Changed() {
  if (FPending || FServiceName.isEmpty()) return;
  FPending = true;
  QTimer::singleShot(0, this, [this] { Publish(); });
}

void TMprisService::Publish() {
  FPending = false;
  const TMprisState now = FHost->MprisState();
  if (now == FPublished) return;
  QVariantMap changed;
  const auto note = [&](const char* name, const auto& before, const auto& after) {
    if (before != after) changed.insert(QLatin1String(name), QVariant::fromValue(after));
  };
  note("PlaybackStatus", FPublished.PlaybackStatus, now.PlaybackStatus);
  note("Metadata", FPublished.Metadata, now.Metadata);
  note("Volume", FPublished.Volume, now.Volume);
  note("CanGoNext", FPublished.CanGoNext, now.CanGoNext);
  note("CanGoPrevious", FPublished.CanGoPrevious, now.CanGoPrevious);
  note("CanPlay", FPublished.CanPlay, now.CanPlay);
  note("CanPause", FPublished.CanPause, now.CanPause);
  note("CanSeek", FPublished.CanSeek, now.CanSeek);
  FPublished = now;
  QDBusMessage signal = QDBusMessage::createSignal(
      QLatin1String(kObjectPath), QStringLiteral("org.freedesktop.DBus.Properties"),
      QStringLiteral("PropertiesChanged"));
  signal << QLatin1String(kPlayerInterface) << changed << QStringList();
  FBus.send(signal);
}

void TMprisService::Seeked(std::int64_t position) {
  if (!FServiceName.isEmpty()) Q_EMIT FPlayer->Seeked(position);
}

TMprisRootAdaptor::TMprisRootAdaptor(TMprisService* service)
    : QDBusAbstractAdaptor(service), FService(service) {}

void TMprisRootAdaptor::Raise() {
  FService->Host()->MprisRaise();
}

void TMprisRootAdaptor::Quit() {
  FService->Host()->MprisQuit();
}

TMprisPlayerAdaptor::TMprisPlayerAdaptor(TMprisService* service)
    : QDBusAbstractAdaptor(service), FService(service) {}

void TMprisPlayerAdaptor::SetVolume(double volume) {
  // A client may ask for more than full volume or less than none; NaN is neither.
  if (std::isnan(volume)) return;
  FService->Host()->MprisSetVolume(std::clamp(volume, 0.0, 1.0));
}

void TMprisPlayerAdaptor::Next() {
  FService->Host()->MprisCommand(TMprisCommand::Next);
}
void TMprisPlayerAdaptor::Previous() {
  FService->Host()->MprisCommand(TMprisCommand::Previous);
}
void TMprisPlayerAdaptor::Pause() {
  FService->Host()->MprisCommand(TMprisCommand::Pause);
}
void TMprisPlayerAdaptor::PlayPause() {
  FService->Host()->MprisCommand(TMprisCommand::PlayPause);
}
void TMprisPlayerAdaptor::Stop() {
  FService->Host()->MprisCommand(TMprisCommand::Stop);
}
void TMprisPlayerAdaptor::Play() {
  FService->Host()->MprisCommand(TMprisCommand::Play);
}

void TMprisPlayerAdaptor::Seek(qlonglong Offset) {
  const qlonglong from = FService->Host()->MprisPosition();
  // Saturating: an offset near the type's limits must not wrap around.
  qlonglong to = 0;
  if (__builtin_add_overflow(from, Offset, &to)) to = Offset < 0 ? 0 : INT64_MAX;
  SeekTo(std::max<qlonglong>(to, 0));
}

void TMprisPlayerAdaptor::SetPosition(const QDBusObjectPath& TrackId, qlonglong Position) {
  // A request made for a track that has since changed, or outside it, is dropped.
  const TMprisState state = State();
  if (Position < 0 ||
      state.Metadata.value(QStringLiteral("mpris:trackid")).value<QDBusObjectPath>() != TrackId)
    return;
  const QVariant length = state.Metadata.value(QStringLiteral("mpris:length"));
  if (!length.isValid() || Position > length.toLongLong()) return;
  SeekTo(Position);
}

void TMprisPlayerAdaptor::SeekTo(std::int64_t position) {
  const TMprisState state = State();
  if (!state.CanSeek) return;
  const QVariant length = state.Metadata.value(QStringLiteral("mpris:length"));
  if (!length.isValid()) return;
  if (position > length.toLongLong()) {
    FService->Host()->MprisCommand(TMprisCommand::Next);
    return;
  }
  FService->Seeked(FService->Host()->MprisSeek(position));
}

void TMprisPlayerAdaptor::OpenUri(const QString& Uri, const QDBusMessage& message) {
  // No URI scheme is offered, so none is opened.
  message.setDelayedReply(true);
  FService->Bus().send(message.createErrorReply(QDBusError::NotSupported,
                                                QStringLiteral("Cannot open %1").arg(Uri)));
}
