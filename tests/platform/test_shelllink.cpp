#include <gtest/gtest.h>
#include <QFile>
#include <QTemporaryDir>

#include "platform/shelllink.h"

namespace {

// Builds shortcut files byte by byte, the way the shell writes them.
class LinkBuilder {
 public:
  enum : std::uint32_t {
    HasIdList = 0x1,
    HasLinkInfo = 0x2,
    HasName = 0x4,
    HasRelativePath = 0x8,
    IsUnicode = 0x80
  };

  QByteArray Build(std::uint32_t flags, const QByteArray& idList, const QByteArray& linkInfo,
                   const QString& name, const QString& relative) const {
    QByteArray out;
    U32(out, 0x4C);
    out.append("\x01\x14\x02\x00\x00\x00\x00\x00\xC0\x00\x00\x00\x00\x00\x00\x46", 16);
    U32(out, flags);
    out.append(QByteArray(0x4C - out.size(), '\0'));
    if (flags & HasIdList) {
      U16(out, static_cast<std::uint16_t>(idList.size()));
      out += idList;
    }
    if (flags & HasLinkInfo) out += linkInfo;
    for (const auto& [bit, text] : {std::pair{HasName, name}, {HasRelativePath, relative}}) {
      if (!(flags & bit)) continue;
      U16(out, static_cast<std::uint16_t>(text.size()));
      if (flags & IsUnicode)
        for (const QChar c : text) U16(out, c.unicode());
      else
        out += text.toLatin1();
    }
    return out;
  }

  // Link information with a local base path and a suffix; Unicode copies when asked.
  static QByteArray LinkInfo(const QByteArray& base, const QByteArray& suffix,
                             const QString& unicodeBase = {}, const QString& unicodeSuffix = {}) {
    const bool unicode = !unicodeBase.isNull();
    const std::uint32_t header = unicode ? 0x24 : 0x1C;
    QByteArray strings;
    const std::uint32_t baseAt = header;
    strings += base + '\0';
    const std::uint32_t suffixAt = header + strings.size();
    strings += suffix + '\0';
    std::uint32_t uBaseAt = 0, uSuffixAt = 0;
    if (unicode) {
      uBaseAt = header + strings.size();
      for (const QChar c : unicodeBase) U16(strings, c.unicode());
      U16(strings, 0);
      uSuffixAt = header + strings.size();
      for (const QChar c : unicodeSuffix) U16(strings, c.unicode());
      U16(strings, 0);
    }
    QByteArray info;
    U32(info, header + strings.size());
    U32(info, header);
    U32(info, 0x1);  // volume id and local base path
    U32(info, 0);    // volume id offset (not read)
    U32(info, baseAt);
    U32(info, 0);
    U32(info, suffixAt);
    if (unicode) {
      U32(info, uBaseAt);
      U32(info, uSuffixAt);
    }
    return info + strings;
  }

  static void U32(QByteArray& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
  }
  static void U16(QByteArray& out, std::uint16_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>(v >> 8);
  }
};

TEST(ShellLink, ReadsTheStoredLocalTarget) {
  const LinkBuilder b;
  using L = LinkBuilder;
  const struct {
    const char* name;
    QByteArray bytes;
    QString expected;
  } cases[] = {
      {"local base path", b.Build(L::HasLinkInfo, {}, L::LinkInfo("/music/", "song.mp3"), {}, {}),
       QStringLiteral("/music/song.mp3")},
      {"after an item id list",
       b.Build(L::HasIdList | L::HasLinkInfo, QByteArray(37, '\x7f'),
               L::LinkInfo("/music/a.mp3", ""), {}, {}),
       QStringLiteral("/music/a.mp3")},
      {"Windows path", b.Build(L::HasLinkInfo, {}, L::LinkInfo("C:\\Music\\a.mp3", ""), {}, {}),
       QStringLiteral("C:/Music/a.mp3")},
      {"Unicode copy preferred",
       b.Build(L::HasLinkInfo, {},
               L::LinkInfo("/m/?.mp3", "", QStringLiteral("/m/Песен.mp3"), QStringLiteral("")), {},
               {}),
       QStringLiteral("/m/Песен.mp3")},
      {"relative path when there is no link information",
       b.Build(L::HasName | L::HasRelativePath | L::IsUnicode, {}, {}, QStringLiteral("desc"),
               QStringLiteral("../песни/a.mp3")),
       QStringLiteral("../песни/a.mp3")},
      {"no target at all", b.Build(L::HasName, {}, {}, QStringLiteral("only a name"), {}), {}},
      {"not a shortcut",
       QByteArray("plain text file, long enough to look like a header.....").repeated(3),
       {}},
      {"empty file", QByteArray(), {}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(platform::readShortcutTarget(c.bytes), c.expected) << c.name;
}

TEST(ShellLink, DamagedFilesNeverReadOutsideTheirBytes) {
  const LinkBuilder b;
  using L = LinkBuilder;
  const QByteArray good = b.Build(
      L::HasIdList | L::HasLinkInfo | L::HasName | L::HasRelativePath | L::IsUnicode,
      QByteArray(20, 'i'),
      L::LinkInfo("/music/", "song.mp3", QStringLiteral("/music/"), QStringLiteral("s.mp3")),
      QStringLiteral("name"), QStringLiteral("rel.mp3"));
  ASSERT_EQ(platform::readShortcutTarget(good), QStringLiteral("/music/s.mp3"));
  // Every cut of the file: an answer or nothing, never a read past the end (the sanitizer
  // build watches).
  for (int size = 0; size < good.size(); ++size) {
    const QByteArray cut = good.left(size);
    const QString target = platform::readShortcutTarget(cut);
    EXPECT_TRUE(target.isEmpty() || target.startsWith(QLatin1String("/music/")) ||
                target == QLatin1String("rel.mp3"))
        << size;
  }
  // Offsets and sizes pointing anywhere.
  for (int at = 0x4C; at < good.size(); ++at) {
    QByteArray broken = good;
    broken[at] = '\xff';
    platform::readShortcutTarget(broken);
  }
}

TEST(ShellLink, RelativeTargetsAreRelativeToTheShortcut) {
  QTemporaryDir dir;
  const LinkBuilder b;
  QFile file(dir.filePath(QStringLiteral("song.lnk")));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(b.Build(LinkBuilder::HasRelativePath, {}, {}, {}, QStringLiteral("sub/a.mp3")));
  file.close();
  EXPECT_EQ(platform::resolveShortcut(file.fileName()), dir.filePath(QStringLiteral("sub/a.mp3")));
  EXPECT_TRUE(platform::resolveShortcut(dir.filePath(QStringLiteral("none.lnk"))).isEmpty());
}

}  // namespace
