#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <tuple>

#include "platform/atomicfile.h"
#include "platform/datadir.h"
#include "platform/dirsearch.h"
#include "platform/pathcodec.h"
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
      {"bad byte after a long ASCII run", "abcdefghijklmnopq\xE9", AnsiCodePage::Windows1252,
       QStringLiteral("abcdefghijklmnopqé")},
      {"UTF-8 after a long ASCII run", "abcdefghijklmnopq\xC3\xA9", AnsiCodePage::Windows1251,
       QStringLiteral("abcdefghijklmnopqé")},
      {"lone continuation byte", "\xA9", AnsiCodePage::Windows1252, QStringLiteral("©")},
      {"1251 undefined byte kept", "\x98\xB9", AnsiCodePage::Windows1251,
       QString(QChar(0x98)) + QChar(0x2116)},
      {"1252 undefined bytes kept", "\x8D\x8F\x90\x9D", AnsiCodePage::Windows1252,
       QString(QChar(0x8D)) + QChar(0x8F) + QChar(0x90) + QChar(0x9D)},
      {"byte order marks at the start are characters", "\xEF\xBB\xBF\xEF\xBB\xBF\xC3\xA9",
       AnsiCodePage::Windows1252, QString(QChar(0xFEFF)) + QChar(0xFEFF) + QChar(0xE9)},
  };
  for (const auto& c : cases) {
    setAnsiCodePage(c.page);
    EXPECT_EQ(decodeText(std::string_view(c.bytes.constData(), c.bytes.size())), c.expected)
        << c.name;
  }
  setAnsiCodePage(AnsiCodePage::Windows1252);
  EXPECT_TRUE(isValidUtf8("\xF0\x9F\x8E\xB5"));
  EXPECT_FALSE(isValidUtf8("\xF4\x90\x80\x80")) << "beyond U+10FFFF";
  EXPECT_FALSE(isValidUtf8("\xF5\x80\x80\x80"));
  EXPECT_FALSE(isValidUtf8("\xE0\x80\xAF")) << "overlong three-byte form";
  EXPECT_FALSE(isValidUtf8("\xF0\x8F\xBF\xBF")) << "overlong four-byte form";
  EXPECT_TRUE(isValidUtf8("\xF4\x8F\xBF\xBF")) << "U+10FFFF itself";
}

