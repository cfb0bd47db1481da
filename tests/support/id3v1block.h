#pragma once
// ID3v1 blocks built byte by byte, for the files tests put them at the end of.
#include <QByteArray>

#include <algorithm>
#include <cstddef>
#include <string_view>

namespace id3v1test {

struct Fields {
  std::string_view identifier = "TAG";
  std::string_view title = {};
  std::string_view artist = {};
  std::string_view album = {};
  std::string_view year = {};
  std::string_view comment = {};
  unsigned char genre = 255;
};

// 128 bytes: each field's bytes at the start of its slot, the rest of the slot zero bytes;
// bytes past a slot's end are cut.
inline QByteArray Block(const Fields& f) {
  QByteArray block(128, '\0');
  const auto put = [&block](std::size_t offset, std::size_t length, std::string_view bytes) {
    std::copy_n(bytes.data(), std::min(length, bytes.size()), block.data() + offset);
  };
  put(0, 3, f.identifier);
  put(3, 30, f.title);
  put(33, 30, f.artist);
  put(63, 30, f.album);
  put(93, 4, f.year);
  put(97, 30, f.comment);
  block[127] = static_cast<char>(f.genre);
  return block;
}

}  // namespace id3v1test
