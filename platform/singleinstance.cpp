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
  if (!folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
  return folder + name + QStringLiteral(".lock");
}

SingleInstanceLock::SingleInstanceLock(const QString& name) {
  fd_ =
      ::open(QFile::encodeName(lockFilePath(name)).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  // Without a lock file the guard cannot work; the program must still start.
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
