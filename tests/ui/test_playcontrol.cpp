// Play control in the real window against the real sound server: which track plays after each
// command and at the end of a track, pause and seek, stop, volume, the check-list order and
// the folder tree. Tracks are one-second MP3 files, so every end of track comes quickly; every
// wait is bounded.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QScrollBar>
#include <QTabWidget>
#include <QToolButton>
#include <QTreeView>

#include <fcntl.h>
#include <unistd.h>

#include "platform/pathcodec.h"
#include "tests/audio/mp3testfiles.h"
#include "tests/ui/mainformfixture.h"
#include "ui/nodetree.h"

namespace {

using namespace std::chrono_literals;

class PlayControl : public MainFormFixture {
 protected:
  void SetUp() override {
    KeepSessionSoundServer();
    MainFormFixture::SetUp();
  }
  // Copies of a one-second tone named `names`, stored as the main list in that order.
  void StartWithTracks(const QStringList& names) {
    ASSERT_TRUE(QDir().mkpath(home.filePath(QStringLiteral("music"))));
    QByteArray text;
    for (int i = 0; i < names.size(); ++i) {
      const QString path = home.filePath(QStringLiteral("music/") + names[i]);
      if (!QFile::exists(path)) {
        ASSERT_TRUE(QFile::copy(mp3test::File("cbr"), path));
      }
      paths << path;
      text += QStringLiteral("[%1PlayList]\nFileName=%2\nFileSize=17\nTime=\nOnlyName=%3\n")
                  .arg(i)
                  .arg(path, names[i])
                  .toUtf8();
    }
    text += "[PlayList]\nCount=" + QByteArray::number(names.size()) + "\n_TotalTime=0\n";
    StoreList(text);
    Start();
    ASSERT_EQ(Rows(), names.size());
  }
  void StartWithTracks(int count) {
    QStringList names;
    for (int i = 0; i < count; ++i) names << QStringLiteral("track %1.mp3").arg(i);
    StartWithTracks(names);
  }

  void PlayRow(int row) {
    Select(row);
    form->Mp3PlayExecute();
    Turn();
  }
  // One pass of the event loop: the queued open of a new engine runs.
  static void Turn() { QCoreApplication::processEvents(); }

  // The row whose record the current engine has open, -1 when it has none open.
  int PlayingRow() const {
    if (!Mp3FileThread || Mp3FileThread->FDeviceID == 0) return -1;
    for (int row = 0; row < Rows(); ++row)
      if (form->TrackList()->Record(row) == Mp3FileThread->Mp3) return row;
    return -1;
  }
  // The rows played from now on, as the timer advances, until `done` or `limit`.
  std::vector<int> Watch(const std::function<bool(const std::vector<int>&)>& done,
                         std::chrono::milliseconds limit) {
    std::vector<int> played{PlayingRow()};
    const TMp3FileThread* seen = Mp3FileThread.get();
    (void)QTest::qWaitFor(
        [&] {
          if (Mp3FileThread.get() != seen && Mp3FileThread->FDeviceID != 0) {
            seen = Mp3FileThread.get();
            played.push_back(PlayingRow());
          }
          return done(played);
        },
        static_cast<int>(limit.count()));
    return played;
  }
  bool TimerOn() const { return form->Timer->isActive(); }