TEST(PathCodec, EveryByteSequenceComesBackAndShowsInTheCodePage) {
  const struct {
    const char* name;
    QByteArray bytes;
    bool plain;
    QString shown1252;  // as the list shows it in each code page
    QString shown1251;
  } cases[] = {
      {"ASCII", "/m/a.mp3", true, QStringLiteral("/m/a.mp3"), QStringLiteral("/m/a.mp3")},
      {"UTF-8", "/m/\xD0\x96.mp3", true, QStringLiteral("/m/Ж.mp3"), QStringLiteral("/m/Ж.mp3")},
      {"Latin-1", "caf\xE9.mp3", false, QStringLiteral("café.mp3"), QStringLiteral("cafй.mp3")},
      {"cp1251", "\xCF\xE5\xF1\xED\xE8", false, QStringLiteral("Ïåñíè"), QStringLiteral("Песни")},
      {"UTF-8 beside a stray byte", "\xC3\xA9\xE9", false, QStringLiteral("Ã©é"),
       QStringLiteral("Г©й")},
      {"cut sequence, then a valid one", "\xE2\x82\xE2\x82\xAC", false, QStringLiteral("â‚â‚¬"),
       QStringLiteral("в‚в‚¬")},
      {"encoded surrogate, overlong form", "\xED\xA0\x80\xC0\xAF", false,
       QStringLiteral("í\u00A0€À¯"), QStringLiteral("н\u00A0ЂАЇ")},
      {"line break", "a\nb\r.mp3", false, QStringLiteral("a b .mp3"), QStringLiteral("a b .mp3")},
      {"four-byte UTF-8", "\xF0\x9F\x8E\xB5", true, QStringLiteral("🎵"), QStringLiteral("🎵")},
      {"byte order mark opening a name",
       "\xEF\xBB\xBF"
       "a.mp3",
       true, QString(QChar(0xFEFF)) + QStringLiteral("a.mp3"),
       QString(QChar(0xFEFF)) + QStringLiteral("a.mp3")},
      {"byte order mark after a stray byte", "\xE9\xEF\xBB\xBF", false, QStringLiteral("éï»¿"),
       QStringLiteral("йп»ї")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const QString path = decodePath(std::string_view(c.bytes.constData(), c.bytes.size()));
    EXPECT_EQ(encodePath(path), c.bytes);
    EXPECT_EQ(isPlainPath(path), c.plain);
    // A plain path is its text, and shows as it is.
    if (c.plain) {
      EXPECT_EQ(path, c.shown1252);
    }
    setAnsiCodePage(AnsiCodePage::Windows1252);
    EXPECT_EQ(displayName(path), c.shown1252);
    setAnsiCodePage(AnsiCodePage::Windows1251);
    EXPECT_EQ(displayName(path), c.shown1251);
    setAnsiCodePage(AnsiCodePage::Windows1252);
    const QByteArray stored = escapePathBytes(path).toLatin1();
    EXPECT_EQ(unescapePathBytes(std::string_view(stored.constData(), stored.size())), path);
  }
  // A lone surrogate no name can have made is stored as U+FFFD.
  EXPECT_EQ(encodePath(QString(QChar(0xDC41)) + QChar(0xD800)),
            QByteArray("\xEF\xBF\xBD\xEF\xBF\xBD"));
}

TEST(PathCodec, StoredBytesAreReadOnlyWhenWellFormed) {
  const struct {
    const char* text;
    std::optional<QByteArray> bytes;
  } cases[] = {
      {"/m/a%20b.mp3", QByteArray("/m/a b.mp3")},
      {"%e9%E9", QByteArray("\xE9\xE9")},
      {"/m/raw bytes \xE9 kept", QByteArray("/m/raw bytes \xE9 kept")},
      {"", std::nullopt},
      {"/m/%", std::nullopt},
      {"/m/%4", std::nullopt},
      {"/m/%G0", std::nullopt},
      {"/m/%00", std::nullopt},
  };
  for (const auto& c : cases) {
    const std::optional<QString> path = unescapePathBytes(c.text);
    EXPECT_EQ(path.has_value(), c.bytes.has_value()) << c.text;
    if (path && c.bytes) {
      EXPECT_EQ(encodePath(*path), *c.bytes) << c.text;
    }
  }
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

TEST_F(Folder, SearchListsEntriesSortedWithAttributesAndEntersNoLinkedFolder) {
  MakeFile(QStringLiteral("b.mp3"), 1234);
  MakeFile(QStringLiteral("A.MP3"), 10);
  MakeFile(QStringLiteral(".hidden.mp3"), 1);
  MakeFile(QStringLiteral("song.txt"), 1);
  MakeFile(QStringLiteral("readonly.mp3"), 5);
  ::chmod(QFile::encodeName(At(QStringLiteral("readonly.mp3"))).constData(), 0444);
  ASSERT_TRUE(QDir().mkpath(At(QStringLiteral("folder.mp3"))));
  // A folder on read-only media is a folder like any other.
  ASSERT_TRUE(QDir().mkpath(At(QStringLiteral("shared.mp3"))));
  ::chmod(QFile::encodeName(At(QStringLiteral("shared.mp3"))).constData(), 0555);
  ASSERT_TRUE(QDir().mkpath(At(QStringLiteral("Песни"))));
  // A link back to the folder itself: a scan that followed it would never end.
  ASSERT_TRUE(QFile::link(dir.path(), At(QStringLiteral("loop.mp3"))));
  // A link to a file is the file; one to nothing stays a link.
  ASSERT_TRUE(QFile::link(At(QStringLiteral("b.mp3")), At(QStringLiteral("tob.mp3"))));
  ASSERT_TRUE(QFile::link(At(QStringLiteral("readonly.mp3")), At(QStringLiteral(".toro.mp3"))));
  ASSERT_TRUE(QFile::link(At(QStringLiteral("gone")), At(QStringLiteral("dangling.mp3"))));
  // A pipe would block whoever opened it to play it, through a link as well.
  ASSERT_EQ(::mkfifo(QFile::encodeName(At(QStringLiteral("pipe.mp3"))).constData(), 0600), 0);
  ASSERT_TRUE(QFile::link(At(QStringLiteral("pipe.mp3")), At(QStringLiteral("topipe.mp3"))));

  const auto mp3 = findFiles(dir.path(), QStringLiteral("*.MP3"));
  std::vector<std::tuple<QString, std::uint32_t, std::uint64_t>> got;
  for (const DirEntry& e : mp3) got.emplace_back(e.name, e.attributes, e.size);
  const std::vector<std::tuple<QString, std::uint32_t, std::uint64_t>> expected = {
      {QStringLiteral(".hidden.mp3"), faArchive | faHidden, 1},
      {QStringLiteral(".toro.mp3"), faArchive | faHidden | faReadOnly, 5},
      {QStringLiteral("A.MP3"), faArchive, 10},
      {QStringLiteral("b.mp3"), faArchive, 1234},
      {QStringLiteral("dangling.mp3"), faReparsePoint, 0},
      {QStringLiteral("folder.mp3"), faDirectory, 0},
      {QStringLiteral("loop.mp3"), faReparsePoint, 0},
      {QStringLiteral("readonly.mp3"), faArchive | faReadOnly, 5},
      {QStringLiteral("shared.mp3"), faDirectory, 0},
      {QStringLiteral("tob.mp3"), faArchive, 1234},
      {QStringLiteral("topipe.mp3"), faReparsePoint, 0},
  };
  EXPECT_EQ(got, expected);

  EXPECT_EQ(findFiles(dir.path(), QStringLiteral("*")).size(), 13u);
  // The folders alone are the folders of the whole listing: no link to one, no file.
  std::vector<std::pair<QString, std::uint32_t>> folders, foldersOfAll;
  for (const DirEntry& e : findFolders(dir.path())) folders.emplace_back(e.name, e.attributes);
  for (const DirEntry& e : findFiles(dir.path(), QStringLiteral("*")))
    if (e.attributes & faDirectory) foldersOfAll.emplace_back(e.name, e.attributes);
  EXPECT_EQ(folders, foldersOfAll);
  EXPECT_EQ(folders.size(), 3u);
  MakeFile(QStringLiteral(".mp3"), 1);
  EXPECT_EQ(findFiles(dir.path(), QStringLiteral("*.mp3"))[1].name, QStringLiteral(".mp3"))
      << "the '*' may stand for nothing";
  EXPECT_TRUE(findFiles(At(QStringLiteral("missing")), QStringLiteral("*")).empty());
  EXPECT_TRUE(findFiles(At(QStringLiteral("b.mp3")), QStringLiteral("*")).empty());
  ::chmod(QFile::encodeName(At(QStringLiteral("shared.mp3"))).constData(), 0755);
}

TEST_F(Folder, NamesThatAreNotUtf8AreFoundAndOpenedByTheirBytes) {
  const QByteArray folder = QFile::encodeName(dir.path()) + "/\xCF\xE5\xF1\xED\xE8";
  ASSERT_EQ(::mkdir(folder.constData(), 0755), 0);
  const QByteArray file = folder + "/caf\xE9\n.mp3";
  ASSERT_EQ(::close(::open(file.constData(), O_CREAT | O_WRONLY, 0644)), 0);
  ASSERT_EQ(::truncate(file.constData(), 77), 0);
  const auto folders = findFolders(dir.path());
  ASSERT_EQ(folders.size(), 1u);
  const QString found = joinPath(dir.path(), folders[0].name);
  EXPECT_TRUE(isFolder(found));
  const auto files = findFiles(found, QStringLiteral("*.MP3"));
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].size, 77u);
  const QString path = joinPath(found, files[0].name);
  EXPECT_EQ(encodePath(path), file);
  EXPECT_TRUE(isFile(path));
  EXPECT_TRUE(pathExists(path));
  EXPECT_FALSE(isFolder(path));
  EXPECT_FALSE(pathExists(path + QLatin1Char('x')));
  EXPECT_FALSE(isFile(QString()));
}

