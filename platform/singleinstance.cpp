#include "platform/singleinstance.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <cerrno>

#include "platform/datadir.h"

namespace platform {

QString SingleInstanceLock::lockFilePath(const QString& name) {
  QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (folder.isEmpty() || !folder.startsWith(QLatin1Char('/')) || !QFileInfo(folder).isDir())
    folder = dataDirectory();
  if (folder.isEmpty()) return {};
  if (!folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
  // The name is one file name, never a way into another folder.
  QString file = name;
  file.replace(QLatin1Char('/'), QLatin1Char('_'));
  return folder + file + QStringLiteral(".lock");
}

SingleInstanceLock::SingleInstanceLock(const QString& name) {
  const QString path = lockFilePath(name);
  // Without a lock file the guard cannot work; the program must still start.
  if (path.isEmpty()) return;
  const QByteArray native = QFile::encodeName(path);
  fd_ = ::open(native.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  // A lock file we may not write (left by another user of a shared folder) still takes a lock.
  if (fd_ < 0 && errno == EACCES) fd_ = ::open(native.constData(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) return;
  while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    alreadyExists_ = errno == EWOULDBLOCK;
    ::close(fd_);
    fd_ = -1;
    return;
  }
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
