#include "platform/singleinstance.h"

#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace platform {

QString SingleInstanceLock::lockFilePath(const QString& folder, const QString& name) {
  if (folder.isEmpty()) return {};
  QString dir = folder;
  if (!dir.endsWith(QLatin1Char('/'))) dir += QLatin1Char('/');
  // The name is one file name, never a way into another folder.
  QString file = name;
  file.replace(QLatin1Char('/'), QLatin1Char('_'));
  return dir + file + QStringLiteral(".lock");
}

SingleInstanceLock::SingleInstanceLock(const QString& folder, const QString& name)
    : path_(lockFilePath(folder, name)) {
  const auto fail = [this](int error) {
    state_ = State::Failed;
    error_ = QString::fromLocal8Bit(std::strerror(error));
  };
  if (path_.isEmpty()) {
    fail(ENOENT);
    return;
  }
  const QByteArray native = QFile::encodeName(path_);
  fd_ = ::open(native.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  // A lock file we may not write (a read-only folder, another user's file) still takes a lock.
  if (fd_ < 0 && (errno == EACCES || errno == EROFS || errno == EPERM))
    fd_ = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd_ < 0) {
    fail(errno);
    return;
  }
  while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    const int error = errno;
    ::close(fd_);
    fd_ = -1;
    if (error == EWOULDBLOCK) {
      state_ = State::AlreadyExists;
      return;
    }
    fail(error);
    return;
  }
  state_ = State::Held;
}

SingleInstanceLock::~SingleInstanceLock() {
  release();
}

void SingleInstanceLock::release() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
}

}  // namespace platform
