#include <gtest/gtest.h>

#include "model/groupfile.h"
#include "platform/inifile.h"
#include "platform/pathcodec.h"

namespace {

std::vector<QString> Read(std::string_view text) {
  return groupfile::ReadGroups(platform::IniFile::fromBytes(text));
}

TEST(GroupFile, ReadsTheFoldersInOrder) {
  const struct {
    const char* name;
    std::string_view text;
    std::vector<QString> folders;
  } cases[] = {
      {"no file", "", {}},
      {"no count", "[0MP3_GROUP_SECTION]\nMP3_GROUP_NAME=/m/a\n", {}},
      {"two, names in any case",
       "[0mp3_group_section]\nmp3_group_name=/m/a\n[1MP3_GROUP_SECTION]\nMP3_GROUP_NAME=/m/b\n"
       "[MP3_GROUP_SECTION]\nMP3_GROUP_COUNT=2\n",
       {QStringLiteral("/m/a"), QStringLiteral("/m/b")}},
      {"an entry without a name repeats the previous one",
       "[0MP3_GROUP_SECTION]\nMP3_GROUP_NAME=/m/a\n[1MP3_GROUP_SECTION]\nOther=x\n"
       "[2MP3_GROUP_SECTION]\nMP3_GROUP_NAME=/m/c\n[MP3_GROUP_SECTION]\nMP3_GROUP_COUNT=3\n",
       {QStringLiteral("/m/a"), QStringLiteral("/m/a"), QStringLiteral("/m/c")}},
      {"a first entry without a name is empty",
       "[1MP3_GROUP_SECTION]\nMP3_GROUP_NAME=/m/b\n[MP3_GROUP_SECTION]\nMP3_GROUP_COUNT=2\n",
       {QString(), QStringLiteral("/m/b")}},
      // A count written by hand (or damaged) does not decide how long the read takes.
      {"a huge count ends at the sections there",
       "[0MP3_GROUP_SECTION]\nMP3_GROUP_NAME=/m/"
       "a\n[MP3_GROUP_SECTION]\nMP3_GROUP_COUNT=2000000000\n",
       {QStringLiteral("/m/a")}},
      {"a far section number does not either",
       "[0MP3_GROUP_SECTION]\nMP3_GROUP_NAME=/m/a\n[1999999999MP3_GROUP_SECTION]\n"
       "MP3_GROUP_NAME=/m/z\n[MP3_GROUP_SECTION]\nMP3_GROUP_COUNT=2000000000\n",
       {QStringLiteral("/m/a")}},
      {"a hexadecimal count",
       "[0MP3_GROUP_SECTION]\nMP3_GROUP_NAME=/m/a\n[MP3_GROUP_SECTION]\nMP3_GROUP_COUNT=$1\n",
       {QStringLiteral("/m/a")}},
      {"a NUL ends a damaged name, as it would after the next save",
       std::string_view("[0MP3_GROUP_SECTION]\nMP3_GROUP_NAME=/m/a\0zz\n[MP3_GROUP_SECTION]\n"
                        "MP3_GROUP_COUNT=1\n",
                        82),
       {QStringLiteral("/m/a")}},
      {"a negative count",
       "[0MP3_GROUP_SECTION]\nMP3_GROUP_NAME=/m/a\n[MP3_GROUP_SECTION]\n"
       "MP3_GROUP_COUNT=-4\n",
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Read(c.text), c.folders);
  }
}

TEST(GroupFile, EveryFolderComesBackAsItsBytes) {
  const std::vector<QString> folders = {
      QStringLiteral("/m/plain"),
      QStringLiteral("/m/Артист"),
      platform::decodePath("/m/caf\xE9"),  // Latin-1, not UTF-8
      QStringLiteral("/m/two\nlines"),
      QStringLiteral("/m/plain"),  // the same folder twice stays twice
      QString(QStringLiteral("/m/long/") + QString(3000, u'x')),
  };
  const std::string text = groupfile::GroupsText(folders);
  EXPECT_EQ(Read(text), folders);
  // Written fresh: the entries in order, the count last.
  EXPECT_EQ(text.find("[0MP3_GROUP_SECTION]\nMP3_GROUP_NAME=/m/plain\n"), 0u);
  EXPECT_TRUE(text.ends_with("[MP3_GROUP_SECTION]\nMP3_GROUP_COUNT=6\n")) << text.substr(0, 200);
}

}  // namespace
