#include <QCheckBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFont>
#include <QHeaderView>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QTreeView>
#include <QUrl>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/pathcodec.h"
#include "tests/ui/mainformfixture.h"

namespace {

// A music folder on disk with the cases a scan meets.
class TrackList : public MainFormFixture {
 protected:
  QString Music(const QString& relative = {}) const {
    return relative.isEmpty() ? home.filePath(QStringLiteral("music"))
                              : home.filePath(QStringLiteral("music/") + relative);
  }
  void MakeFile(const QString& path, qint64 size) {
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_TRUE(file.resize(size));
  }
  void BuildMusic() {
    MakeFile(Music(QStringLiteral("b.mp3")), 4523999);
    MakeFile(Music(QStringLiteral("A.MP3")), 1000);
    MakeFile(Music(QStringLiteral("notes.txt")), 10);
    ASSERT_TRUE(QDir().mkpath(Music(QStringLiteral("x.mp3"))));
    MakeFile(Music(QStringLiteral(".hidden/h.mp3")), 1);
    MakeFile(Music(QStringLiteral("ro/r.mp3")), 1);
    ::chmod(QFile::encodeName(Music(QStringLiteral("ro"))).constData(), 0555);
    MakeFile(Music(QStringLiteral("sub1/c.mp3")), 999);
    MakeFile(Music(QStringLiteral("sub1/deeper/d.mp3")), 2000);
    MakeFile(Music(QStringLiteral("sub2/e.mp3")), 3000);
    MakeFile(Music(QStringLiteral("onlyfolders/inner/f.mp3")), 1);
    MakeFile(Music(QStringLiteral("Песни/ж.mp3")), 5000);
    // Links are never followed: one loops back to the folder itself.
    ASSERT_TRUE(QFile::link(Music(), Music(QStringLiteral("loop.mp3"))));
    ASSERT_TRUE(QFile::link(Music(QStringLiteral("sub1")), Music(QStringLiteral("linkdir"))));
  }
  QStringList Column(int column) const {
    QStringList texts;
    for (int row = 0; row < Rows(); ++row)
      texts << form->TrackList()->index(row, column).data().toString();
    return texts;
  }
  QStringList Titles() const { return Column(TTrackListModel::colTitle); }
  void LoadDirectory(const QString& folder) {
    dialogs.answers.push_back(folder);
    Cmd("ALoadDir")->trigger();
  }
  void SelectRows(std::initializer_list<int> rows) {
    QItemSelection selection;
    for (int row : rows)
      selection.select(form->TrackList()->index(row, 0), form->TrackList()->index(row, 3));
    form->lvMain->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    QCoreApplication::processEvents();
  }
  // A stored list with these titles under /music.
  void StoreTitles(const QStringList& titles) {
    QByteArray text;
    for (int i = 0; i < titles.size(); ++i)
      text += QStringLiteral("[%1PlayList]\nFileName=/music/%2\nFileSize=1\nTime=\nOnlyName=%2\n")
                  .arg(i)
                  .arg(titles[i])
                  .toUtf8();
    text += "[PlayList]\nCount=" + QByteArray::number(titles.size()) + "\n";
    StoreList(text);
  }
  void Drop(const QStringList& paths) {
    QMimeData mime;
    QList<QUrl> urls;
    // As a file manager puts them: the name's own bytes, percent-escaped.
    for (const QString& path : paths)
      urls << QUrl::fromEncoded("file://" + platform::encodePath(path).toPercentEncoding("/"));
    mime.setUrls(urls);
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, {});
    QCoreApplication::sendEvent(form.get(), &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, {});
    QCoreApplication::sendEvent(form.get(), &drop);
  }
  int CountMessages(const char* text) const {
    int count = 0;
    for (const auto& message : dialogs.messages) count += message.text == QLatin1String(text);
    return count;
  }
};

