#pragma once
// A Unix socket in a temporary folder that accepts connections and never answers: a sound
// server that hangs. Closed with the object.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QByteArray>
#include <QTemporaryDir>

#include <cstring>

class TSilentSocket {
 public:
  TSilentSocket() {
    if (!dir_.isValid()) return;
    path_ = dir_.filePath(QStringLiteral("silent")).toLocal8Bit();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (static_cast<std::size_t>(path_.size()) >= sizeof address.sun_path) return;
    std::memcpy(address.sun_path, path_.constData(), path_.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 4) != 0) {
      ::close(fd);
      return;
    }
    fd_ = fd;
  }
  ~TSilentSocket() {
    if (fd_ >= 0) ::close(fd_);
  }
  TSilentSocket(const TSilentSocket&) = delete;
  TSilentSocket& operator=(const TSilentSocket&) = delete;

  bool Listening() const { return fd_ >= 0; }
  // What PULSE_SERVER takes to name it.
  QByteArray ServerAddress() const { return "unix:" + path_; }

 private:
  QTemporaryDir dir_;
  QByteArray path_;
  int fd_ = -1;
};
