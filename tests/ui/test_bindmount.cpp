// Load Directory over a tree that holds the same folder twice: a bind mount beside its source
// and one inside itself. Bind mounts need a private mount namespace, which this binary makes for
// itself before anything else starts (the tests are skipped where the system allows none).
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>
#include <cstdio>

#include "tests/ui/mainformfixture.h"

namespace {

bool gOwnMounts = false;

bool WriteProcFile(const char* path, const std::string& text) {
  FILE* file = std::fopen(path, "w");
  if (!file) return false;
  const bool written = std::fputs(text.c_str(), file) >= 0;
  return std::fclose(file) == 0 && written;
}

// A user namespace that maps only our own ids, with a mount namespace of its own.
bool EnterPrivateMounts() {
  const uid_t uid = ::getuid();
  const gid_t gid = ::getgid();
  if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return false;
  if (!WriteProcFile("/proc/self/setgroups", "deny") ||
      !WriteProcFile("/proc/self/uid_map",
                     std::to_string(uid) + " " + std::to_string(uid) + " 1") ||
      !WriteProcFile("/proc/self/gid_map", std::to_string(gid) + " " + std::to_string(gid) + " 1"))
    return false;
  return ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

class BindMount : public MainFormFixture {
 protected:
  void SetUp() override {
    if (!gOwnMounts) GTEST_SKIP() << "no private mount namespace here";
    MainFormFixture::SetUp();
  }
  void TearDown() override {
    // Before the temporary folder goes: removing it must not walk into the mounts.
    for (auto it = mounts.rbegin(); it != mounts.rend(); ++it)
      ::umount2(it->constData(), MNT_DETACH);
    MainFormFixture::TearDown();
  }
  QString Music(const QString& relative = {}) const {
    return home.filePath(QStringLiteral("music/") + relative);
  }
  void MakeFile(const QString& relative) {
    ASSERT_TRUE(QDir().mkpath(QFileInfo(Music(relative)).path()));
    WriteFile(Music(relative), QByteArray(100, 'x'));
  }
  void Bind(const QString& source, const QString& target) {
    ASSERT_TRUE(QDir().mkpath(Music(target)));
    const QByteArray to = QFile::encodeName(Music(target));
    ASSERT_EQ(::mount(QFile::encodeName(Music(source)).constData(), to.constData(), nullptr,
                      MS_BIND, nullptr),
              0);
    mounts.push_back(to);
  }
  QStringList Paths() const {
    QStringList paths;
    for (int row = 0; row < Rows(); ++row)
      paths << form->TrackList()->Record(row)->Mp3Path().mid(Music().size());
    return paths;
  }
  std::vector<QByteArray> mounts;
};

TEST_F(BindMount, AFolderReachedTwiceIsWalkedOncePerScan) {
  MakeFile(QStringLiteral("Artist/Album/a.mp3"));
  MakeFile(QStringLiteral("Artist/s.mp3"));
  MakeFile(QStringLiteral("Other/o.mp3"));
  // The album again under another name, and the whole collection inside one of its folders: a
  // walk that followed either would list tracks twice, the second without end.
  Bind(QStringLiteral("Artist/Album"), QStringLiteral("Same Album"));
  Bind(QString(), QStringLiteral("Other/Everything"));
  ASSERT_TRUE(QFile::exists(Music(QStringLiteral("Other/Everything/Other/o.mp3"))));
  Start();
  dialogs.answers.push_back(Music());
  Cmd("ALoadDir")->trigger();
  EXPECT_EQ(Paths(),
            (QStringList{QStringLiteral("Artist/s.mp3"), QStringLiteral("Artist/Album/a.mp3"),
                         QStringLiteral("Other/o.mp3")}));

  // Each scan walks afresh: a folder of the first scan is walked again by the next one.
  dialogs.answers.push_back(Music(QStringLiteral("Same Album")));
  Cmd("ALoadDir")->trigger();
  EXPECT_EQ(Paths().mid(3), QStringList{QStringLiteral("Same Album/a.mp3")});
}

}  // namespace

int main(int argc, char** argv) {
  // Before any thread exists: a process with threads cannot enter a user namespace.
  gOwnMounts = EnterPrivateMounts();
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
