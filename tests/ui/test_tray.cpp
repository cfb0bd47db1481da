// The notification-area icon on a real X desktop: a virtual X server with a real notification-area
// host, the window of this process shown there through the xcb platform, and the real program
// started on it. The icon is pressed with real pointer events at the place the host gave it.
#include <gtest/gtest.h>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QTabWidget>

#include <chrono>
#include <cmath>
#include <map>

#include "platform/inifile.h"
#include "tests/audio/mp3testfiles.h"
#include "tests/audio/soundmonitor.h"
#include "tests/ui/programfixture.h"
#include "tests/ui/xdesktop.h"
#include "ui/nodetree.h"

namespace {

// The desktop this process shows its windows on; made by main before the application object.
XDesktop* Desktop = nullptr;

constexpr int kWaitMs = 10000;

// What the data folder holds, file by file.
std::map<QString, QByteArray> Snapshot(const QString& folder) {
  std::map<QString, QByteArray> files;
  for (const QFileInfo& info : QDir(folder).entryInfoList(QDir::Files | QDir::Hidden)) {
    QFile file(info.filePath());
    if (file.open(QIODevice::ReadOnly)) files[info.fileName()] = file.readAll();
  }
  return files;
}

QByteArray SettingsText(bool tray) {
  // The window away from the notification area at the top right.
  return "[SysTry]\nEnable=" + QByteArray(tray ? "1" : "0") +
         "\n[FormResize]\nFormX=600\nFormY=500\nFormLeft=30\nFormTop=80\n";
}

class TrayTest : public ProgramFixture {
 protected:
  void StoreSettings(bool tray) {
    ASSERT_TRUE(QDir().mkpath(DataDir()));
    WriteFile(DataDir() + QStringLiteral("MP3_PLAYER_SETTINGS.DAT"), SettingsText(tray));
  }
  // A twenty-second tone, long enough to be still playing at every step of a test.
  static QString LongTone() {
    return mp3test::Made(
        QStringLiteral("tone20.mp3"),
        {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
         QStringLiteral("sine=frequency=440:duration=20:sample_rate=44100"), QStringLiteral("-ac"),
         QStringLiteral("2"), QStringLiteral("-c:a"), QStringLiteral("libmp3lame"),
         QStringLiteral("-b:a"), QStringLiteral("64k")});
  }
};

// The window of this process on the desktop with a notification area.
class TrayWindow : public TrayTest {
 protected:
  void SetUp() override {
    KeepSessionSoundServer();
    TrayTest::SetUp();
    ASSERT_TRUE(soundtest::SoundProblem().isEmpty()) << soundtest::SoundProblem().toStdString();
    ASSERT_TRUE(Desktop->TrayPresent());
  }
  void TearDown() override {
    TrayTest::TearDown();
    // Whatever a test left, the next one starts from a quitting application as usual.
    QGuiApplication::setQuitOnLastWindowClosed(true);
  }