TEST_F(TrackList, SizeTextsAreWholeThousandsOfBytes) {
  const struct {
    qint64 bytes;
    const char* text;
  } cases[] = {{0, "0"}, {999, "0"}, {1000, "1"}, {4523999, "4523"}, {5000000000LL, "5000000"}};
  for (const auto& c : cases) {
    const QString path = home.filePath(QStringLiteral("f%1").arg(c.bytes));
    MakeFile(path, c.bytes);
    EXPECT_EQ(TMainForm::GetFileSizeKB(path), QLatin1String(c.text)) << c.bytes;
  }
  EXPECT_EQ(TMainForm::GetFileSizeKB(home.filePath(QStringLiteral("missing"))),
            QStringLiteral("-1"));
}

TEST_F(TrackList, LoadDirectoryScansFolderThenSubFoldersDepthFirst) {
  BuildMusic();
  Start();
  LoadDirectory(Music());
  const QStringList all{QStringLiteral("A.MP3"), QStringLiteral("b.mp3"), QStringLiteral("x.mp3"),
                        QStringLiteral("f.mp3"), QStringLiteral("r.mp3"), QStringLiteral("c.mp3"),
                        QStringLiteral("d.mp3"), QStringLiteral("e.mp3"), QStringLiteral("ж.mp3")};
  EXPECT_EQ(Titles(), all);
  EXPECT_EQ(Column(0),
            (QStringList{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"),
                         QStringLiteral("4"), QStringLiteral("5"), QStringLiteral("6"),
                         QStringLiteral("7"), QStringLiteral("8"), QStringLiteral("9")}));
  EXPECT_EQ(Column(2).mid(0, 4), (QStringList{QStringLiteral("1 KB"), QStringLiteral("4523 KB"),
                                              QStringLiteral("0 KB"), QStringLiteral("0 KB")}));
  EXPECT_EQ(form->TrackList()->Record(5)->Mp3Path(), Music(QStringLiteral("sub1/c.mp3")));
  EXPECT_EQ(form->TrackList()->Record(2)->Mp3ID(), 3) << "the skipped link still counts";
  ASSERT_EQ(Mp3Session->CacheCount(), 9);
  EXPECT_EQ(CurrMp3, form->TrackList()->Record(0)) << "the first row is selected and current";
  EXPECT_EQ(form->EnumTabs(), et_Mp3);
  EXPECT_TRUE(form->MainPanel->isEnabled());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);

  LoadDirectory(Music());
  EXPECT_EQ(Titles(), all) << "the same folder again, unsaved: every track is in the list";
  dialogs.answers.push_back(QString());
  Cmd("ALoadDir")->trigger();
  EXPECT_EQ(Rows(), 9) << "cancelled";
}

