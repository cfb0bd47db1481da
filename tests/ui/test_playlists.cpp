// Named play lists through the real window, offscreen, with real files in a private home: saving
// and loading lists, the registry on disk and at the next start, Delete and Rename.
#include <QStandardItemModel>

#include "tests/ui/mainformfixture.h"

namespace {

class NamedLists : public MainFormFixture {
 protected:
  QString Registry() const { return DataDir() + QStringLiteral("NewPlayList.DAT"); }
  QString InHome(const char* name) const { return home.filePath(QLatin1String(name)); }

  // The page's rows as (name, path).
  std::vector<std::pair<std::string, std::string>> Entries() const {
    std::vector<std::pair<std::string, std::string>> rows;
    const QStandardItemModel* model = form->PlayLists();
    for (int row = 0; row < model->rowCount(); ++row)
      rows.emplace_back(model->item(row, 0)->text().toStdString(),
                        model->item(row, 1)->text().toStdString());
    return rows;
  }
  // What a window started afresh on this data folder lists.
  std::vector<std::pair<std::string, std::string>> EntriesAfterRestart() {
    form.reset();
    Start();
    return Entries();
  }
  void SelectLists(std::initializer_list<int> rows) {
    QItemSelectionModel* selection = form->lvPlayLists->selectionModel();
    selection->clearSelection();
    for (int row : rows)
      selection->select(form->PlayLists()->index(row, 0),
                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
    // The commands of the page are enabled by the selection.
    form->ActionListUpdate();
  }
  std::vector<std::string> Column(int column) const {
    std::vector<std::string> cells;
    for (int row = 0; row < Rows(); ++row)
      cells.push_back(form->TrackList()->CellText(row, column).toStdString());
    return cells;
  }
  void SaveAs(const QString& path) {
    dialogs.answers.push_back(path);
    Cmd("ASaveList")->trigger();
  }
  void LoadFrom(const QString& path) {
    dialogs.answers.push_back(path);
    Cmd("ALoadPlayList")->trigger();
  }
  static std::vector<std::string> Numbers(int count) {
    std::vector<std::string> numbers;
    for (int i = 1; i <= count; ++i) numbers.push_back(std::to_string(i));
    return numbers;
  }
};

TEST_F(NamedLists, SavedListsComeBackFromThePageAndAreAppendedByLoadPlayList) {
  StoreList(ListText(3));
  Start();
  const QString rock = InHome("rock.lst");
  SaveAs(rock);
  SaveAs(rock);  // the same file twice is two rows
  EXPECT_EQ(Entries(), (std::vector<std::pair<std::string, std::string>>{
                           {"rock.lst", rock.toStdString()}, {"rock.lst", rock.toStdString()}}));
  EXPECT_TRUE(ReadFile(rock).contains("FileName=/music/track 2.mp3"));

  // Five rows in the main list; "Load" replaces them with the saved three.
  form.reset();
  StoreList(ListText(5));
  Start();
  ASSERT_EQ(Rows(), 5);
  SelectLists({0});
  Cmd("AFillPlayList")->trigger();
  EXPECT_EQ(Rows(), 3);
  EXPECT_EQ(form->pcMain->currentWidget(), form->tsMp3Player);
  EXPECT_EQ(form->EnumTabs(), et_Mp3);

  // Load Play List appends, numbered on, and registers the file once more.
  form->AClearPlayListExecute();
  form.reset();
  StoreList(ListText(5));
  Start();
  LoadFrom(rock);
  EXPECT_EQ(Rows(), 8);
  EXPECT_EQ(Column(TTrackListModel::colNumber), Numbers(8));
  EXPECT_EQ(Entries().size(), 3u);
  EXPECT_EQ(EntriesAfterRestart().size(), 3u);
  EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(NamedLists, SavingAnEmptyListLeavesAFileThatLoadsNoTracks) {
  Start();
  const QString empty = InHome("empty.lst");
  WriteFile(empty, "[0PlayList]\nFileName=/old.mp3\n[PlayList]\nCount=1\n");
  SaveAs(empty);
  // Only the settings are in it.
  EXPECT_FALSE(ReadFile(empty).contains("[0PlayList]")) << ReadFile(empty).toStdString();
  EXPECT_TRUE(ReadFile(empty).contains("[SET_LANGUAGE]"));
  EXPECT_EQ(Entries().size(), 1u);
  LoadFrom(empty);
  EXPECT_EQ(Rows(), 0);
}

TEST_F(NamedLists, DeleteRemovesOnlyTheFirstSelectedRowAndKeepsItsFile) {
  StoreList(ListText(2));
  Start();
  for (const char* name : {"a.lst", "b.lst", "c.lst"}) SaveAs(InHome(name));
  SelectLists({1, 2});
  dialogs.answers.push_back(false);
  Cmd("ADeletePlayList")->trigger();
  EXPECT_EQ(Entries().size(), 3u);

  SelectLists({2, 1});
  dialogs.answers.push_back(true);
  Cmd("ADeletePlayList")->trigger();
  const std::vector<std::pair<std::string, std::string>> left = {
      {"a.lst", InHome("a.lst").toStdString()}, {"c.lst", InHome("c.lst").toStdString()}};
  EXPECT_EQ(Entries(), left);
  EXPECT_TRUE(QFile::exists(InHome("b.lst")));
  // Written afresh: nothing of the third entry stays behind.
  EXPECT_FALSE(ReadFile(Registry()).contains("2UserPlayList"));
  EXPECT_EQ(EntriesAfterRestart(), left);
}

TEST_F(NamedLists, RenameMovesTheFileAndNeverReplacesAnother) {
  StoreList(ListText(2));
  Start();
  SaveAs(InHome("rock.lst"));
  const QByteArray saved = ReadFile(InHome("rock.lst"));
  SelectLists({0});
  dialogs.answers.push_back(QStringLiteral("pop.lst"));
  Cmd("ARenamePlayList")->trigger();
  const std::vector<std::pair<std::string, std::string>> renamed = {
      {"pop.lst", InHome("pop.lst").toStdString()}};
  EXPECT_EQ(Entries(), renamed);
  EXPECT_FALSE(QFile::exists(InHome("rock.lst")));
  EXPECT_EQ(ReadFile(InHome("pop.lst")), saved);
  EXPECT_TRUE(dialogs.messages.empty());

  // Onto a file that exists: a message, and both files and the row stay as they were.
  WriteFile(InHome("jazz.lst"), "the user's other file");
  SelectLists({0});
  dialogs.answers.push_back(QStringLiteral("jazz.lst"));
  Cmd("ARenamePlayList")->trigger();
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_TRUE(dialogs.messages[0].text.contains(InHome("jazz.lst")));
  EXPECT_EQ(ReadFile(InHome("jazz.lst")), "the user's other file");
  EXPECT_EQ(ReadFile(InHome("pop.lst")), saved);
  EXPECT_EQ(Entries(), renamed);
  EXPECT_EQ(EntriesAfterRestart(), renamed);
}

TEST_F(NamedLists, TheRegistryIsReadAsStoredWhateverItsCount) {
  struct Case {
    const char* what;
    QByteArray registry;
    std::vector<std::pair<std::string, std::string>> rows;
  };
  const QByteArray two =
      "[0UserPlayList]\nPlayListName=rock.lst\nPlayListLocation=/m/rock.lst\n"
      "[1UserPlayList]\nPlayListLocation=/m/jazz.lst\n";
  const Case cases[] = {
      {"no Count section", two, {}},
      {"zero", two + "[Count]\nPlayListCount=0\n", {}},
      {"negative", two + "[Count]\nPlayListCount=-3\n", {}},
      // A missing name repeats the previous entry's.
      {"two",
       two + "[Count]\nPlayListCount=2\n",
       {{"rock.lst", "/m/rock.lst"}, {"rock.lst", "/m/jazz.lst"}}},
      {"no name first",
       "[0UserPlayList]\nPlayListLocation=/m/x.lst\n[Count]\nPlayListCount=1\n",
       {{"", "/m/x.lst"}}},
      // A damaged count makes no rows beyond the sections there are.
      {"absurd",
       two + "[Count]\nPlayListCount=2000000000\n",
       {{"rock.lst", "/m/rock.lst"}, {"rock.lst", "/m/jazz.lst"}}},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(QDir().mkpath(DataDir()));
    WriteFile(Registry(), c.registry);
    Start();
    EXPECT_EQ(Entries(), c.rows) << c.what;
    form.reset();
  }
}

}  // namespace
