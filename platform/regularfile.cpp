#include "platform/regularfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/pathcodec.h"

namespace platform {

int readRegularFile(const QString& path, std::string& bytes, std::size_t last, off_t maxSize) {
  bytes.clear();
  const int fd = ::open(encodePath(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno;
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0) return errno;
  if (S_ISDIR(st.st_mode)) return EISDIR;
  if (!S_ISREG(st.st_mode)) return EINVAL;
  if (st.st_size > maxSize) return EFBIG;
  const auto size = static_cast<std::size_t>(st.st_size);
  const std::size_t want = size < last ? size : last;
  const off_t start = st.st_size - static_cast<off_t>(want);
  bytes.resize(want);
  std::size_t done = 0;
  while (done < want) {
    const ssize_t n =
        ::pread(fd, bytes.data() + done, want - done, start + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) break;  // the file shrank while being read
    done += static_cast<std::size_t>(n);
  }
  bytes.resize(done);
  return 0;
}

std::string openErrorText(const QString& path, int error) {
  return QStringLiteral("Cannot open file \"%1\". %2")
      .arg(path, QString::fromLocal8Bit(std::strerror(error)))
      .toStdString();
}

}  // namespace platform
