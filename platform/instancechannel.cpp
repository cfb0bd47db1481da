#include "platform/instancechannel.h"

#include <QCryptographicHash>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>

#include <sys/un.h>
#include <memory>
#include <string>

#include "platform/handoffframe.h"
#include "platform/pathcodec.h"

namespace platform {

namespace {

const QString kInterface = QStringLiteral("org.velmo.Velmo.Instance");

// Long enough that two data folders never share it, short enough for a bus name element.
QString FolderKey(const QString& dataFolder) {
  return QString::fromLatin1(
      QCryptographicHash::hash(encodePath(dataFolder), QCryptographicHash::Sha256)
          .toHex()
          .left(20));
}

// A client that connects and then says nothing is dropped.
constexpr int kClientIdleMs = 2000;
// How often a later start looks again for a copy that holds the lock but does not listen yet
// (it is still starting).
constexpr int kRetryMs = 25;

}  // namespace

QString InstanceChannel::busName(const QString& dataFolder) {
  return QStringLiteral("org.velmo.Velmo.Folder_") + FolderKey(dataFolder);
}

QString InstanceChannel::socketPath(const QString& dataFolder) {
  QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (folder.isEmpty() || !folder.startsWith(QLatin1Char('/'))) folder = dataFolder;
  if (folder.isEmpty()) return {};
  if (!folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
  const QString path =
      folder + QStringLiteral("velmo-") + FolderKey(dataFolder) + QStringLiteral(".socket");
  // A socket's path has a fixed room in the kernel's address.
  if (static_cast<std::size_t>(encodePath(path).size()) >= sizeof(sockaddr_un::sun_path)) return {};
  return path;
}

InstanceChannel::InstanceChannel(const QString& dataFolder, QObject* parent) : QObject(parent) {
  ListenOnBus(dataFolder);
  ListenOnSocket(dataFolder);
}

InstanceChannel::~InstanceChannel() {
  if (onBus_) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterObject(kObjectPath);
    bus.unregisterService(busName_);
  }
}

void InstanceChannel::ListenOnBus(const QString& dataFolder) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return;
  busName_ = busName(dataFolder);
  if (!bus.registerObject(kObjectPath, this, QDBusConnection::ExportScriptableSlots)) return;
  if (!bus.registerService(busName_)) {
    bus.unregisterObject(kObjectPath);
    return;
  }
  onBus_ = true;
}

void InstanceChannel::ListenOnSocket(const QString& dataFolder) {
  const QString path = socketPath(dataFolder);
  if (path.isEmpty()) return;
  auto* server = new QLocalServer(this);
  server->setSocketOptions(QLocalServer::UserAccessOption);
  // We hold the data folder's lock, so a socket already there was left by a copy that died.
  QLocalServer::removeServer(path);
  if (!server->listen(path)) {
    delete server;
    return;
  }
  server_ = server;
  connect(server_, &QLocalServer::newConnection, this, [this] { AcceptClients(); });
}

void InstanceChannel::AcceptClients() {
  while (QLocalSocket* client = server_->nextPendingConnection()) {
    connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
    QTimer::singleShot(kClientIdleMs, client, [client] { client->abort(); });
    auto pending = std::make_shared<std::string>();
    connect(client, &QLocalSocket::readyRead, this, [this, client, pending] {
      const QByteArray bytes = client->readAll();
      pending->append(bytes.constData(), static_cast<std::size_t>(bytes.size()));
      const HandOffFrame frame = DecodeHandOffFrame(*pending);
      if (frame.state == HandOffFrame::State::NeedMore) return;
      if (frame.state == HandOffFrame::State::Bad) {
        client->abort();
        return;
      }
      client->write(&kHandOffTaken, 1);
      client->disconnectFromServer();
      Q_EMIT received(decodePath(frame.path));
    });
  }
}

void InstanceChannel::Open(const QByteArray& path) {
  const std::string_view bytes(path.constData(), static_cast<std::size_t>(path.size()));
  if (!IsHandOffPath(bytes)) return;
  Q_EMIT received(decodePath(bytes));
}

namespace {

enum class Attempt { Taken, NotAnswered, NotListening };

Attempt TryBus(const QString& dataFolder, const QByteArray& path, int ms) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return Attempt::NotListening;
  QDBusMessage call = QDBusMessage::createMethodCall(InstanceChannel::busName(dataFolder),
                                                     InstanceChannel::kObjectPath, kInterface,
                                                     QStringLiteral("Open"));
  call << path;
  const QDBusMessage reply = bus.call(call, QDBus::Block, ms);
  if (reply.type() == QDBusMessage::ReplyMessage) return Attempt::Taken;
  // Only an answer that says no one owns the name means nothing was delivered; after any other
  // error the running copy may still take the request late, and it must not get it twice.
  const QString error = reply.errorName();
  if (error == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
      error == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner"))
    return Attempt::NotListening;
  return Attempt::NotAnswered;
}

Attempt TrySocket(const QString& dataFolder, const QByteArray& path, int ms) {
  const QString socketPath = InstanceChannel::socketPath(dataFolder);
  if (socketPath.isEmpty()) return Attempt::NotListening;
  QElapsedTimer clock;
  clock.start();
  QLocalSocket socket;
  socket.connectToServer(socketPath);
  if (!socket.waitForConnected(ms)) return Attempt::NotListening;
  const std::string frame = EncodeHandOffFrame(std::string_view(path.constData(), path.size()));
  socket.write(frame.data(), static_cast<qint64>(frame.size()));
  const auto left = [&] { return std::max<int>(1, ms - static_cast<int>(clock.elapsed())); };
  while (socket.bytesToWrite() > 0)
    if (!socket.waitForBytesWritten(left())) return Attempt::NotAnswered;
  if (!socket.waitForReadyRead(left())) return Attempt::NotAnswered;
  char answer = 0;
  return socket.read(&answer, 1) == 1 && answer == kHandOffTaken ? Attempt::Taken
                                                                 : Attempt::NotAnswered;
}

}  // namespace

HandOffResult HandOffToRunningCopy(const QString& dataFolder, const QString& path,
                                   std::chrono::milliseconds budget) {
  QElapsedTimer clock;
  clock.start();
  const auto left = [&] {
    return std::max<int>(1, static_cast<int>(budget.count() - clock.elapsed()));
  };
  const QByteArray bytes = encodePath(path);
  for (;;) {
    for (const auto attempt : {TryBus, TrySocket}) {
      switch (attempt(dataFolder, bytes, left())) {
        case Attempt::Taken:
          return HandOffResult::Taken;
        case Attempt::NotAnswered:
          return HandOffResult::NotAnswered;
        case Attempt::NotListening:
          break;
      }
    }
    if (left() <= kRetryMs) return HandOffResult::NoListener;
    QThread::msleep(kRetryMs);
  }
}

}  // namespace platform
