// The folder groups tree in the real window: groups built from folders on disk, the group file
// written at the end of the session and the tree rebuilt from the disk at the next start, and
// the tree's commands.
#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>

#include "model/mp3objects.h"
#include "platform/inifile.h"
#include "tests/audio/mp3testfiles.h"
#include "tests/ui/mainformfixture.h"
#include "ui/nodetree.h"

namespace {

using namespace Qt::StringLiterals;

constexpr int kScanLimitMs = 60000;

class Groups : public MainFormFixture {
 protected:
  QString Music(const QString& relative = {}) const {
    return home.filePath(u"music"_s) + (relative.isEmpty() ? QString() : u'/' + relative);
  }
  // A folder under music/ holding one-second MP3 files of these names.
  void MakeFolder(const QString& relative, const QStringList& files) {
    ASSERT_TRUE(QDir().mkpath(Music(relative)));
    for (const QString& file : files)
      ASSERT_TRUE(QFile::copy(mp3test::File("cbr"), Music(relative) + u'/' + file));
  }
  QString GroupFile() const { return DataDir() + u"MP3_GROUP_LIST.DAT"_s; }
  void LoadDirectory(const QString& folder) {
    dialogs.answers.push_back(folder);
    Cmd("ALoadDir")->trigger();
  }
  void Exit() {
    ASSERT_EQ(RunEventLoop([&] { Cmd("AExit")->trigger(); }), 0);
  }

