// The address a radio entry's file gives, and the title a metadata block gives.
#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "platform/textcodec.h"
#include "playback/streamopener.h"

namespace {

TEST(StreamAddress, FromTheEntrysFile) {
  struct Case {
    const char* name;
    QByteArray bytes;
    QString address;
  };
  const QByteArray pls3 = "[playlist]\nNumberOfEntries=3\nFile1=http://a/1\nFile2=http://a/2\n";
  const Case cases[] = {
      {"station.m3u", "#EXTM3U\n#EXTINF:-1,Station\nhttp://radio.example/live\n",
       QStringLiteral("http://radio.example/live")},
      // Only the last line counts, as it is: no trimming, comments and blanks included.
      {"comment.m3u", "http://a/1\n# the end\n", QStringLiteral("# the end")},
      {"blank.m3u", "http://a/1\n \n", QStringLiteral(" ")},
      {"crlf.m3u", "http://a/1\r\nhttp://a/2\r\n", QStringLiteral("http://a/2")},
      {"cr.m3u", "http://a/1\rhttp://a/2", QStringLiteral("http://a/2")},
      {"empty.m3u", "", QString()},
      {"one break.m3u", "\n", QString()},
      {"utf8 bom.m3u", "\xEF\xBB\xBFhttp://\xD1\x80\xD0\xB0\xD0\xB4\xD0\xB8\xD0\xBE/",
       QStringLiteral("http://радио/")},
      {"utf16le.m3u", QByteArray("\xFF\xFEh\0t\0t\0p\0:\0/\0/\0x\0\r\0\n\0", 22),
       QStringLiteral("http://x")},
      {"utf16be.m3u", QByteArray("\xFE\xFF\0h\0t\0t\0p\0:\0/\0/\0y", 18),
       QStringLiteral("http://y")},
      {"station.pls", pls3, QStringLiteral("http://a/1")},
      {"case.pls", "[PlayList]\nnumberofentries=1\nfile1=http://b/\n", QStringLiteral("http://b/")},
      {"no count.pls", "[playlist]\nFile1=http://a/1\n", QString()},
      {"zero.pls", "[playlist]\nNumberOfEntries=0\nFile1=http://a/1\n", QString()},
      {"negative.pls", "[playlist]\nNumberOfEntries=-2\nFile1=http://a/1\n", QString()},
      {"no file1.pls", "[playlist]\nNumberOfEntries=2\nFile2=http://a/2\n", QString()},
      // Only ".pls" in lower case is read as a play list of entries.
      {"upper.PLS", pls3, QStringLiteral("File2=http://a/2")},
      {"station.txt", "http://c/\n", QStringLiteral("http://c/")},
  };
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  for (const Case& c : cases) {
    const QString path = dir.filePath(QString::fromUtf8(c.name));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(c.bytes);
    file.close();
    EXPECT_EQ(ResolveStreamAddress(path), c.address) << c.name;
  }
  EXPECT_EQ(ResolveStreamAddress(dir.filePath(QStringLiteral("missing.m3u"))), QString());
  EXPECT_EQ(ResolveStreamAddress(dir.path()), QString()) << "a folder";
  EXPECT_EQ(ReadPlsAddress(dir.filePath(QStringLiteral("station.m3u"))), QString());

  // A large file is no radio play list; it is not read whole.
  const QString large = dir.filePath(QStringLiteral("large.m3u"));
  QFile file(large);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(QByteArray(3 << 20, 'x') + "\nhttp://d/\n");
  file.close();
  EXPECT_EQ(ResolveStreamAddress(large), QString());
}

TEST(StreamTitle, FromAMetadataBlock) {
  struct Case {
    const char* meta;
    std::optional<std::string> title;
  };
  const Case cases[] = {
      {"StreamTitle='Artist - Song';StreamUrl='';", "Artist - Song"},
      {"StreamTitle='Artist - Song';", "Artist - Song"},
      {"StreamTitle='';", ""},
      {"StreamTitle='No end", ""},                // no ';' at all
      {"StreamUrl='x';StreamTitle='Late';", ""},  // the first ';' comes before the title
      // The first ';' ends the title, and the character before it is taken for the quote.
      {"StreamTitle='A; B';", ""},
      {"StreamTitle='AB; C';", "A"},
      {"StreamUrl='only';", std::nullopt},
      {"", std::nullopt},
      {"StreamTitle=", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(StreamTitleOf(c.meta), c.title) << c.meta;
}

}  // namespace
