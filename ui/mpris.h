#pragma once
// The media-player interface of the desktop bus, through which desktops, media keys, lock
// screens and widgets control the player. One object at /org/mpris/MediaPlayer2 carries two
// adaptors: the application (identity, raise, quit) and the player (state, track, volume and the
// transport methods). The player's state is read from a host, and a change is published as one
// PropertiesChanged per event-loop turn, listing only the properties whose values changed.
//
// Threading: main thread only; the bus delivers its calls through the main thread's event loop.
#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <cstdint>
#include <memory>
#include <optional>

// What the player shows of itself; compared as a whole to find what changed.
struct TMprisState {
  QString PlaybackStatus = QStringLiteral("Stopped");  // "Playing", "Paused" or "Stopped"
  QVariantMap Metadata;
  double Volume = 0;
  bool CanGoNext = false;
  bool CanGoPrevious = false;
  bool CanPlay = false;
  bool CanPause = false;
  bool CanSeek = false;
  bool operator==(const TMprisState&) const = default;
};

enum class TMprisCommand : std::uint8_t { Play, Pause, PlayPause, Stop, Next, Previous };

// The player behind the bus object.
class TMprisHost {
 public:
  virtual TMprisState MprisState() = 0;
  // Microseconds into the current track; 0 when it has no position.
  virtual std::int64_t MprisPosition() = 0;
  virtual void MprisCommand(TMprisCommand command) = 0;
  // 0..1, already clamped.
  virtual void MprisSetVolume(double volume) = 0;
  // Only called while the state allows seeking, with 0 <= position <= the track's length;
  // answers the position reached, in microseconds.
  virtual std::int64_t MprisSeek(std::int64_t position) = 0;
  virtual void MprisRaise() = 0;
  virtual void MprisQuit() = 0;

 protected:
  ~TMprisHost() = default;
};

// The object path that names no track.
QDBusObjectPath MprisNoTrack();
// Microseconds of a time text of the list's Time column ("H:M:SS", "M:SS"); nullopt when the
// text is empty, not such a time, or zero.
std::optional<std::int64_t> MprisLengthOf(const QString& timeText);
// The xesam:url of a local file: a file:// URL of the path's own bytes.
QString MprisFileUrl(const QString& path);

class TMprisPlayerAdaptor;

class TMprisService : public QObject {
  Q_OBJECT

 public:
  static constexpr const char* kObjectPath = "/org/mpris/MediaPlayer2";
  static constexpr const char* kServiceName = "org.mpris.MediaPlayer2.velmo";

  // Registers on `bus` under the service name, or under a name of this process's own when
  // another player holds it. Null when the bus is not connected or refuses both.
  static std::unique_ptr<TMprisService> Register(TMprisHost* host, QDBusConnection bus);
  ~TMprisService() override;

  const QString& ServiceName() const { return FServiceName; }
  TMprisHost* Host() const { return FHost; }
  const QDBusConnection& Bus() const { return FBus; }
  // The state may have changed: it is read, compared and published at the end of this turn.
  void Changed();
  // The position jumped (a seek): clients that extrapolate the position learn the new one.
  void Seeked(std::int64_t position);
  // The state as last published.
  const TMprisState& Published() const { return FPublished; }

 private:
  TMprisService(TMprisHost* host, QDBusConnection bus);
  void Publish();

  TMprisHost* FHost;
  TMprisPlayerAdaptor* FPlayer = nullptr;
  QDBusConnection FBus;
  QString FServiceName;
  TMprisState FPublished;
  bool FPending = false;
};

// org.mpris.MediaPlayer2
class TMprisRootAdaptor : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
  Q_PROPERTY(bool CanQuit READ CanQuit)
  Q_PROPERTY(bool CanRaise READ CanRaise)
  Q_PROPERTY(bool HasTrackList READ HasTrackList)
  Q_PROPERTY(QString Identity READ Identity)
  Q_PROPERTY(QString DesktopEntry READ DesktopEntry)
  Q_PROPERTY(QStringList SupportedUriSchemes READ SupportedUriSchemes)
  Q_PROPERTY(QStringList SupportedMimeTypes READ SupportedMimeTypes)

 public:
  explicit TMprisRootAdaptor(TMprisService* service);
  bool CanQuit() const { return true; }
  bool CanRaise() const { return true; }
  bool HasTrackList() const { return false; }
  QString Identity() const { return QStringLiteral("Velmo"); }
  QString DesktopEntry() const { return QStringLiteral("velmo"); }
  QStringList SupportedUriSchemes() const { return {}; }
  QStringList SupportedMimeTypes() const { return {}; }

 public Q_SLOTS:
  void Raise();
  void Quit();

 private:
  TMprisService* FService;
};

// org.mpris.MediaPlayer2.Player
class TMprisPlayerAdaptor : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
  Q_PROPERTY(QString PlaybackStatus READ PlaybackStatus)
  Q_PROPERTY(double Rate READ Rate)
  Q_PROPERTY(double MinimumRate READ Rate)
  Q_PROPERTY(double MaximumRate READ Rate)
  Q_PROPERTY(QVariantMap Metadata READ Metadata)
  Q_PROPERTY(double Volume READ Volume WRITE SetVolume)
  Q_PROPERTY(qlonglong Position READ Position)
  Q_PROPERTY(bool CanGoNext READ CanGoNext)
  Q_PROPERTY(bool CanGoPrevious READ CanGoPrevious)
  Q_PROPERTY(bool CanPlay READ CanPlay)
  Q_PROPERTY(bool CanPause READ CanPause)
  Q_PROPERTY(bool CanSeek READ CanSeek)
  Q_PROPERTY(bool CanControl READ CanControl)

 public:
  explicit TMprisPlayerAdaptor(TMprisService* service);
  QString PlaybackStatus() const { return State().PlaybackStatus; }
  double Rate() const { return 1.0; }
  QVariantMap Metadata() const { return State().Metadata; }
  double Volume() const { return State().Volume; }
  void SetVolume(double volume);
  qlonglong Position() const { return FService->Host()->MprisPosition(); }
  bool CanGoNext() const { return State().CanGoNext; }
  bool CanGoPrevious() const { return State().CanGoPrevious; }
  bool CanPlay() const { return State().CanPlay; }
  bool CanPause() const { return State().CanPause; }
  bool CanSeek() const { return State().CanSeek; }
  bool CanControl() const { return true; }

 public Q_SLOTS:
  void Next();
  void Previous();
  void Pause();
  void PlayPause();
  void Stop();
  void Play();
  void Seek(qlonglong Offset);
  void SetPosition(const QDBusObjectPath& TrackId, qlonglong Position);
  void OpenUri(const QString& Uri, const QDBusMessage& message);

 Q_SIGNALS:
  void Seeked(qlonglong Position);

 private:
  TMprisState State() const { return FService->Host()->MprisState(); }
  // Moves to `position` (microseconds) when seeking is allowed; past the end is the next track.
  void SeekTo(std::int64_t position);

  TMprisService* FService;
};
