#include "platform/shelllink.h"

#include <QFile>

#include <cstdint>
#include <cstring>
#include <optional>

#include "platform/textcodec.h"

namespace platform {
namespace {

constexpr std::uint32_t kHeaderSize = 0x4C;
constexpr unsigned char kLinkClsid[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                          0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
enum : std::uint32_t {
  HasLinkTargetIDList = 0x1,
  HasLinkInfo = 0x2,
  HasName = 0x4,
  HasRelativePath = 0x8,
  IsUnicode = 0x80,
  ForceNoLinkInfo = 0x100,
};
enum : std::uint32_t { VolumeIDAndLocalBasePath = 0x1 };

// A read-only window on the file's bytes; every read is checked.
class Reader {
 public:
  explicit Reader(const QByteArray& bytes)
      : data_(reinterpret_cast<const unsigned char*>(bytes.constData())),
        size_(static_cast<std::size_t>(bytes.size())) {}

  std::optional<std::uint32_t> U32(std::size_t at) const {
    if (at > size_ || size_ - at < 4) return std::nullopt;
    return std::uint32_t(data_[at]) | std::uint32_t(data_[at + 1]) << 8 |
           std::uint32_t(data_[at + 2]) << 16 | std::uint32_t(data_[at + 3]) << 24;
  }
  std::optional<std::uint16_t> U16(std::size_t at) const {
    if (at > size_ || size_ - at < 2) return std::nullopt;
    return static_cast<std::uint16_t>(data_[at] | data_[at + 1] << 8);
  }
  bool Has(std::size_t at, std::size_t count) const { return at <= size_ && size_ - at >= count; }
  const unsigned char* At(std::size_t at) const { return data_ + at; }

  // An 8-bit string ending with NUL inside [at, end).
  std::optional<QString> AnsiZ(std::size_t at, std::size_t end) const {
    if (end > size_) end = size_;
    for (std::size_t i = at; i < end; ++i)
      if (data_[i] == 0)
        return decodeText(std::string_view(reinterpret_cast<const char*>(data_ + at), i - at));
    return std::nullopt;
  }
  // A UTF-16LE string ending with NUL inside [at, end).
  std::optional<QString> Utf16Z(std::size_t at, std::size_t end) const {
    if (end > size_) end = size_;
    QString text;
    for (std::size_t i = at; i + 1 < end; i += 2) {
      const char16_t unit = static_cast<char16_t>(data_[i] | data_[i + 1] << 8);
      if (unit == 0) return text;
      text += QChar(unit);
    }
    return std::nullopt;
  }

 private:
  const unsigned char* data_;
  std::size_t size_;
};

QString ToSlashes(QString path) {
  return path.replace(QLatin1Char('\\'), QLatin1Char('/'));
}

std::optional<QString> LinkInfoPath(const Reader& in, std::size_t at) {
  const auto size = in.U32(at), headerSize = in.U32(at + 4), flags = in.U32(at + 8);
  if (!size || !headerSize || !flags || *size < 0x1C || !in.Has(at, *size)) return std::nullopt;
  if (!(*flags & VolumeIDAndLocalBasePath)) return std::nullopt;
  const std::size_t end = at + *size;
  if (*headerSize >= 0x24) {
    const auto base = in.U32(at + 0x1C), suffix = in.U32(at + 0x20);
    if (base && suffix && *base && *base < *size && *suffix < *size) {
      const auto basePath = in.Utf16Z(at + *base, end);
      const auto suffixPath = in.Utf16Z(at + *suffix, end);
      if (basePath && suffixPath) return *basePath + *suffixPath;
    }
  }
  const auto base = in.U32(at + 0x10), suffix = in.U32(at + 0x18);
  if (!base || !suffix || !*base || *base >= *size || *suffix >= *size) return std::nullopt;
  const auto basePath = in.AnsiZ(at + *base, end);
  const auto suffixPath = in.AnsiZ(at + *suffix, end);
  if (!basePath || !suffixPath) return std::nullopt;
  return *basePath + *suffixPath;
}

}  // namespace

QString readShortcutTarget(const QByteArray& bytes) {
  const Reader in(bytes);
  const auto headerSize = in.U32(0);
  if (!headerSize || *headerSize != kHeaderSize || !in.Has(0, kHeaderSize)) return {};
  if (std::memcmp(in.At(4), kLinkClsid, sizeof kLinkClsid) != 0) return {};
  const std::uint32_t flags = *in.U32(0x14);
  std::size_t at = kHeaderSize;
  if (flags & HasLinkTargetIDList) {
    const auto idListSize = in.U16(at);
    if (!idListSize) return {};
    at += 2 + *idListSize;
  }
  if ((flags & HasLinkInfo) && !(flags & ForceNoLinkInfo)) {
    const auto size = in.U32(at);
    if (!size) return {};
    if (auto path = LinkInfoPath(in, at); path && !path->isEmpty()) return ToSlashes(*path);
    at += *size;
  }
  // String data: the name comes first, then the relative path.
  const bool unicode = flags & IsUnicode;
  for (const std::uint32_t field : {HasName, HasRelativePath}) {
    if (!(flags & field)) continue;
    const auto count = in.U16(at);
    if (!count) return {};
    const std::size_t bytesLong = std::size_t(*count) * (unicode ? 2 : 1);
    if (!in.Has(at + 2, bytesLong)) return {};
    if (field == HasRelativePath) {
      const unsigned char* text = in.At(at + 2);
      QString path;
      if (unicode)
        for (std::size_t i = 0; i < bytesLong; i += 2)
          path += QChar(static_cast<char16_t>(text[i] | text[i + 1] << 8));
      else
        path = decodeText(std::string_view(reinterpret_cast<const char*>(text), bytesLong));
      return ToSlashes(path);
    }
    at += 2 + bytesLong;
  }
  return {};
}

QString resolveShortcut(const QString& path) {
  QFile file(path);
  // A shortcut is small; anything larger is not one worth reading.
  constexpr qint64 kMaxShortcutSize = 1 << 20;
  if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxShortcutSize) return {};
  const QString target = readShortcutTarget(file.read(kMaxShortcutSize));
  // A relative target is relative to the shortcut's own folder.
  if (target.isEmpty() || target.startsWith(QLatin1Char('/'))) return target;
  const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
  return slash < 0 ? target : path.left(slash + 1) + target;
}

}  // namespace platform