  QStringList paths;
};

TEST_F(PlayControl, NextWrapsFromTheLastRowAndPrevStopsAtTheFirst) {
  StartWithTracks(3);
  const struct {
    int from;
    void (TMainForm::*step)();
    int expected;
  } cases[] = {{2, &TMainForm::Mp3NextExecute, 0},
               {0, &TMainForm::Mp3NextExecute, 1},
               {2, &TMainForm::Mp3PrevExecute, 1},
               {0, &TMainForm::Mp3PrevExecute, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "from row " << c.from);
    PlayRow(c.from);
    ASSERT_EQ(PlayingRow(), c.from) << "device error " << Mp3FileThread->MyError;
    const TMp3FileThread* before = Mp3FileThread.get();
    (form.get()->*c.step)();
    Turn();
    EXPECT_EQ(PlayingRow(), c.expected);
    if (c.from == c.expected) {
      EXPECT_EQ(Mp3FileThread.get(), before) << "nothing new starts";
    }
    EXPECT_EQ(form->ItemIndex(), c.expected);
    EXPECT_EQ(form->NewID(), c.expected);
    // The playing mark is on the playing row only.
    for (int row = 0; row < Rows(); ++row)
      EXPECT_EQ(form->TrackList()->Record(row)->Mp3State(), row == c.expected ? 1 : 0) << row;
  }
}

TEST_F(PlayControl, TheListAdvancesAtTheEndOfATrackAndRepeatsOnlyWhenAskedTo) {
  StartWithTracks(2);
  for (const bool repeat : {false, true}) {
    SCOPED_TRACE(repeat ? "repeat" : "no repeat");
    form->cboxRepeat->setChecked(repeat);
    PlayRow(0);
    const std::vector<int> played = Watch(
        [&](const std::vector<int>& rows) {
          if (repeat) return rows.size() >= 3;
          return rows.size() >= 3 || (rows.size() == 2 && Mp3FileThread->IsStopped());
        },
        15s);
    if (repeat) {
      EXPECT_EQ(played, (std::vector<int>{0, 1, 0}));
    } else {
      EXPECT_EQ(played, (std::vector<int>{0, 1}));
      // The list ends: nothing starts after its last track, however long the timer runs.
      const TMp3FileThread* last = Mp3FileThread.get();
      QTest::qWait(500);
      EXPECT_EQ(Mp3FileThread.get(), last);
      EXPECT_TRUE(Mp3FileThread->IsStopped());
    }
  }
}

TEST_F(PlayControl, PlaybackEndsWithTheTrackWhileAnotherPageIsShown) {
  StartWithTracks(2);
  PlayRow(0);
  form->pcMain->setCurrentWidget(form->tsOptions);
  const TMp3FileThread* engine = Mp3FileThread.get();
  ASSERT_TRUE(QTest::qWaitFor([&] { return Mp3FileThread->IsStopped(); }, 5000));
  QTest::qWait(400);
  EXPECT_EQ(Mp3FileThread.get(), engine);
  EXPECT_EQ(form->StatusPanel(0)->text(), QStringLiteral("Time 0:0:01"));
  // The bar follows the position to within what one of its pixels stands for.
  const int max = form->Progress->maximum();
  EXPECT_GT(max, 900);
  EXPECT_NEAR(form->Progress->value(), max, max / form->Progress->width() + 1);
}

TEST_F(PlayControl, CheckListPlaysTheTickedRowsInTurn) {
  // Sorting reorders the rows while the records keep their ids: the ticked rows still decide.
  for (const bool sorted : {false, true}) {
    SCOPED_TRACE(sorted ? "after sorting" : "as loaded");
    form.reset();
    paths.clear();
    StartWithTracks({QStringLiteral("f.mp3"), QStringLiteral("e.mp3"), QStringLiteral("d.mp3"),
                     QStringLiteral("c.mp3"), QStringLiteral("b.mp3"), QStringLiteral("a.mp3")});
    if (sorted) form->lvMainColumnClick(TTrackListModel::colTitle);
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    form->cboxShowCheckList->setChecked(true);
    const auto clickRow0 = [&] {
      const QRect rect =
          form->lvMain->visualRect(form->TrackList()->index(0, TTrackListModel::colTitle));
      QTest::mouseClick(form->lvMain->viewport(), Qt::LeftButton, {}, rect.center());
      Turn();
    };
    const auto play = [&] {
      form->Mp3PlayExecute();
      Turn();
      return Mp3FileThread->Mp3;
    };
    const auto row = [&](int r) { return form->TrackList()->Record(r); };

    form->TrackList()->SetChecked(2, true);
    form->TrackList()->SetChecked(5, true);
    clickRow0();
    std::vector<TMp3PlayerPtr> played;
    for (int i = 0; i < 4; ++i) played.push_back(play());
    EXPECT_EQ(played, (std::vector<TMp3PlayerPtr>{row(2), row(5), row(2), row(5)}));

    // Ticks changed without a click leave the order as it was; the next click takes them.
    form->TrackList()->SetChecked(5, false);
    form->TrackList()->SetChecked(4, true);
    EXPECT_EQ(play(), row(2));
    clickRow0();
    EXPECT_EQ(play(), row(4));
  }
}

TEST_F(PlayControl, AMissingFileIsReportedAndTheTrackPlayingGoesOn) {
  StartWithTracks(2);
  PlayRow(0);
  const TMp3FileThread* engine = Mp3FileThread.get();
  ASSERT_TRUE(QFile::remove(paths[1]));
  PlayRow(1);
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].text, QStringLiteral("File not found!"));
  EXPECT_EQ(Mp3FileThread.get(), engine);
  EXPECT_EQ(PlayingRow(), 0);
  EXPECT_FALSE(Mp3FileThread->IsStopped());
}

