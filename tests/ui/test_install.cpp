// The program as `cmake --install` lays it out: every file in its place, a desktop entry the
// desktop's own checker accepts, and the installed program, started from another folder on a
// virtual X desktop of the test's own, finding its language files and showing its icon.
#include <gtest/gtest.h>
#include <QApplication>
#include <QDirIterator>
#include <QFileInfo>
#include <QImage>
#include <QSystemTrayIcon>

#include <cstring>
#include <set>

#include "tests/support/qtprint.h"
#include "tests/ui/programfixture.h"
#include "tests/ui/xdesktop.h"

namespace {

XDesktop* Desktop = nullptr;

constexpr int kWaitMs = 10000;
const int kPngSizes[] = {32, 48, 128};

QString SourceFile(const QString& relative) {
  return QStringLiteral(VELMO_SOURCE_DIR "/") + relative;
}

struct ToolRun {
  int code = -1;  // -1: did not start, crashed or did not end in time
  QByteArray output;
};

ToolRun RunTool(const QString& program, const QStringList& arguments) {
  QProcess tool;
  tool.setProcessChannelMode(QProcess::MergedChannels);
  tool.start(program, arguments);
  ToolRun run;
  if (!tool.waitForStarted(5000)) return run;
  if (!tool.waitForFinished(120000)) {
    tool.kill();
    tool.waitForFinished(5000);
  } else if (tool.exitStatus() == QProcess::NormalExit) {
    run.code = tool.exitCode();
  }
  run.output = tool.readAll();
  return run;
}

// The keys of a desktop entry's main group.
std::map<QString, QString> EntryKeys(const QString& path) {
  QFile file(path);
  EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
  std::map<QString, QString> keys;
  bool inMain = false;
  for (const QString& line : QString::fromUtf8(file.readAll()).split(u'\n')) {
    if (line.startsWith(u'[')) inMain = line == QLatin1String("[Desktop Entry]");
    const qsizetype split = line.indexOf(u'=');
    if (inMain && split > 0) keys[line.left(split)] = line.mid(split + 1);
  }
  return keys;
}

// A PNG as a window shows it: through a premultiplied pixmap and back, as every icon goes.
QImage AsShown(const QImage& png) {
  return png.convertToFormat(QImage::Format_ARGB32_Premultiplied)
      .convertToFormat(QImage::Format_ARGB32);
}
QImage Shown(const QIcon& icon, int size) {
  return icon.pixmap(size).toImage().convertToFormat(QImage::Format_ARGB32);
}

// Equal images, or where they first differ.
::testing::AssertionResult SameImage(const QImage& shown, const QImage& drawing) {
  if (shown.size() != drawing.size())
    return ::testing::AssertionFailure() << shown.width() << "x" << shown.height() << " against "
                                         << drawing.width() << "x" << drawing.height();
  for (int y = 0; y < shown.height(); ++y)
    for (int x = 0; x < shown.width(); ++x)
      if (shown.pixel(x, y) != drawing.pixel(x, y))
        return ::testing::AssertionFailure()
               << "pixel " << x << "," << y << ": " << std::hex << shown.pixel(x, y) << " against "
               << drawing.pixel(x, y);
  return ::testing::AssertionSuccess();
}

// The images of a _NET_WM_ICON value: width, height, then width x height ARGB pixels, in turn.
std::vector<QImage> WindowIcons(const QByteArray& value) {
  std::vector<quint32> units(static_cast<std::size_t>(value.size()) / 4);
  std::memcpy(units.data(), value.constData(), units.size() * 4);
  std::vector<QImage> images;
  std::size_t at = 0;
  while (at + 2 <= units.size()) {
    const std::size_t width = units[at], height = units[at + 1];
    at += 2;
    if (width == 0 || height == 0 || width > 1024 || height > 1024 ||
        width * height > units.size() - at)
      break;
    QImage image(static_cast<int>(width), static_cast<int>(height), QImage::Format_ARGB32);
    for (std::size_t y = 0; y < height; ++y)
      std::memcpy(image.scanLine(static_cast<int>(y)), units.data() + at + y * width, width * 4);
    at += width * height;
    images.push_back(image);
  }
  return images;
}

bool IsDialog(xcb_window_t window) {
  const QByteArray types = Desktop->Property(window, "_NET_WM_WINDOW_TYPE");
  const xcb_atom_t dialog = Desktop->Atom("_NET_WM_WINDOW_TYPE_DIALOG");
  for (qsizetype at = 0; at + 4 <= types.size(); at += 4) {
    xcb_atom_t atom = 0;
    std::memcpy(&atom, types.constData() + at, 4);
    if (atom == dialog) return true;
  }
  return false;
}

// A fresh install of this build into a temporary prefix for every test.
class InstalledTree : public ProgramFixture {
 protected:
  void SetUp() override {
    ProgramFixture::SetUp();
    ASSERT_TRUE(prefix.isValid());
    const ToolRun run =
        RunTool(QStringLiteral(VELMO_CMAKE_COMMAND),
                {QStringLiteral("--install"), qEnvironmentVariable("VELMO_BUILD_DIR"),
                 QStringLiteral("--prefix"), prefix.path()});
    ASSERT_EQ(run.code, 0) << run.output.toStdString();
  }
  void TearDown() override {
    if (program && program->state() != QProcess::NotRunning) {
      program->kill();
      program->waitForFinished(5000);
    }
    ProgramFixture::TearDown();
  }
  QString Installed(const QString& relative) const { return prefix.filePath(relative); }
  // Whether the window's icon, as the window manager reads it, holds every installed PNG.
  ::testing::AssertionResult ShowsTheInstalledIcon(xcb_window_t window) const {
    const std::vector<QImage> icons = WindowIcons(Desktop->Property(window, "_NET_WM_ICON"));
    for (const int size : kPngSizes) {
      const QImage installed = AsShown(QImage(Installed(IconPath(size))));
      if (installed.isNull()) return ::testing::AssertionFailure() << IconPath(size).toStdString();
      if (std::none_of(icons.begin(), icons.end(),
                       [&](const QImage& icon) { return SameImage(icon, installed); }))
        return ::testing::AssertionFailure() << "no image like the installed " << size << "x"
                                             << size << " among " << icons.size();
    }
    return ::testing::AssertionSuccess();
  }
  static QString IconPath(int size) {
    return QStringLiteral("share/icons/hicolor/%1x%1/apps/velmo.png").arg(size);
  }

