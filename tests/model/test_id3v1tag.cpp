// The ID3v1 reader on small files made here: which bytes make a tag, how each field is cut and
// decoded, the genre names, and the files it must refuse without blocking.
#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <optional>
#include <thread>

#include "model/id3v1tag.h"
#include "platform/textcodec.h"
#include "tests/support/id3v1block.h"
#include "tests/support/qtprint.h"

namespace {

using namespace std::string_view_literals;
using platform::AnsiCodePage;

// What the six edits show.
struct Shown {
  QString title, artist, album, year, comment, genre;
  bool operator==(const Shown&) const = default;
};

void PrintTo(const Shown& s, std::ostream* out) {
  *out << '[' << s.title.toStdString() << '|' << s.artist.toStdString() << '|'
       << s.album.toStdString() << '|' << s.year.toStdString() << '|' << s.comment.toStdString()
       << '|' << s.genre.toStdString() << ']';
}

std::optional<Shown> ShownOf(const std::optional<id3v1::TTag>& tag) {
  if (!tag) return std::nullopt;
  return Shown{tag->Title, tag->Artist,  tag->Album,
               tag->Year,  tag->Comment, id3v1::GenreText(tag->Genre)};
}

// Frame-like bytes in front of the tag; they even hold a block of their own, which must not
// count because it is not at the end.
QByteArray Audio() {
  return QByteArray(600, '\xFF') + id3v1test::Block({.title = "Not this one"}) +
         QByteArray(300, '\x55');
}

class Id3v1File : public ::testing::Test {
 protected:
  void TearDown() override { platform::setAnsiCodePage(AnsiCodePage::Windows1252); }
  QString Write(const QString& name, const QByteArray& bytes) {
    const QString path = dir.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(bytes);
    return path;
  }
  QTemporaryDir dir;
};

TEST_F(Id3v1File, ReadsTheFieldsOfTheLastBlock) {
  const std::string paddedTitle = "Song" + std::string(26, ' ');
  const Shown song{QStringLiteral("Song"), QStringLiteral("Artist"), QStringLiteral("Album"),
                   QStringLiteral("1999"), QStringLiteral("Note"),   QStringLiteral("Rock")};
  const auto withGenre = [&](const char* genre) {
    Shown s = song;
    s.genre = QLatin1String(genre);
    return s;
  };
  const auto songBlock = [](unsigned char genre) {
    return id3v1test::Block({.title = "Song",
                             .artist = "Artist",
                             .album = "Album",
                             .year = "1999",
                             .comment = "Note",
                             .genre = genre});
  };
  const struct {
    const char* name;
    QByteArray bytes;
    std::optional<Shown> shown;
    AnsiCodePage page = AnsiCodePage::Windows1252;
  } cases[] = {
      {"a title of Song then zero bytes", Audio() + songBlock(17), song},
      {"blanks that pad a field stay",
       Audio() +
           id3v1test::Block({.title = paddedTitle, .artist = "A ", .year = "99  ", .genre = 0}),
       Shown{QString::fromStdString(paddedTitle),
             QStringLiteral("A "),
             {},
             QStringLiteral("99  "),
             {},
             QStringLiteral("Blues")}},
      {"full slots without a zero byte",
       Audio() + id3v1test::Block({.title = "123456789012345678901234567890",
                                   .artist = "abcdefghijklmnopqrstuvwxyzABCD",
                                   .album = "Album of thirty characters ok!",
                                   .year = "2024",
                                   .comment = "A comment of thirty characters",
                                   .genre = 80}),
       Shown{QStringLiteral("123456789012345678901234567890"),
             QStringLiteral("abcdefghijklmnopqrstuvwxyzABCD"),
             QStringLiteral("Album of thirty characters ok!"), QStringLiteral("2024"),
             QStringLiteral("A comment of thirty characters"), QStringLiteral("Folk")}},
      {"an ID3v1.1 comment stops before its track number",
       Audio() + id3v1test::Block({.title = "Song",
                                   .artist = "Artist",
                                   .album = "Album",
                                   .year = "1999",
                                   .comment = "Twenty-eight characters long\0\x07"sv,
                                   .genre = 17}),
       [&] {
         Shown s = song;
         s.comment = QStringLiteral("Twenty-eight characters long");
         return s;
       }()},
      {"a zero byte inside a field ends it",
       Audio() + id3v1test::Block({.title = "So\0ng"sv, .genre = 79}),
       Shown{QStringLiteral("So"), {}, {}, {}, {}, QStringLiteral("Hard Rock")}},
      {"genre 0", Audio() + songBlock(0), withGenre("Blues")},
      {"genre 79", Audio() + songBlock(79), withGenre("Hard Rock")},
      {"genre 80", Audio() + songBlock(80), withGenre("Folk")},
      {"genre 147", Audio() + songBlock(147), withGenre("Synthpop")},
      {"genre 148 as a number", Audio() + songBlock(148), withGenre("148")},
      {"genre 255 as a number", Audio() + songBlock(255), withGenre("255")},
      {"a file of the block alone", songBlock(17), song},
      {"cp1251 text while Bulgarian",
       Audio() + id3v1test::Block({.title = "\xCF\xE5\xF1\xE5\xED", .artist = "\xC0\xE7"}),
       Shown{QStringLiteral("Песен"), QStringLiteral("Аз"), {}, {}, {}, QStringLiteral("255")},
       AnsiCodePage::Windows1251},
      {"the same bytes while English",
       Audio() + id3v1test::Block({.title = "\xCF\xE5\xF1\xE5\xED"}),
       Shown{QStringLiteral("Ïåñåí"), {}, {}, {}, {}, QStringLiteral("255")}},
      {"UTF-8 text stays UTF-8", Audio() + id3v1test::Block({.title = "Песен"}),
       Shown{QStringLiteral("Песен"), {}, {}, {}, {}, QStringLiteral("255")},
       AnsiCodePage::Windows1251},
      {"lower-case tag is no tag",
       Audio() + id3v1test::Block({.identifier = "tag", .title = "Song"}), std::nullopt},
      {"TA then a zero byte is no tag",
       Audio() + id3v1test::Block({.identifier = "TA\0"sv, .title = "Song"}), std::nullopt},
      {"a block one byte before the end is no tag", Audio() + songBlock(17) + '\0', std::nullopt},
      {"a file of 100 bytes", songBlock(17).left(100), std::nullopt},
      {"a file of 127 bytes", songBlock(17).mid(1), std::nullopt},
      {"an empty file", QByteArray(), std::nullopt},
  };
  int index = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    platform::setAnsiCodePage(c.page);
    const QString path = Write(QStringLiteral("track %1.mp3").arg(index++), c.bytes);
    EXPECT_EQ(ShownOf(id3v1::ReadFileTag(path)), c.shown);
    // The reader of bytes agrees with the reader of files.
    EXPECT_EQ(ShownOf(id3v1::ParseTag(c.bytes.toStdString())), c.shown);
  }
}