TEST_F(PlayControl, AFileThatCannotBeOpenedGivesSilenceAndAnEmptyBar) {
  StartWithTracks(2);
  MainFormFixture::WriteFile(paths[0], "no audio in here\n");
  PlayRow(0);
  EXPECT_EQ(Mp3FileThread->FDeviceID, 0);
  EXPECT_EQ(form->Progress->maximum(), 0);
  EXPECT_TRUE(TimerOn());
  const TMp3FileThread* engine = Mp3FileThread.get();
  QTest::qWait(400);
  EXPECT_EQ(form->StatusPanel(0)->text(), QStringLiteral("Time 0:0:00"));
  EXPECT_EQ(Mp3FileThread.get(), engine) << "nothing advances";
  EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(PlayControl, AutomaticAdvancePassesOverTracksThatCannotBePlayed) {
  StartWithTracks({QStringLiteral("first.mp3"), QStringLiteral("missing.mp3"),
                   QStringLiteral("empty.mp3"), QStringLiteral("text.mp3"),
                   QStringLiteral("folder.mp3"), QStringLiteral("last.mp3")});
  ASSERT_TRUE(QFile::remove(paths[1]));
  MainFormFixture::WriteFile(paths[2], QByteArray());
  MainFormFixture::WriteFile(paths[3], "no audio in here\n");
  ASSERT_TRUE(QFile::remove(paths[4]) && QDir().mkpath(paths[4]));
  PlayRow(0);
  const std::vector<int> played =
      Watch([](const std::vector<int>& rows) { return rows.size() >= 2; }, 10s);
  EXPECT_EQ(played, (std::vector<int>{0, 5}));
  EXPECT_TRUE(dialogs.messages.empty()) << "no message box stops the music";
  for (int row = 0; row < Rows(); ++row)
    EXPECT_EQ(form->TrackList()->Record(row)->Mp3State(), row == 5 ? 1 : 0) << row;

  // The user's own Play keeps its answers.
  PlayRow(1);
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].text, QStringLiteral("File not found!"));
}

TEST_F(PlayControl, AdvanceEndsWhenNothingIsLeftToPlay) {
  for (const bool repeat : {false, true}) {
    SCOPED_TRACE(repeat ? "a whole pass with repeat" : "the end of the list");
    StartWithTracks(
        {QStringLiteral("only.mp3"), QStringLiteral("gone.mp3"), QStringLiteral("text.mp3")});
    ASSERT_TRUE(QFile::remove(paths[1]));
    MainFormFixture::WriteFile(paths[2], "no audio in here\n");
    form->cboxRepeat->setChecked(repeat);
    PlayRow(0);
    ASSERT_EQ(PlayingRow(), 0);
    // The playing track itself is gone by the time the pass comes round to it.
    ASSERT_TRUE(QFile::remove(paths[0]));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
          return Mp3FileThread->Mp3 != form->TrackList()->Record(0) || Mp3FileThread->IsStopped();
        },
        5000));
    QTest::qWait(1500);
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(PlayingRow(), -1) << "nothing plays";
    if (repeat) {
      EXPECT_FALSE(TimerOn()) << "a whole pass found nothing: playback stops";
    }
    const TMp3FileThread* engine = Mp3FileThread.get();
    QTest::qWait(500);
    EXPECT_EQ(Mp3FileThread.get(), engine) << "no endless retries";
    for (int row = 0; row < Rows(); ++row)
      EXPECT_EQ(form->TrackList()->Record(row)->Mp3State(), 0) << row;
    form.reset();
    paths.clear();
    dialogs.messages.clear();
  }
}

TEST_F(PlayControl, ADoubleClickBelowTheRowsPlaysTheSelectedRow) {
  StartWithTracks(2);
  ShowAndActivate();
  Select(1);
  QWidget* viewport = form->lvMain->viewport();
  const QPoint below(20, viewport->height() - 4);
  ASSERT_FALSE(form->lvMain->indexAt(below).isValid()) << "the list must have room below";
  QTest::mouseDClick(viewport, Qt::LeftButton, {}, below);
  Turn();
  EXPECT_EQ(PlayingRow(), 1);
}

