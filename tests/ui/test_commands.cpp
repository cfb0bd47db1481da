#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>
#include <QTreeView>

#include "tests/ui/mainformfixture.h"

namespace {

class Commands : public MainFormFixture {
 protected:
  // Counts every command the window runs.
  void WatchCommands() {
    for (QAction* action : form->ActionList->findChildren<QAction*>())
      QObject::connect(action, &QAction::triggered, form.get(),
                       [this, action] { ++ran[action->objectName().toStdString()]; });
  }
  void ClickTab(QWidget* page) {
    QTabBar* bar = form->pcMain->tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(form->pcMain->indexOf(page)).center());
    QCoreApplication::processEvents();
  }
  void SelectRow(int row) {
    form->lvMain->selectionModel()->select(
        form->TrackList()->index(row, 0),
        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    QCoreApplication::processEvents();
  }
  bool Enabled(const char* name) {
    form->ActionListUpdate();
    return Cmd(name)->isEnabled();
  }

  std::map<std::string, int> ran;
};

const char* const kPlayCommands[] = {"Mp3Play", "Mp3Pause", "Mp3Close", "Mp3Next", "Mp3Prev"};

TEST_F(Commands, WindowHasItsPagesStripAndCommandTable) {
  Start();
  ShowAndActivate();
  EXPECT_EQ(form->windowTitle(), QStringLiteral("Velmo"));
  const char* const pages[] = {"Mp3", "Mp3 Node", "Play List", "TAG  - Info", "Options", "About"};
  ASSERT_EQ(form->pcMain->count(), 6);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(form->pcMain->tabText(i), QLatin1String(pages[i]));
  EXPECT_EQ(form->pcMain->currentWidget(), form->tsMp3Player);
  EXPECT_EQ(form->EnumTabs(), et_Mp3);

  // Buttons show their command's caption, left to right.
  const std::pair<QToolButton*, const char*> buttons[] = {
      {form->SpeedButton2, "Exit"}, {form->btnMp3Load, "Load Directory"},
      {form->btnPrev, "Prev"},      {form->btnNext, "Next"},
      {form->btnPlay, "Play"},      {form->btnPause, "Pause"},
      {form->btnStop, "Stop"}};
  for (const auto& [button, caption] : buttons) EXPECT_EQ(button->text(), QLatin1String(caption));
  EXPECT_LT(form->btnPrev->x(), form->btnStop->x());

  // The same caption everywhere once a command's caption changes.
  Cmd("Mp3Pause")->setText(QStringLiteral("Resume"));
  EXPECT_EQ(form->btnPause->text(), QStringLiteral("Resume"));
  QStringList captions;
  for (QAction* entry : form->PopupMenu->findChildren<QAction*>()) captions << entry->text();
  EXPECT_TRUE(captions.contains(QStringLiteral("Resume\tF2"))) << captions.join(u'|').toStdString();

  // Menu entries carry their key labels, own keys included.
  QMenu* file = form->MainMenu->actions().at(0)->menu();
  ASSERT_NE(file, nullptr);
  QStringList fileEntries;
  for (QAction* entry : file->actions())
    fileEntries << (entry->isSeparator() ? QStringLiteral("-") : entry->text());
  EXPECT_EQ(fileEntries,
            (QStringList{QStringLiteral("Load Directory\tCtrl+L"),
                         QStringLiteral("Load File\tCtrl+F"), QStringLiteral("Load m3u\tCtrl+R"),
                         QStringLiteral("-"), QStringLiteral("Exit\tEsc")}));
  EXPECT_EQ(file->defaultAction(), file->actions().last());
  QStringList heads;
  for (QAction* head : form->MainMenu->actions()) heads << head->text();
  EXPECT_EQ(heads,
            (QStringList{QStringLiteral("File"), QStringLiteral("Edit"), QStringLiteral("View"),
                         QStringLiteral("Search"), QStringLiteral("Help")}));
}

TEST_F(Commands, EmptyListDisablesListCommandsOnEveryPage) {
  Start();
  ShowAndActivate();
  for (QWidget* page : {form->tsMp3Player, form->tsMp3Node, form->tsPlayList, form->tsTAGID,
                        form->tsOptions, form->tsAbout}) {
    ClickTab(page);
    for (const char* name : {"Mp3Play", "Mp3Pause", "Mp3Close", "Mp3Next", "Mp3Prev", "Search",
                             "ARefresh", "AMp3Tag", "Delete", "AClearPlayList"})
      EXPECT_FALSE(Enabled(name)) << name << " on " << page->objectName().toStdString();
    for (const char* name : {"AExit", "ALoadDir", "AFile", "AAbout"}) EXPECT_TRUE(Enabled(name));
  }
}

TEST_F(Commands, PlayCommandsFollowThePageTheUserPicked) {
  StoreList(ListText(3));
  Start();
  ShowAndActivate();
  SelectRow(1);
  const struct {
    QWidget* page;
    TEnumTabs tabs;
    bool play;
  } cases[] = {
      {form->tsPlayList, et_None, false}, {form->tsTAGID, et_None, false},
      {form->tsAbout, et_None, false},    {form->tsOptions, et_Settings, false},
      {form->tsMp3Node, et_Node, false},  // no node selected
      {form->tsMp3Player, et_Mp3, true},
  };
  for (const auto& c : cases) {
    ClickTab(c.page);
    EXPECT_EQ(form->EnumTabs(), c.tabs) << c.page->objectName().toStdString();
    for (const char* name : kPlayCommands)
      EXPECT_EQ(Enabled(name), c.play) << name << " on " << c.page->objectName().toStdString();
  }
  for (const char* name : {"Search", "ARefresh", "AMp3Tag", "Delete", "AClearPlayList"})
    EXPECT_TRUE(Enabled(name)) << name;

  // A page made active by a command does not change where the play commands act.
  Cmd("AOptions")->trigger();
  EXPECT_EQ(form->pcMain->currentWidget(), form->tsOptions);
  EXPECT_EQ(form->EnumTabs(), et_Mp3);
  EXPECT_TRUE(Enabled("Mp3Play"));
}

TEST_F(Commands, MainPageWithoutCacheKeepsPlayDisabledUntilPickedAgain) {
  Start();
  ShowAndActivate();
  ClickTab(form->tsPlayList);
  ClickTab(form->tsMp3Player);
  EXPECT_EQ(form->EnumTabs(), et_None);
  WriteFile(home.filePath(QStringLiteral("more.DAT")), ListText(2));
  form->LoadPlayListFile(home.filePath(QStringLiteral("more.DAT")));
  SelectRow(0);
  EXPECT_FALSE(Enabled("Mp3Play"));
  ClickTab(form->tsAbout);
  ClickTab(form->tsMp3Player);
  EXPECT_TRUE(Enabled("Mp3Play"));
}

TEST_F(Commands, BusyIndicatorHidesFastSearchAndBlocksClear) {
  StoreList(ListText(1));
  Start();
  ShowAndActivate();
  form->ProgressBar1->show();
  QCoreApplication::processEvents();
  EXPECT_TRUE(form->pnlSearch->isHidden());
  EXPECT_FALSE(Cmd("AClearPlayList")->isEnabled());
  form->ProgressBar1->hide();
  QCoreApplication::processEvents();
  EXPECT_FALSE(form->pnlSearch->isHidden());
  EXPECT_TRUE(Cmd("AClearPlayList")->isEnabled());
}

TEST_F(Commands, TagPageIsRefilledOnlyWhenItsTabIsPicked) {
  StoreList(ListText(3));
  Start();
  ShowAndActivate();
  QAbstractItemModel* tags = form->lvTAGID->model();
  Press(form->lvMain, Qt::Key_T, Qt::ControlModifier);
  EXPECT_EQ(form->pcMain->currentWidget(), form->tsTAGID);
  EXPECT_EQ(tags->rowCount(), 0) << "Ctrl+T does not fill the page";

  ClickTab(form->tsMp3Player);
  ClickTab(form->tsTAGID);
  ClickTab(form->tsMp3Player);
  ClickTab(form->tsTAGID);
  ASSERT_EQ(tags->rowCount(), 3) << "picked twice, the rows are there once";
  EXPECT_EQ(tags->index(2, 0).data().toString(), QStringLiteral("track 2.mp3"));

  WriteFile(home.filePath(QStringLiteral("more.DAT")), ListText(2));
  form->LoadPlayListFile(home.filePath(QStringLiteral("more.DAT")));
  ClickTab(form->tsMp3Player);
  Press(form->lvMain, Qt::Key_T, Qt::ControlModifier);
  EXPECT_EQ(tags->rowCount(), 3) << "reached by Ctrl+T, the page keeps its old rows";
}

TEST_F(Commands, KeysReachTheirCommandsThroughMenusThenTheTable) {
  StoreList(ListText(3));
  Start();
  ShowAndActivate();
  SelectRow(0);
  WatchCommands();
  const struct {
    const char* name;
    QWidget* focus;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    std::map<std::string, int> expected;
  } cases[] = {
      {"F1 plays", form->lvMain, Qt::Key_F1, {}, {{"Mp3Play", 1}}},
      {"F5 refreshes", form->lvMain, Qt::Key_F5, {}, {{"ARefresh", 1}}},
      {"Ctrl+F is taken by the File heading", form->lvMain, Qt::Key_F, Qt::ControlModifier, {}},
      {"Ctrl+F elsewhere too", form->pcMain->tabBar(), Qt::Key_F, Qt::ControlModifier, {}},
      {"Ctrl+Del does nothing", form->lvMain, Qt::Key_Delete, Qt::ControlModifier, {{"ADel", 1}}},
      {"Del in the track list deletes tracks", form->lvMain, Qt::Key_Delete, {}, {{"Delete", 1}}},
      {"Del in the play lists needs a selected list", form->lvPlayLists, Qt::Key_Delete, {}, {}},
      {"Del elsewhere needs a selected list", form->pcMain->tabBar(), Qt::Key_Delete, {}, {}},
      {"Ctrl+C in the search box copies", form->edtSearch, Qt::Key_C, Qt::ControlModifier, {}},
      {"Del in the search box edits", form->edtSearch, Qt::Key_Delete, {}, {}},
      {"F6 from the search box", form->edtSearch, Qt::Key_F6, {}, {{"Mp3Next", 1}}},
      {"Ctrl+C in the list clears it",
       form->lvMain,
       Qt::Key_C,
       Qt::ControlModifier,
       {{"AClearPlayList", 1}}},
  };
  for (const auto& c : cases) {
    SelectRow(0);
    if (c.expected.count("Delete")) dialogs.answers.push_back(false);  // "Are you shure?" No
    ran.clear();
    Press(c.focus, c.key, c.modifiers);
    EXPECT_EQ(ran, c.expected) << c.name;
  }
  EXPECT_EQ(Rows(), 0) << "the last key cleared the list";

  // On a page that disables them, the play keys do nothing.
  ClickTab(form->tsPlayList);
  ran.clear();
  Press(form->lvPlayLists, Qt::Key_F1);
  EXPECT_TRUE(ran.empty());

  // The search box keeps its editing keys.
  form->edtSearch->setText(QStringLiteral("abc"));
  form->edtSearch->setCursorPosition(0);
  Press(form->edtSearch, Qt::Key_Delete);
  EXPECT_EQ(form->edtSearch->text(), QStringLiteral("bc"));
}

TEST_F(Commands, EscExitsFromAnywhere) {
  StoreList(ListText(1));
  Start();
  ShowAndActivate();
  ASSERT_TRUE(QFile::remove(ListFile()));
  EXPECT_EQ(RunEventLoop([&] { Press(form->edtSearch, Qt::Key_Escape); }), 0);
  EXPECT_TRUE(QFile::exists(ListFile())) << "Exit saved the list";
}

TEST_F(Commands, WindowSnapsBackToItsMinimumSize) {
  Start();
  ShowAndActivate();
  const QSize frame = form->frameGeometry().size() - form->size();
  const struct {
    int width, height, expectedWidth, expectedHeight;
  } cases[] = {{300, 300, 600, 520},
               {700, 400, 700, 520},
               {500, 800, 600, 800},
               {800, 600, 800, 600},
               {600, 520, 600, 520}};
  for (const auto& c : cases) {
    form->resize(c.width - frame.width(), c.height - frame.height());
    QCoreApplication::processEvents();
    EXPECT_EQ(form->frameGeometry().width(), c.expectedWidth) << c.width << "x" << c.height;
    EXPECT_EQ(form->frameGeometry().height(), c.expectedHeight) << c.width << "x" << c.height;
  }
}

}  // namespace