// Trees described line by line: "f path" a file, "d path" a folder, "l path target" a symbolic
// link, "ro path" a folder made read-only once the tree stands.
TEST_F(TrackList, LoadDirectoryWalksEveryPlainFolderAtAnyDepth) {
  const struct {
    const char* name;
    std::vector<const char*> tree;
    std::vector<const char*> titles;  // the chosen folder is "Music"
  } cases[] = {
      {"tracks only two levels down", {"f Music/Artist/Album/a.mp3"}, {"a.mp3"}},
      {"a folder's files before its sub-folders, depth first",
       {"f Music/Artist/Album 2/b.mp3", "f Music/Artist/Album/a.mp3", "f Music/Artist/r.mp3",
        "f Music/Zed/z.mp3", "f Music/m.mp3"},
       {"m.mp3", "r.mp3", "a.mp3", "b.mp3", "z.mp3"}},
      {"empty folders on the way",
       {"d Music/Empty", "f Music/Artist/No Tracks/cover.jpg", "f Music/Artist/Album/a.mp3"},
       {"a.mp3"}},
      {"hidden folders stay out at every level",
       {"f Music/.cache/h.mp3", "f Music/Artist/.trash/t.mp3", "f Music/Artist/Album/a.mp3"},
       {"a.mp3"}},
      {"a link to a folder is not entered",
       {"f Other/o.mp3", "l Music/Linked ../Other", "f Music/Artist/a.mp3"},
       {"a.mp3"}},
      {"a link to a file is added like the file",
       {"f Other/o.mp3", "l Music/Artist/link.mp3 ../../Other/o.mp3",
        "l Music/Artist/gone.mp3 ../../Other/missing.mp3", "f Music/Artist/a.mp3"},
       {"a.mp3", "link.mp3"}},
      {"read-only folders are entered",
       {"f Music/Shared/Album/a.mp3", "f Music/Shared/s.mp3", "ro Music/Shared/Album",
        "ro Music/Shared"},
       {"s.mp3", "a.mp3"}},
  };
  Start();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const QString root = home.filePath(QLatin1String(c.name) + QLatin1Char('/'));
    std::vector<QByteArray> readOnly;
    for (const char* line : c.tree) {
      const QStringList parts = QString::fromUtf8(line).split(QLatin1Char(' '));
      const QString kind = parts[0];
      const bool link = kind == QLatin1String("l");
      const QString path =
          root +
          QStringList(parts.mid(1, parts.size() - 1 - (link ? 1 : 0))).join(QLatin1Char(' '));
      if (kind == QLatin1String("f")) {
        MakeFile(path, 1000);
      } else if (kind == QLatin1String("d")) {
        ASSERT_TRUE(QDir().mkpath(path));
      } else if (link) {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
        ASSERT_EQ(::symlink(parts.last().toUtf8().constData(), QFile::encodeName(path).constData()),
                  0);
      } else {
        readOnly.push_back(QFile::encodeName(path));
        ASSERT_EQ(::chmod(readOnly.back().constData(), 0555), 0);
      }
    }
    const int before = Rows();
    LoadDirectory(root + QStringLiteral("Music"));
    QStringList titles;
    for (const char* title : c.titles) titles << QString::fromUtf8(title);
    EXPECT_EQ(Titles().mid(before), titles);
    for (const QByteArray& path : readOnly) ::chmod(path.constData(), 0755);
  }
}

TEST_F(TrackList, EveryLoadDirectoryScansItsFolderOnce) {
  MakeFile(Music(QStringLiteral("first/1.mp3")), 100);
  MakeFile(Music(QStringLiteral("first/sub/2.mp3")), 100);
  MakeFile(Music(QStringLiteral("second/3.mp3")), 100);
  MakeFile(Music(QStringLiteral("third/4.mp3")), 100);
  Start();
  LoadDirectory(Music(QStringLiteral("first")));
  LoadDirectory(Music(QStringLiteral("second")));
  EXPECT_EQ(Titles(), (QStringList{QStringLiteral("1.mp3"), QStringLiteral("2.mp3"),
                                   QStringLiteral("3.mp3")}))
      << "a scan that met a sub-folder does not stop later ones";
  // A folder without sub-folders is not walked a second time.
  LoadDirectory(Music(QStringLiteral("third")));
  EXPECT_EQ(Titles().mid(3), QStringList{QStringLiteral("4.mp3")});
}

// The list, saved or not, never holds a file twice, whichever command offers it again.
TEST_F(TrackList, EveryAddPathRefusesTracksAlreadyInTheList) {
  BuildMusic();
  MakeFile(Music(QStringLiteral("radio.m3u")), 30);
  Start();
  LoadDirectory(Music());
  ASSERT_EQ(Rows(), 9);
  ASSERT_FALSE(QFile::exists(ListFile())) << "nothing saved yet";
  const QStringList before = Titles();

  Drop({Music(QStringLiteral("b.mp3"))});
  EXPECT_EQ(CountMessages("This file is exists!"), 1) << "a dropped file";
  Drop({Music(QStringLiteral("sub1"))});
  EXPECT_EQ(Titles(), before) << "a dropped folder";
  dialogs.answers.push_back(Music(QStringLiteral("sub1/c.mp3")));
  Cmd("ALoadFile")->trigger();
  EXPECT_EQ(CountMessages("This file is exists!"), 2) << "Load File";
  EXPECT_EQ(Titles(), before);

  dialogs.answers.push_back(Music(QStringLiteral("radio.m3u")));
  Cmd("Am3u")->trigger();
  dialogs.answers.push_back(Music(QStringLiteral("radio.m3u")));
  Cmd("Am3u")->trigger();
  EXPECT_EQ(CountMessages("This file is exists!"), 3) << "Load m3u";
  EXPECT_EQ(Titles(), before + QStringList{QStringLiteral("radio.m3u")});

  // A drop of several new files, one of them twice: each is added once.
  MakeFile(Music(QStringLiteral("new/n.mp3")), 10);
  Drop({Music(QStringLiteral("new/n.mp3")), Music(QStringLiteral("new/n.mp3"))});
  EXPECT_EQ(Titles().mid(before.size() + 1), QStringList{QStringLiteral("n.mp3")});
}