  // Stored settings and a list of `tracks` copies of the long tone, then the window, shown.
  void StartShown(bool tray, int tracks) {
    StoreSettings(tray);
    const QString tone = LongTone();
    ASSERT_FALSE(tone.isEmpty());
    QByteArray text;
    for (int i = 0; i < tracks; ++i)
      text += QStringLiteral("[%1PlayList]\nFileName=%2\nFileSize=160\nTime=\nOnlyName=t%1.mp3\n")
                  .arg(i)
                  .arg(tone)
                  .toUtf8();
    text += "[PlayList]\nCount=" + QByteArray::number(tracks) + "\n_TotalTime=0\n";
    StoreList(text);
    Start();
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get(), kWaitMs));
  }

  static qint64 Pid() { return QCoreApplication::applicationPid(); }
  // The icons the notification area shows for this process, as the host embedded them.
  static std::size_t Icons() { return Desktop->TrayIconsOf(Pid()).size(); }
  static bool IconsBecome(std::size_t count) {
    return XDesktop::WaitFor([&] { return Icons() == count; }, kWaitMs);
  }
  // Whether the X server shows the window: the toolkit's own flag could lie.
  bool WindowMapped() const {
    for (const xcb_window_t window : Desktop->MappedWindowsOf(Pid()))
      if (window == form->winId()) return true;
    return false;
  }
  bool WindowMappedBecomes(bool mapped) const {
    return XDesktop::WaitFor(
        [&] { return WindowMapped() == mapped && form->isVisible() == mapped; }, kWaitMs);
  }
  // Presses the one icon of this process with `button`, where the host placed it.
  static void PressIcon(int button) {
    const std::vector<xcb_window_t> icons = Desktop->TrayIconsOf(Pid());
    ASSERT_EQ(icons.size(), 1u);
    const QRect rect = Desktop->ScreenRect(icons.front());
    ASSERT_FALSE(rect.isEmpty());
    ASSERT_TRUE(Desktop->Click(rect.center(), button));
  }
  void CloseFromWindowSystem() { Desktop->SendCloseRequest(form->winId()); }

  void PlayRow(int row) {
    Select(row);
    form->Mp3PlayExecute();
    ASSERT_TRUE(XDesktop::WaitFor(
        [] {
          return Mp3FileThread && Mp3FileThread->FDeviceID != 0 && Mp3FileThread->Position() > 0;
        },
        kWaitMs));
  }
  // Milliseconds the engine played during about `ms` of the window's time.
  static std::int64_t PlayedDuring(int ms) {
    const std::int64_t from = Mp3FileThread->Position();
    QTest::qWait(ms);
    return static_cast<std::int64_t>(Mp3FileThread->Position()) - from;
  }
};

TEST_F(TrayWindow, ClosingHidesTheWindowWhilePlayingGoesOnAndALeftPressBringsItBackAsItWas) {
  soundtest::MonitorRecorder recorder;
  ASSERT_TRUE(recorder.Start().isEmpty());
  ASSERT_NO_FATAL_FAILURE(StartShown(true, 3));
  ASSERT_TRUE(IconsBecome(1)) << "the option on shows the icon at start-up";
  // The start-up icon goes with a left press; the window was shown already and stays so.
  ASSERT_NO_FATAL_FAILURE(PressIcon(1));
  ASSERT_TRUE(IconsBecome(0));
  EXPECT_TRUE(WindowMapped());

  ASSERT_NO_FATAL_FAILURE(PlayRow(1));
  // A group, so that a save would write the group file too.
  form->AddMp3Group(QFileInfo(LongTone()).path(), false);
  ASSERT_EQ(form->NodeTree()->rowCount(), 1);
  Select(2);
  form->SetActivePage(form->tsPlayList);
  const TMp3PlayerPtr playing = Mp3FileThread->Mp3;
  const std::vector<TMp3PlayerPtr> records = {
      form->TrackList()->Record(0), form->TrackList()->Record(1), form->TrackList()->Record(2)};
  const auto stored = Snapshot(DataDir());

  CloseFromWindowSystem();
  ASSERT_TRUE(WindowMappedBecomes(false));
  ASSERT_TRUE(IconsBecome(1));
  EXPECT_GT(PlayedDuring(1500), 1000) << "playback goes on behind the icon";
  const std::size_t from = recorder.SampleCount();
  QTest::qWait(1000);
  const std::vector<float> samples = recorder.Samples();
  const soundtest::Heard heard =
      soundtest::Analyse({samples.begin() + static_cast<std::ptrdiff_t>(from), samples.end()});
  EXPECT_GE(heard.soundWindows, 80) << "the tone is heard while the window is hidden";
  EXPECT_NEAR(heard.hz, 440, 15);
  EXPECT_EQ(Snapshot(DataDir()), stored) << "closing to the icon writes nothing";

  ASSERT_NO_FATAL_FAILURE(PressIcon(1));
  ASSERT_TRUE(WindowMappedBecomes(true));
  EXPECT_TRUE(IconsBecome(0)) << "the left press removes the icon";
  EXPECT_EQ(form->pcMain->currentWidget(), form->tsPlayList);
  EXPECT_EQ(form->EnumTabs(), et_Mp3);
  ASSERT_EQ(Rows(), 3);
  for (int row = 0; row < 3; ++row) EXPECT_EQ(form->TrackList()->Record(row), records[row]);
  EXPECT_EQ(SelectedRows(form->lvMain), std::vector<int>{2});
  EXPECT_EQ(Mp3FileThread->Mp3, playing);
  EXPECT_GT(PlayedDuring(500), 200);
  EXPECT_EQ(Snapshot(DataDir()), stored);
}