  // Each group as "<folder relative to music/>: <track>, <track>".
  QStringList Tree() const {
    QStringList groups;
    for (const TNodeTreeModel::TGroup& group : form->NodeTree()->Groups()) {
      QStringList names;
      for (const TMp3PlayerPtr& track : group.tracks) names << track->Mp3Name();
      groups << QDir(Music()).relativeFilePath(group.folder) + u": "_s + names.join(u", "_s);
    }
    return groups;
  }
  // The group file as its sections hold it: the count, then every stored folder.
  QStringList StoredGroups() const {
    const platform::IniFile ini(GroupFile());
    const int count = ini.readInteger("MP3_GROUP_SECTION", "MP3_GROUP_COUNT", -1);
    QStringList stored{QString::number(count)};
    for (int k = 0; k < count; ++k)
      stored << QDir(Music()).relativeFilePath(
          ini.readString(std::to_string(k) + "MP3_GROUP_SECTION", "MP3_GROUP_NAME", {}));
    return stored;
  }
};

TEST_F(Groups, LoadDirectoryMakesAGroupForEveryFolderWithTracksDepthFirst) {
  const struct {
    const char* name;
    std::vector<std::pair<QString, QStringList>> folders;  // relative to the loaded folder
    QStringList tree;
  } cases[] = {
      {"tracks and two sub-folders, one empty",
       {{QString(), {u"1.mp3"_s, u"2.mp3"_s, u"3.mp3"_s}},
        {u"a"_s, {u"4.mp3"_s, u"5.mp3"_s}},
        {u"b"_s, {}}},
       {u"case: 1.mp3, 2.mp3, 3.mp3"_s, u"case/a: 4.mp3, 5.mp3"_s}},
      {"deeper folders get their own groups, also below a folder without tracks",
       {{QString(), {}},
        {u"a"_s, {}},
        {u"a/b"_s, {u"1.mp3"_s}},
        {u"a/b/c"_s, {u"2.mp3"_s}},
        {u"d"_s, {u"3.mp3"_s}}},
       {u"case/a/b: 1.mp3"_s, u"case/a/b/c: 2.mp3"_s, u"case/d: 3.mp3"_s}},
      {"hidden folders are not visited",
       {{QString(), {u"1.mp3"_s}}, {u".h"_s, {u"2.mp3"_s}}, {u".h/in"_s, {u"3.mp3"_s}}},
       {u"case: 1.mp3"_s}},
      {"a folder named like a track is a track; other files are not",
       {{QString(), {u"1.mp3"_s, u"notes.txt"_s}}, {u"x.mp3"_s, {}}},
       {u"case: 1.mp3, x.mp3"_s}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(QDir(Music()).removeRecursively() || !QDir(Music()).exists());
    ASSERT_TRUE(QDir(DataDir()).removeRecursively() || !QDir(DataDir()).exists());
    for (const auto& [folder, files] : c.folders)
      MakeFolder(folder.isEmpty() ? u"case"_s : u"case/"_s + folder, files);
    Start();
    LoadDirectory(Music(u"case"_s));
    EXPECT_EQ(Tree(), c.tree);
    QCoreApplication::processEvents();
    EXPECT_EQ(Cmd("ADeleteNode")->isEnabled(), !c.tree.isEmpty());
    Exit();
    QStringList stored{QString::number(c.tree.size())};
    for (const QString& group : c.tree) stored << group.section(u':', 0, 0);
    EXPECT_EQ(StoredGroups(), stored);
    form.reset();
  }
  // The folder named like a track is shown as one, with a folder's size.
  Start();
  ASSERT_EQ(form->NodeTree()->Groups().size(), 1u);
  EXPECT_EQ(form->NodeTree()->Groups()[0].tracks[1]->Mp3Size(), u"0"_s);
}

TEST_F(Groups, TheSameFolderTwiceIsTwoGroupsAndStaysTwo) {
  MakeFolder(u"f"_s, {u"1.mp3"_s});
  Start();
  LoadDirectory(Music(u"f"_s));
  LoadDirectory(Music(u"f"_s));
  EXPECT_EQ(Tree(), QStringList({u"f: 1.mp3"_s, u"f: 1.mp3"_s}));
  Exit();
  EXPECT_EQ(StoredGroups(), QStringList({u"2"_s, u"f"_s, u"f"_s}));
  form.reset();
  Start();
  EXPECT_EQ(Tree(), QStringList({u"f: 1.mp3"_s, u"f: 1.mp3"_s}));
}

TEST_F(Groups, AddToPlayListReplacesTheMainListWithEveryTrackOfTheTree) {
  MakeFolder(u"three"_s, {u"a.mp3"_s, u"b.mp3"_s, u"c.mp3"_s});
  MakeFolder(u"four"_s, {u"d.mp3"_s, u"e.mp3"_s, u"f.mp3"_s, u"g.mp3"_s});
  StoreList(ListText(2));
  Start();
  ASSERT_EQ(Rows(), 2);
  form->AddMp3Group(Music(u"three"_s), false);
  form->AddMp3Group(Music(u"four"_s), false);
  const std::vector<TMp3PlayerPtr> tree = form->NodeTree()->AllRecords();
  ASSERT_EQ(tree.size(), 7u);

  QCoreApplication::processEvents();  // the command is enabled once the tree has nodes
  Cmd("AMovePlayList")->trigger();
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->ProgressBar1->isHidden(); }, kScanLimitMs));
  ASSERT_EQ(Rows(), 7);
  const QString time = TMp3Session::SecToTime(mp3test::DecodedMs(mp3test::File("cbr")));
  for (int row = 0; row < 7; ++row) {
    SCOPED_TRACE(row);
    EXPECT_EQ(form->TrackList()->CellText(row, TTrackListModel::colNumber),
              QString::number(row + 1));
    EXPECT_EQ(form->TrackList()->Record(row), tree[static_cast<std::size_t>(row)]);
    EXPECT_EQ(form->TrackList()->CellText(row, TTrackListModel::colTime), time);
  }
  EXPECT_EQ(form->TrackList()->CellText(6, TTrackListModel::colTitle), u"g.mp3"_s);
  EXPECT_EQ(Tree().size(), 2) << "the tree keeps its groups";

  // The records stay the tree's when the main list lets them go.
  form->AClearPlayListExecute();
  ASSERT_EQ(Rows(), 0);
  EXPECT_EQ(form->NodeTree()->AllRecords(), tree);
}

