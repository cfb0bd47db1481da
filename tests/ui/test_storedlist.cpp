// The stored main list is never lost: damaged files, filters, stale temporaries, the lock, a data
// folder that cannot be written, and the end of the session by a signal. The real window,
// offscreen, in a private home.
#include <QDirIterator>
#include <QLineEdit>
#include <QProcess>
#include <QStringEncoder>
#include <QTreeView>

#include <sys/stat.h>
#include <unistd.h>
#include <csignal>

#include "platform/atomicfile.h"
#include "tests/ui/mainformfixture.h"

namespace {

class StoredList : public MainFormFixture {
 protected:
  // Names in the data folder other than the lock, sorted.
  QStringList DataFiles() const {
    QStringList names = QDir(DataDir()).entryList(QDir::Files | QDir::Hidden | QDir::System);
    names.removeAll(QStringLiteral("DKOneCopyMutex.lock"));
    return names;
  }
  QString AsideFile() const {
    for (const QString& name : DataFiles())
      if (name.startsWith(QLatin1String("MP3_PLAYER_PLAY_LIST.DAT.unreadable-")))
        return DataDir() + name;
    return {};
  }
  // A stored list of `count` tracks with the [PlayList] section as given.
  static QByteArray Tracks(int count, const QByteArray& listSection) {
    QByteArray text = ListText(count);
    return text.left(text.indexOf("[PlayList]")) + listSection;
  }
};

TEST_F(StoredList, AFilterShowingNoRowsNeitherDeletesNorShrinksTheList) {
  StoreList(ListText(3));
  Start();
  form->edtSearch->setText(QStringLiteral("nothing matches this"));
  ASSERT_EQ(Rows(), 0);
  EXPECT_TRUE(RequestClose());
  EXPECT_TRUE(ReadFile(ListFile()).contains("Count=3")) << "the close request";
  form.reset();

  Start();
  form->edtSearch->setText(QStringLiteral("nothing matches this"));
  EXPECT_EQ(RunEventLoop([&] { Cmd("AExit")->trigger(); }), 0);
  EXPECT_TRUE(ReadFile(ListFile()).contains("Count=3")) << "Exit";
  form.reset();

  // Deleting every row the filter shows deletes those tracks only.
  Start();
  form->edtSearch->setText(QStringLiteral("track 1"));
  ASSERT_EQ(Rows(), 1);
  form->lvMain->selectAll();
  dialogs.answers.push_back(true);
  form->DeleteExecute();
  EXPECT_EQ(Mp3Session->CacheCount(), 2);
  const QByteArray saved = ReadFile(ListFile());
  EXPECT_TRUE(saved.contains("Count=2"));
  EXPECT_FALSE(saved.contains("OnlyName=track 1.mp3\n[PlayList]"));
}

TEST_F(StoredList, DamagedFilesAreKeptAsideAndAbsurdCountsReadTheSectionsPresent) {
  QByteArray crOnly = ListText(2);
  crOnly.replace('\n', '\r');
  QStringEncoder toUtf16(QStringConverter::Utf16LE, QStringConverter::Flag::WriteBom);
  const QByteArray utf16 = toUtf16(QString::fromUtf8(ListText(2)));
  QByteArray gap = ListText(4);
  gap.remove(gap.indexOf("[2PlayList]"), gap.indexOf("[3PlayList]") - gap.indexOf("[2PlayList]"));

  const struct {
    const char* name;
    QByteArray file;
    int rows;           // shown after the start
    bool keptAside;     // an unreadable list is moved aside, with one message naming it
    int savedCount;     // Count in the list file after a close; -1: no list file
    int maxSavedBytes;  // the saved file is no larger
  } cases[] = {
      {"Count missing", Tracks(2, "[PlayList]\n_TotalTime=1\n"), 0, true, -1, 0},
      {"Count cut short", Tracks(2, "[PlayList]\nCou"), 0, true, -1, 0},
      {"Count not a number", Tracks(2, "[PlayList]\nCount=two\n"), 0, true, -1, 0},
      {"Count negative", Tracks(2, "[PlayList]\nCount=-2\n"), 0, true, -1, 0},
      {"Count out of range", Tracks(2, "[PlayList]\nCount=99999999999\n"), 0, true, -1, 0},
      {"CR line ends", crOnly, 0, true, -1, 0},
      {"UTF-16", utf16, 0, true, -1, 0},
      {"Count the largest integer", Tracks(2, "[PlayList]\nCount=2147483647\n"), 2, false, 2, 400},
      {"Count in hexadecimal", Tracks(2, "[PlayList]\nCount=$7FFFFFFF\n"), 2, false, 2, 400},
      {"Count far past the sections", Tracks(20, "[PlayList]\nCount=1000000\n"), 20, false, 20,
       4000},
      {"a missing section among present ones", gap, 4, false, 4, 800},
      {"a far-off section number",
       Tracks(2, "[2147483646PlayList]\nFileName=/far.mp3\n[PlayList]\nCount=2147483647\n"), 2,
       false, 2, 600},
      {"no track at all", "[PlayList]\nCount=0\n", 0, false, -1, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    QDir(DataDir()).removeRecursively();
    dialogs.messages.clear();
    StoreList(c.file);
    Start();
    EXPECT_EQ(Rows(), c.rows);
    const QString aside = AsideFile();
    if (c.keptAside) {
      ASSERT_FALSE(aside.isEmpty());
      EXPECT_EQ(ReadFile(aside), c.file) << "kept byte for byte";
      ASSERT_EQ(dialogs.messages.size(), 1u);
      EXPECT_TRUE(dialogs.messages[0].text.contains(aside))
          << dialogs.messages[0].text.toStdString();
    } else {
      EXPECT_TRUE(aside.isEmpty());
      EXPECT_TRUE(dialogs.messages.empty());
    }
    if (c.name == std::string_view("a missing section among present ones")) {
      EXPECT_EQ(form->TrackList()->Record(2)->Mp3Path(), QString());
      EXPECT_EQ(form->TrackList()->Record(3)->Mp3Name(), QStringLiteral("track 3.mp3"));
    }
    // Something to save, so that the close writes whenever there are tracks.
    if (c.rows > 0) Mp3Session->CacheMp3()->front()->SetMp3Time(QStringLiteral("0:0:07"));
    EXPECT_TRUE(RequestClose());
    form.reset();
    if (c.savedCount < 0) {
      EXPECT_FALSE(QFile::exists(ListFile()));
    } else {
      const QByteArray saved = ReadFile(ListFile());
      EXPECT_TRUE(saved.contains("\nCount=" + QByteArray::number(c.savedCount) + "\n"));
      EXPECT_LE(saved.size(), c.maxSavedBytes);
    }
    if (c.keptAside) {
      EXPECT_EQ(ReadFile(aside), c.file) << "the close left it alone";
    }
  }
}

TEST_F(StoredList, TemporariesOfAKilledSaveAreRemovedAtTheNextStart) {
  StoreList(ListText(1));
  const QStringList left = {QStringLiteral(".MP3_PLAYER_PLAY_LIST.DAT.a1B2c3"),
                            QStringLiteral(".MP3_PLAYER_SETTINGS.DAT.zzzzzz")};
  const QStringList kept = {QStringLiteral("notes.txt"), QStringLiteral(".config"),
                            QStringLiteral(".MP3_PLAYER_PLAY_LIST.DAT.toolongname")};
  for (const QString& name : left + kept) WriteFile(DataDir() + name, "x");
  Start();
  EXPECT_EQ(Rows(), 1);
  for (const QString& name : left)
    EXPECT_FALSE(QFile::exists(DataDir() + name)) << name.toStdString();
  for (const QString& name : kept)
    EXPECT_TRUE(QFile::exists(DataDir() + name)) << name.toStdString();
}

TEST_F(StoredList, ALockThatCannotBeTakenStopsTheStartWithAMessage) {
  // The data folder's parent is a file: the folder, and so its lock, cannot exist.
  WriteFile(home.filePath(QStringLiteral("blocked")), "x");
  qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath(QStringLiteral("blocked/data"))));
  form = std::make_unique<TMainForm>();
  EXPECT_TRUE(form->StartFailed());
  EXPECT_FALSE(form->IsSecondCopy());
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_TRUE(dialogs.messages[0].text.startsWith(QLatin1String("Velmo cannot start")))
      << dialogs.messages[0].text.toStdString();
  EXPECT_EQ(Rows(), 0) << "nothing was loaded";
}

