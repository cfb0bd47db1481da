// Feeds arbitrary bytes to the shortcut reader; the sanitizers catch any read outside them.
#include <QByteArray>

#include "platform/shelllink.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A copy of exactly `size` bytes, so any overread lands outside the allocation.
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  platform::readShortcutTarget(bytes);
  return 0;
}
