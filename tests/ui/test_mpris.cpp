// The window's media-player object on a private session bus, seen from a client connection of
// its own (a blocking call from this thread would wait for the window, which answers on this
// thread, so every call is asynchronous with a bounded wait): what it publishes of real MP3s
// played through the sound server and of a radio entry with titles, and that the bus's methods
// act as the window's commands do.
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QLabel>
#include <QScrollBar>
#include <QTabWidget>
#include <QToolButton>
#include <QUrl>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <thread>

#include "audio/mp3device.h"
#include "platform/pathcodec.h"
#include "tests/audio/httptestserver.h"
#include "tests/audio/mp3testfiles.h"
#include "tests/support/sessionbus.h"
#include "tests/ui/programfixture.h"
#include "ui/mpris.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const QString kPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kRoot = QStringLiteral("org.mpris.MediaPlayer2");
const QString kPlayer = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

// Nested dictionaries arrive as raw arguments; everything else as plain values.
QVariant Plain(const QVariant& value) {
  if (value.metaType() == QMetaType::fromType<QDBusVariant>())
    return Plain(value.value<QDBusVariant>().variant());
  QVariantMap map;
  if (value.metaType() == QMetaType::fromType<QDBusArgument>())
    map = qdbus_cast<QVariantMap>(value.value<QDBusArgument>());
  else if (value.metaType() == QMetaType::fromType<QVariantMap>())
    map = value.toMap();
  else
    return value;
  for (auto it = map.begin(); it != map.end(); ++it) it.value() = Plain(it.value());
  return map;
}

}  // namespace

// What the client connection heard from the player.
class BusLog : public QObject {
  Q_OBJECT

 public:
  std::vector<QVariantMap> changes;  // PropertiesChanged of the player interface
  std::vector<qlonglong> seeks;

  // The values one property took, in order, over all changes heard.
  std::vector<QVariant> ValuesOf(const QString& name) const {
    std::vector<QVariant> values;
    for (const QVariantMap& change : changes)
      if (change.contains(name)) values.push_back(change.value(name));
    return values;
  }
  bool Heard(const QString& name, const QVariant& value) const {
    const std::vector<QVariant> values = ValuesOf(name);
    return std::find(values.begin(), values.end(), value) != values.end();
  }
  bool HeardTitle(const QString& title) const {
    for (const QVariant& metadata : ValuesOf(QStringLiteral("Metadata")))
      if (metadata.toMap().value(QStringLiteral("xesam:title")) == title) return true;
    return false;
  }

 public Q_SLOTS:
  void PropertiesChanged(const QString& interface, const QVariantMap& changed,
                         const QStringList& /*invalidated*/) {
    if (interface == kPlayer) changes.push_back(Plain(changed).toMap());
  }
  void Seeked(qlonglong position) { seeks.push_back(position); }
};

