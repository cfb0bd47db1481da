// A later start of the program while a copy runs on the same data folder: the real program is
// started again with a file, hands the file to the running copy over the session bus (a private
// dbus-daemon of this test program) or over the local socket, and ends.
#include <gtest/gtest.h>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>

#include "platform/handoffframe.h"
#include "platform/instancechannel.h"
#include "platform/pathcodec.h"
#include "tests/support/sessionbus.h"
#include "tests/ui/programfixture.h"

namespace {

constexpr int kWaitMs = 10000;

class HandOff : public ProgramFixture {
 protected:
  void SetUp() override {
    // Before the window asks for the bus.
    ASSERT_FALSE(PrivateSessionBus::Shared().address().isEmpty());
    ProgramFixture::SetUp();
    otherRuntime = home.filePath(QStringLiteral("other-run"));
    ASSERT_TRUE(QDir().mkpath(otherRuntime));
  }

  // A later start with `argument` (none when empty), written with printf's %b escapes so that
  // any bytes can be given; with `bus` false it has no session bus, so only the socket in
  // `runtime` (the fixture's when empty) can reach the running copy.
  std::unique_ptr<QProcess> LaterStart(const QString& argument, bool bus,
                                       const QString& runtime = {}, const QString& folder = {}) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    if (!runtime.isEmpty()) env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    if (!bus)
      env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                 QStringLiteral("unix:path=/nonexistent/no-bus"));
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(env);
    if (!folder.isEmpty()) process->setWorkingDirectory(folder);
    process->setProgram(QStringLiteral("/bin/sh"));
    QStringList arguments = {
        QStringLiteral("-c"),
        QStringLiteral(
            R"sh(if [ $# -eq 0 ]; then exec "$0"; fi; exec "$0" "$(printf '%b' "$1")")sh"),
        Program()};
    if (!argument.isEmpty()) arguments << argument;
    process->setArguments(arguments);
    process->start();
    EXPECT_TRUE(process->waitForStarted(5000));
    return process;
  }
  // Waits for a later start to end while this thread's window goes on answering; its time in ms.
  static qint64 Ended(QProcess& process) {
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, kWaitMs))
        << "the later start must end";
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0);
    return clock.elapsed();
  }
  QString FileOfRow(int row) const { return form->TrackList()->Record(row)->Mp3Path(); }

  QString otherRuntime;
};

TEST_F(HandOff, TheRunningWindowAddsTheFileAndComesToTheFrontWhicheverWayItCame) {
  StoreList(ListText(2));
  Start();
  ASSERT_TRUE(form->findChild<platform::InstanceChannel*>() != nullptr);
  ASSERT_TRUE(QDBusConnection::sessionBus().interface()->isServiceRegistered(
      platform::InstanceChannel::busName(DataDir())));

  const QString folder = home.filePath(QStringLiteral("music"));
  ASSERT_TRUE(QDir().mkpath(folder));
  // A name that is not UTF-8 and holds a line break must arrive byte for byte.
  const QString odd = platform::decodePath("/music/caf\xe9\nlive.mp3");
  const QString oddEscaped = QStringLiteral(R"(/music/caf\0351\nlive.mp3)");
  struct Case {
    const char* name;
    QString argument;
    bool bus;
    bool otherRuntimeFolder;  // then only the bus can reach the window
    QString added;            // empty: nothing is added, the window only comes to the front
  };
  const Case cases[] = {
      {"over the bus", QStringLiteral("/music/one.mp3"), true, true,
       QStringLiteral("/music/one.mp3")},
      {"over the socket, a relative name", QStringLiteral("two.mp3"), false, false,
       folder + QStringLiteral("/two.mp3")},
      {"an odd name over the bus", oddEscaped, true, true, odd},
      {"an odd name over the socket", oddEscaped, false, false, odd},
      {"quoted, as a shortcut gives it", QStringLiteral("\"/music/three.mp3\""), false, false,
       QStringLiteral("/music/three.mp3")},
      {"no file", QString(), true, false, QString()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    form->showMinimized();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->isMinimized(); }, kWaitMs));
    const int rows = Rows();
    auto later =
        LaterStart(c.argument, c.bus, c.otherRuntimeFolder ? otherRuntime : QString(), folder);
    Ended(*later);
    const int added = c.added.isEmpty() ? 0 : 1;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return Rows() == rows + added && !form->isMinimized() && form->isActiveWindow(); },
        kWaitMs))
        << "rows " << Rows() << " minimized " << form->isMinimized();
    if (added && Rows() == rows + 1) {
      EXPECT_EQ(FileOfRow(rows), c.added);
    }
  }
  EXPECT_EQ(form->CommandLineFile(), QString()) << "a handed file is not this start's file";
}

