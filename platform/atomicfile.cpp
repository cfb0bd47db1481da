#include "platform/atomicfile.h"

#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>
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

// The file a path names: a symbolic link is written through, so the link stays a link.
std::string Target(const QString& path) {
  std::string target = QFile::encodeName(path).toStdString();
  struct stat st {};
  if (::lstat(target.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    if (char* real = ::realpath(target.c_str(), nullptr)) {
      target = real;
      std::free(real);
    }
  }
  return target;
}

// A hidden name next to the target for the temporary, short enough for any file name limit: the
// target's own name is cut (at a character boundary) when it is long.
std::string TemporaryName(const std::string& target) {
  const std::size_t slash = target.rfind('/');
  const std::string folder =
      slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  constexpr std::size_t kKept = NAME_MAX - 16;
  if (name.size() > kKept) {
    std::size_t cut = kKept;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    name.resize(cut);
  }
  return folder + "." + name + ".XXXXXX";
}

}  // namespace

bool writeFileAtomically(const QString& path, std::string_view content) {
  const std::string target = Target(path);
  std::string temp = TemporaryName(target);

  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return false;
  int savedErrno = 0;
  struct stat old {};
  mode_t mode = 0600;
  if (::stat(target.c_str(), &old) == 0) {
    mode = old.st_mode & 0777;
    // Best effort: only a privileged process may give the file back to another owner.
    if (old.st_uid != ::geteuid() || old.st_gid != ::getegid())
      (void)!::fchown(fd, old.st_uid, old.st_gid);
  }
  bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, content) && ::fsync(fd) == 0;
  if (!ok) savedErrno = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    savedErrno = errno;
  }
  if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
    ok = false;
    savedErrno = errno;
  }
  if (!ok) {
    ::unlink(temp.c_str());
    errno = savedErrno;
  }
  return ok;
}

namespace {

// ".<target name>.XXXXXX", as TemporaryName makes it with mkstemp's six letters and digits.
bool IsTemporaryName(std::string_view name) {
  constexpr std::size_t kSuffix = 7;  // ".XXXXXX"
  if (name.size() < 2 + kSuffix || name[0] != '.' || name[name.size() - kSuffix] != '.')
    return false;
  for (std::size_t i = name.size() - kSuffix + 1; i < name.size(); ++i) {
    const char c = name[i];
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
  }
  return true;
}

}  // namespace

int removeStaleTemporaries(const QString& folder) {
  const QByteArray native = QFile::encodeName(folder);
  const int dirFd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) return 0;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::fdopendir(dirFd), &::closedir);
  if (!dir) {
    ::close(dirFd);
    return 0;
  }
  int removed = 0;
  while (const dirent* entry = ::readdir(dir.get())) {
    if (!IsTemporaryName(entry->d_name)) continue;
    struct stat st {};
    if (::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
      continue;
    if (::unlinkat(dirFd, entry->d_name, 0) == 0) ++removed;
  }
  return removed;
}

int probeWritableFolder(const QString& folder) {
  std::string probe = TemporaryName(QFile::encodeName(folder).toStdString() + "/write-probe");
  const int fd = ::mkstemp(probe.data());
  if (fd < 0) return errno;
  ::close(fd);
  // Replacing needs the same rights as removing: a folder that lets us add but not remove or
  // rename (sticky, append-only) is no place for atomic writes.
  const int result = ::unlink(probe.c_str()) == 0 ? 0 : errno;
  return result;
}

}  // namespace platform
