#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <algorithm>
#include <chrono>
#include <random>
#include <thread>

#include "platform/inifile.h"
#include "platform/textcodec.h"

namespace {

using platform::IniFile;

class Ini : public ::testing::Test {
 protected:
  QString Path(const char* name = "test.DAT") const { return dir.filePath(QLatin1String(name)); }
  void Write(const QByteArray& text, const char* name = "test.DAT") {
    QFile file(Path(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
  }
  QByteArray Read(const char* name = "test.DAT") const {
    QFile file(Path(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
  }
  QTemporaryDir dir;
};

TEST_F(Ini, ReadsAsTheProfileFunctionsDo) {
  const QByteArray longValue(3000, 'x');
  const struct {
    const char* name;
    QByteArray text;
    const char* section;
    const char* key;
    const char* expected;  // as a string read with the default "def"
    int integer;           // as an integer read with the default -7
  } cases[] = {
      {"plain", "[S]\nk=v\n", "S", "k", "v", -7},
      {"names ignore case", "[Sec]\nKey=1\n", "sEC", "kEY", "1", 1},
      {"blanks around names and values", "  [ S ]  \n  k  =  v w  \n", "S", "k", "v w", -7},
      {"quotes removed", "[S]\nk=\"  q  \"\n", "S", "k", "  q  ", -7},
      {"single quotes removed", "[S]\nk='q'\n", "S", "k", "q", -7},
      {"unmatched quote kept", "[S]\nk=\"q\n", "S", "k", "\"q", -7},
      {"missing section", "[S]\nk=v\n", "T", "k", "def", -7},
      {"missing key", "[S]\nk=v\n", "S", "j", "def", -7},
      {"key of another section", "[S]\n[T]\nk=v\n", "S", "k", "def", -7},
      {"before any section", "k=v\n[S]\n", "S", "k", "def", -7},
      {"first duplicate section wins", "[S]\nk=1\n[s]\nk=2\n", "S", "k", "1", 1},
      {"first duplicate key wins", "[S]\nk=1\nK=2\n", "S", "k", "1", 1},
      {"empty value", "[S]\nk=\n", "S", "k", "", -7},
      {"value with equals", "[S]\nk=a=b\n", "S", "k", "a=b", -7},
      {"CRLF endings", "[S]\r\nk=v\r\n", "S", "k", "v", -7},
      {"byte order mark", "\xEF\xBB\xBF[S]\nk=5\n", "S", "k", "5", 5},
      {"no final line feed", "[S]\nk=12", "S", "k", "12", 12},
      {"dollar hex", "[S]\nk=$1F\n", "S", "k", "$1F", 31},
      {"0x hex", "[S]\nk=0x1a\n", "S", "k", "0x1a", 26},
      {"hex pattern", "[S]\nk=$FFFFFFFF\n", "S", "k", "$FFFFFFFF", -1},
      {"negative hex", "[S]\nk=-$10\n", "S", "k", "-$10", -16},
      {"negative", "[S]\nk=-16777213\n", "S", "k", "-16777213", -16777213},
      {"blanks around number", "[S]\nk= 42 \n", "S", "k", "42", 42},
      {"not a number", "[S]\nk=12abc\n", "S", "k", "12abc", -7},
      {"overflow", "[S]\nk=2147483648\n", "S", "k", "2147483648", -7},
      {"lowest int", "[S]\nk=-2147483648\n", "S", "k", "-2147483648", INT_MIN},
      {"too many hex digits", "[S]\nk=$123456789\n", "S", "k", "$123456789", -7},
      {"header with a comment", "[S] ; note\nk=3\n", "S", "k", "3", 3},
      {"header without its bracket", "[S\nk=3\n", "S", "k", "3", 3},
      {"line without '=' is no key", "[S]\nk\nk=4\n", "S", "k", "4", 4},
      {"'[' inside a value starts no section", "[S]\nk=[T]\n[T]\nk=5\n", "T", "k", "5", 5},
      {"Cyrillic names ignore case", "[Песни]\nКлюч=6\n", "пЕСНИ", "КЛЮЧ", "6", 6},
      // Reached through the index, not the neighbour of the last section found: the index must
      // hash the folded name, since the Kelvin sign folds to 'k'.
      {"names fold as Unicode", "[a]\n[b]\n[\u212A]\nx=7\n", "k", "x", "7", 7},
      {"2047 characters at most", "[S]\nk=" + longValue + "\n", "S", "k", nullptr, -7},
  };
  for (const auto& c : cases) {
    Write(c.text);
    const IniFile ini(Path());
    const QString value = ini.readString(c.section, c.key, QStringLiteral("def"));
    if (c.expected)
      EXPECT_EQ(value, QString::fromUtf8(c.expected)) << c.name;
    else
      EXPECT_EQ(value, QString(2047, QLatin1Char('x'))) << c.name;
    EXPECT_EQ(ini.readInteger(c.section, c.key, -7), c.integer) << c.name;
  }
  // A caller may ask for more than 2047 characters.
  EXPECT_EQ(IniFile(Path()).readString("S", "k", {}, 5000).size(), 3000);
}

TEST_F(Ini, MissingFileGivesDefaults) {
  const IniFile ini(Path("none.DAT"));
  EXPECT_FALSE(ini.fileExists());
  EXPECT_EQ(ini.readString("S", "k", QStringLiteral("def")), QStringLiteral("def"));
  EXPECT_EQ(ini.readInteger("S", "k", 3), 3);
  EXPECT_FALSE(ini.sectionExists("S"));
  EXPECT_EQ(ini.snapshot(), nullptr);
}

TEST_F(Ini, WritesChangeOnlyWhatTheyName) {
  const struct {
    const char* name;
    QByteArray before;  // null: no file
    std::vector<std::tuple<const char*, const char*, const char*>> writes;
    QByteArray after;
  } cases[] = {
      {"new file", {}, {{"B", "k", "1"}, {"A", "k", "2"}}, "[B]\nk=1\n[A]\nk=2\n"},
      {"in place, everything else byte for byte",
       "; note\r\n[S]\r\nA = 1\r\njunk line\r\nk=old\r\n[T]\r\nk=x\r\n",
       {{"s", "K", "new"}},
       "; note\r\n[S]\r\nA = 1\r\njunk line\r\nk=new\r\n[T]\r\nk=x\r\n"},
      {"lines added to a CRLF file end likewise",
       "[S]\r\na=1\r\n",
       {{"S", "b", "2"}, {"T", "c", "3"}},
       "[S]\r\na=1\r\nb=2\r\n[T]\r\nc=3\r\n"},
      {"new key after the section's last line, before its blank lines",
       "[S]\na=1\n\n[T]\nb=2\n",
       {{"S", "c", "3"}},
       "[S]\na=1\nc=3\n\n[T]\nb=2\n"},
      {"new section at the end", "[S]\na=1\n", {{"New", "k", "v"}}, "[S]\na=1\n[New]\nk=v\n"},
      {"same value leaves the line alone", "[S]\nk = v  \n", {{"S", "k", "v"}}, "[S]\nk = v  \n"},
      {"blanks kept by quotes", {}, {{"S", "k", " a "}}, "[S]\nk=\" a \"\n"},
      {"quotes kept by quotes", {}, {{"S", "k", "\"q\""}}, "[S]\nk=\"\"q\"\"\n"},
      {"line breaks become blanks", {}, {{"S", "k", "a\nb"}}, "[S]\nk=a b\n"},
      {"byte order mark kept",
       "\xEF\xBB\xBF[S]\nk=1\n",
       {{"S", "k", "2"}},
       "\xEF\xBB\xBF[S]\nk=2\n"},
      {"missing last line feed kept",
       "[S]\nk=1\n[T]\nx=1",
       {{"S", "k", "2"}},
       "[S]\nk=2\n[T]\nx=1"},
      {"key after a last line without line feed", "[S]\nk=1", {{"S", "j", "2"}}, "[S]\nk=1\nj=2\n"},
      {"section after a last line without line feed",
       "[S]\nk=1",
       {{"T", "j", "2"}},
       "[S]\nk=1\n[T]\nj=2\n"},
      {"key under a header that ends the file", "[S]", {{"S", "k", "1"}}, "[S]\nk=1\n"},
      {"new key after the last key line, before a comment",
       "[S]\na=1\n; about T\n[T]\n",
       {{"S", "b", "2"}},
       "[S]\na=1\nb=2\n; about T\n[T]\n"},
      {"first key of a section right after its header",
       "[S]\n; note\n[T]\n",
       {{"S", "k", "v"}},
       "[S]\nk=v\n; note\n[T]\n"},
      {"the first of duplicate keys changes",
       "[S]\nk=1\nk=2\n",
       {{"S", "K", "9"}},
       "[S]\nk=9\nk=2\n"},
      {"quoted value read the same is left alone",
       "[S]\nk='v'\n",
       {{"S", "k", "v"}},
       "[S]\nk='v'\n"},
      {"lines grow and shrink in place",
       "[S]\na=1\nb=22\nc=3\n[T]\nd=4\n",
       {{"S", "a", "longer value"},
        {"S", "c", ""},
        {"S", "b", "2"},
        {"T", "d", "5"},
        {"S", "e", "6"}},
       "[S]\na=longer value\nb=2\nc=\ne=6\n[T]\nd=5\n"},
      {"names are trimmed", {}, {{" S ", " k ", "v"}, {"s", "K", "w"}}, "[S]\nk=w\n"},
      // A null value: the key is written with no value, which deletes it.
      {"a key with no value goes, every line of it",
       "[S]\na=1\nk=2\nb=3\nK=4\n[T]\nk=5\n",
       {{"S", "k", nullptr}},
       "[S]\na=1\nb=3\n[T]\nk=5\n"},
      {"deleting with CRLF lines and no last line feed",
       "[S]\r\na=1\r\nk=2",
       {{"S", "k", nullptr}},
       "[S]\r\na=1\r\n"},
      {"deleting a missing key changes nothing", "[S]\na=1\n", {{"S", "k", nullptr}}, "[S]\na=1\n"},
      {"values as stored, then one that is not",
       "[S]\na=1\nb=2\n[T]\nc=3\n",
       {{"S", "a", "1"}, {"T", "c", "3"}, {"S", "b", "9"}, {"T", "c", "3"}},
       "[S]\na=1\nb=9\n[T]\nc=3\n"},
      {"deleting in a missing section makes none", "[S]\n", {{"T", "k", nullptr}}, "[S]\n"},
      {"deleting alone makes no file", {}, {{"T", "k", nullptr}}, {}},
      {"written, deleted, written again",
       {},
       {{"S", "a", "1"}, {"S", "k", "2"}, {"S", "k", nullptr}, {"S", "b", "3"}},
       "[S]\na=1\nb=3\n"},
  };
  const auto apply = [](IniFile& ini, const auto& writes) {
    for (const auto& [section, key, value] : writes) {
      if (value)
        ini.writeString(section, key, QString::fromUtf8(value));
      else
        ini.removeKey(section, key);
    }
  };
  for (const auto& c : cases) {
    QFile::remove(Path());
    if (!c.before.isNull()) Write(c.before);
    IniFile ini(Path());
    apply(ini, c.writes);
    ini.commit();
    EXPECT_EQ(Read(), c.after.isNull() ? QByteArray("<missing>") : c.after) << c.name;
    // The same edits of the same bytes in memory give the text the commit wrote.
    IniFile memory = IniFile::fromBytes(std::string_view(c.before.constData(), c.before.size()));
    apply(memory, c.writes);
    EXPECT_EQ(QByteArray::fromStdString(memory.text()), c.after.isNull() ? QByteArray() : c.after)
        << c.name << " in memory";
  }
}

TEST_F(Ini, ValuesRoundTripWhateverTheirText) {
  QString longPath;
  while (longPath.size() < 4000) longPath += QStringLiteral("/Папка folder");
  const QString values[] = {
      QStringLiteral("Песен за морето"),
      QStringLiteral("  leading and trailing  "),
      QStringLiteral("'quoted'"),
      QStringLiteral("a=b;c[d]"),
      QStringLiteral(""),
      longPath,
      QStringLiteral("emoji 🎵 end"),
      QString(QChar(0xFEFF)) + QStringLiteral(" \"opens with a byte order mark\" "),
  };
  IniFile writer(Path());
  int i = 0;
  for (const QString& value : values) writer.writeString("S", std::to_string(i++), value);
  writer.commit();
  // Written as UTF-8.
  EXPECT_TRUE(Read().contains(QStringLiteral("Песен").toUtf8()));

  const IniFile reader(Path());
  i = 0;
  for (const QString& value : values)
    EXPECT_EQ(reader.readString("S", std::to_string(i++), QStringLiteral("def"), 1 << 16), value);
}

TEST_F(Ini, NamesThatCannotBeStoredAreRefused) {
  Write("[S]\nk=1\n");
  IniFile ini(Path());
  for (const char* section : {"S]", "S\n[T", "S\rT"})
    EXPECT_THROW(ini.writeString(section, "k", QStringLiteral("v")), std::invalid_argument)
        << section;
  for (const char* key : {"", "  ", "a=b", "[k", "a\nb", "a\rb"}) {
    EXPECT_THROW(ini.writeString("S", key, QStringLiteral("v")), std::invalid_argument) << key;
    EXPECT_THROW(ini.writeStrings("S", {{"ok", u"v"}, {key, u"v"}}), std::invalid_argument)
        << "a batch with one bad key writes none of it: " << key;
  }
  ini.commit();
  EXPECT_EQ(Read(), "[S]\nk=1\n");
}

TEST_F(Ini, LongValuesAreCutWithoutSplittingACharacter) {
  Write(QStringLiteral("[S]\nk=a🎵b\n").toUtf8());
  const IniFile ini(Path());
  EXPECT_EQ(ini.readString("S", "k", {}, 2), QStringLiteral("a"));
  EXPECT_EQ(ini.readString("S", "k", {}, 3), QStringLiteral("a🎵"));
  EXPECT_EQ(ini.readString("S", "k", {}, 0), QString());
}

TEST_F(Ini, EightBitFilesReadInTheCurrentCodePage) {
  Write("[S]\nk=\xCF\xE5\xF1\xE5\xED\n");  // "Песен" in Windows-1251
  platform::setAnsiCodePage(platform::AnsiCodePage::Windows1251);
  EXPECT_EQ(IniFile(Path()).readString("S", "k", {}), QStringLiteral("Песен"));
  platform::setAnsiCodePage(platform::AnsiCodePage::Windows1252);
  EXPECT_EQ(IniFile(Path()).readString("S", "k", {}), QStringLiteral("Ïåñåí"));
}

TEST_F(Ini, FailedCommitRaisesAndKeepsTheOldFile) {
  Write("[S]\nk=old\n");
  Write("x", "plain");
  ASSERT_TRUE(QDir().mkpath(Path("occupied") + QStringLiteral("/inside")));
  const QString targets[] = {
      Path("plain") + QStringLiteral("/test.DAT"),  // a folder that is a regular file
      Path("occupied"),                             // a non-empty folder in the file's place
  };
  for (const QString& target : targets) {
    IniFile ini(target);
    ini.writeString("S", "k", QStringLiteral("new"));
    try {
      ini.commit();
      ADD_FAILURE() << "commit reported success for " << target.toStdString();
    } catch (const platform::IniWriteError& error) {
      EXPECT_EQ(error.message(), QStringLiteral("Unable to write to ") + target);
      EXPECT_EQ(QString::fromUtf8(error.what()), error.message());
    }
  }
  EXPECT_EQ(Read(), "[S]\nk=old\n");
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Hidden | QDir::Files | QDir::NoDotAndDotDot),
            (QStringList{QStringLiteral("plain"), QStringLiteral("test.DAT")}))
      << "no temporary file is left behind";
}

TEST_F(Ini, EveryReaderSeesTheFileAsItIsNow) {
  Write("[S]\nk=aaa\n");
  const IniFile first(Path());
  EXPECT_EQ(first.readString("S", "k", {}), QStringLiteral("aaa"));
  EXPECT_EQ(IniFile(Path()).snapshot(), first.snapshot()) << "an unchanged file is parsed once";

  // Another program rewrites it in place at once: same size, very likely the same time stamp.
  Write("[S]\nk=bbb\n");
  EXPECT_EQ(IniFile(Path()).readString("S", "k", {}), QStringLiteral("bbb"));

  // A rewrite in place with the same size that sets the modification time back: only the
  // change time tells. The pause lets the first read count as settled.
  const QByteArray native = QFile::encodeName(Path());
  const struct timespec old[2] = {{1600000000, 0}, {1600000000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, native.constData(), old, 0), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(IniFile(Path()).readString("S", "k", {}), QStringLiteral("bbb"));
  Write("[S]\nk=ccc\n");
  ASSERT_EQ(::utimensat(AT_FDCWD, native.constData(), old, 0), 0);
  EXPECT_EQ(IniFile(Path()).readString("S", "k", {}), QStringLiteral("ccc"));

  // Our own commit is seen by the next reader, and the writer reads its own writes.
  IniFile writer(Path());
  writer.writeInteger("S", "n", 5);
  EXPECT_EQ(writer.readInteger("S", "n", 0), 5);
  EXPECT_EQ(IniFile(Path()).readInteger("S", "n", 0), 0) << "nothing is written before commit";
  writer.commit();
  EXPECT_EQ(IniFile(Path()).readInteger("S", "n", 0), 5);
  EXPECT_EQ(IniFile(Path()).readString("S", "k", {}), QStringLiteral("ccc"));
  EXPECT_EQ(IniFile(Path()).snapshot(), writer.snapshot())
      << "the written document is the one the next reader gets";
  QFile::remove(Path());
  EXPECT_EQ(IniFile(Path()).readInteger("S", "n", 0), 0) << "a removed file reads as missing";
}

TEST_F(Ini, LaterSectionsOfTheSameNameStayHiddenWhateverTheReadingOrder) {
  Write("[S]\nk=1\n[T]\nk=t\n[s]\nk=2\n[T]\nk=u\n");
  IniFile ini(Path());
  // Walking in file order tries the next section first; the second "S" must not be taken.
  for (const char* section : {"S", "T", "S", "T", "T", "S"})
    EXPECT_EQ(ini.readString(section, "k", {}), QLatin1String(section[0] == 'S' ? "1" : "t"))
        << section;
  ini.readString("T", "k", {});
  ini.writeString("S", "k", QStringLiteral("3"));
  ini.commit();
  EXPECT_EQ(Read(), "[S]\nk=3\n[T]\nk=t\n[s]\nk=2\n[T]\nk=u\n");
}

TEST_F(Ini, BatchedReadsAndWritesMatchSingleOnes) {
  IniFile writer(Path());
  // Each batch tells which of its writes changed the section.
  EXPECT_EQ(writer.writeStrings("T", {{"a", u"1"}, {"b", u"2"}}), IniFile::kSectionMade | 0b11);
  EXPECT_EQ(writer.writeStrings("T", {{"a", u"1"}, {"b", u"22"}, {"none", {}, true}}), 0b010u);
  EXPECT_EQ(writer.writeStrings("T", {{"B", u"3"}, {"c", u"4"}}), 0b11u);
  // In a section the call makes, a deletion sees the keys written before it in the same call.
  writer.writeStrings("U", {{"a", u"1"}, {"gone", {}, true}, {"k", u"2"}, {"K", {}, true}});
  writer.commit();
  EXPECT_EQ(Read(), "[T]\na=1\nb=3\nc=4\n[U]\na=1\n");
  QString values[3];
  IniFile(Path()).readStrings("t", {"C", "missing", "a"}, values);
  EXPECT_EQ(values[0], QStringLiteral("4"));
  EXPECT_TRUE(values[1].isNull());
  EXPECT_EQ(values[2], QStringLiteral("1"));

  Write("[T]\na=\"x\"\nb=\n");
  std::string_view raw[3];
  IniFile(Path()).readRawStrings("T", {"b", "missing", "a"}, raw);
  EXPECT_TRUE(raw[0].empty());
  EXPECT_NE(raw[0].data(), nullptr) << "an empty value is not a missing one";
  EXPECT_EQ(raw[1].data(), nullptr);
  EXPECT_EQ(raw[2], "x");

  // Values all as stored, in any spelling the reader accepts, leave the file itself alone.
  struct stat before {
  }, after{};
  ASSERT_EQ(::stat(QFile::encodeName(Path()).constData(), &before), 0);
  IniFile same(Path());
  EXPECT_EQ(same.writeStrings("t", {{"A", u"x"}, {"b", u""}, {"missing", {}, true}}), 0u);
  same.commit();
  ASSERT_EQ(::stat(QFile::encodeName(Path()).constData(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino) << "not replaced";
}

// A committed document is reused by later readers without parsing; it must answer exactly as
// a parse of the written file does, for every section, in any order.
TEST_F(Ini, ManySectionsReadTheSameWrittenOrParsed) {
  constexpr int kSections = 3000;
  Write("; list\n[Head]\nCount=0\n");
  {
    IniFile writer(Path());
    for (int i = 0; i < kSections; ++i) {
      const std::string section = std::to_string(i) + "Track";
      writer.writeStrings(section,
                          {{"Name", QString::number(i)}, {"Twice", QString::number(2 * i)}});
    }
    writer.writeInteger("head", "Count", kSections);
    writer.commit();
  }
  std::vector<int> order(kSections);
  for (int i = 0; i < kSections; ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), std::mt19937(7));
  const auto check = [&](const IniFile& ini, const char* how) {
    EXPECT_EQ(ini.readInteger("Head", "count", 0), kSections) << how;
    int wrong = 0;
    for (const int i : order) {
      const std::string section = std::to_string(i) + "TRACK";
      wrong += ini.readInteger(section, "name", -1) != i;
      wrong += ini.readInteger(section, "twice", -1) != 2 * i;
    }
    EXPECT_EQ(wrong, 0) << how;
    EXPECT_FALSE(ini.sectionExists(std::to_string(kSections) + "Track")) << how;
  };
  check(IniFile(Path()), "as written");
  // A new change time makes the next reader parse the file.
  ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(Path()).constData(), nullptr, 0), 0);
  const IniFile parsed(Path());
  check(parsed, "as parsed");
  EXPECT_TRUE(Read().startsWith("; list\n[Head]\nCount=3000\n[0Track]\nName=0\nTwice=0\n"));
}

TEST_F(Ini, CommitKeepsWhatAnotherWriterWroteMeanwhile) {
  Write("[S]\na=1\nb=2\n");
  IniFile first(Path());
  IniFile second(Path());
  first.writeString("S", "a", QStringLiteral("first"));
  first.writeString("New", "k", QStringLiteral("first"));
  second.writeString("S", "b", QStringLiteral("second"));
  second.writeString("New", "j", QStringLiteral("second"));
  second.writeString("S", "c", QStringLiteral("second"));
  first.commit();
  second.commit();
  EXPECT_EQ(Read(), "[S]\na=first\nb=second\nc=second\n[New]\nk=first\nj=second\n");
  EXPECT_EQ(second.readString("S", "a", {}), QStringLiteral("first"))
      << "after its commit the writer reads the file as written";

  // Another program replaces the file; our pending change goes onto its version.
  IniFile third(Path());
  third.writeString("S", "b", QStringLiteral("third"));
  Write("[Other]\nx=1\n[S]\nb=2\n");
  third.commit();
  EXPECT_EQ(Read(), "[Other]\nx=1\n[S]\nb=third\n");

  // So does a deletion; a key it did not name stays.
  IniFile fourth(Path());
  fourth.writeStrings("S", {{"b", {}, true}, {"c", u"fourth"}});
  Write("[S]\nb=2\nx=1\n");
  fourth.commit();
  EXPECT_EQ(Read(), "[S]\nx=1\nc=fourth\n");
}

TEST_F(Ini, AFileThatCannotBeReadIsNeverReplaced) {
  // Not a regular file: reading it could block, and replacing it would lose it.
  ASSERT_EQ(::mkfifo(QFile::encodeName(Path()).constData(), 0600), 0);
  IniFile ini(Path());
  EXPECT_TRUE(ini.fileExists());
  EXPECT_EQ(ini.readString("S", "k", QStringLiteral("def")), QStringLiteral("def"));
  ini.writeString("S", "k", QStringLiteral("v"));
  EXPECT_THROW(ini.commit(), platform::IniWriteError);
  struct stat st {};
  ASSERT_EQ(::stat(QFile::encodeName(Path()).constData(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

}  // namespace