TEST_F(Groups, TheGroupFileFollowsTheTreeAcrossRuns) {
  MakeFolder(u"keep"_s, {u"1.mp3"_s});
  MakeFolder(u"gone"_s, {u"2.mp3"_s});
  Start();
  LoadDirectory(Music(u"keep"_s));
  LoadDirectory(Music(u"gone"_s));
  // The close box, with the tray option off, ends the program and keeps the groups.
  ASSERT_TRUE(RequestClose());
  EXPECT_EQ(StoredGroups(), QStringList({u"2"_s, u"keep"_s, u"gone"_s}));
  form.reset();

  // The tree is rebuilt from the disk: a folder that is gone is dropped, a new file is there.
  ASSERT_TRUE(QDir(Music(u"gone"_s)).removeRecursively());
  ASSERT_TRUE(QFile::copy(mp3test::File("cbr"), Music(u"keep/0 new.mp3"_s)));
  Start();
  EXPECT_EQ(Tree(), QStringList({u"keep: 0 new.mp3, 1.mp3"_s}));

  // (That a window hidden behind the tray icon writes no groups is a test of the icon's own: it
  // needs a desktop with a notification area.)
  form->AddMp3Group(Music(u"keep"_s), false);

  // Clear List asks first; No keeps the tree.
  dialogs.answers.push_back(false);
  Cmd("ADeleteNode")->trigger();
  EXPECT_EQ(Tree().size(), 2);
  EXPECT_EQ(dialogs.messages.size(), 0u);
  dialogs.answers.push_back(true);
  Cmd("ADeleteNode")->trigger();
  EXPECT_TRUE(Tree().isEmpty());
  Exit();
  EXPECT_FALSE(QFile::exists(GroupFile()));
}

TEST_F(Groups, SelectingAndExpandingNodes) {
  MakeFolder(u"a"_s, {u"1.mp3"_s, u"2.mp3"_s});
  MakeFolder(u"b"_s, {u"3.mp3"_s});
  Start();
  form->AddMp3Group(Music(u"a"_s), false);
  form->AddMp3Group(Music(u"b"_s), false);
  const TNodeTreeModel* model = form->NodeTree();
  EXPECT_EQ(model->data(model->index(0, 0), Qt::DisplayRole).toString(), u"a"_s);
  const QModelIndex second = model->index(1, 0, model->index(0, 0));
  EXPECT_EQ(model->data(second, Qt::DisplayRole).toString(), u"2.mp3"_s);

  form->Mp3Node->selectionModel()->setCurrentIndex(
      second, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  EXPECT_EQ(NodeMp3, model->Groups()[0].tracks[1]);
  form->Mp3Node->selectionModel()->setCurrentIndex(
      model->index(1, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  EXPECT_EQ(NodeMp3, nullptr);

  form->cboxExpand->setChecked(true);
  EXPECT_TRUE(form->Mp3Node->isExpanded(model->index(0, 0)));
  EXPECT_TRUE(form->Mp3Node->isExpanded(model->index(1, 0)));
  form->AddMp3Group(Music(u"b"_s), false);
  EXPECT_FALSE(form->Mp3Node->isExpanded(model->index(2, 0))) << "later groups stay closed";
  form->cboxExpand->setChecked(false);
  EXPECT_FALSE(form->Mp3Node->isExpanded(model->index(0, 0)));
}

TEST_F(Groups, DroppedFoldersNamedLikeTracksGetGroupsOnce) {
  MakeFolder(u"one.mp3"_s, {u"1.mp3"_s});
  MakeFolder(u"one.mp3/sub"_s, {u"2.mp3"_s});
  MakeFolder(u"two.mp3"_s, {u"3.mp3"_s});
  MakeFolder(u"two.mp3/sub"_s, {u"4.mp3"_s});
  MakeFolder(u"plain"_s, {u"5.mp3"_s});
  Start();
  form->WMDropFiles({Music(u"one.mp3"_s), Music(u"plain"_s), Music(u"two.mp3"_s)});
  EXPECT_EQ(Tree(), QStringList({u"one.mp3: 1.mp3"_s, u"one.mp3/sub: 2.mp3"_s, u"two.mp3: 3.mp3"_s,
                                 u"two.mp3/sub: 4.mp3"_s}));
}

}  // namespace
