// Feeds arbitrary bytes, in memory, to the ID3v1 reader as the end of a file, in both 8-bit code
// pages: a tag is found exactly when the last 128 bytes start with "TAG", no field holds more
// characters than its slot has bytes or any zero byte, and the bytes before the block change
// nothing.
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "fuzz/fuzzcheck.h"
#include "model/id3v1tag.h"
#include "platform/textcodec.h"

namespace {

using fuzz::Check;

void CheckField(const QString& text, qsizetype slot) {
  Check(text.size() <= slot, "a field longer than its slot");
  Check(!text.contains(QChar(u'\0')), "a field that holds a zero byte");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  platform::setAnsiCodePage(size % 2 ? platform::AnsiCodePage::Windows1251
                                     : platform::AnsiCodePage::Windows1252);
  const std::optional<id3v1::TTag> tag = id3v1::ParseTag(bytes);
  const bool hasBlock = size >= id3v1::kBlockSize;
  const std::string_view block = hasBlock ? bytes.substr(size - id3v1::kBlockSize) : bytes;
  Check(tag.has_value() == (hasBlock && block.substr(0, 3) == "TAG"), "tag found wrongly");
  if (!tag) return 0;
  CheckField(tag->Title, 30);
  CheckField(tag->Artist, 30);
  CheckField(tag->Album, 30);
  CheckField(tag->Year, 4);
  CheckField(tag->Comment, 30);
  Check(tag->Genre == static_cast<std::uint8_t>(block.back()), "genre is not the last byte");
  Check(!id3v1::GenreText(tag->Genre).isEmpty(), "a genre without a text");
  Check(id3v1::ParseTag(block) == tag, "the bytes before the block changed the tag");
  return 0;
}
