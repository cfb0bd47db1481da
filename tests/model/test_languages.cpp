#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <optional>
#include <string>
#include <vector>

#include "model/mp3languages.h"
#include "platform/textcodec.h"
#include "tests/support/qtprint.h"

namespace {

using Pairs = std::vector<std::pair<QString, QString>>;

Pairs PairsOf(const std::optional<TMp3LanguageEntries>& entries) {
  Pairs pairs;
  if (entries)
    for (const TMp3Languages& e : *entries) pairs.emplace_back(e.ComponentName(), e.ReplaceName());
  return pairs;
}

std::string Utf16(const QString& text, bool little) {
  std::string bytes = little ? "\xFF\xFE" : "\xFE\xFF";
  for (const QChar c : text) {
    const char lo = static_cast<char>(c.unicode() & 0xFF), hi = static_cast<char>(c.unicode() >> 8);
    bytes += little ? std::string{lo, hi} : std::string{hi, lo};
  }
  return bytes;
}

TEST(LanguageReader, DecodesByByteOrderMarkOrTheCodePageOfTheLanguage) {
  const QString text = QStringLiteral("btnFont=Избор на шрифт\r\nlblTitle=Заглавие\n");
  const std::string utf8 = text.toStdString();
  // "Избор на шрифт" / "Заглавие" in Windows-1251.
  const std::string cp1251 =
      "btnFont=\xC8\xE7\xE1\xEE\xF0 \xED\xE0 \xF8\xF0\xE8\xF4\xF2\r\n"
      "lblTitle=\xC7\xE0\xE3\xEB\xE0\xE2\xE8\xE5\n";
  const Pairs bulgarian = {{QStringLiteral("btnFont"), QStringLiteral("Избор на шрифт")},
                           {QStringLiteral("lblTitle"), QStringLiteral("Заглавие")}};
  const struct {
    const char* what;
    std::string bytes;
    platform::AnsiCodePage page;
    Pairs expected;
  } cases[] = {
      {"UTF-8", utf8, platform::AnsiCodePage::Windows1252, bulgarian},
      {"UTF-8 with BOM", "\xEF\xBB\xBF" + utf8, platform::AnsiCodePage::Windows1252, bulgarian},
      {"UTF-16 LE", Utf16(text, true), platform::AnsiCodePage::Windows1252, bulgarian},
      {"UTF-16 BE", Utf16(text, false), platform::AnsiCodePage::Windows1252, bulgarian},
      {"cp1251 while Bulgarian", cp1251, platform::AnsiCodePage::Windows1251, bulgarian},
      {"cp1252 while English",
       "btnFont=Caf\xE9",
       platform::AnsiCodePage::Windows1252,
       {{QStringLiteral("btnFont"), QStringLiteral("Café")}}},
      // Valid UTF-8 stays UTF-8 whatever the code page.
      {"UTF-8 while Bulgarian", utf8, platform::AnsiCodePage::Windows1251, bulgarian},
  };
  for (const auto& c : cases) {
    platform::setAnsiCodePage(c.page);
    TMp3Languages reader;
    EXPECT_EQ(PairsOf(reader.GetComponentsNamesFromBytes(c.bytes)), c.expected) << c.what;
  }
  platform::setAnsiCodePage(platform::AnsiCodePage::Windows1252);
}

TEST(LanguageReader, KeepsTheLinesReadAndGivesNoEntriesForAFileWithoutLines) {
  TMp3Languages reader;
  ASSERT_TRUE(reader.ResultFile());
  EXPECT_TRUE(reader.ResultFile()->isEmpty());
  EXPECT_FALSE(TMp3Languages(QStringLiteral("a"), QStringLiteral("b")).ResultFile())
      << "an entry has no lines";

  ASSERT_TRUE(reader.GetComponentsNamesFromBytes("a=1\nb=2"));
  EXPECT_EQ(*reader.ResultFile(), QStringList({QStringLiteral("a=1"), QStringLiteral("b=2")}));
  EXPECT_EQ(reader.ReadName(), QStringLiteral("b=2"));
  for (const std::string bytes : {"", "\xEF\xBB\xBF", "\xFF\xFE"}) {
    EXPECT_FALSE(reader.GetComponentsNamesFromBytes(bytes)) << bytes.size();
    EXPECT_TRUE(reader.ResultFile()->isEmpty()) << "the previous lines are replaced";
  }
  EXPECT_FALSE(reader.GetComponentsNames(QString())) << "no name, no file";
}

class LanguageLookup : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(root.isValid()); }
  QString Folder(const char* name) {
    const QString path = root.filePath(QLatin1String(name));
    EXPECT_TRUE(QDir().mkpath(path));
    return path;
  }
  static void Write(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
  }
  QTemporaryDir root;
};

