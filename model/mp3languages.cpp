#include "model/mp3languages.h"

#include <QCoreApplication>
#include <QDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <string>

#include "platform/pathcodec.h"
#include "platform/textcodec.h"

namespace {

// A language file lists a few hundred short lines; anything far larger is not one, and reading
// it would stall the window.
constexpr off_t kMaxLanguageFileBytes = 1 << 20;

std::string OpenErrorText(const QString& path, int error) {
  return QStringLiteral("Cannot open file \"%1\". %2")
      .arg(path, QString::fromLocal8Bit(std::strerror(error)))
      .toStdString();
}

// The whole file, or the errno of the failure. Only regular files are read: opening a FIFO
// would block, and a folder has no lines.
int ReadRegularFile(const QString& path, std::string& bytes) {
  const int fd = ::open(platform::encodePath(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno;
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0) return errno;
  if (S_ISDIR(st.st_mode)) return EISDIR;
  if (!S_ISREG(st.st_mode)) return EINVAL;
  if (st.st_size > kMaxLanguageFileBytes) return EFBIG;
  bytes.resize(static_cast<std::size_t>(st.st_size));
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) break;  // the file shrank while being read
    done += static_cast<std::size_t>(n);
  }
  bytes.resize(done);
  return 0;
}

}  // namespace

TLanguageFileError::TLanguageFileError(const QString& path, int error)
    : std::runtime_error(OpenErrorText(path, error)), FPath(path) {}

TMp3Languages::TMp3Languages() : FResultFile(QStringList()) {}

TMp3Languages::TMp3Languages(QString ComponentName, QString ReplaceName)
    : FComponentName(std::move(ComponentName)), FReplaceName(std::move(ReplaceName)) {}

TMp3Languages TMp3Languages::DivideReadString(const QString& ReadName) {
  const qsizetype split = ReadName.indexOf(QLatin1Char('='));
  if (split < 0) return TMp3Languages(QString(), ReadName);
  return TMp3Languages(ReadName.left(split), ReadName.mid(split + 1));
}

QStringList TMp3Languages::DefaultSearchFolders() {
  QStringList folders{QDir::currentPath()};
  if (QCoreApplication::instance()) {
    const QString program = QCoreApplication::applicationDirPath();
    folders << program
            << QDir::cleanPath(program + u'/' + QStringLiteral(VELMO_DATA_DIR_FROM_PROGRAM));
  }
  return folders;
}

QString TMp3Languages::FindLanguageFile(const QString& LngFile) const {
  if (LngFile.contains(QLatin1Char('/'))) return QDir::current().absoluteFilePath(LngFile);
  const QStringList folders = FSearchFolders ? *FSearchFolders : DefaultSearchFolders();
  for (const QString& folder : folders) {
    const QString path = QDir(folder).absoluteFilePath(LngFile);
    struct stat st {};
    // Found when it is there at all: a file that cannot be read is reported, not passed over.
    if (::stat(platform::encodePath(path).constData(), &st) == 0) return path;
  }
  return QDir(folders.value(0, QDir::currentPath())).absoluteFilePath(LngFile);
}

std::optional<TMp3LanguageEntries> TMp3Languages::GetComponentsNames(const QString& LngFile) {
  if (LngFile.isEmpty()) return std::nullopt;
  const QString path = FindLanguageFile(LngFile);
  std::string bytes;
  if (const int error = ReadRegularFile(path, bytes)) throw TLanguageFileError(path, error);
  return GetComponentsNamesFromBytes(bytes);
}

std::optional<TMp3LanguageEntries> TMp3Languages::GetComponentsNamesFromBytes(
    std::string_view bytes) {
  FResultFile = platform::decodeLines(bytes);
  if (FResultFile->isEmpty()) return std::nullopt;
  TMp3LanguageEntries entries;
  entries.reserve(static_cast<std::size_t>(FResultFile->size()));
  for (const QString& line : *FResultFile) {
    FReadName = line;
    entries.push_back(DivideReadString(line));
  }
  return entries;
}
