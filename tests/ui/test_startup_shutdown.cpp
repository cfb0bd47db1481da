#include <QLabel>
#include <QProcess>
#include <QProgressBar>

#include <QElapsedTimer>
#include <QFileInfo>

#include <sys/stat.h>
#include <csignal>

#include "tests/ui/programfixture.h"

namespace {

using StartupShutdown = MainFormFixture;

TEST_F(StartupShutdown, StoredListComesBackAsRecordsAndRowsWithProgress) {
  StoreList(ListText(3, 555000));
  Start();

  EXPECT_TRUE(form->DataDirectory().endsWith(QLatin1String("/velmo/")));
  ASSERT_EQ(Rows(), 3);
  ASSERT_EQ(Mp3Session->CacheCount(), 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(form->TrackList()->Record(i), (*Mp3Session->CacheMp3())[i])
        << "row data is its record";
    const auto cell = [&](int column) {
      return form->TrackList()->index(i, column).data().toString();
    };
    EXPECT_EQ(cell(0), QString::number(i + 1));
    EXPECT_EQ(cell(1), QStringLiteral("track %1.mp3").arg(i));
    EXPECT_EQ(cell(2), QStringLiteral("%1 KB").arg(1000 + i));
    EXPECT_EQ(cell(3), QStringLiteral("0:3:05"));
  }
  EXPECT_EQ(CurrMp3, form->TrackList()->Record(2));
  EXPECT_EQ(form->StatusPanel(1)->text(), QStringLiteral("Total Time 0:9:15"));

  ASSERT_NE(FormProgress, nullptr) << "the read shows the progress dialog";
  EXPECT_EQ(FormProgress->windowTitle(), QStringLiteral("Please wait ..."));
  EXPECT_EQ(FormProgress->ProgressBar1->maximum(), 3);
  EXPECT_EQ(FormProgress->ProgressBar1->value(), 2) << "one step short of the end";
  EXPECT_TRUE(FormProgress->isHidden()) << "hidden again once the read has finished";
}

TEST_F(StartupShutdown, TheFileNamedOnTheCommandLineComesFirstWithoutItsQuotes) {
  StoreList(ListText(3));
  Start({QStringLiteral("\"/music/from command line.mp3\"")});
  EXPECT_EQ(form->CommandLineFile(), QStringLiteral("/music/from command line.mp3"));
  ASSERT_EQ(Rows(), 4);
  EXPECT_EQ(form->TrackList()->CellText(0, TTrackListModel::colTitle),
            QStringLiteral("from command line.mp3"));
  EXPECT_EQ(form->TrackList()->CellText(0, TTrackListModel::colSize), QStringLiteral("-1 KB"));
  EXPECT_EQ(form->TrackList()->CellText(1, TTrackListModel::colTitle),
            QStringLiteral("track 0.mp3"));
}

TEST_F(StartupShutdown, MissingOrBrokenListStartsEmpty) {
  for (const QByteArray& text :
       {QByteArray(), QByteArray("\x00\xff[[[=\n", 7), QByteArray("[PlayList]\nCount=-1\n")}) {
    if (text.isNull())
      QFile::remove(ListFile());
    else
      StoreList(text);
    Start();
    EXPECT_EQ(Rows(), 0);
    EXPECT_EQ(Mp3Session->CacheMp3(), nullptr);
    EXPECT_EQ(FormProgress, nullptr) << "no record read, no progress dialog";
    form.reset();
  }
}

TEST_F(StartupShutdown, CloseRequestSavesOnceAndExitSavesWithProgress) {
  StoreList(ListText(2));
  Start();
  ASSERT_NE(FormProgress, nullptr);
  (*Mp3Session->CacheMp3())[1]->SetMp3Time(QStringLiteral("0:4:00"));
  // A third track whose ID would show on the bar, were the save to drive it.
  auto extra =
      std::make_shared<TMp3Player>(7, QStringLiteral("/music/x.mp3"), QStringLiteral("x.mp3"),
                                   QStringLiteral("1"), QString(), 0, 0);
  Mp3Session->AddToCache(extra);
  form->TrackList()->AppendRecords({extra});
  EXPECT_TRUE(RequestClose());
  EXPECT_TRUE(ReadFile(ListFile()).contains("Time=0:4:00"));
  EXPECT_TRUE(ReadFile(ListFile()).contains("Count=3"));
  EXPECT_EQ(FormProgress->ProgressBar1->value(), 1) << "the close request shows no progress";
  EXPECT_TRUE(FormProgress->isHidden());

  // A second close request after a completed save closes without saving again.
  ASSERT_TRUE(QFile::remove(ListFile()));
  EXPECT_TRUE(RequestClose());
  EXPECT_FALSE(QFile::exists(ListFile()));
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(StartupShutdown, ExitSavesShowsProgressAndEndsTheEventLoop) {
  StoreList(ListText(4));
  Start();
  (*Mp3Session->CacheMp3())[0]->SetMp3Time(QStringLiteral("0:0:01"));
  ASSERT_TRUE(QFile::remove(ListFile()));

  EXPECT_EQ(RunEventLoop([&] { Cmd("AExit")->trigger(); }), 0);
  EXPECT_TRUE(ReadFile(ListFile()).contains("Time=0:0:01"));
  EXPECT_TRUE(ReadFile(ListFile()).contains("Count=4"));
  ASSERT_NE(FormProgress, nullptr);
  EXPECT_EQ(FormProgress->ProgressBar1->maximum(), 4);
  EXPECT_EQ(FormProgress->ProgressBar1->value(), 3);
  EXPECT_TRUE(FormProgress->isHidden());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(StartupShutdown, EmptyListDeletesTheFileAndTheNextStartIsEmpty) {
  StoreList("[PlayList]\nCount=0\n");
  Start();
  EXPECT_TRUE(RequestClose());
  EXPECT_FALSE(QFile::exists(ListFile()));
  form.reset();

  Start();
  EXPECT_EQ(Rows(), 0);
  EXPECT_EQ(RunEventLoop([&] { Cmd("AExit")->trigger(); }), 0) << "Exit with nothing to save";
  EXPECT_FALSE(QFile::exists(ListFile()));
}

TEST_F(StartupShutdown, FailedSaveIsShownAndTheProgramStaysOpen) {
  StoreList(ListText(2));
  Start();
  // The list file's place is taken by a folder that cannot be replaced, even by root.
  ASSERT_TRUE(QFile::remove(ListFile()));
  ASSERT_TRUE(QDir().mkpath(ListFile() + QStringLiteral("/occupied")));
  const QString expected = QStringLiteral("Unable to write to ") + ListFile();

  // Each failure asks whether to quit without saving; No keeps the window.
  dialogs.answers.push_back(false);
  EXPECT_FALSE(RequestClose());
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].text, expected);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);

