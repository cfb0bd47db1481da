#include "playback/streamentry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/inifile.h"
#include "platform/pathcodec.h"
#include "platform/textcodec.h"

namespace {

// Radio play lists are a few lines; anything much larger is not one, and reading it whole
// would only cost memory.
constexpr std::size_t kMaxPlaylistBytes = 1 << 20;

std::optional<std::string> ReadSmallFile(const QString& path) {
  // Non-blocking, so a pipe named like a play list cannot stall the open.
  const int fd = ::open(platform::encodePath(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return std::nullopt;
  }
  std::string bytes;
  char chunk[16384];
  ssize_t n;
  while ((n = ::read(fd, chunk, sizeof chunk)) > 0) {
    bytes.append(chunk, static_cast<std::size_t>(n));
    if (bytes.size() > kMaxPlaylistBytes) break;
  }
  ::close(fd);
  if (n < 0 || bytes.size() > kMaxPlaylistBytes) return std::nullopt;
  return bytes;
}

}  // namespace

QString PlsAddressOf(std::string_view bytes) {
  const platform::IniFile ini = platform::IniFile::fromBytes(bytes);
  if (ini.readInteger("playlist", "NumberOfEntries", 0) <= 0) return {};
  return ini.readString("playlist", "File1", QString());
}

QString StreamAddressOf(std::string_view bytes, bool pls) {
  const QStringList lines = platform::decodeLines(bytes);
  if (lines.isEmpty()) return {};
  return pls ? PlsAddressOf(bytes) : lines.last();
}

QString ReadPlsAddress(const QString& path) {
  const std::optional<std::string> bytes = ReadSmallFile(path);
  return bytes ? PlsAddressOf(*bytes) : QString();
}

QString ResolveStreamAddress(const QString& path) {
  const std::optional<std::string> bytes = ReadSmallFile(path);
  if (!bytes) return {};
  const qsizetype dot = path.lastIndexOf(u'.');
  const bool pls =
      dot >= 0 && dot > path.lastIndexOf(u'/') && QStringView(path).mid(dot) == u".pls";
  return StreamAddressOf(*bytes, pls);
}

std::optional<std::string> StreamTitleOf(std::string_view meta) {
  constexpr std::string_view kKey = "StreamTitle=";
  const std::size_t p = meta.find(kKey);
  if (p == std::string_view::npos) return std::nullopt;
  // Past the key and its opening quote, up to the character before the block's first ';'.
  const std::size_t start = p + kKey.size() + 1;
  const std::size_t q = meta.find(';');
  if (q == std::string_view::npos || q <= start + 1) return std::string();
  return std::string(meta.substr(start, q - start - 1));
}