namespace {

// The list's Time column is kept as text; the bus wants microseconds, and nothing when unknown.
TEST(MprisTexts, TrackLengthsFromTheTimeColumn) {
  const struct {
    const char* text;
    std::optional<std::int64_t> us;
  } cases[] = {
      {"0:3:05", 185'000'000},   {"1:2:05", 3'725'000'000},
      {"3:05", 185'000'000},     {" 0:0:30 ", 30'000'000},
      {"", std::nullopt},        {"0:0:00", std::nullopt},
      {"0:60:00", std::nullopt}, {"0:1:75", std::nullopt},
      {"-1:00", std::nullopt},   {"+1:00", std::nullopt},
      {"1:2:3:4", std::nullopt}, {"abc", std::nullopt},
      {"30", std::nullopt},      {"99999999999:0:00", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(MprisLengthOf(QString::fromUtf8(c.text)), c.us) << c.text;
}

// A URL names the file's own bytes, also when its name is not UTF-8.
TEST(MprisTexts, FileUrlsNameThePathsBytes) {
  const QString latin1 = platform::decodePath("/music/caf\xe9 #1.mp3");
  EXPECT_EQ(MprisFileUrl(latin1), QStringLiteral("file:///music/caf%E9%20%231.mp3"));
  const QString cyrillic = QStringLiteral("/music/\u041c\u0435\u0447\u0442\u0430 100%.mp3");
  const QUrl url(MprisFileUrl(cyrillic));
  EXPECT_TRUE(url.isValid());
  EXPECT_EQ(url.toLocalFile(), cyrillic);
}

class Mpris : public MainFormFixture {
 protected:
  static void SetUpTestSuite() {
    // Before anything in this process makes its session-bus connection.
    ASSERT_FALSE(PrivateSessionBus::Shared().address().isEmpty());
  }
  void SetUp() override {
    KeepSessionSoundServer();
    MainFormFixture::SetUp();
    client_ = QDBusConnection::connectToBus(
        QString::fromUtf8(PrivateSessionBus::Shared().address()), QStringLiteral("client"));
    ASSERT_TRUE(client_.isConnected()) << client_.lastError().message().toStdString();
  }
  void TearDown() override {
    if (!service_.isEmpty()) StopListening();
    form.reset();
    MainFormFixture::TearDown();
  }

  // Thirty-second tones stored as the main list with these display names, and the window on it.
  void StartWithTracks(const QStringList& names) {
    const QString tone = mp3test::Made(
        QStringLiteral("tone30.mp3"),
        {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
         QStringLiteral("sine=frequency=440:duration=30:sample_rate=44100"), QStringLiteral("-ac"),
         QStringLiteral("2"), QStringLiteral("-b:a"), QStringLiteral("64k")});
    ASSERT_FALSE(tone.isEmpty());
    ASSERT_TRUE(QDir().mkpath(home.filePath(QStringLiteral("music"))));
    QByteArray text;
    for (int i = 0; i < names.size(); ++i) {
      // A blank and a '#' in the name: the URL must encode both.
      const QString path = home.filePath(QStringLiteral("music/track #%1.mp3").arg(i));
      ASSERT_TRUE(QFile::copy(tone, path));
      paths_ << path;
      text += QStringLiteral("[%1PlayList]\nFileName=%2\nFileSize=240\nTime=0:0:30\nOnlyName=%3\n")
                  .arg(i)
                  .arg(path, names[i])
                  .toUtf8();
    }
    text += "[PlayList]\nCount=" + QByteArray::number(names.size()) + "\n_TotalTime=90000\n";
    StoreList(text);
    StartListening();
  }
  void StartListening() {
    Start();
    service_ = form->MprisServiceName();
    ASSERT_FALSE(service_.isEmpty());
    ASSERT_TRUE(client_.connect(service_, kPath, kProperties, QStringLiteral("PropertiesChanged"),
                                &log_, SLOT(PropertiesChanged(QString, QVariantMap, QStringList))));
    ASSERT_TRUE(client_.connect(service_, kPath, kPlayer, QStringLiteral("Seeked"), &log_,
                                SLOT(Seeked(qlonglong))));
  }
  void StopListening() {
    client_.disconnect(service_, kPath, kProperties, QStringLiteral("PropertiesChanged"), &log_,
                       SLOT(PropertiesChanged(QString, QVariantMap, QStringList)));
    client_.disconnect(service_, kPath, kPlayer, QStringLiteral("Seeked"), &log_,
                       SLOT(Seeked(qlonglong)));
    service_.clear();
  }

  // A method call from the client, waited for while the window's events are handled.
  QDBusMessage Call(const QString& interface, const QString& method,
                    const QVariantList& arguments = {}) {
    QDBusMessage message = QDBusMessage::createMethodCall(service_, kPath, interface, method);
    message.setArguments(arguments);
    QDBusPendingCall call = client_.asyncCall(message, 5000);
    if (!QTest::qWaitFor([&] { return call.isFinished(); }, 8000)) {
      ADD_FAILURE() << "no answer to " << method.toStdString();
      return {};
    }
    return call.reply();
  }
  QVariant Get(const QString& name, const QString& interface = kPlayer) {
    const QDBusMessage reply = Call(kProperties, QStringLiteral("Get"), {interface, name});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
      ADD_FAILURE() << "Get " << name.toStdString() << ": " << reply.errorMessage().toStdString();
      return {};
    }
    return Plain(reply.arguments().first());
  }
  void Set(const QString& name, const QVariant& value) {
    const QDBusMessage reply = Call(kProperties, QStringLiteral("Set"),
                                    {kPlayer, name, QVariant::fromValue(QDBusVariant(value))});
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
  }
  void Player(const char* method, const QVariantList& arguments = {}) {
    const QDBusMessage reply = Call(kPlayer, QLatin1String(method), arguments);
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage)
        << method << ": " << reply.errorMessage().toStdString();
  }
  QString Status() { return Get(QStringLiteral("PlaybackStatus")).toString(); }
  QVariantMap Metadata() { return Get(QStringLiteral("Metadata")).toMap(); }
  qlonglong Position() { return Get(QStringLiteral("Position")).toLongLong(); }
  bool AwaitStatus(const char* status) {
    return QTest::qWaitFor([&] { return Status() == QLatin1String(status); }, 10000);
  }
  bool AwaitHeard(const char* property, const QVariant& value) {
    return QTest::qWaitFor([&] { return log_.Heard(QLatin1String(property), value); }, 10000);
  }

  // The bus's state and the window's own signs of it: the pause flag and the button's caption.
  void ExpectPausedAsTheWindowShows() {
    EXPECT_TRUE(AwaitStatus("Paused"));
    EXPECT_TRUE(form->Mp3Paused());
    EXPECT_EQ(form->btnPause->text(), QStringLiteral("Resume"));
  }
  void ExpectResumedAsTheWindowShows() {
    EXPECT_TRUE(AwaitStatus("Playing"));
    EXPECT_FALSE(form->Mp3Paused());
    EXPECT_EQ(form->btnPause->text(), QStringLiteral("Pause"));
  }

  // The row whose record the window marks as playing, -1 when none.
  int PlayingRow() const {
    for (int row = 0; row < Rows(); ++row)
      if (form->TrackList()->Record(row)->Mp3State() == 1) return row;
    return -1;
  }
  QDBusObjectPath TrackId(int row) const {
    return QDBusObjectPath(
        QStringLiteral("/org/velmo/track/%1").arg(form->TrackList()->Record(row)->Mp3ID()));
  }

  QDBusConnection client_{QString()};
  QString service_;
  BusLog log_;
  QStringList paths_;
};

TEST_F(Mpris, PlayPauseAndATrackChangeArePublished) {
  StartWithTracks({QStringLiteral("First Song"), QStringLiteral("Second Song")});
  EXPECT_EQ(Status(), QStringLiteral("Stopped"));
  EXPECT_EQ(Metadata().value(QStringLiteral("mpris:trackid")).value<QDBusObjectPath>(),
            MprisNoTrack());

  Select(0);
  form->Mp3PlayExecute();
  ASSERT_TRUE(AwaitHeard("PlaybackStatus", QStringLiteral("Playing")));
  QVariantMap metadata = Metadata();
  EXPECT_EQ(metadata.value(QStringLiteral("mpris:trackid")).value<QDBusObjectPath>(), TrackId(0));
  EXPECT_EQ(metadata.value(QStringLiteral("xesam:title")), QStringLiteral("First Song"));
  EXPECT_EQ(metadata.value(QStringLiteral("mpris:length")).toLongLong(), 30'000'000);
  const QString url = metadata.value(QStringLiteral("xesam:url")).toString();
  EXPECT_TRUE(url.startsWith(QStringLiteral("file:///"))) << url.toStdString();
  EXPECT_EQ(QUrl(url).toLocalFile(), paths_[0]) << url.toStdString();
  EXPECT_TRUE(Get(QStringLiteral("CanSeek")).toBool());
  EXPECT_TRUE(Get(QStringLiteral("CanPause")).toBool());
  EXPECT_TRUE(log_.HeardTitle(QStringLiteral("First Song")));

  ASSERT_TRUE(QTest::qWaitFor([&] { return Position() > 0; }, 5000));
  form->Mp3PauseExecute();
  ASSERT_TRUE(AwaitHeard("PlaybackStatus", QStringLiteral("Paused")));
  EXPECT_EQ(Status(), QStringLiteral("Paused"));
  EXPECT_GT(Position(), 0);

  form->Mp3NextExecute();
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return log_.HeardTitle(QStringLiteral("Second Song")); }, 10000));
  EXPECT_EQ(Metadata().value(QStringLiteral("mpris:trackid")).value<QDBusObjectPath>(), TrackId(1));
  // A play keeps the window's pause flag, but the new track is heard.
  EXPECT_EQ(Status(), QStringLiteral("Playing"));

  form->Mp3CloseExecute();
  ASSERT_TRUE(AwaitStatus("Stopped"));
  EXPECT_FALSE(Get(QStringLiteral("CanSeek")).toBool());
  EXPECT_EQ(Position(), 0);
  // Only what changed is sent, never an empty notice.
  for (const QVariantMap& change : log_.changes) EXPECT_FALSE(change.isEmpty());
}

