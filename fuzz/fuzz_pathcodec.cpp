// Feeds arbitrary bytes to the path codec as a file name from the system and as the stored
// escaped bytes of a play list: every byte sequence must come back exactly, the stored text must
// be plain ASCII that reads back as the same path, and no stored text may crash the reader or
// give a path with a NUL byte.
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "fuzz/fuzzcheck.h"
#include "platform/pathcodec.h"
#include "platform/textcodec.h"

namespace {

using fuzz::Check;

bool HasLineBreak(std::string_view bytes) {
  return bytes.find('\n') != std::string_view::npos || bytes.find('\r') != std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  // As a name from the system.
  const QString path = platform::decodePath(bytes);
  const QByteArray encoded = platform::encodePath(path);
  Check(std::string_view(encoded.constData(), encoded.size()) == bytes, "bytes do not round-trip");
  for (qsizetype i = 0; i < path.size(); ++i) {
    const char16_t c = path[i].unicode();
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < path.size() && path[i + 1].isLowSurrogate()) {
      ++i;
      continue;
    }
    if (c >= 0xD800 && c <= 0xDFFF)
      Check(c >= 0xDC80 && c <= 0xDCFF, "an escape outside U+DC80..U+DCFF");
  }
  Check(platform::isPlainPath(path) == (platform::isValidUtf8(bytes) && !HasLineBreak(bytes)),
        "plain is not valid UTF-8 without line breaks");
  const QString shown = platform::displayName(path);
  Check(platform::isPlainPath(shown), "a display name the list file cannot hold");

  // Stored: printable ASCII that reads back as the same path.
  const QString escaped = platform::escapePathBytes(path);
  for (const QChar c : escaped)
    Check(c.unicode() > 0x20 && c.unicode() < 0x7F && c != u'"' && c != u'\'',
          "escaped text is not plain ASCII");
  const QByteArray stored = escaped.toLatin1();
  const std::optional<QString> back =
      platform::unescapePathBytes(std::string_view(stored.constData(), stored.size()));
  if (size > 0 && bytes.find('\0') == std::string_view::npos)
    Check(back && *back == path, "stored bytes do not read back");
  else
    Check(!back, "a path that cannot exist was read back");

  // As stored text written by anyone: read back, it stores again as itself.
  if (const std::optional<QString> read = platform::unescapePathBytes(bytes)) {
    const QByteArray raw = platform::encodePath(*read);
    Check(!raw.isEmpty() && !raw.contains('\0'), "a path read from text is empty or holds NUL");
    const QByteArray again = platform::escapePathBytes(*read).toLatin1();
    Check(platform::unescapePathBytes(std::string_view(again.constData(), again.size())) == read,
          "a read path does not store as itself");
  }
  return 0;
}