TEST_F(TrayWindow, ARightPressOpensTheTrackListMenuOnceAtThePointerAndItsCommandsAct) {
  ASSERT_NO_FATAL_FAILURE(StartShown(true, 2));
  ASSERT_NO_FATAL_FAILURE(PlayRow(0));
  CloseFromWindowSystem();
  ASSERT_TRUE(WindowMappedBecomes(false));
  ASSERT_TRUE(IconsBecome(1)) << "an add while the icon is there leaves one icon";

  // Every opening of the menu announces itself, also one over a menu already open.
  int openings = 0;
  QObject::connect(form->PopupMenu, &QMenu::aboutToShow, form.get(), [&] { ++openings; });
  ASSERT_NO_FATAL_FAILURE(PressIcon(3));
  ASSERT_TRUE(XDesktop::WaitFor([&] { return form->PopupMenu->isVisible(); }, kWaitMs));
  QTest::qWait(300);
  EXPECT_EQ(openings, 1);
  EXPECT_TRUE(form->PopupMenu->geometry().adjusted(-2, -2, 2, 2).contains(QCursor::pos()))
      << "the menu opens at the pointer";
  EXPECT_FALSE(WindowMapped()) << "the menu does not bring the window back";

  // "Mp3 Control" is its third entry, "Pause" the second of that one.
  ASSERT_TRUE(
      Desktop->Keys({QStringLiteral("Down"), QStringLiteral("Down"), QStringLiteral("Down"),
                     QStringLiteral("Right"), QStringLiteral("Down"), QStringLiteral("Return")}));
  EXPECT_TRUE(XDesktop::WaitFor([&] { return form->Mp3Paused(); }, kWaitMs));
  EXPECT_TRUE(XDesktop::WaitFor([&] { return !form->PopupMenu->isVisible(); }, kWaitMs));
  EXPECT_FALSE(WindowMapped());
  EXPECT_EQ(Icons(), 1u);
}