TEST_F(Mpris, BusMethodsActAsTheWindowsCommandsOnThePageTheyUse) {
  StartWithTracks({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
  Select(0);
  QCoreApplication::processEvents();  // the play commands are enabled once the list is idle

  Player("PlayPause");
  ASSERT_TRUE(AwaitStatus("Playing"));
  EXPECT_EQ(PlayingRow(), 0);
  Player("PlayPause");
  ExpectPausedAsTheWindowShows();
  Player("Play");
  ExpectResumedAsTheWindowShows();

  Player("Next");
  ASSERT_TRUE(QTest::qWaitFor([&] { return PlayingRow() == 1; }, 10000));
  EXPECT_EQ(SelectedRows(form->lvMain), std::vector<int>{1});
  EXPECT_EQ(form->NewID(), 1);
  Player("Previous");
  ASSERT_TRUE(QTest::qWaitFor([&] { return PlayingRow() == 0; }, 10000));
  Player("Stop");
  ASSERT_TRUE(AwaitStatus("Stopped"));

  // On the options page the play commands act on nothing, and the bus says so.
  form->pcMain->setCurrentWidget(form->tsOptions);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Get(QStringLiteral("CanGoNext")).toBool(); }, 5000));
  EXPECT_FALSE(Get(QStringLiteral("CanPlay")).toBool());
  Player("Next");
  Player("PlayPause");
  QTest::qWait(300);
  EXPECT_EQ(form->NewID(), 0);
  EXPECT_EQ(SelectedRows(form->lvMain), std::vector<int>{0});
  EXPECT_EQ(Status(), QStringLiteral("Stopped"));
}