TEST_F(TrackList, ScanSkipsTracksOfTheSavedListOnceATrackIsCurrent) {
  BuildMusic();
  StoreList(QStringLiteral("[PlayList]\nCount=2\n[0PlayList]\nFileName=%1\nOnlyName=A.MP3\n"
                           "[1PlayList]\nFileName=%2\nOnlyName=b.mp3\n")
                .arg(Music(QStringLiteral("A.MP3")), Music(QStringLiteral("b.mp3")))
                .toUtf8());
  Start();
  LoadDirectory(Music());
  EXPECT_EQ(
      Titles(),
      (QStringList{QStringLiteral("A.MP3"), QStringLiteral("b.mp3"), QStringLiteral("x.mp3"),
                   QStringLiteral("f.mp3"), QStringLiteral("r.mp3"), QStringLiteral("c.mp3"),
                   QStringLiteral("d.mp3"), QStringLiteral("e.mp3"), QStringLiteral("ж.mp3")}));
  EXPECT_EQ(form->TrackList()->Record(2)->Mp3ID(), 3) << "numbered on from the saved count";
}

TEST_F(TrackList, DropsAddFilesFoldersAndShortcutTargets) {
  BuildMusic();
  MakeFile(home.filePath(QStringLiteral("drop/song.mp3")), 2500);
  MakeFile(home.filePath(QStringLiteral("drop/readme.txt")), 1);
  // A shortcut whose stored target is relative to the shortcut.
  QByteArray link(0x4C, '\0');
  link[0] = 0x4C;
  link.replace(4, 16,
               QByteArray("\x01\x14\x02\x00\x00\x00\x00\x00\xC0\x00\x00\x00\x00\x00\x00\x46", 16));
  link[0x14] = 0x08;  // the string data holds a relative path, 8-bit
  link += QByteArray("\x08\x00", 2) + "song.mp3";
  WriteFile(home.filePath(QStringLiteral("drop/to song.lnk")), link);
  Start();

  Drop({home.filePath(QStringLiteral("drop/to song.lnk")),
        home.filePath(QStringLiteral("drop/readme.txt"))});
  EXPECT_EQ(Titles(), (QStringList{QStringLiteral("song.mp3"), QStringLiteral("readme.txt")}));
  EXPECT_EQ(form->TrackList()->Record(0)->Mp3Path(),
            home.filePath(QStringLiteral("drop/song.mp3")));
  EXPECT_TRUE(form->ProgressBar1->isHidden());
  EXPECT_TRUE(form->MainPanel->isEnabled());

  // A folder: its sub-folders are walked before its own files, each once.
  Drop({Music(QStringLiteral("sub1"))});
  EXPECT_EQ(Titles().mid(2), (QStringList{QStringLiteral("d.mp3"), QStringLiteral("c.mp3")}));
}

