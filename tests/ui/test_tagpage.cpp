// The page "TAG  - Info" in the real window: the tag of the row clicked, the files without one,
// the errors, the track that is playing and selections of many rows. Tracks are one-second MP3
// files with blocks put at their end here.
#include <QLineEdit>
#include <QTabBar>
#include <QTabWidget>
#include <QTreeView>

#include <optional>

#include "tests/audio/mp3testfiles.h"
#include "tests/support/id3v1block.h"
#include "tests/support/qtprint.h"
#include "tests/ui/mainformfixture.h"

namespace {

using namespace std::string_view_literals;

struct Track {
  QString name;
  std::optional<QByteArray> bytes;  // none: the file is missing
};

class TagPage : public MainFormFixture {
 protected:
  void SetUp() override {
    KeepSessionSoundServer();
    MainFormFixture::SetUp();
  }

  static QByteArray Tone() { return mp3test::ReadAll(mp3test::File("cbr")); }
  static QByteArray Tagged(std::string_view title) {
    return Tone() + id3v1test::Block({.title = title,
                                      .artist = "Singer",
                                      .album = "Album",
                                      .year = "2001",
                                      .comment = "Take one\0\x03"sv,
                                      .genre = 17});
  }
  static QStringList Shown(const char* title) {
    return {QLatin1String(title),   QStringLiteral("Singer"), QStringLiteral("Album"),
            QStringLiteral("2001"), QStringLiteral("Rock"),   QStringLiteral("Take one")};
  }

  // The tracks stored as the main list in this order, the window started and the tag page
  // picked by its tab.
  void StartWith(const std::vector<Track>& tracks) {
    ASSERT_TRUE(QDir().mkpath(home.filePath(QStringLiteral("music"))));
    QByteArray text;
    for (std::size_t i = 0; i < tracks.size(); ++i) {
      const QString path = home.filePath(QStringLiteral("music/") + tracks[i].name);
      if (tracks[i].bytes) WriteFile(path, *tracks[i].bytes);
      paths << path;
      text += QStringLiteral("[%1PlayList]\nFileName=%2\nFileSize=17\nTime=\nOnlyName=%3\n")
                  .arg(i)
                  .arg(path, tracks[i].name)
                  .toUtf8();
    }
    text += "[PlayList]\nCount=" + QByteArray::number(static_cast<int>(tracks.size())) +
            "\n_TotalTime=0\n";
    StoreList(text);
    Start();
    ShowAndActivate();
    ClickTab(form->tsTAGID);
    ASSERT_EQ(form->TagList()->rowCount(), static_cast<int>(tracks.size()));
  }
  void ClickTab(QWidget* page) {
    QTabBar* bar = form->pcMain->tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(form->pcMain->indexOf(page)).center());
    QCoreApplication::processEvents();
  }
  void ClickRow(int row) {
    const QRect rect = form->lvTAGID->visualRect(form->TagList()->index(row, 0));
    ASSERT_TRUE(rect.isValid()) << "row " << row << " is not on screen";
    QTest::mouseClick(form->lvTAGID->viewport(), Qt::LeftButton, {}, rect.center());
    QCoreApplication::processEvents();
  }
  QStringList Edits() const {
    QStringList texts;
    for (const QLineEdit* edit : {form->edTitle, form->edArtist, form->edAlbum, form->edYear,
                                  form->edGenre, form->edComment})
      texts << edit->text();
    return texts;
  }
  static QStringList Empty() { return QStringList(6, QString()); }

  QStringList paths;
};