TEST_F(Mpris, PauseFromTheBusPausesAfterAPlayThatKeptThePauseFlag) {
  StartWithTracks({QStringLiteral("a"), QStringLiteral("b")});
  Select(0);
  form->Mp3PlayExecute();
  ASSERT_TRUE(AwaitStatus("Playing"));
  form->Mp3PauseExecute();
  ASSERT_TRUE(AwaitStatus("Paused"));
  // The window's Play while paused plays the track and leaves the flag (and "Resume") set.
  form->Mp3PlayExecute();
  ASSERT_TRUE(AwaitStatus("Playing"));
  ASSERT_TRUE(form->Mp3Paused());

  Player("Pause");
  ExpectPausedAsTheWindowShows();
  Player("PlayPause");
  ExpectResumedAsTheWindowShows();
}

TEST_F(Mpris, VolumeFromTheBusMovesTheBarAndTheBarIsPublishedOncePerTurn) {
  StartWithTracks({QStringLiteral("a")});
  Select(0);
  form->Mp3PlayExecute();
  ASSERT_TRUE(AwaitStatus("Playing"));
  struct Case {
    double sent;
    int bar;
  };
  for (const Case& c :
       {Case{0.3, 30}, Case{0.555, 56}, Case{1.5, 100}, Case{-0.2, 0}, Case{1.0, 100}}) {
    Set(QStringLiteral("Volume"), c.sent);
    EXPECT_EQ(form->ScrVolume->value(), c.bar) << c.sent;
    EXPECT_EQ(form->lblPercents->text(), QString::number(c.bar) + QStringLiteral(" % "));
    // The bar's change is what reaches the sound.
    EXPECT_EQ(Mp3FileThread->DeviceVolume(), c.bar * 10) << c.sent;
    EXPECT_DOUBLE_EQ(Get(QStringLiteral("Volume")).toDouble(), c.bar / 100.0);
  }
  Set(QStringLiteral("Volume"), std::nan(""));
  EXPECT_EQ(form->ScrVolume->value(), 100) << "NaN is no volume";

  // A drag passes many values in one turn: clients hear the last one, once.
  for (int value = 15; value <= 65; value += 10) form->ScrVolume->setValue(value);
  ASSERT_TRUE(AwaitHeard("Volume", 0.65));
  QTest::qWait(200);
  const std::vector<QVariant> heard = log_.ValuesOf(QStringLiteral("Volume"));
  for (const double passed : {0.15, 0.25, 0.35, 0.45, 0.55})
    EXPECT_EQ(std::count(heard.begin(), heard.end(), QVariant(passed)), 0) << passed;
  EXPECT_EQ(std::count(heard.begin(), heard.end(), QVariant(0.65)), 1);
}

