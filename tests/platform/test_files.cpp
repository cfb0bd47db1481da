#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <csignal>

#include "platform/atomicfile.h"
#include "platform/datadir.h"
#include "platform/dirsearch.h"
#include "platform/singleinstance.h"
#include "platform/textcodec.h"

namespace {

using namespace platform;

TEST(TextCodec, DecodesUtf8OrTheEightBitCodePage) {
  const struct {
    const char* name;
    QByteArray bytes;
    AnsiCodePage page;
    QString expected;
  } cases[] = {
      {"ASCII", "abc", AnsiCodePage::Windows1251, QStringLiteral("abc")},
      {"UTF-8 wins over the code page", "\xD0\x9F\xD0\xB5", AnsiCodePage::Windows1252,
       QStringLiteral("Пе")},
      {"1251", "\xCF\xF0\xE8\xE2\xE5\xF2", AnsiCodePage::Windows1251, QStringLiteral("Привет")},
      {"1252", "\xE9\x80", AnsiCodePage::Windows1252, QStringLiteral("é€")},
      {"1252 undefined byte kept", "\x81", AnsiCodePage::Windows1252, QString(QChar(0x81))},
      {"overlong UTF-8 is not UTF-8", "\xC0\xAF", AnsiCodePage::Windows1252, QStringLiteral("À¯")},
      {"UTF-8 surrogate is not UTF-8", "\xED\xA0\x80", AnsiCodePage::Windows1252,
       QStringLiteral("í\u00A0€")},
      {"truncated UTF-8", "a\xD0", AnsiCodePage::Windows1251, QStringLiteral("aР")},
  };
  for (const auto& c : cases) {
    setAnsiCodePage(c.page);
    EXPECT_EQ(decodeText(std::string_view(c.bytes.constData(), c.bytes.size())), c.expected)
        << c.name;
  }
  setAnsiCodePage(AnsiCodePage::Windows1252);
  EXPECT_TRUE(isValidUtf8("\xF0\x9F\x8E\xB5"));
  EXPECT_FALSE(isValidUtf8("\xF4\x90\x80\x80")) << "beyond U+10FFFF";
}

class Folder : public ::testing::Test {
 protected:
  QString At(const QString& relative) const { return dir.filePath(relative); }
  void MakeFile(const QString& relative, int size) {
    QFile file(At(relative));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(size, 'x'));
  }
  QTemporaryDir dir;
};

TEST_F(Folder, SearchListsEntriesSortedWithAttributesAndNeverFollowsLinks) {
  MakeFile(QStringLiteral("b.mp3"), 1234);
  MakeFile(QStringLiteral("A.MP3"), 10);
  MakeFile(QStringLiteral(".hidden.mp3"), 1);
  MakeFile(QStringLiteral("song.txt"), 1);
  MakeFile(QStringLiteral("readonly.mp3"), 5);
  ::chmod(QFile::encodeName(At(QStringLiteral("readonly.mp3"))).constData(), 0444);
  ASSERT_TRUE(QDir().mkpath(At(QStringLiteral("folder.mp3"))));
  ASSERT_TRUE(QDir().mkpath(At(QStringLiteral("Песни"))));
  // A link back to the folder itself: a scan that followed it would never end.
  ASSERT_TRUE(QFile::link(dir.path(), At(QStringLiteral("loop.mp3"))));

  const auto mp3 = findFiles(dir.path(), QStringLiteral("*.mp3"));
  std::vector<std::pair<QString, std::uint32_t>> got;
  for (const DirEntry& e : mp3) got.emplace_back(e.name, e.attributes);
  const std::vector<std::pair<QString, std::uint32_t>> expected = {
      {QStringLiteral(".hidden.mp3"), faArchive | faHidden},
      {QStringLiteral("A.MP3"), faArchive},
      {QStringLiteral("b.mp3"), faArchive},
      {QStringLiteral("folder.mp3"), faDirectory},
      {QStringLiteral("loop.mp3"), faReparsePoint},
      {QStringLiteral("readonly.mp3"), faArchive | faReadOnly},
  };
  EXPECT_EQ(got, expected);
  EXPECT_EQ(mp3[2].size, 1234u);
  EXPECT_EQ(mp3[3].size, 0u) << "a folder's size is 0";

  EXPECT_EQ(findFiles(dir.path(), QStringLiteral("*")).size(), 8u);
  EXPECT_TRUE(findFiles(At(QStringLiteral("missing")), QStringLiteral("*")).empty());
  EXPECT_TRUE(findFiles(At(QStringLiteral("b.mp3")), QStringLiteral("*")).empty());
}