  // The installed program, started on the desktop from `folder`, with the fixture's private data
  // and runtime folders, whose stored settings choose Bulgarian.
  void LaunchInstalledInBulgarian(const QString& folder) {
    ASSERT_TRUE(QDir().mkpath(DataDir()));
    WriteFile(DataDir() + QStringLiteral("MP3_PLAYER_SETTINGS.DAT"),
              "[SET_LANGUAGE]\nDEFAULT_LANGUAGE=1\n");
    program = std::make_unique<QProcess>();
    program->setProcessEnvironment(Desktop->Environment());
    program->setWorkingDirectory(folder);
    program->start(Installed(QStringLiteral("bin/velmo")), {});
    ASSERT_TRUE(program->waitForStarted(5000));
  }
  // The program's first mapped windows: the main window, or a message box it shows before it.
  std::vector<xcb_window_t> FirstWindows() const {
    std::vector<xcb_window_t> windows;
    XDesktop::WaitFor(
        [&] {
          windows = Desktop->MappedWindowsOf(program->processId());
          return !windows.empty();
        },
        kWaitMs);
    return windows;
  }

  QTemporaryDir prefix;
  std::unique_ptr<QProcess> program;
};

TEST_F(InstalledTree, EveryFileIsInItsPlaceAsItsSourceAndNothingElseIsInstalled) {
  struct File {
    QString path;
    QString source;  // empty for the program, which the install rewrites
    int pixels;      // the side of a PNG icon, else 0
  };
  std::vector<File> files = {
      {QStringLiteral("bin/velmo"), {}, 0},
      {QStringLiteral("share/velmo/english.lng"), QStringLiteral("lng/english.lng"), 0},
      {QStringLiteral("share/velmo/bulgarian.lng"), QStringLiteral("lng/bulgarian.lng"), 0},
      {QStringLiteral("share/applications/velmo.desktop"), QStringLiteral("app/velmo.desktop"), 0},
      {QStringLiteral("share/icons/hicolor/scalable/apps/velmo.svg"),
       QStringLiteral("app/icons/velmo.svg"), 0},
  };
  for (const int size : kPngSizes)
    files.push_back({IconPath(size), QStringLiteral("app/icons/velmo-%1.png").arg(size), size});

  std::set<QString> expected, found;
  for (const File& file : files) expected.insert(file.path);
  QDirIterator walk(prefix.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
  while (walk.hasNext()) found.insert(QDir(prefix.path()).relativeFilePath(walk.next()));
  EXPECT_EQ(found, expected);

  for (const File& file : files) {
    SCOPED_TRACE(file.path.toStdString());
    const QString path = Installed(file.path);
    if (file.source.isEmpty()) {
      EXPECT_TRUE(QFileInfo(path).isExecutable());
      continue;
    }
    EXPECT_EQ(ReadFile(path), ReadFile(SourceFile(file.source)));
    if (file.pixels) {
      EXPECT_EQ(QImage(path).size(), QSize(file.pixels, file.pixels));
    }
  }
}

TEST_F(InstalledTree, TheDesktopEntryPassesTheCheckerAndNamesTheInstalledProgramAndIcon) {
  const QString entry = Installed(QStringLiteral("share/applications/velmo.desktop"));
  for (const QString& path : {SourceFile(QStringLiteral("app/velmo.desktop")), entry}) {
    SCOPED_TRACE(path.toStdString());
    const ToolRun run = RunTool(QStringLiteral("desktop-file-validate"), {path});
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(run.output.toStdString(), "") << "hints and warnings count too";
  }
  std::map<QString, QString> keys = EntryKeys(entry);
  const QString program = keys[QStringLiteral("Exec")].section(u' ', 0, 0);
  EXPECT_TRUE(QFileInfo(Installed(QStringLiteral("bin/") + program)).isExecutable())
      << program.toStdString();
  const QString icon = keys[QStringLiteral("Icon")];
  EXPECT_TRUE(QFile::exists(Installed(QStringLiteral("share/icons/hicolor/scalable/apps/") + icon +
                                      QStringLiteral(".svg"))))
      << icon.toStdString();
  // The file manager offers the program for what it opens: MP3 files and radio play lists.
  const QStringList types = keys[QStringLiteral("MimeType")].split(u';', Qt::SkipEmptyParts);
  for (const char* type : {"audio/mpeg", "audio/x-mpegurl", "audio/x-scpls"})
    EXPECT_TRUE(types.contains(QLatin1String(type))) << type;
  EXPECT_FALSE(keys[QStringLiteral("Comment[bg]")].isEmpty());
  EXPECT_NE(keys[QStringLiteral("Comment[bg]")], keys[QStringLiteral("Comment")]);
}

TEST_F(InstalledTree, StartedFromAnotherFolderTheProgramReadsItsInstalledLanguageAndShowsItsIcon) {
  QTemporaryDir elsewhere;
  ASSERT_NO_FATAL_FAILURE(LaunchInstalledInBulgarian(elsewhere.path()));
  const std::vector<xcb_window_t> windows = FirstWindows();
  ASSERT_EQ(windows.size(), 1u) << program->readAllStandardError().toStdString();
  const xcb_window_t window = windows.front();
  // A language file that is not found is reported in a box before the window shows.
  EXPECT_FALSE(IsDialog(window));

  // The desktop ties the window to its entry through the class.
  const QByteArray wmClass = Desktop->Property(window, "WM_CLASS");
  EXPECT_EQ(QString::fromLatin1(wmClass.split('\0').value(1)),
            EntryKeys(Installed(QStringLiteral(
                "share/applications/velmo.desktop")))[QStringLiteral("StartupWMClass")])
      << wmClass.toStdString();

  EXPECT_TRUE(ShowsTheInstalledIcon(window));

  Desktop->SendCloseRequest(window);
  ASSERT_TRUE(XDesktop::WaitFor([&] { return program->state() == QProcess::NotRunning; }, 20000));
  EXPECT_EQ(program->exitCode(), 0) << program->readAllStandardError().toStdString();
}

// The other side of the test above: the file it found was the installed one.
TEST_F(InstalledTree, WithoutTheInstalledLanguageFileTheProgramSaysSoBeforeItsWindow) {
  ASSERT_TRUE(QFile::remove(Installed(QStringLiteral("share/velmo/bulgarian.lng"))));
  QTemporaryDir elsewhere;
  ASSERT_NO_FATAL_FAILURE(LaunchInstalledInBulgarian(elsewhere.path()));
  const std::vector<xcb_window_t> windows = FirstWindows();
  ASSERT_EQ(windows.size(), 1u);
  EXPECT_TRUE(IsDialog(windows.front()));
  EXPECT_TRUE(ShowsTheInstalledIcon(windows.front())) << "a message box shows the icon too";
}

// The window of this process, whose icons come from the program's own resources.
class ProgramIconWindow : public MainFormFixture {};

TEST_F(ProgramIconWindow, TheWindowAndItsNotificationAreaIconShowTheSameDrawingAsTheFiles) {
  ASSERT_TRUE(QDir().mkpath(DataDir()));
  WriteFile(DataDir() + QStringLiteral("MP3_PLAYER_SETTINGS.DAT"), "[SysTry]\nEnable=1\n");
  Start();
  const QIcon window = form->windowIcon(), tray = form->TrayIcon()->icon();
  for (const int size : kPngSizes) {
    SCOPED_TRACE(size);
    const QImage drawing =
        AsShown(QImage(SourceFile(QStringLiteral("app/icons/velmo-%1.png").arg(size))));
    ASSERT_FALSE(drawing.isNull());
    EXPECT_TRUE(SameImage(Shown(window, size), drawing));
    EXPECT_TRUE(SameImage(Shown(tray, size), drawing));
  }
  // Notification areas ask for small sizes, made from the same drawing.
  EXPECT_FALSE(Shown(tray, 22).isNull());
  EXPECT_TRUE(SameImage(Shown(tray, 22), Shown(window, 22)));
}

}  // namespace

int main(int argc, char** argv) {
  return RunTestsOnOwnDesktop(argc, argv, false, Desktop);
}