TEST_F(Mpris, SeekAndSetPositionMoveInTheFileAndPastItsEndGoToTheNext) {
  StartWithTracks({QStringLiteral("a"), QStringLiteral("b")});
  ASSERT_NE(TrackId(0), TrackId(1));
  Player("Seek", {qlonglong{5'000'000}});
  EXPECT_TRUE(log_.seeks.empty()) << "nothing to seek in while stopped";

  Select(0);
  form->Mp3PlayExecute();
  ASSERT_TRUE(AwaitStatus("Playing"));
  Player("Seek", {qlonglong{10'000'000}});
  EXPECT_GE(Position(), 10'000'000);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !log_.seeks.empty(); }, 5000));
  EXPECT_GE(log_.seeks.back(), 10'000'000);
  EXPECT_LT(log_.seeks.back(), 12'000'000);

  // For another track, or outside this one: nothing moves.
  Player("SetPosition", {QVariant::fromValue(TrackId(1)), qlonglong{2'000'000}});
  Player("SetPosition", {QVariant::fromValue(TrackId(0)), qlonglong{-1}});
  Player("SetPosition", {QVariant::fromValue(TrackId(0)), qlonglong{31'000'000}});
  EXPECT_GE(Position(), 10'000'000);
  Player("SetPosition", {QVariant::fromValue(TrackId(0)), qlonglong{2'000'000}});
  EXPECT_LT(Position(), 5'000'000);
  // Back from near the start clamps at the start; an offset near the limit does not wrap.
  Player("Seek", {qlonglong{-60'000'000}});
  EXPECT_LT(Position(), 2'000'000);
  Player("Seek", {std::numeric_limits<qlonglong>::max()});
  ASSERT_TRUE(QTest::qWaitFor([&] { return PlayingRow() == 1; }, 10000));
}

TEST_F(Mpris, AStationsTitlesReachTheMetadata) {
  const std::string audio = mp3test::ReadAll(mp3test::File("cbr")).toStdString();
  ASSERT_FALSE(audio.empty());
  std::atomic<bool> second{false};
  std::atomic<bool> done{false};
  THttpTestServer server;
  // Ends the station before the server waits for it, however the test ends.
  struct Done {
    std::atomic<bool>& done;
    ~Done() { done = true; }
  } endStation{done};
  // An endless station, a title block after every 1000 bytes of audio: a burst that fills the
  // player's buffer, then about real time.
  server.Route("/radio", [&](THttpTestServer::Connection& c) {
    if (!c.Send("ICY 200 OK\r\nContent-Type: audio/mpeg\r\nicy-metaint: 1000\r\n\r\n")) return;
    std::size_t at = 0;
    int sent = 0;
    for (auto end = Clock::now() + 60s; Clock::now() < end && !done; ++sent) {
      std::string block = second ? "StreamTitle='Second Song';" : "StreamTitle='First Song';";
      block.resize((block.size() + 15) / 16 * 16, '\0');
      std::string chunk;
      for (int i = 0; i < 16; ++i) {
        std::string part = audio.substr(at, 1000);
        at = (at + 1000) % audio.size();
        if (part.size() < 1000) part += audio.substr(0, 1000 - part.size());
        chunk += part + static_cast<char>(block.size() / 16) + block;
      }
      if (!c.Send(chunk)) return;
      if (sent >= 4) c.server->WaitStopped(1s);
    }
  });
  ASSERT_TRUE(QDir().mkpath(home.filePath(QStringLiteral("radio"))));
  const QString entry = home.filePath(QStringLiteral("radio/station.m3u"));
  WriteFile(entry, "#EXTM3U\n" + QByteArray::fromStdString(server.Url("/radio")) + "\n");
  StoreList(QStringLiteral("[0PlayList]\nFileName=%1\nFileSize=1\nTime=\nOnlyName=station.m3u\n"
                           "[PlayList]\nCount=1\n_TotalTime=0\n")
                .arg(entry)
                .toUtf8());
  StartListening();
  Select(0);
  form->Mp3PlayExecute();
  ASSERT_TRUE(AwaitStatus("Playing"));
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return log_.HeardTitle(QStringLiteral("First Song")); }, 15000));
  QVariantMap metadata = Metadata();
  EXPECT_EQ(metadata.value(QStringLiteral("xesam:url")).toString().toStdString(),
            server.Url("/radio"));
  EXPECT_FALSE(metadata.contains(QStringLiteral("mpris:length")));
  EXPECT_FALSE(Get(QStringLiteral("CanSeek")).toBool());
  EXPECT_FALSE(Get(QStringLiteral("CanPause")).toBool()) << "pause does not stop a station";
  EXPECT_EQ(Position(), 0);

  second = true;
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return log_.HeardTitle(QStringLiteral("Second Song")); }, 15000));
  EXPECT_EQ(Metadata().value(QStringLiteral("xesam:title")), QStringLiteral("Second Song"));
  // The window shows no title: the row keeps its name.
  EXPECT_EQ(form->TrackList()->CellText(0, TTrackListModel::colTitle),
            QStringLiteral("station.m3u"));

  Player("Stop");
  ASSERT_TRUE(AwaitStatus("Stopped"));
  form.reset();
}

