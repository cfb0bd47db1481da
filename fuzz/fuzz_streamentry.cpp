// Feeds arbitrary bytes, in memory, to the readers of a radio entry's file and of a metadata
// block: the first byte chooses a ".pls" file or any other, the rest is the file. Lines never
// hold a line break, an address is one line of the file, and a title is a piece of the block.
#include <QStringList>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "fuzz/fuzzcheck.h"
#include "platform/textcodec.h"
#include "playback/streamentry.h"

using fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool pls = data[0] & 1;
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);

  const QStringList lines = platform::decodeLines(bytes);
  for (const QString& line : lines)
    Check(!line.contains(u'\r') && !line.contains(u'\n'), "a line holds a line break");
  const QString address = StreamAddressOf(bytes, pls);
  // An INI value ends at a line feed only; a lone CR stays in it, and the library refuses it.
  Check(!address.contains(u'\n'), "an address holds a line feed");
  if (!pls)
    Check(lines.isEmpty() ? address.isEmpty() : address == lines.last(), "not the last line");

  if (const std::optional<std::string> title = StreamTitleOf(bytes)) {
    Check(title->size() < bytes.size(), "a title longer than its block");
    Check(bytes.find(*title) != std::string_view::npos, "a title that is not in the block");
  }
  return 0;
}