// A question open in the window (or a load, a scan) keeps the list as it is: the handed file waits
// for it to be answered.
TEST_F(HandOff, AFileHandedWhileTheWindowAsksSomethingWaitsForTheAnswer) {
  StoreList(ListText(1));
  Start();
  QDialog question(form.get());
  question.setModal(true);
  question.show();
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return QApplication::activeModalWidget() == &question; }, kWaitMs));
  auto later = LaterStart(QStringLiteral("/music/waits.mp3"), false);
  Ended(*later);
  QTest::qWait(300);
  EXPECT_EQ(Rows(), 1) << "nothing is added while the question is open";
  question.accept();
  EXPECT_TRUE(QTest::qWaitFor([&] { return Rows() == 2; }, kWaitMs));
  EXPECT_EQ(FileOfRow(1), QStringLiteral("/music/waits.mp3"));
}

TEST_F(HandOff, AStartThatFindsNoListenerEndsWithinItsTime) {
  StoreList(ListText(1));
  Start();
  // Neither the bus nor the socket of this runtime folder leads to the window.
  auto later = LaterStart(QStringLiteral("/music/lost.mp3"), false, otherRuntime);
  EXPECT_LT(Ended(*later), 5000);
  QTest::qWait(200);
  EXPECT_EQ(Rows(), 1);
}

// A stopped running copy takes the requests when it goes on, each once, and the later starts do
// not wait for it.
TEST_F(HandOff, AStoppedRunningCopyNeverKeepsALaterStartWaiting) {
  StoreList(ListText(1));
  auto first = Launch();
  ASSERT_TRUE(LockHeldWithin(kWaitMs));
  const QString socket = platform::InstanceChannel::socketPath(DataDir());
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        return QFile::exists(socket) &&
               QDBusConnection::sessionBus().interface()->isServiceRegistered(
                   platform::InstanceChannel::busName(DataDir()));
      },
      kWaitMs))
      << "the running copy listens on the bus and on the socket";
  Signal(*first, SIGSTOP);
  const QStringList files = {QStringLiteral("/music/by bus.mp3"),
                             QStringLiteral("/music/by socket.mp3")};
  for (int i = 0; i < files.size(); ++i) {
    auto later = LaterStart(files[i], i == 0);
    // Without the bound a stopped copy would hold it for the bus's 25 s, or forever.
    EXPECT_LT(Ended(*later), 4000) << files[i].toStdString();
  }
  Signal(*first, SIGCONT);
  // The running copy takes what waited for it, then saves as it ends.
  QTest::qWait(1500);
  Signal(*first, SIGTERM);
  ASSERT_TRUE(first->waitForFinished(kWaitMs));
  const QByteArray list = ReadFile(ListFile());
  for (const QString& file : files)
    EXPECT_EQ(list.count("FileName=" + file.toUtf8() + "\n"), 1) << list.toStdString();
  EXPECT_FALSE(QFile::exists(socket)) << "the socket goes with the copy";
}

// The socket is open to any program of the user: what it reads is never trusted.
TEST(HandOffFrame, ReadsOnlyWholeFramesOfSanePaths) {
  using State = platform::HandOffFrame::State;
  const std::string frame = platform::EncodeHandOffFrame("/music/a.mp3");
  struct Case {
    const char* name;
    std::string received;
    State state;
    std::string path;
  };
  const Case cases[] = {
      {"whole", frame, State::Complete, "/music/a.mp3"},
      {"more behind it", frame + "xyz", State::Complete, "/music/a.mp3"},
      {"empty path", platform::EncodeHandOffFrame(""), State::Complete, ""},
      {"length only in part", frame.substr(0, 3), State::NeedMore, ""},
      {"path in part", frame.substr(0, frame.size() - 1), State::NeedMore, ""},
      {"huge length", std::string("\x7f\xff\xff\xff", 4) + "abc", State::Bad, ""},
      {"one past the limit", platform::EncodeHandOffFrame(std::string(64 * 1024 + 1, 'a')),
       State::Bad, ""},
      {"a zero byte", platform::EncodeHandOffFrame(std::string("/a\0b", 4)), State::Bad, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const platform::HandOffFrame decoded = platform::DecodeHandOffFrame(c.received);
    EXPECT_EQ(decoded.state, c.state);
    EXPECT_EQ(decoded.path, c.path);
    if (c.state == State::Complete) {
      EXPECT_EQ(decoded.used, 4 + c.path.size());
    }
  }
}

}  // namespace