TEST_F(TagPage, ShowsTheTagOfTheRowClickedAndEmptiesTheFieldsWithoutOne) {
  const QByteArray song = Tagged("Song");
  const std::vector<Track> tracks = {
      {QStringLiteral("song.mp3"), song},
      {QStringLiteral("plain.mp3"), Tone()},
      {QStringLiteral("lower.mp3"), Tone() + id3v1test::Block({.identifier = "tag", .title = "x"})},
      {QStringLiteral("short.mp3"), song.left(100)},
      {QStringLiteral("padded.mp3"),
       Tone() + id3v1test::Block({.title = "Padded  ", .genre = 148})},
  };
  StartWith(tracks);
  for (const QLineEdit* edit : {form->edTitle, form->edArtist, form->edAlbum, form->edYear,
                                form->edGenre, form->edComment}) {
    EXPECT_TRUE(edit->isReadOnly()) << edit->objectName().toStdString();
    EXPECT_FALSE(edit->hasFrame()) << edit->objectName().toStdString();
  }
  const QStringList padded = {QStringLiteral("Padded  "), {}, {}, {}, QStringLiteral("148"), {}};
  const struct {
    int row;
    QStringList shown;
  } steps[] = {{0, Shown("Song")}, {1, Empty()}, {0, Shown("Song")}, {2, Empty()},
               {4, padded},        {3, Empty()}, {4, padded}};
  for (const auto& step : steps) {
    SCOPED_TRACE(testing::Message() << "row " << step.row);
    ClickRow(step.row);
    EXPECT_EQ(Edits(), step.shown);
    EXPECT_EQ(CurrMp3, form->TagList()->Record(step.row)) << "the row becomes the current track";
  }
  EXPECT_TRUE(dialogs.messages.empty()) << dialogs.messages.front().text.toStdString();
  for (std::size_t i = 0; i < tracks.size(); ++i)
    EXPECT_EQ(ReadFile(paths[i]), *tracks[i].bytes) << "nothing is written to " << i;
}

TEST_F(TagPage, AMissingFileShowsItsErrorAndKeepsTheFields) {
  StartWith({{QStringLiteral("song.mp3"), Tagged("Song")}, {QStringLiteral("gone.mp3"), {}}});
  ClickRow(0);
  ASSERT_EQ(Edits(), Shown("Song"));
  ClickRow(1);
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].text,
            QStringLiteral("Cannot open file \"%1\". No such file or directory").arg(paths[1]));
  EXPECT_EQ(dialogs.messages[0].icon, TMessageIcon::Error);
  EXPECT_EQ(Edits(), Shown("Song"));
  EXPECT_EQ(CurrMp3, form->TagList()->Record(1));
}

// Nothing holds the playing file shut on this system, so its tag is read like any other.
TEST_F(TagPage, ThePlayingTrackShowsItsTag) {
  StartWith({{QStringLiteral("first.mp3"), Tagged("First")},
             {QStringLiteral("playing.mp3"), Tagged("Playing")}});
  ClickTab(form->tsMp3Player);
  Select(1);
  form->Mp3PlayExecute();
  const TMp3PlayerPtr playing = form->TrackList()->Record(1);
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return Mp3FileThread && Mp3FileThread->FDeviceID != 0 && playing->Mp3State() > 0; },
      5000))
      << "the track did not start";
  ClickTab(form->tsTAGID);
  ClickRow(0);
  ClickRow(1);
  EXPECT_EQ(Edits(), Shown("Playing"));
  EXPECT_EQ(CurrMp3, playing);
  EXPECT_GT(playing->Mp3State(), 0) << "reading the tag does not stop the track";
  EXPECT_TRUE(dialogs.messages.empty());
}

// Row by row the last row of a selection would decide what is shown; a missing file inside the
// range must not raise one message per row on the way.
TEST_F(TagPage, ARangeOfRowsShowsItsLastRowOnlyAndDeselectingChangesNothing) {
  StartWith({{QStringLiteral("first.mp3"), Tagged("First")},
             {QStringLiteral("gone.mp3"), {}},
             {QStringLiteral("last.mp3"), Tagged("Last")}});
  ClickRow(0);
  QItemSelectionModel* selection = form->lvTAGID->selectionModel();
  selection->select(QItemSelection(form->TagList()->index(0, 0), form->TagList()->index(2, 0)),
                    QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  QCoreApplication::processEvents();
  EXPECT_TRUE(dialogs.messages.empty()) << dialogs.messages.front().text.toStdString();
  EXPECT_EQ(Edits(), Shown("Last"));
  EXPECT_EQ(CurrMp3, form->TagList()->Record(2));

  selection->clearSelection();
  QCoreApplication::processEvents();
  EXPECT_EQ(Edits(), Shown("Last"));
  EXPECT_EQ(CurrMp3, form->TagList()->Record(2));
}

}  // namespace