TEST_F(TrackList, DroppedAndLoadedNamesKeepTheirBytes) {
  const QByteArray folder = QFile::encodeName(Music());
  ASSERT_TRUE(QDir().mkpath(Music()));
  const QByteArray latin1 = folder + "/d\xE9j\xE0.mp3";
  const QByteArray broken = folder + "/two\nlines.mp3";
  for (const QByteArray& file : {latin1, broken}) {
    ASSERT_EQ(::close(::open(file.constData(), O_CREAT | O_WRONLY, 0644)), 0);
    ASSERT_EQ(::truncate(file.constData(), 3000), 0);
  }
  Start();
  Drop({platform::decodePath(latin1.toStdString())});
  dialogs.answers.push_back(platform::decodePath(broken.toStdString()));
  Cmd("ALoadFile")->trigger();
  EXPECT_EQ(Titles(), (QStringList{QStringLiteral("déjà.mp3"), QStringLiteral("two lines.mp3")}));
  ASSERT_EQ(Rows(), 2);
  EXPECT_EQ(platform::encodePath(form->TrackList()->Record(0)->Mp3Path()), latin1);
  EXPECT_EQ(platform::encodePath(form->TrackList()->Record(1)->Mp3Path()), broken);
  EXPECT_EQ(Column(2), (QStringList{QStringLiteral("3 KB"), QStringLiteral("3 KB")}));
  Drop({platform::decodePath(latin1.toStdString())});
  EXPECT_EQ(CountMessages("This file is exists!"), 1);
  EXPECT_TRUE(
      ReadFile(ListFile())
          .contains("FileNameBytes=" + folder.toPercentEncoding("/-._~") + "/two%0Alines.mp3"))
      << "Load File saves at once";
}

TEST_F(TrackList, DropWhoseFirstFileIsSavedAddsNoneOfIt) {
  for (const char* name : {"one.mp3", "two.mp3", "three.mp3"})
    MakeFile(Music(QLatin1String(name)), 100);
  StoreList(QStringLiteral("[PlayList]\nCount=1\n[0PlayList]\nFileName=%1\nOnlyName=one.mp3\n")
                .arg(Music(QStringLiteral("one.mp3")))
                .toUtf8());
  Start();
  Drop({Music(QStringLiteral("one.mp3")), Music(QStringLiteral("two.mp3")),
        Music(QStringLiteral("three.mp3"))});
  EXPECT_EQ(CountMessages("This file is exists!"), 1);
  EXPECT_EQ(Rows(), 1) << "only the stored row";
}

TEST_F(TrackList, LoadFileSavesAtOnceAndRefusesSavedFiles) {
  MakeFile(Music(QStringLiteral("one.mp3")), 1500);
  MakeFile(Music(QStringLiteral("radio.m3u")), 30);
  Start();
  dialogs.answers.push_back(Music(QStringLiteral("one.mp3")));
  Cmd("ALoadFile")->trigger();
  EXPECT_EQ(Titles(), QStringList{QStringLiteral("one.mp3")});
  EXPECT_TRUE(ReadFile(ListFile()).contains(Music(QStringLiteral("one.mp3")).toUtf8()))
      << "saved at once";
  const QByteArray saved = ReadFile(ListFile());

  dialogs.answers.push_back(Music(QStringLiteral("one.mp3")));
  Cmd("ALoadFile")->trigger();
  EXPECT_EQ(CountMessages("This file is exists!"), 1);
  EXPECT_EQ(Rows(), 1);
  EXPECT_EQ(ReadFile(ListFile()), saved);

  // Load m3u adds the list as a row and makes it the track Play acts on.
  dialogs.answers.push_back(Music(QStringLiteral("radio.m3u")));
  Cmd("Am3u")->trigger();
  EXPECT_EQ(Titles().last(), QStringLiteral("radio.m3u"));
  EXPECT_EQ(CurrMp3->Mp3Name(), QStringLiteral("radio.m3u"));
  EXPECT_EQ(ReadFile(ListFile()), saved) << "Load m3u does not save";
}