TEST_F(Mpris, ATakenNameGivesAnInstanceNameAndRaiseShowsTheWindow) {
  ASSERT_TRUE(client_.registerService(QLatin1String(TMprisService::kServiceName)));
  StoreList(ListText(2));
  StartListening();
  EXPECT_EQ(service_, QLatin1String(TMprisService::kServiceName) + QStringLiteral(".instance") +
                          QString::number(QCoreApplication::applicationPid()));
  EXPECT_EQ(Get(QStringLiteral("Identity"), kRoot), QStringLiteral("Velmo"));
  EXPECT_EQ(Get(QStringLiteral("DesktopEntry"), kRoot), QStringLiteral("velmo"));
  const QDBusMessage open =
      Call(kPlayer, QStringLiteral("OpenUri"), {QStringLiteral("file:///x.mp3")});
  EXPECT_EQ(open.type(), QDBusMessage::ErrorMessage);

  form->hide();
  const QDBusMessage raise = Call(kRoot, QStringLiteral("Raise"));
  EXPECT_EQ(raise.type(), QDBusMessage::ReplyMessage);
  EXPECT_TRUE(form->isVisible());
  const QString name = service_;
  StopListening();
  form.reset();
  // The window's names go with it.
  const QStringList names = client_.interface()->registeredServiceNames().value();
  EXPECT_FALSE(names.contains(name));
  EXPECT_TRUE(client_.unregisterService(QLatin1String(TMprisService::kServiceName)));
}

// The real program: on the bus, Quit is the Exit command; without a bus it runs as before.
class MprisProgram : public ProgramFixture {
 protected:
  static void SetUpTestSuite() { ASSERT_FALSE(PrivateSessionBus::Shared().address().isEmpty()); }
};

TEST_F(MprisProgram, QuitFromTheBusExitsAndSaves) {
  StoreList(ListText(3));
  QDBusConnection client = QDBusConnection::connectToBus(
      QString::fromUtf8(PrivateSessionBus::Shared().address()), QStringLiteral("client"));
  ASSERT_TRUE(client.isConnected());
  const std::unique_ptr<QProcess> program = Launch();
  const QString name = QLatin1String(TMprisService::kServiceName);
  ASSERT_TRUE(QTest::qWaitFor([&] { return client.interface()->isServiceRegistered(name).value(); },
                              15000));
  QFile::remove(ListFile());
  QDBusMessage quit = QDBusMessage::createMethodCall(name, kPath, kRoot, QStringLiteral("Quit"));
  const QDBusMessage reply = client.call(quit, QDBus::Block, 5000);
  EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
  ASSERT_TRUE(program->waitForFinished(15000));
  EXPECT_EQ(program->exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(program->exitCode(), 0);
  // Exit saves the main list.
  EXPECT_TRUE(QFile::exists(ListFile()));
}

TEST_F(MprisProgram, WithoutABusTheProgramStartsAndEndsAsBefore) {
  // A Count one past the sections: the end of the session must write the list anew.
  QByteArray stored = ListText(3);
  stored.replace("\nCount=3\n", "\nCount=4\n");
  StoreList(stored);
  const QByteArray bus = qgetenv("DBUS_SESSION_BUS_ADDRESS");
  qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/velmo-test-bus");
  // The window's first paint says the start is over (the lock comes before the signal handlers).
  const QString marks = home.filePath(QStringLiteral("milestones"));
  qputenv("VELMO_MILESTONES", QFile::encodeName(marks));
  const std::unique_ptr<QProcess> program = Launch();
  qputenv("DBUS_SESSION_BUS_ADDRESS", bus);
  qunsetenv("VELMO_MILESTONES");
  ASSERT_TRUE(QTest::qWaitFor([&] { return ReadFile(marks).contains(" shown"); }, 15000));
  Signal(*program, SIGTERM);
  ASSERT_TRUE(program->waitForFinished(15000));
  EXPECT_EQ(program->exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(program->exitCode(), 0);
  const QByteArray saved = ReadFile(ListFile());
  EXPECT_TRUE(saved.contains("\nCount=3\n")) << saved.toStdString();
}

}  // namespace

#include "test_mpris.moc"