TEST(Paths, JoinKeepsOneSeparator) {
  EXPECT_EQ(joinPath(QStringLiteral("/a"), QStringLiteral("b")), QStringLiteral("/a/b"));
  EXPECT_EQ(joinPath(QStringLiteral("/a/"), QStringLiteral("b")), QStringLiteral("/a/b"));
  EXPECT_EQ(joinPath(QStringLiteral("/"), QStringLiteral("b")), QStringLiteral("/b"));
}

TEST_F(Folder, DataDirectoryIsPrivateAndEndsWithASeparator) {
  const QByteArray saved = qgetenv("XDG_DATA_HOME");
  qputenv("XDG_DATA_HOME", QFile::encodeName(At(QStringLiteral("share"))));
  const QString data = dataDirectory();
  EXPECT_EQ(data, At(QStringLiteral("share/velmo/")));
  struct stat st {};
  ASSERT_EQ(::stat(QFile::encodeName(data).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(dataDirectory(), data) << "an existing folder is kept";

  // A data home that cannot hold a folder gives no folder rather than a wrong one.
  MakeFile(QStringLiteral("notafolder"), 1);
  qputenv("XDG_DATA_HOME", QFile::encodeName(At(QStringLiteral("notafolder"))));
  EXPECT_TRUE(dataDirectory().isEmpty());
  qputenv("XDG_DATA_HOME", saved);
}

TEST_F(Folder, AtomicWriteKeepsModeAndLeavesOldFileOnFailure) {
  const QString path = At(QStringLiteral("file.DAT"));
  ASSERT_TRUE(writeFileAtomically(path, "first"));
  struct stat st {};
  ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u) << "a new file is private";
  ::chmod(QFile::encodeName(path).constData(), 0640);
  ASSERT_TRUE(writeFileAtomically(path, "second"));
  ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);

  ASSERT_TRUE(QDir().mkpath(At(QStringLiteral("taken/inside"))));
  EXPECT_FALSE(writeFileAtomically(At(QStringLiteral("taken")), "third"));
  EXPECT_FALSE(writeFileAtomically(At(QStringLiteral("file.DAT/x")), "third"));
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll(), "second");
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1)
      << "no temporary file is left behind";
}

TEST_F(Folder, OneLockHolderAtATimeAndACrashFreesTheLock) {
  const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
  qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir.path()));
  const QString name = QStringLiteral("TestMutex");
  EXPECT_EQ(SingleInstanceLock::lockFilePath(name), At(QStringLiteral("TestMutex.lock")));

  QProcess holder;
  holder.start(QCoreApplication::applicationDirPath() + QStringLiteral("/lock_holder"), {name});
  ASSERT_TRUE(holder.waitForStarted(5000));
  ASSERT_TRUE(holder.waitForReadyRead(5000));
  EXPECT_EQ(holder.readLine().trimmed(), "locked");
  {
    SingleInstanceLock second(name);
    EXPECT_TRUE(second.alreadyExists());
  }
  ::kill(static_cast<pid_t>(holder.processId()), SIGKILL);
  ASSERT_TRUE(holder.waitForFinished(5000));
  SingleInstanceLock third(name);
  EXPECT_FALSE(third.alreadyExists()) << "the kernel freed the crashed holder's lock";
  {
    SingleInstanceLock fourth(name);
    EXPECT_TRUE(fourth.alreadyExists()) << "the lock excludes a second holder in one process too";
  }
  third.release();
  SingleInstanceLock fifth(name);
  EXPECT_FALSE(fifth.alreadyExists());
  qputenv("XDG_RUNTIME_DIR", saved);
}

}  // namespace