TEST_F(Id3v1File, FilesThatCannotBeReadRaiseTheirError) {
  ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder.mp3")));
  const struct {
    const char* name;
    QString path;
    const char* reason;
  } cases[] = {
      {"missing", dir.filePath(QStringLiteral("gone.mp3")), "No such file or directory"},
      {"a folder", dir.filePath(QStringLiteral("folder.mp3")), "Is a directory"},
      {"a device", QStringLiteral("/dev/zero"), "Invalid argument"},
      {"in a missing folder", dir.filePath(QStringLiteral("none/x.mp3")),
       "No such file or directory"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      id3v1::ReadFileTag(c.path);
      ADD_FAILURE() << "no error";
    } catch (const id3v1::TTagFileError& error) {
      EXPECT_EQ(QString::fromUtf8(error.what()),
                QStringLiteral("Cannot open file \"%1\". %2").arg(c.path, QLatin1String(c.reason)));
    }
  }
}

// A named pipe has no writer here: opening it to read would wait for one forever.
TEST_F(Id3v1File, ANamedPipeIsRefusedWithoutWaitingForAWriter) {
  const QString pipe = dir.filePath(QStringLiteral("pipe.mp3"));
  const QByteArray native = QFile::encodeName(pipe);
  ASSERT_EQ(::mkfifo(native.constData(), 0600), 0);
  auto read = std::async(std::launch::async, [&] {
    try {
      id3v1::ReadFileTag(pipe);
      return QStringLiteral("no error");
    } catch (const id3v1::TTagFileError& error) {
      return QString::fromUtf8(error.what());
    }
  });
  if (read.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
    // Set the reader free so that the test ends, as a failure.
    const int writer = ::open(native.constData(), O_WRONLY | O_NONBLOCK);
    if (writer >= 0) ::close(writer);
    ADD_FAILURE() << "the read waited for a writer";
  }
  EXPECT_EQ(read.get(), QStringLiteral("Cannot open file \"%1\". Invalid argument").arg(pipe));
}

TEST(Id3v1Genres, EveryByteHasItsOwnText) {
  QSet<QString> texts;
  for (int genre = 0; genre <= 255; ++genre) {
    const QString text = id3v1::GenreText(static_cast<std::uint8_t>(genre));
    EXPECT_FALSE(text.isEmpty()) << genre;
    EXPECT_EQ(text == QString::number(genre), genre >= id3v1::kGenreCount) << genre;
    texts.insert(text);
  }
  EXPECT_EQ(texts.size(), 256) << "two genre bytes share a name";
  EXPECT_EQ(id3v1::GenreText(17), QStringLiteral("Rock"));
  EXPECT_EQ(id3v1::GenreText(147), QStringLiteral("Synthpop"));
}

}  // namespace
