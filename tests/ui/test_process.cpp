// The real program as a process: the end of the session by SIGTERM saves the list, and a kill at
// any moment of a save of 100,000 tracks leaves the old list or the new one whole, never a
// mixture, and nothing behind that the next start does not clear away.
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>

#include <sys/stat.h>
#include <csignal>

#include "tests/ui/programfixture.h"

namespace {

class Process : public ProgramFixture {
 protected:
  QStringList Temporaries() const {
    QStringList found;
    for (const QString& name : QDir(DataDir()).entryList(QDir::Files | QDir::Hidden))
      if (name.startsWith(QLatin1Char('.'))) found << name;
    return found;
  }
};

TEST_F(Process, SigtermSavesAndAKillDuringASaveLeavesOneWholeList) {
  ASSERT_TRUE(QFile::exists(Program())) << Program().toStdString();
  // A Count one past the sections: the program reads 100,000 tracks and must write the file
  // anew, the whole of it, at the end of the session.
  constexpr int kTracks = 100000;
  QByteArray old = ListText(kTracks);
  old.replace("\nCount=100000\n", "\nCount=100001\n");
  StoreList(old);

  // A SIGTERM is a normal end that saves, through a temporary that shows while the new file is
  // written. The write takes some tens of milliseconds, so a loaded machine may keep this test
  // from looking during it: a few ends are watched before the temporary counts as never made.
  std::unique_ptr<QProcess> first;
  qint64 writeMs = -1;
  qint64 endMs = 0;
  for (int attempt = 0; attempt < 3 && writeMs < 0; ++attempt) {
    WriteFile(ListFile(), old);
    QElapsedTimer clock;
    first = Launch();
    ASSERT_TRUE(LockHeldWithin(20000));
    clock.start();
    Signal(*first, SIGTERM);
    while (first->state() != QProcess::NotRunning && clock.elapsed() < 60000) {
      if (writeMs < 0 && !Temporaries().isEmpty()) writeMs = clock.elapsed();
      first->waitForFinished(1);
    }
    endMs = clock.elapsed();
  }
  ASSERT_GE(writeMs, 0) << "three saves wrote no temporary that could be seen";
  EXPECT_EQ(first->exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(first->exitCode(), 0);
  const QByteArray saved = ReadFile(ListFile());
  ASSERT_NE(saved, old);
  ASSERT_TRUE(saved.contains("\nCount=100000\n"));
  EXPECT_TRUE(Temporaries().isEmpty());

  // Kills at random moments: half over the whole time from the signal to the end, half around
  // the writing of the file, where a kill could do harm.
  const quint32 seed = QRandomGenerator::global()->generate();
  QRandomGenerator random(seed);
  SCOPED_TRACE(testing::Message() << "seed " << seed << ", writing began at " << writeMs
                                  << " ms, the end came at " << endMs << " ms");
  int oldWhole = 0, newWhole = 0, temporariesLeft = 0;
  for (int run = 0; run < 16; ++run) {
    SCOPED_TRACE(run);
    WriteFile(ListFile(), old);
    auto velmo = Launch();
    ASSERT_TRUE(LockHeldWithin(20000));
    const qint64 from = run % 2 ? std::max<qint64>(writeMs - 100, 0) : 0;
    const auto delay = static_cast<int>(from + random.bounded(endMs - from + 1));
    Signal(*velmo, SIGTERM);
    QTest::qWait(delay);
    Signal(*velmo, SIGKILL);
    // It may have ended on its own before the kill.
    if (velmo->state() != QProcess::NotRunning) {
      ASSERT_TRUE(velmo->waitForFinished(10000));
    }
    const QByteArray after = ReadFile(ListFile());
    ASSERT_TRUE(after == old || after == saved) << "a list of " << after.size() << " bytes";
    (after == old ? oldWhole : newWhole)++;
    if (!Temporaries().isEmpty()) ++temporariesLeft;

    // The next start clears what the kill left, under its lock, before anything else.
    auto next = Launch();
    ASSERT_TRUE(LockHeldWithin(20000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return Temporaries().isEmpty(); }, 5000))
        << Temporaries().join(QLatin1Char(' ')).toStdString();
    Signal(*next, SIGKILL);
    ASSERT_TRUE(next->waitForFinished(10000));
  }
  std::printf("kills: %d left the old list, %d the new one; %d left a temporary\n", oldWhole,
              newWhole, temporariesLeft);
}

}  // namespace