TEST_F(LanguageLookup, TakesTheFirstFolderThatHasTheFile) {
  const QStringList folders = {Folder("current"), Folder("program"), Folder("data")};
  const struct {
    std::vector<int> holding;  // folders that hold the file
    int expected;              // whose file is read
  } cases[] = {{{0, 1, 2}, 0}, {{1, 2}, 1}, {{2}, 2}, {{0, 2}, 0}};
  for (const auto& c : cases) {
    for (int i = 0; i < 3; ++i) QFile::remove(folders[i] + QStringLiteral("/english.lng"));
    for (int i : c.holding)
      Write(folders[i] + QStringLiteral("/english.lng"), "btnFont=" + QByteArray::number(i));
    TMp3Languages reader;
    reader.SetSearchFolders(folders);
    EXPECT_EQ(PairsOf(reader.GetComponentsNames(QStringLiteral("english.lng"))),
              Pairs({{QStringLiteral("btnFont"), QString::number(c.expected)}}))
        << c.expected;
  }
}

TEST_F(LanguageLookup, ByDefaultLooksInTheCurrentFolderThenTheProgramsThenTheDataFolder) {
  const QString before = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(Folder("current")));
  const QStringList folders = TMp3Languages::DefaultSearchFolders();
  QDir::setCurrent(before);
  ASSERT_EQ(folders.size(), 3);
  EXPECT_EQ(QDir(folders[0]), QDir(root.filePath(QStringLiteral("current"))));
  EXPECT_EQ(folders[1], QCoreApplication::applicationDirPath());
  EXPECT_EQ(folders[2], QDir::cleanPath(QCoreApplication::applicationDirPath() +
                                        QStringLiteral("/../share/velmo")));
}

TEST_F(LanguageLookup, AFileThatCannotBeReadIsReportedWithItsFullNameAndTheReason) {
  const QString first = Folder("first"), second = Folder("second");
  Write(second + QStringLiteral("/bulgarian.lng"), "btnFont=x");
  // A file found but unreadable is reported, not passed over for the next folder's.
  ASSERT_TRUE(QDir().mkpath(first + QStringLiteral("/english.lng")));
  const struct {
    const char* file;
    QString path;
    const char* reason;
  } cases[] = {
      {"english.lng", first + QStringLiteral("/english.lng"), "Is a directory"},
      {"missing.lng", first + QStringLiteral("/missing.lng"), "No such file or directory"},
  };
  for (const auto& c : cases) {
    TMp3Languages reader;
    reader.SetSearchFolders(QStringList{first, second});
    try {
      reader.GetComponentsNames(QLatin1String(c.file));
      ADD_FAILURE() << c.file << " was read";
    } catch (const TLanguageFileError& error) {
      EXPECT_EQ(error.path(), c.path);
      EXPECT_EQ(QString::fromUtf8(error.what()),
                QStringLiteral("Cannot open file \"%1\". %2").arg(c.path, QLatin1String(c.reason)));
    }
  }
}

}  // namespace
