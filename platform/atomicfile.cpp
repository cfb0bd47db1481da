#include "platform/atomicfile.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <string>

namespace platform {
namespace {

bool WriteAll(int fd, std::string_view content) {
  const char* p = content.data();
  std::size_t left = content.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

bool writeFileAtomically(const QString& path, std::string_view content) {
  const QByteArray target = QFile::encodeName(path);
  const qsizetype slash = target.lastIndexOf('/');
  const QByteArray folder = slash < 0 ? QByteArray() : target.left(slash + 1);
  const QByteArray name = slash < 0 ? target : target.mid(slash + 1);
  std::string temp = (folder + "." + name + ".XXXXXX").toStdString();

  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return false;
  int savedErrno = 0;
  struct stat old {};
  const mode_t mode = ::stat(target.constData(), &old) == 0 ? (old.st_mode & 07777) : 0600;
  bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, content) && ::fsync(fd) == 0;
  if (!ok) savedErrno = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    savedErrno = errno;
  }
  if (ok && ::rename(temp.c_str(), target.constData()) != 0) {
    ok = false;
    savedErrno = errno;
  }
  if (!ok) {
    ::unlink(temp.c_str());
    errno = savedErrno;
  }
  return ok;
}

}  // namespace platform
