#pragma once
// The ID3v1 block at the end of an MP3 file, read only: 128 bytes that start with "TAG", then
// title (30), artist (30), album (30), year (4), comment (30) and a genre byte. A text field
// is its bytes up to the first zero byte, nothing trimmed, decoded as UTF-8 when valid and
// otherwise in the current 8-bit code page.
//
// Threading: any thread; the reader keeps no state.
#include <QString>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string_view>

namespace id3v1 {

inline constexpr std::size_t kBlockSize = 128;
// Names of the genre bytes 0..147: the standard's 80 and the 68 usual extensions.
inline constexpr int kGenreCount = 148;

struct TTag {
  QString Title;
  QString Artist;
  QString Album;
  QString Year;
  QString Comment;
  std::uint8_t Genre = 0;

  bool operator==(const TTag&) const = default;
};

// The name of a genre byte below kGenreCount, otherwise the byte in decimal (255, "no genre"
// in ID3v1, shows as "255").
QString GenreText(std::uint8_t genre);

// The tag in the last kBlockSize bytes of `fileEnd`; none when there are fewer or they do not
// start with exactly "TAG" (case matters).
std::optional<TTag> ParseTag(std::string_view fileEnd);

// A file whose tag could not be read; what() is "Cannot open file "<path>". <reason>" in UTF-8.
class TTagFileError : public std::runtime_error {
 public:
  TTagFileError(const QString& path, int error);
};

// The tag of the file at `path` (a path as platform::decodePath gives it). Only a regular file
// is opened, without blocking, and at most its last kBlockSize bytes are read; a file shorter
// than that has no tag. Throws TTagFileError when the file cannot be opened or read.
std::optional<TTag> ReadFileTag(const QString& path);

}  // namespace id3v1