  dialogs.answers.push_back(false);
  EXPECT_EQ(RunEventLoop([&] { Cmd("AExit")->trigger(); }, 1000), -1)
      << "Exit must not end the program";
  ASSERT_EQ(dialogs.messages.size(), 2u);
  EXPECT_EQ(dialogs.messages[1].text, expected);
  EXPECT_TRUE(FormProgress == nullptr || FormProgress->isHidden());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);

  // Once the place is free again, the next close request saves, and hides the progress that
  // Exit bound to every save.
  ASSERT_TRUE(QDir(ListFile()).removeRecursively());
  EXPECT_TRUE(RequestClose());
  EXPECT_TRUE(ReadFile(ListFile()).contains("Count=2"));
  ASSERT_NE(FormProgress, nullptr);
  EXPECT_TRUE(FormProgress->isHidden());
  EXPECT_TRUE(dialogs.answers.empty());
}

TEST_F(StartupShutdown, AFailedSaveLetsTheUserQuitWithoutSaving) {
  StoreList(ListText(2));
  Start();
  ASSERT_TRUE(QFile::remove(ListFile()));
  ASSERT_TRUE(QDir().mkpath(ListFile() + QStringLiteral("/occupied")));
  dialogs.answers.push_back(true);
  EXPECT_TRUE(RequestClose()) << "Yes: the window closes without saving";
  form.reset();

  Start();
  dialogs.answers.push_back(true);
  EXPECT_EQ(RunEventLoop([&] { Cmd("AExit")->trigger(); }), 0) << "Exit ends all the same";
  ASSERT_EQ(dialogs.messages.size(), 2u);
  EXPECT_TRUE(QFileInfo(ListFile()).isDir()) << "nothing was forced into the list's place";
}

// The real program, started twice in one private home.
using SingleInstance = ProgramFixture;

TEST_F(SingleInstance, SecondCopyEndsSilentlyAndACrashedCopyNeverBlocks) {
  ASSERT_TRUE(QFile::exists(Program())) << Program().toStdString();
  StoreList(ListText(2));
  const QByteArray stored = ReadFile(ListFile());

  auto first = Launch();
  ASSERT_TRUE(LockHeldWithin(10000));

  // Whatever its runtime folder, a second copy finds the lock in the data folder.
  const QString otherRuntime = home.filePath(QStringLiteral("other-run"));
  ASSERT_TRUE(QDir().mkpath(otherRuntime));
  for (const QString& runtime : {QString(), otherRuntime, QStringLiteral("-")}) {
    SCOPED_TRACE(runtime.toStdString());
    auto second = Launch({QStringLiteral("/music/other.mp3")}, runtime);
    ASSERT_TRUE(second->waitForFinished(10000)) << "the second copy must end at once";
    EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second->exitCode(), 0);
  }
  EXPECT_EQ(first->state(), QProcess::Running) << "the first copy goes on";
  EXPECT_EQ(ReadFile(ListFile()), stored) << "the second copy neither saved nor deleted";

  // A crash of the first copy frees the lock for the next start.
  Signal(*first, SIGKILL);
  ASSERT_TRUE(first->waitForFinished(5000));
  auto third = Launch();
  EXPECT_TRUE(LockHeldWithin(10000));
  EXPECT_FALSE(third->waitForFinished(300)) << "the next start runs";
  third->kill();
  third->waitForFinished(5000);
}

}  // namespace