TEST_F(PlayControl, PauseResumeAndASeekWhilePaused) {
  StartWithTracks(2);
  for (const auto& [language, pauseText, resumeText] :
       {std::tuple{0, "Pause", "Resume"}, {1, "Пауза", "Продължи"}}) {
    SCOPED_TRACE(language);
    form->cboxLng->setCurrentIndex(language);
    PlayRow(0);
    ASSERT_GT(form->Progress->maximum(), 900);

    form->Mp3PauseExecute();
    EXPECT_TRUE(form->Mp3Paused());
    EXPECT_FALSE(TimerOn());
    EXPECT_EQ(form->btnPause->text(), QString::fromUtf8(resumeText));
    EXPECT_TRUE(Mp3FileThread->IsStopped()) << "paused";
    const std::uint32_t held = Mp3FileThread->Position();
    QTest::qWait(200);
    EXPECT_NEAR(Mp3FileThread->Position(), held, 20);

    // A click on the bar seeks and plays, while the window still counts itself paused.
    QTest::mouseClick(form->Progress, Qt::LeftButton, {},
                      QPoint(form->Progress->width() / 2, form->Progress->height() / 2));
    EXPECT_FALSE(Mp3FileThread->IsStopped());
    EXPECT_NEAR(Mp3FileThread->Position(), form->Progress->maximum() / 2, 100);
    EXPECT_TRUE(form->Mp3Paused());
    EXPECT_FALSE(TimerOn());
    form->ActionListUpdate();  // the command changes; the button keeps its own caption
    EXPECT_EQ(form->btnPause->text(), QString::fromUtf8(resumeText));

    // The next pause command only resumes.
    form->Mp3PauseExecute();
    EXPECT_FALSE(form->Mp3Paused());
    EXPECT_TRUE(TimerOn());
    EXPECT_EQ(form->btnPause->text(), QString::fromUtf8(pauseText));
    EXPECT_FALSE(Mp3FileThread->IsStopped());
  }
}

TEST_F(PlayControl, StopClosesTheFileAndEmptiesTheBar) {
  StartWithTracks(1);
  PlayRow(0);
  ASSERT_NE(Mp3FileThread->FDeviceID, 0);
  form->Mp3CloseExecute();
  EXPECT_EQ(Mp3FileThread->FDeviceID, 0);
  EXPECT_EQ(form->Progress->maximum(), 0);
  EXPECT_FALSE(TimerOn());
}

TEST_F(PlayControl, VolumeChangesThePlayingFileAndCarriesToTheNext) {
  StartWithTracks(2);
  PlayRow(0);
  EXPECT_EQ(Mp3FileThread->DeviceVolume(), 500);
  form->ScrVolume->setValue(37);
  EXPECT_EQ(form->lblPercents->text(), QStringLiteral("37 % "));
  EXPECT_EQ(Mp3FileThread->DeviceVolume(), 370);
  form->Mp3NextExecute();
  Turn();
  ASSERT_EQ(PlayingRow(), 1);
  EXPECT_EQ(Mp3FileThread->DeviceVolume(), 370);
  form->ScrVolume->setValue(0);
  EXPECT_EQ(Mp3FileThread->DeviceVolume(), 0);
}

// Two groups: "g1" with tracks a and b, "g2" with track c.
class TreePlay : public PlayControl {
 protected:
  void BuildTree() {
    StartWithTracks(
        QStringList{QStringLiteral("a.mp3"), QStringLiteral("b.mp3"), QStringLiteral("c.mp3")});
    // The tree plays its own records; the main list stays empty.
    form->AClearPlayListExecute();
    const int perGroup[] = {2, 1};
    for (int g = 0, file = 0; g < 2; ++g) {
      const QString folder = home.filePath(QStringLiteral("music/g%1").arg(g + 1));
      ASSERT_TRUE(QDir().mkpath(folder));
      for (int t = 0; t < perGroup[g]; ++t, ++file)
        ASSERT_TRUE(QFile::copy(paths[file], folder + u'/' + QFileInfo(paths[file]).fileName()));
      form->AddMp3Group(folder, false);
    }
    records = form->NodeTree()->AllRecords();
    ASSERT_EQ(records.size(), 3u);
    form->Mp3Node->expandAll();
    form->pcMain->setCurrentWidget(form->tsMp3Node);
    ASSERT_EQ(form->EnumTabs(), et_Node);
  }
  void SelectNode(int group, int track = -1) {
    const QAbstractItemModel* model = form->Mp3Node->model();
    QModelIndex node = model->index(group, 0);
    if (track >= 0) node = model->index(track, 0, node);
    form->Mp3Node->selectionModel()->setCurrentIndex(
        node, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  }
  TMp3PlayerPtr Playing() const {
    return Mp3FileThread->FDeviceID ? Mp3FileThread->Mp3 : TMp3PlayerPtr();
  }

  std::vector<TMp3PlayerPtr> records;
};

TEST_F(TreePlay, StepsStayInsideAGroupAndAdvanceAtTheEnd) {
  BuildTree();
  SelectNode(0, 0);
  form->Mp3PlayExecute();
  Turn();
  EXPECT_EQ(Playing(), records[0]);
  EXPECT_EQ(records[0]->Mp3State(), 0) << "tree play marks no record";

  // At the end of a track the next one of the group follows.
  ASSERT_TRUE(QTest::qWaitFor([&] { return Playing() == records[1]; }, 5000));
  EXPECT_EQ(NodeMp3, records[1]);

  // From the last track of a group the next node is a group: the timer stops, nothing starts.
  const TMp3FileThread* engine = Mp3FileThread.get();
  form->Mp3NextExecute();
  Turn();
  EXPECT_FALSE(TimerOn());
  EXPECT_EQ(Mp3FileThread.get(), engine);

  // Previous from the first track of a group reaches the group node: the same.
  SelectNode(1, 0);
  form->Mp3PlayExecute();
  Turn();
  ASSERT_EQ(Playing(), records[2]);
  engine = Mp3FileThread.get();
  form->Mp3PrevExecute();
  Turn();
  EXPECT_FALSE(TimerOn());
  EXPECT_EQ(Mp3FileThread.get(), engine);
  EXPECT_EQ(Playing(), records[2]) << "the file plays on";

  // Previous from the second track plays the first.
  SelectNode(0, 1);
  form->Mp3PrevExecute();
  Turn();
  EXPECT_EQ(Playing(), records[0]);
  EXPECT_TRUE(TimerOn());
}

TEST_F(TreePlay, DoubleClickOnAGroupStopsTheFileAndPlaysNothing) {
  BuildTree();
  SelectNode(0, 0);
  form->Mp3NodeDblClick();
  Turn();
  ASSERT_EQ(Playing(), records[0]);
  SelectNode(1);
  EXPECT_EQ(NodeMp3, nullptr);
  form->Mp3NodeDblClick();
  Turn();
  EXPECT_EQ(Playing(), nullptr);
}

}  // namespace

