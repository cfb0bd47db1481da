#include "platform/filemove.h"

#include <QFile>

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

int moveWithoutReplacing(const QString& from, const QString& to) {
  const QByteArray source = QFile::encodeName(from);
  const QByteArray target = QFile::encodeName(to);
  if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) ==
      0)
    return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  if (::link(source.constData(), target.constData()) != 0) return errno;
  if (::unlink(source.constData()) != 0) {
    const int error = errno;
    // Both names would stay: take the new one back, so the move is all or nothing.
    ::unlink(target.constData());
    return error;
  }
  return 0;
}

}  // namespace platform