TEST_F(TrackList, DeleteRemovesSelectedRowsAndSavesTheRest) {
  StoreTitles({QStringLiteral("a.mp3"), QStringLiteral("b.mp3"), QStringLiteral("c.mp3"),
               QStringLiteral("d.mp3"), QStringLiteral("e.mp3")});
  Start();
  ShowAndActivate();
  const QByteArray before = ReadFile(ListFile());
  SelectRows({1, 3, 4});
  dialogs.answers.push_back(false);
  Cmd("Delete")->trigger();
  EXPECT_EQ(Rows(), 5) << "answered No";
  EXPECT_EQ(ReadFile(ListFile()), before);

  SelectRows({1, 3, 4});
  dialogs.answers.push_back(true);
  Cmd("Delete")->trigger();
  EXPECT_EQ(Titles(), (QStringList{QStringLiteral("a.mp3"), QStringLiteral("c.mp3")}));
  EXPECT_EQ(Column(0), (QStringList{QStringLiteral("1"), QStringLiteral("2")}));
  ASSERT_EQ(Mp3Session->CacheCount(), 2);
  EXPECT_EQ((*Mp3Session->CacheMp3())[1]->Mp3Name(), QStringLiteral("c.mp3"));
  EXPECT_TRUE(ReadFile(ListFile()).contains("Count=2")) << "the saved list follows the delete";

  // The duplicate test sees the remaining tracks only.
  EXPECT_FALSE(Mp3Session->GetMp3ByName(ListFile(), QStringLiteral("/music/b.mp3")));
  EXPECT_TRUE(Mp3Session->GetMp3ByName(ListFile(), QStringLiteral("/music/c.mp3")));

  SelectRows({0, 1});
  dialogs.answers.push_back(true);
  Cmd("Delete")->trigger();
  EXPECT_EQ(Rows(), 0);
  EXPECT_FALSE(QFile::exists(ListFile())) << "an emptied list deletes the file";
}

TEST_F(TrackList, ClearEmptiesListsCacheAndFile) {
  StoreTitles({QStringLiteral("a.mp3"), QStringLiteral("b.mp3")});
  Start();
  form->pcMain->setCurrentWidget(form->tsTAGID);
  form->pcMainChange();  // as when the user picks the tab
  ASSERT_EQ(form->lvTAGID->model()->rowCount(), 2);
  Cmd("AClearPlayList")->trigger();
  EXPECT_EQ(Rows(), 0);
  EXPECT_EQ(form->lvTAGID->model()->rowCount(), 0);
  EXPECT_EQ(Mp3Session->CacheMp3(), nullptr);
  EXPECT_EQ(CurrMp3, nullptr);
  EXPECT_FALSE(QFile::exists(ListFile()));
  Cmd("ARefresh")->trigger();
  EXPECT_EQ(Rows(), 0) << "a refresh without a cache does nothing";
}

TEST_F(TrackList, SortingIsAscendingTextAndRefreshRestoresCacheOrder) {
  QStringList titles;
  for (int i = 1; i <= 12; ++i) titles << QStringLiteral("t%1.mp3").arg(13 - i);
  StoreTitles(titles);
  Start();
  ShowAndActivate();
  form->lvMain->header()->sectionClicked(0);
  EXPECT_EQ(Column(0).mid(0, 6),
            (QStringList{QStringLiteral("1"), QStringLiteral("10"), QStringLiteral("11"),
                         QStringLiteral("12"), QStringLiteral("2"), QStringLiteral("3")}));
  EXPECT_EQ(form->ColumnToSortValue(), 0);
  for (int click = 0; click < 2; ++click) {
    form->lvMain->header()->sectionClicked(1);
    EXPECT_EQ(Titles().mid(0, 4),
              (QStringList{QStringLiteral("t1.mp3"), QStringLiteral("t10.mp3"),
                           QStringLiteral("t11.mp3"), QStringLiteral("t12.mp3")}))
        << "click " << click;
  }
  EXPECT_EQ((*Mp3Session->CacheMp3())[0]->Mp3Name(), QStringLiteral("t12.mp3"))
      << "sorting moves rows, not records";
  Press(form->lvMain, Qt::Key_F5);
  EXPECT_EQ(Titles(), titles);
  EXPECT_EQ(Column(0).first(), QStringLiteral("1"));
}