namespace {

// Names are the system's bytes: one in Latin-1, one holding a line break. Each is found by a
// folder scan, played, saved and played again by the next window, which reads the saved list.
TEST_F(PlayControl, NamesThatAreNotUtf8OrHoldALineBreakPlayBeforeAndAfterARestart) {
  const QByteArray music = QFile::encodeName(home.filePath(QStringLiteral("music")));
  ASSERT_EQ(::mkdir(music.constData(), 0755), 0);
  const QByteArray tone = mp3test::ReadAll(mp3test::File("cbr"));
  ASSERT_FALSE(tone.isEmpty());
  const std::vector<QByteArray> files = {music + "/caf\xE9.mp3", music + "/two\nlines.mp3"};
  for (const QByteArray& file : files) {
    const int fd = ::open(file.constData(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, tone.constData(), tone.size()), tone.size());
    ::close(fd);
  }
  const QStringList titles{QStringLiteral("café.mp3"), QStringLiteral("two lines.mp3")};
  const auto checkRowsAndPlay = [&](const char* when) {
    SCOPED_TRACE(when);
    ASSERT_EQ(Rows(), 2);
    for (int row = 0; row < 2; ++row) {
      EXPECT_EQ(platform::encodePath(form->TrackList()->Record(row)->Mp3Path()), files[row]);
      EXPECT_EQ(form->TrackList()->index(row, TTrackListModel::colTitle).data().toString(),
                titles[row]);
      PlayRow(row);
      EXPECT_TRUE(dialogs.messages.empty()) << dialogs.messages.front().text.toStdString();
      EXPECT_EQ(PlayingRow(), row) << "device error " << Mp3FileThread->MyError;
      EXPECT_EQ(Mp3FileThread->MyError, 0);
    }
    form->Mp3CloseExecute();
  };

  Start();
  dialogs.answers.push_back(QFile::decodeName(music));
  Cmd("ALoadDir")->trigger();
  // The duration scanner opens them by their bytes too.
  EXPECT_TRUE(QTest::qWaitFor(
      [&] {
        return Rows() == 2 && !form->TrackList()->Record(0)->Mp3Time().isEmpty() &&
               !form->TrackList()->Record(1)->Mp3Time().isEmpty();
      },
      10000));
  for (int row = 0; row < Rows(); ++row)
    EXPECT_EQ(form->TrackList()->Record(row)->Mp3Time(), QStringLiteral("0:0:01")) << row;
  checkRowsAndPlay("scanned");
  ASSERT_TRUE(RequestClose());
  const QByteArray saved = ReadFile(ListFile());
  EXPECT_TRUE(saved.contains("FileNameBytes=" + music.toPercentEncoding("/-._~") + "/caf%E9.mp3"))
      << saved.toStdString();
  form.reset();

  Start();
  checkRowsAndPlay("after a restart");
}

}  // namespace
