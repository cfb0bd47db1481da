#include "platform/pathcodec.h"

#include <sys/stat.h>
#include <cstdint>
#include <cstring>

#include "platform/textcodec.h"

namespace platform {
namespace {

constexpr char16_t kEscapeBase = 0xDC00;

// Whether the text holds a surrogate that is not half of a pair.
bool HasLoneSurrogate(QStringView text) {
  const char16_t* p = text.utf16();
  const char16_t* const end = p + text.size();
  for (; p < end; ++p) {
    if ((*p & 0xF800) != 0xD800) continue;
    if (*p <= 0xDBFF && p + 1 < end && (p[1] & 0xFC00) == 0xDC00) {
      ++p;
      continue;
    }
    return true;
  }
  return false;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool Stat(const QString& path, struct stat& st) {
  if (path.isEmpty()) return false;
  return ::stat(encodePath(path).constData(), &st) == 0;
}

}  // namespace

QString decodePath(std::string_view bytes) {
  if (isValidUtf8(bytes)) return decodeUtf8(bytes);
  QString text;
  text.reserve(static_cast<qsizetype>(bytes.size()));
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* const end = p + bytes.size();
  while (p < end) {
    const int length = utf8CharLength(p, end);
    if (length == 0) {
      text.append(QChar(char16_t(kEscapeBase + *p)));
      ++p;
    } else {
      text.append(decodeUtf8(std::string_view(reinterpret_cast<const char*>(p), length)));
      p += length;
    }
  }
  return text;
}

QByteArray encodePath(QStringView path) {
  if (!HasLoneSurrogate(path)) return path.toUtf8();
  QByteArray bytes;
  bytes.reserve(path.size() * 3);
  const char16_t* p = path.utf16();
  const char16_t* const end = p + path.size();
  while (p < end) {
    const char16_t* run = p;
    // Everything up to the next lone surrogate converts as ordinary text.
    while (p < end) {
      if ((*p & 0xF800) == 0xD800) {
        if (*p <= 0xDBFF && p + 1 < end && (p[1] & 0xFC00) == 0xDC00) {
          p += 2;
          continue;
        }
        break;
      }
      ++p;
    }
    bytes += QStringView(run, p).toUtf8();
    if (p == end) break;
    if (*p >= kEscapeBase + 0x80 && *p <= kEscapeBase + 0xFF)
      bytes += static_cast<char>(*p - kEscapeBase);
    else
      bytes += "\xEF\xBF\xBD";
    ++p;
  }
  return bytes;
}

bool isPlainPath(QStringView path) {
  // Every list save asks this of every path, so four characters at a time look for any that
  // may need a closer look: a control character or a surrogate.
  const auto hasZeroLane = [](std::uint64_t w) {
    return ((w - 0x0001000100010001ULL) & ~w & 0x8000800080008000ULL) != 0;
  };
  const char16_t* p = path.utf16();
  const char16_t* const end = p + path.size();
  bool suspect = false;
  for (; end - p >= 4 && !suspect; p += 4) {
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    suspect = hasZeroLane(w & 0xFFE0FFE0FFE0FFE0ULL) ||
              hasZeroLane((w & 0xF800F800F800F800ULL) ^ 0xD800D800D800D800ULL);
  }
  for (; p < end && !suspect; ++p) suspect = *p < 0x20 || (*p & 0xF800) == 0xD800;
  if (!suspect) return true;
  for (const QChar c : path)
    if (c == u'\n' || c == u'\r') return false;
  return !HasLoneSurrogate(path);
}

QString displayName(const QString& fileName) {
  if (isPlainPath(fileName)) return fileName;
  const QByteArray bytes = encodePath(fileName);
  QString name = decodeText(std::string_view(bytes.constData(), bytes.size()));
  name.replace(u'\r', u' ').replace(u'\n', u' ');
  return name;
}

QString escapePathBytes(QStringView path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const QByteArray bytes = encodePath(path);
  QString text;
  text.reserve(bytes.size() * 3);
  for (const char byte : bytes) {
    const auto c = static_cast<unsigned char>(byte);
    if (c > 0x20 && c < 0x7F && c != '%' && c != '"' && c != '\'') {
      text.append(QLatin1Char(byte));
    } else {
      text.append(QLatin1Char('%'));
      text.append(QLatin1Char(kHex[c >> 4]));
      text.append(QLatin1Char(kHex[c & 0xF]));
    }
  }
  return text;
}

std::optional<QString> unescapePathBytes(std::string_view text) {
  if (text.empty()) return std::nullopt;
  std::string bytes;
  bytes.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '%') {
      if (text.size() - i < 3) return std::nullopt;
      const int high = HexDigit(text[i + 1]);
      const int low = HexDigit(text[i + 2]);
      if (high < 0 || low < 0) return std::nullopt;
      c = static_cast<char>(high * 16 + low);
      i += 2;
    }
    // No path holds a NUL byte.
    if (c == 0) return std::nullopt;
    bytes.push_back(c);
  }
  return decodePath(bytes);
}

bool isFile(const QString& path) {
  struct stat st {};
  return Stat(path, st) && S_ISREG(st.st_mode);
}

bool isFolder(const QString& path) {
  struct stat st {};
  return Stat(path, st) && S_ISDIR(st.st_mode);
}

bool pathExists(const QString& path) {
  struct stat st {};
  return Stat(path, st);
}

}  // namespace platform
