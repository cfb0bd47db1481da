#pragma once
// A main window started the way the program starts it, in a private home: its data and lock
// folders are temporary, and its dialogs are answered by the test.
#include <gtest/gtest.h>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QItemSelectionModel>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <vector>

#include "platform/atomicfile.h"
#include "tests/support/scripteddialogs.h"
#include "ui/formprogress.h"
#include "ui/mainform.h"
#include "ui/tracklistmodel.h"

// A data folder that nobody may write into, root included: chmod for a user, the immutable
// attribute for root. Undone by the destructor.
class ReadOnlyFolder {
 public:
  explicit ReadOnlyFolder(const QString& folder) : native_(QFile::encodeName(folder)) {
    if (::geteuid() != 0) {
      chmodded_ = ::chmod(native_.constData(), 0500) == 0;
    } else {
      immutable_ = QProcess::execute(QStringLiteral("chattr"),
                                     {QStringLiteral("+i"), QString::fromLocal8Bit(native_)}) == 0;
    }
  }
  ~ReadOnlyFolder() {
    if (chmodded_) ::chmod(native_.constData(), 0700);
    if (immutable_)
      QProcess::execute(QStringLiteral("chattr"),
                        {QStringLiteral("-i"), QString::fromLocal8Bit(native_)});
  }
  ReadOnlyFolder(const ReadOnlyFolder&) = delete;
  ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;
  bool Works() const { return platform::probeWritableFolder(QString::fromLocal8Bit(native_)) != 0; }

 private:
  QByteArray native_;
  bool chmodded_ = false;
  bool immutable_ = false;
};

// The selected rows of a list view, in order.
inline std::vector<int> SelectedRows(const QAbstractItemView* view) {
  std::vector<int> rows;
  for (const QModelIndex& index : view->selectionModel()->selectedRows())
    rows.push_back(index.row());
  std::sort(rows.begin(), rows.end());
  return rows;
}

class MainFormFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(home.isValid());
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath(QStringLiteral("data"))));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(home.filePath(QStringLiteral("run"))));
    ASSERT_TRUE(QDir().mkpath(home.filePath(QStringLiteral("run"))));
  }
  void TearDown() override {
    form.reset();
    FormProgress.reset();
  }

  // SetUp gives the window a private runtime folder; call this first so that the sound server
  // stays the one of the session.
  static void KeepSessionSoundServer() {
    if (qEnvironmentVariableIsEmpty("PULSE_SERVER") &&
        !qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
      qputenv("PULSE_SERVER", "unix:" + qgetenv("XDG_RUNTIME_DIR") + "/pulse/native");
  }

  QString DataDir() const { return home.filePath(QStringLiteral("data/velmo/")); }
  QString ListFile() const { return DataDir() + QStringLiteral("MP3_PLAYER_PLAY_LIST.DAT"); }

  // A stored main list of `count` tracks.
  static QByteArray ListText(int count, std::int64_t total = 185000) {
    QByteArray text;
    for (int i = 0; i < count; ++i)
      text += QStringLiteral(
                  "[%1PlayList]\nFileName=/music/track %1.mp3\nFileSize=%2\n"
                  "Time=0:3:05\nOnlyName=track %1.mp3\n")
                  .arg(i)
                  .arg(1000 + i)
                  .toUtf8();
    text += "[PlayList]\nCount=" + QByteArray::number(count) +
            "\n_TotalTime=" + QByteArray::number(static_cast<qlonglong>(total)) + "\n";
    return text;
  }
  void StoreList(const QByteArray& text) {
    ASSERT_TRUE(QDir().mkpath(DataDir()));
    WriteFile(ListFile(), text);
  }
  static void WriteFile(const QString& path, const QByteArray& text) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
  }
  static QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }

  void Start(const QStringList& arguments = {}) {
    form = std::make_unique<TMainForm>(arguments);
    ASSERT_FALSE(form->IsSecondCopy());
    QCoreApplication::processEvents();
  }
  void ShowAndActivate() {
    form->show();
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get(), 5000));
  }
  // Sends a close request the way the window system does; true when the window agreed.
  bool RequestClose() {
    QCloseEvent event;
    QCoreApplication::sendEvent(form.get(), &event);
    return event.isAccepted();
  }
  // Runs the event loop until something ends it, or `limitMs` pass (then returns -1).
  static int RunEventLoop(const std::function<void()>& first, int limitMs = 10000) {
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(-1); });
    guard.start(limitMs);
    QTimer::singleShot(0, qApp, first);
    return QApplication::exec();
  }
  // A key pressed with `target` focused, as a person would press it.
  static void Press(QWidget* target, Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
    target->setFocus();
    QTest::keyClick(target, key, modifiers);
    QCoreApplication::processEvents();
  }
  // Selects only this row of the main list, as a click on it does.
  void Select(int row) {
    form->lvMain->selectionModel()->select(
        form->TrackList()->index(row, 0),
        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  }
  int Rows() const { return form->TrackList()->rowCount(); }
  QAction* Cmd(const char* name) const {
    QAction* action = form->Command(QLatin1String(name));
    EXPECT_NE(action, nullptr) << name;
    return action;
  }

  QTemporaryDir home;
  ScriptedDialogs dialogs;
  std::unique_ptr<TMainForm> form;
};