TEST_F(TrackList, TextOrderFoldsOnlyLatinLetters) {
  const struct {
    const char* a;
    const char* b;
    int expected;
  } cases[] = {{"abc", "ABC", 0}, {"abc", "abd", -1}, {"ab", "abc", -1}, {"Z", "a", 1},
               {"_", "a", 1},     {"[", "a", 1},      {"ä", "Ä", 1},     {"я", "Я", 1}};
  for (const auto& c : cases)
    EXPECT_EQ(TTrackListModel::CompareText(QString::fromUtf8(c.a), QString::fromUtf8(c.b)),
              c.expected)
        << c.a << " vs " << c.b;
}

TEST_F(TrackList, FastSearchKeepsMatchingTitlesOfAnyCase) {
  StoreTitles({QStringLiteral("Rock Song.mp3"), QStringLiteral("Roc.mp3"),
               QStringLiteral("hard ROCK.mp3"), QStringLiteral("РОК песен.mp3")});
  Start();
  ShowAndActivate();
  form->edtSearch->setText(QStringLiteral("rock"));
  EXPECT_EQ(Titles(),
            (QStringList{QStringLiteral("Rock Song.mp3"), QStringLiteral("hard ROCK.mp3")}));
  EXPECT_EQ(Column(0), (QStringList{QStringLiteral("1"), QStringLiteral("2")}));
  EXPECT_EQ(CurrMp3, nullptr);
  form->edtSearch->setText(QStringLiteral("рок"));
  EXPECT_EQ(Titles(), QStringList{QStringLiteral("РОК песен.mp3")});
  EXPECT_EQ(Mp3Session->CacheCount(), 4) << "left out, not removed";
  form->edtSearch->clear();
  EXPECT_EQ(Rows(), 4);
}

TEST_F(TrackList, SelectionPlayingMarkAndCheckMarks) {
  StoreTitles({QStringLiteral("a.mp3"), QStringLiteral("b.mp3"), QStringLiteral("c.mp3")});
  Start();
  ShowAndActivate();
  SelectRows({2, 1});
  EXPECT_EQ(CurrMp3, form->TrackList()->Record(1)) << "the first selected row";
  form->lvMain->clearSelection();
  EXPECT_EQ(CurrMp3, form->TrackList()->Record(1)) << "deselecting keeps the current track";

  // Enter and double-click start Play with the position bar reset.
  SelectRows({0});
  form->Progress->setMaximum(50);
  Press(form->lvMain, Qt::Key_Return);
  EXPECT_EQ(form->Progress->maximum(), 0);
  form->Progress->setMaximum(50);
  form->lvMain->doubleClicked(form->TrackList()->index(0, 1));
  EXPECT_EQ(form->Progress->maximum(), 0);
  Press(form->lvMain, Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(form->lvMain->selectionModel()->selectedRows().size(), 3);

  // Only the playing record is red and bold.
  form->TrackList()->Record(1)->SetMp3State(1);
  const auto cell = [&](int row, int role) { return form->TrackList()->index(row, 1).data(role); };
  EXPECT_EQ(cell(1, Qt::ForegroundRole).value<QColor>(), QColor(Qt::red));
  EXPECT_TRUE(cell(1, Qt::FontRole).value<QFont>().bold());
  EXPECT_NE(cell(0, Qt::ForegroundRole).value<QColor>(), QColor(Qt::red));
  EXPECT_FALSE(cell(0, Qt::FontRole).isValid());

  // Check marks belong to rows and are lost on a rebuild.
  EXPECT_FALSE(form->TrackList()->index(0, 0).data(Qt::CheckStateRole).isValid());
  form->cboxShowCheckList->setChecked(true);
  form->TrackList()->setData(form->TrackList()->index(0, 0), Qt::Checked, Qt::CheckStateRole);
  form->TrackList()->setData(form->TrackList()->index(2, 0), Qt::Checked, Qt::CheckStateRole);
  EXPECT_TRUE(form->TrackList()->IsChecked(2));
  Cmd("ARefresh")->trigger();
  for (int row = 0; row < 3; ++row) EXPECT_FALSE(form->TrackList()->IsChecked(row)) << row;
  form->cboxShowCheckList->setChecked(false);
  EXPECT_FALSE(form->TrackList()->index(0, 0).data(Qt::CheckStateRole).isValid());
}

}  // namespace