TEST_F(Folder, AFolderKeepsItsIdentityUnderEveryPath) {
  ASSERT_TRUE(QDir().mkpath(At(QStringLiteral("a"))));
  ASSERT_TRUE(QDir().mkpath(At(QStringLiteral("b"))));
  MakeFile(QStringLiteral("f"), 1);
  ASSERT_TRUE(QFile::link(At(QStringLiteral("a")), At(QStringLiteral("to a"))));
  const std::optional<FolderId> a = folderId(At(QStringLiteral("a")));
  ASSERT_TRUE(a.has_value());
  EXPECT_EQ(folderId(At(QStringLiteral("to a"))), a);
  EXPECT_EQ(folderId(At(QStringLiteral("a/../a/"))), a);
  EXPECT_NE(folderId(At(QStringLiteral("b"))), a);
  EXPECT_FALSE(folderId(At(QStringLiteral("f"))).has_value()) << "a file is no folder";
  EXPECT_FALSE(folderId(At(QStringLiteral("missing"))).has_value());
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

  // A umask that takes the owner's own bits must not leave an unusable folder.
  qputenv("XDG_DATA_HOME", QFile::encodeName(At(QStringLiteral("strict"))));
  const mode_t savedMask = ::umask(0277);
  const QString strict = dataDirectory();
  ::umask(savedMask);
  ASSERT_FALSE(strict.isEmpty());
  ASSERT_EQ(::stat(QFile::encodeName(strict).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

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

TEST_F(Folder, AtomicWriteTakesAnyNameAndWritesThroughLinks) {
  const auto contentOf = [](const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
  };
  // The longest name the file system takes: the temporary's name must still fit.
  const QString longName = At(QString(255 - 4, QChar(u'я')).left(125) + QStringLiteral(".DAT"));
  ASSERT_TRUE(writeFileAtomically(longName, "long")) << std::strerror(errno);
  EXPECT_EQ(contentOf(longName), "long");

  const QString real = At(QStringLiteral("real.DAT"));
  const QString link = At(QStringLiteral("link.DAT"));
  ASSERT_TRUE(writeFileAtomically(real, "old"));
  ASSERT_TRUE(QFile::link(real, link));
  ASSERT_TRUE(writeFileAtomically(link, "new"));
  EXPECT_EQ(QFileInfo(link).symLinkTarget(), real) << "the link is still a link";
  EXPECT_EQ(contentOf(real), "new");
}

TEST_F(Folder, OneLockHolderAtATimeAndACrashFreesTheLock) {
  // The runtime folder plays no part: the lock lives in the folder it guards.
  const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
  qunsetenv("XDG_RUNTIME_DIR");
  const QString folder = dir.path() + QLatin1Char('/');
  const QString name = QStringLiteral("TestMutex");
  EXPECT_EQ(SingleInstanceLock::lockFilePath(folder, name), At(QStringLiteral("TestMutex.lock")));

  QProcess holder;
  holder.start(QCoreApplication::applicationDirPath() + QStringLiteral("/lock_holder"),
               {folder, name});
  ASSERT_TRUE(holder.waitForStarted(5000));
  ASSERT_TRUE(holder.waitForReadyRead(5000));
  EXPECT_EQ(holder.readLine().trimmed(), "locked");
  {
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(At(QStringLiteral("elsewhere"))));
    SingleInstanceLock second(folder, name);
    EXPECT_TRUE(second.alreadyExists()) << "another runtime folder finds the same lock";
    qunsetenv("XDG_RUNTIME_DIR");
  }
  ::kill(static_cast<pid_t>(holder.processId()), SIGKILL);
  ASSERT_TRUE(holder.waitForFinished(5000));
  SingleInstanceLock third(folder, name);
  EXPECT_EQ(third.state(), SingleInstanceLock::State::Held)
      << "the kernel freed the crashed holder's lock";
  {
    SingleInstanceLock fourth(folder, name);
    EXPECT_TRUE(fourth.alreadyExists()) << "the lock excludes a second holder in one process too";
  }
  third.release();
  SingleInstanceLock fifth(folder, name);
  EXPECT_EQ(fifth.state(), SingleInstanceLock::State::Held);
  EXPECT_EQ(SingleInstanceLock::lockFilePath(folder, QStringLiteral("../x")),
            At(QStringLiteral(".._x.lock")))
      << "a name never leads out of the folder";
  qputenv("XDG_RUNTIME_DIR", saved);
}

TEST_F(Folder, ALockThatCannotBeTakenSaysWhy) {
  MakeFile(QStringLiteral("file"), 1);
  const struct {
    const char* name;
    QString folder;
  } cases[] = {
      {"no folder", QString()},
      {"a file in the folder's place", At(QStringLiteral("file/"))},
      {"a folder that does not exist", At(QStringLiteral("missing/"))},
  };
  for (const auto& c : cases) {
    SingleInstanceLock lock(c.folder, QStringLiteral("NoFolder"));
    EXPECT_EQ(lock.state(), SingleInstanceLock::State::Failed) << c.name;
    EXPECT_FALSE(lock.error().isEmpty()) << c.name;
  }
  EXPECT_FALSE(QFile::exists(QStringLiteral("/NoFolder.lock"))) << "no lock file at the root";
}

}  // namespace
