#include "platform/dirsearch.h"

#include "platform/pathcodec.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <memory>

namespace platform {
namespace {

bool Matches(const QString& name, const QString& pattern) {
  if (pattern == QLatin1String("*") || pattern == QLatin1String("*.*")) return true;
  if (pattern.startsWith(QLatin1String("*."))) {
    // ".mp3" itself matches too: the '*' may stand for nothing.
    const QStringView ext = QStringView(pattern).mid(1);
    return name.endsWith(ext, Qt::CaseInsensitive);
  }
  return name.compare(pattern, Qt::CaseInsensitive) == 0;
}

// Entries the listing types as anything but a folder (or not at all) can be skipped unseen.
enum class Wanted { Matching, FoldersOnly };

std::vector<DirEntry> Search(const QString& folder, const QString& pattern, Wanted wanted) {
  std::vector<DirEntry> entries;
  const QByteArray native = encodePath(folder.isEmpty() ? QStringLiteral(".") : folder);
  const int dirFd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) return entries;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::fdopendir(dirFd), &::closedir);
  if (!dir) {
    ::close(dirFd);
    return entries;
  }
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(dir.get());
    if (!entry) {
      // A listing cut short by an error would pass for the whole folder.
      if (errno != 0) entries.clear();
      break;
    }
    const char* raw = entry->d_name;
    if (raw[0] == '.' && (raw[1] == 0 || (raw[1] == '.' && raw[2] == 0))) continue;
    if (wanted == Wanted::FoldersOnly && entry->d_type != DT_DIR && entry->d_type != DT_UNKNOWN)
      continue;
    const QString name = decodePath(raw);
    if (!Matches(name, pattern)) continue;
    struct stat st {};
    // A vanished entry is left out, as it would be had the search started a moment later.
    if (::fstatat(dirFd, raw, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    DirEntry found{name, 0, 0};
    // A link to a file is played through the link and cannot loop; every other link is left
    // alone.
    struct stat target {};
    if (S_ISLNK(st.st_mode) && ::fstatat(dirFd, raw, &target, 0) == 0 && S_ISREG(target.st_mode))
      st = target;
    if (S_ISLNK(st.st_mode)) {
      found.attributes = faReparsePoint;
    } else if (S_ISDIR(st.st_mode)) {
      found.attributes = faDirectory;
    } else if (S_ISREG(st.st_mode)) {
      found.attributes = faArchive;
      found.size = static_cast<std::uint64_t>(st.st_size);
    } else {
      continue;
    }
    if (wanted == Wanted::FoldersOnly && !S_ISDIR(st.st_mode)) continue;
    if (raw[0] == '.') found.attributes |= faHidden;
    // Folders have no read-only bit: a collection on read-only media is scanned like any other.
    if (S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR)) found.attributes |= faReadOnly;
    entries.push_back(std::move(found));
  }
  std::sort(entries.begin(), entries.end(), [](const DirEntry& a, const DirEntry& b) {
    const int folded = a.name.compare(b.name, Qt::CaseInsensitive);
    return folded != 0 ? folded < 0 : a.name < b.name;
  });
  return entries;
}

}  // namespace

std::vector<DirEntry> findFiles(const QString& folder, const QString& pattern) {
  return Search(folder, pattern, Wanted::Matching);
}

std::vector<DirEntry> findFolders(const QString& folder) {
  return Search(folder, QStringLiteral("*"), Wanted::FoldersOnly);
}

std::optional<FolderId> folderId(const QString& folder) {
  struct stat st {};
  if (::stat(encodePath(folder.isEmpty() ? QStringLiteral(".") : folder).constData(), &st) != 0 ||
      !S_ISDIR(st.st_mode))
    return std::nullopt;
  return FolderId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

QString joinPath(const QString& folder, const QString& name) {
  if (folder.endsWith(QLatin1Char('/'))) return folder + name;
  return folder + QLatin1Char('/') + name;
}

}  // namespace platform