TEST_F(StoredList, AReadOnlyDataFolderIsReportedAndNeverTrapsTheUser) {
  StoreList(ListText(2));
  Start();  // makes the lock file, as any earlier run has
  form.reset();
  const QByteArray stored = ReadFile(ListFile());
  ReadOnlyFolder readOnly(DataDir());
  if (!readOnly.Works()) GTEST_SKIP() << "no way here to make a folder read-only";

  Start();
  EXPECT_EQ(Rows(), 2);
  ASSERT_EQ(dialogs.messages.size(), 1u) << "reported once at start-up";
  EXPECT_TRUE(dialogs.messages[0].text.startsWith(QLatin1String("The data folder ")))
      << dialogs.messages[0].text.toStdString();
  Mp3Session->CacheMp3()->front()->SetMp3Time(QStringLiteral("0:0:07"));

  const QString unable = QStringLiteral("Unable to write to ") + ListFile();
  dialogs.answers.push_back(false);
  EXPECT_FALSE(RequestClose()) << "No keeps the window";
  ASSERT_EQ(dialogs.messages.size(), 2u);
  EXPECT_EQ(dialogs.messages[1].text, unable);
  dialogs.answers.push_back(false);
  EXPECT_EQ(RunEventLoop([&] { Cmd("AExit")->trigger(); }, 1000), -1) << "No keeps the window";
  dialogs.answers.push_back(true);
  EXPECT_EQ(RunEventLoop([&] { Cmd("AExit")->trigger(); }), 0) << "Yes quits without saving";
  EXPECT_TRUE(FormProgress == nullptr || FormProgress->isHidden());
  EXPECT_EQ(ReadFile(ListFile()), stored);
  EXPECT_EQ(dialogs.messages.size(), 4u);
}

TEST_F(StoredList, ATerminationSignalSavesWhatExitSaves) {
  const QString music = home.filePath(QStringLiteral("music"));
  ASSERT_TRUE(QDir().mkpath(music + QStringLiteral("/Artist/Album")));
  for (const QString& name : {QStringLiteral("one.mp3"), QStringLiteral("two.mp3")})
    WriteFile(music + QStringLiteral("/Artist/Album/") + name, "not really audio");
  WriteFile(music + QStringLiteral("/top.mp3"), "not really audio");
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(signal);
    QFile::remove(ListFile());
    Start();
    dialogs.answers.push_back(music);
    Cmd("ALoadDir")->trigger();
    ASSERT_GE(Rows(), 1);
    const int rows = Rows();
    EXPECT_EQ(RunEventLoop([&] { ::raise(signal); }), 0) << "the signal ends the event loop";
    const QByteArray saved = ReadFile(ListFile());
    EXPECT_TRUE(saved.contains("\nCount=" + QByteArray::number(rows) + "\n"))
        << saved.toStdString();
    EXPECT_TRUE(saved.contains("top.mp3"));
    form.reset();
  }
}

}  // namespace