// The option decides only what the next close does: the box adds and removes no icon, and a
// minimised window is no window in the notification area.
TEST_F(TrayWindow, TheBoxAndMinimisingAddAndRemoveNoIcon) {
  struct Case {
    const char* name;
    bool storedTray;
    bool boxAfter;
    std::size_t icons;
  };
  const Case cases[] = {
      {"unchecked while the start-up icon is there", true, false, 1},
      {"checked with no icon", false, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_NO_FATAL_FAILURE(StartShown(c.storedTray, 1));
    ASSERT_TRUE(IconsBecome(c.storedTray ? 1 : 0));
    form->cboxSysTray->setChecked(c.boxAfter);
    form->showMinimized();
    QTest::qWait(500);
    EXPECT_EQ(Icons(), c.icons);
    form->showNormal();
    ASSERT_TRUE(WindowMappedBecomes(true));
    // The next close follows the box: unchecked, the window saves and the program ends even
    // with the icon still there; checked, the window hides and the program goes on.
    const auto before = Snapshot(DataDir());
    const int result = RunEventLoop([&] { CloseFromWindowSystem(); }, 3000);
    EXPECT_EQ(result, c.boxAfter ? -1 : 0);
    EXPECT_FALSE(WindowMapped());
    EXPECT_EQ(Snapshot(DataDir()) == before, c.boxAfter) << "only a real close saves";
    form.reset();
    EXPECT_TRUE(IconsBecome(0)) << "the icon goes with the window";
    ASSERT_TRUE(QDir(DataDir()).removeRecursively());
  }
}

TEST_F(TrayWindow, DestroyingTheWindowRemovesTheIconItShowed) {
  ASSERT_NO_FATAL_FAILURE(StartShown(true, 1));
  CloseFromWindowSystem();
  ASSERT_TRUE(WindowMappedBecomes(false));
  ASSERT_TRUE(IconsBecome(1));
  form.reset();
  EXPECT_TRUE(IconsBecome(0));
}

// A hidden window whose notification area goes away comes back, and the options page says why
// the option does nothing without one; the next close then ends the program as usual.
TEST_F(TrayWindow, WithoutANotificationAreaNothingStaysHidden) {
  ASSERT_NO_FATAL_FAILURE(StartShown(true, 1));
  form->SetActivePage(form->tsOptions);
  EXPECT_TRUE(form->lblNoSysTray->isHidden());
  EXPECT_TRUE(form->cboxSysTray->toolTip().isEmpty());
  CloseFromWindowSystem();
  ASSERT_TRUE(WindowMappedBecomes(false));

  ASSERT_TRUE(Desktop->StopTray());
  struct RestartTray {
    ~RestartTray() { Desktop->StartTray(); }
  } restart;
  EXPECT_TRUE(WindowMappedBecomes(true)) << "the window comes back when the area goes";
  EXPECT_FALSE(form->lblNoSysTray->isHidden());
  EXPECT_EQ(form->cboxSysTray->toolTip(), form->lblNoSysTray->text());
  EXPECT_TRUE(form->cboxSysTray->isChecked()) << "the option itself stays";

  const auto before = Snapshot(DataDir());
  EXPECT_TRUE(RequestClose());
  EXPECT_NE(Snapshot(DataDir()), before) << "the close saved";
}

// Opening a file with the program while its window hides behind the icon: the later start hands
// the file over and ends, and the window comes back with the file added, as a left press would.
TEST_F(TrayWindow, ALaterStartWithAFileBringsTheHiddenWindowBack) {
  ASSERT_NO_FATAL_FAILURE(StartShown(true, 1));
  CloseFromWindowSystem();
  ASSERT_TRUE(WindowMappedBecomes(false));
  ASSERT_TRUE(IconsBecome(1));
  auto later = Launch({QStringLiteral("/music/opened.mp3")});
  EXPECT_TRUE(QTest::qWaitFor([&] { return later->state() == QProcess::NotRunning; }, kWaitMs));
  EXPECT_TRUE(WindowMappedBecomes(true));
  EXPECT_TRUE(IconsBecome(0));
  ASSERT_EQ(Rows(), 2);
  EXPECT_EQ(form->TrackList()->Record(1)->Mp3Path(), QStringLiteral("/music/opened.mp3"));
}

// While the window is hidden, closing a window of no parent (a message box) must not end the
// program: nothing would have been saved.
TEST_F(TrayWindow, ClosingAnotherWindowWhileHiddenKeepsTheProgramRunning) {
  ASSERT_NO_FATAL_FAILURE(StartShown(true, 1));
  CloseFromWindowSystem();
  ASSERT_TRUE(WindowMappedBecomes(false));
  const int result = RunEventLoop([] {
    auto* box = new QWidget;
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->show();
    QTimer::singleShot(200, box, [box] { box->close(); });
    QTimer::singleShot(1000, qApp, [] { QCoreApplication::exit(7); });
  });
  EXPECT_EQ(result, 7) << "the event loop ended when the other window closed";
  EXPECT_FALSE(form->isVisible());
}

// The real program on the desktop.
class TrayProgram : public TrayTest {
 protected:
  // The fixture's data and runtime folders are in the environment the desktop hands on.
  static std::unique_ptr<QProcess> LaunchOn(const XDesktop& desktop, const QStringList& arguments) {
    const QProcessEnvironment env = desktop.Environment();
    return Launch(arguments, {}, &env);
  }
  static xcb_window_t MainWindowOf(XDesktop& desktop, const QProcess& process) {
    xcb_window_t found = 0;
    XDesktop::WaitFor(
        [&] {
          const auto windows = desktop.MappedWindowsOf(process.processId());
          found = windows.size() == 1 ? windows.front() : 0;
          return found != 0;
        },
        kWaitMs);
    return found;
  }
  static bool Ends(QProcess& process) {
    return XDesktop::WaitFor([&] { return process.state() == QProcess::NotRunning; }, 20000) &&
           process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
  }
  void TearDown() override {
    if (program_ && program_->state() != QProcess::NotRunning) {
      program_->kill();
      program_->waitForFinished(5000);
    }
    TrayTest::TearDown();
  }
  // The main list the program wrote: the file names of its entries.
  QStringList StoredNames() const {
    const platform::IniFile ini(ListFile());
    QStringList names;
    const int count = ini.readInteger("PlayList", "Count", 0);
    for (int i = 0; i < count; ++i)
      names << ini.readString(QStringLiteral("%1PlayList").arg(i).toLatin1().constData(),
                              "OnlyName", {});
    return names;
  }
  std::unique_ptr<QProcess> program_;
};

TEST_F(TrayProgram, ExitFromTheIconMenuEndsTheProgramAndWritesTheLists) {
  StoreSettings(true);
  const QString tone = LongTone();
  ASSERT_FALSE(tone.isEmpty());
  program_ = LaunchOn(*Desktop, {tone});
  const xcb_window_t window = MainWindowOf(*Desktop, *program_);
  ASSERT_NE(window, 0u);
  const qint64 pid = program_->processId();
  ASSERT_TRUE(XDesktop::WaitFor([&] { return Desktop->TrayIconsOf(pid).size() == 1; }, kWaitMs));
  const auto stored = Snapshot(DataDir());

  Desktop->SendCloseRequest(window);
  ASSERT_TRUE(XDesktop::WaitFor([&] { return Desktop->MappedWindowsOf(pid).empty(); }, kWaitMs));
  QTest::qWait(300);
  EXPECT_EQ(program_->state(), QProcess::Running);
  EXPECT_EQ(Snapshot(DataDir()), stored) << "closing to the icon writes nothing";
  ASSERT_FALSE(QFile::exists(ListFile()));

  const std::vector<xcb_window_t> icons = Desktop->TrayIconsOf(pid);
  ASSERT_EQ(icons.size(), 1u);
  ASSERT_TRUE(Desktop->Click(Desktop->ScreenRect(icons.front()).center(), 3));
  QTest::qWait(500);
  // "Exit" is the menu's last entry: Up from none reaches it.
  ASSERT_TRUE(Desktop->Keys({QStringLiteral("Up"), QStringLiteral("Return")}));
  EXPECT_TRUE(Ends(*program_)) << program_->readAllStandardError().toStdString();
  EXPECT_EQ(StoredNames(), QStringList{QStringLiteral("tone20.mp3")});
  const platform::IniFile settings(DataDir() + QStringLiteral("MP3_PLAYER_SETTINGS.DAT"));
  EXPECT_EQ(settings.readInteger("SysTry", "Enable", 0), 1);
  EXPECT_EQ(settings.readInteger("Volume", "CurrVolume", 0), 50) << "the settings were written";
  EXPECT_TRUE(Desktop->TrayIconsOf(pid).empty());
}

TEST_F(TrayProgram, WithNoNotificationAreaClosingWithTheOptionOnEndsTheProgram) {
  XDesktop bare(false);
  ASSERT_TRUE(bare.Problem().isEmpty()) << bare.Problem().toStdString();
  StoreSettings(true);
  const QString tone = LongTone();
  ASSERT_FALSE(tone.isEmpty());
  program_ = LaunchOn(bare, {tone});
  const xcb_window_t window = MainWindowOf(bare, *program_);
  ASSERT_NE(window, 0u);
  bare.SendCloseRequest(window);
  EXPECT_TRUE(Ends(*program_)) << program_->readAllStandardError().toStdString();
  EXPECT_EQ(StoredNames(), QStringList{QStringLiteral("tone20.mp3")});
  const platform::IniFile settings(DataDir() + QStringLiteral("MP3_PLAYER_SETTINGS.DAT"));
  EXPECT_EQ(settings.readInteger("SysTry", "Enable", 0), 1) << "the option itself is kept";
}

}  // namespace

int main(int argc, char** argv) {
  return RunTestsOnOwnDesktop(argc, argv, true, Desktop);
}
