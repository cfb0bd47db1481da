#include "model/id3v1tag.h"

#include <iterator>

#include "platform/regularfile.h"
#include "platform/textcodec.h"

namespace id3v1 {

namespace {

// Indexed by the genre byte: 0..79 as the ID3v1 standard lists them, 80..147 the extensions
// players added later, in their usual order and wording. 133 carries the name most tools now use
// instead of the slur of the first lists.
constexpr const char* kGenres[] = {
    // 0
    "Blues", "Classic Rock", "Country", "Dance", "Disco", "Funk", "Grunge", "Hip-Hop", "Jazz",
    "Metal",
    // 10
    "New Age", "Oldies", "Other", "Pop", "R&B", "Rap", "Reggae", "Rock", "Techno", "Industrial",
    // 20
    "Alternative", "Ska", "Death Metal", "Pranks", "Soundtrack", "Euro-Techno", "Ambient",
    "Trip-Hop", "Vocal", "Jazz+Funk",
    // 30
    "Fusion", "Trance", "Classical", "Instrumental", "Acid", "House", "Game", "Sound Clip",
    "Gospel", "Noise",
    // 40
    "AlternRock", "Bass", "Soul", "Punk", "Space", "Meditative", "Instrumental Pop",
    "Instrumental Rock", "Ethnic", "Gothic",
    // 50
    "Darkwave", "Techno-Industrial", "Electronic", "Pop-Folk", "Eurodance", "Dream",
    "Southern Rock", "Comedy", "Cult", "Gangsta",
    // 60
    "Top 40", "Christian Rap", "Pop/Funk", "Jungle", "Native American", "Cabaret", "New Wave",
    "Psychadelic", "Rave", "Showtunes",
    // 70
    "Trailer", "Lo-Fi", "Tribal", "Acid Punk", "Acid Jazz", "Polka", "Retro", "Musical",
    "Rock & Roll", "Hard Rock",
    // 80
    "Folk", "Folk-Rock", "National Folk", "Swing", "Fast Fusion", "Bebob", "Latin", "Revival",
    "Celtic", "Bluegrass",
    // 90
    "Avantgarde", "Gothic Rock", "Progressive Rock", "Psychedelic Rock", "Symphonic Rock",
    "Slow Rock", "Big Band", "Chorus", "Easy Listening", "Acoustic",
    // 100
    "Humour", "Speech", "Chanson", "Opera", "Chamber Music", "Sonata", "Symphony", "Booty Bass",
    "Primus", "Porn Groove",
    // 110
    "Satire", "Slow Jam", "Club", "Tango", "Samba", "Folklore", "Ballad", "Power Ballad",
    "Rhythmic Soul", "Freestyle",
    // 120
    "Duet", "Punk Rock", "Drum Solo", "A capella", "Euro-House", "Dance Hall", "Goa", "Drum & Bass",
    "Club-House", "Hardcore",
    // 130
    "Terror", "Indie", "BritPop", "Afro-Punk", "Polsk Punk", "Beat", "Christian Gangsta Rap",
    "Heavy Metal", "Black Metal", "Crossover",
    // 140
    "Contemporary Christian", "Christian Rock", "Merengue", "Salsa", "Thrash Metal", "Anime",
    "JPop", "Synthpop"};
static_assert(std::size(kGenres) == kGenreCount);

struct TField {
  std::size_t offset;
  std::size_t length;
  QString TTag::*target;
};
constexpr TField kFields[] = {{3, 30, &TTag::Title},
                              {33, 30, &TTag::Artist},
                              {63, 30, &TTag::Album},
                              {93, 4, &TTag::Year},
                              {97, 30, &TTag::Comment}};
constexpr std::size_t kGenreOffset = 127;

// The slot's bytes up to its first zero byte. An ID3v1.1 comment ends with a zero byte and a
// track number, so it stops before the number.
QString FieldText(std::string_view block, std::size_t offset, std::size_t length) {
  std::string_view slot = block.substr(offset, length);
  slot = slot.substr(0, slot.find('\0'));
  return platform::decodeText(slot);
}

}  // namespace

QString GenreText(std::uint8_t genre) {
  if (genre < kGenreCount) return QString::fromLatin1(kGenres[genre]);
  return QString::number(genre);
}

std::optional<TTag> ParseTag(std::string_view fileEnd) {
  if (fileEnd.size() < kBlockSize) return std::nullopt;
  const std::string_view block = fileEnd.substr(fileEnd.size() - kBlockSize);
  // Case matters: "tag" is no tag.
  if (block.substr(0, 3) != "TAG") return std::nullopt;
  TTag tag;
  for (const TField& field : kFields)
    tag.*field.target = FieldText(block, field.offset, field.length);
  tag.Genre = static_cast<std::uint8_t>(block[kGenreOffset]);
  return tag;
}

TTagFileError::TTagFileError(const QString& path, int error)
    : std::runtime_error(platform::openErrorText(path, error)) {}

std::optional<TTag> ReadFileTag(const QString& path) {
  std::string bytes;
  if (const int error = platform::readRegularFile(path, bytes, kBlockSize))
    throw TTagFileError(path, error);
  return ParseTag(bytes);
}

}  // namespace id3v1
