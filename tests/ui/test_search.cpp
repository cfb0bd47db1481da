// The Find command through the real search dialog, driven offscreen as a person would: keys
// typed into its key, rows picked, OK, Enter, double click, Cancel and Esc; then the row the
// main list selects and the track that really plays through the sound server.
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "model/mp3languages.h"
#include "tests/audio/mp3testfiles.h"
#include "tests/ui/mainformfixture.h"
#include "ui/searchdialog.h"

namespace {

const QStringList kTitles = {QStringLiteral("Love Me Do.mp3"),
                             QStringLiteral("yesterday.mp3"),
                             QStringLiteral("ALL YOU NEED IS LOVE.mp3"),
                             QStringLiteral("Help!.mp3"),
                             QStringLiteral("Glove Box.mp3"),
                             QStringLiteral("Лятна любов.mp3"),
                             QStringLiteral("ЛЮБОВТА.mp3")};

class Search : public MainFormFixture {
 protected:
  void SetUp() override {
    KeepSessionSoundServer();
    MainFormFixture::SetUp();
  }

  // The titles as the stored main list, each a copy of a one-second tone whose time is known.
  void StartWithTitles() {
    const QString music = home.filePath(QStringLiteral("music/"));
    ASSERT_TRUE(QDir().mkpath(music));
    QByteArray text;
    for (int i = 0; i < kTitles.size(); ++i) {
      if (!QFile::exists(music + kTitles[i])) {
        ASSERT_TRUE(QFile::copy(mp3test::File("cbr"), music + kTitles[i]));
      }
      text += QStringLiteral("[%1PlayList]\nFileName=%2\nFileSize=17\nTime=0:0:0%1\nOnlyName=%3\n")
                  .arg(i)
                  .arg(music + kTitles[i], kTitles[i])
                  .toUtf8();
    }
    StoreList(text + "[PlayList]\nCount=" + QByteArray::number(kTitles.size()) + "\n");
    Start();
    ASSERT_EQ(Rows(), kTitles.size());
  }

  // Runs `open` (by default the Find command); once the search dialog is the active modal
  // window, `answer` acts on it. A dialog the answer left open fails the test and is closed.
  void Find(const std::function<void(TFSearch&)>& answer, std::function<void()> open = {}) {
    bool reached = false;
    QTimer poll;
    QElapsedTimer waited;
    waited.start();
    QObject::connect(&poll, &QTimer::timeout, [&] {
      auto* dialog = qobject_cast<TFSearch*>(QApplication::activeModalWidget());
      if (!dialog) {
        if (waited.elapsed() > 5000) poll.stop();
        return;
      }
      poll.stop();
      reached = true;
      answer(*dialog);
      if (dialog->isVisible()) {
        ADD_FAILURE() << "the answer left the dialog open";
        dialog->reject();
      }
    });
    poll.start(5);
    if (open)
      open();
    else
      Cmd("Search")->trigger();
    EXPECT_TRUE(reached) << "no search dialog came up";
  }

  static QStringList Column(const TFSearch& dialog, int column) {
    QStringList texts;
    const QAbstractItemModel* results = dialog.lvSearch->model();
    for (int row = 0; row < results->rowCount(); ++row)
      texts << results->index(row, column).data().toString();
    return texts;
  }
  static QStringList Titles(const TFSearch& dialog) {
    return Column(dialog, TSearchResultsModel::colTitle);
  }
  static std::vector<int> SelectedResults(const TFSearch& dialog) {
    std::vector<int> rows;
    for (const QModelIndex& index : dialog.lvSearch->selectionModel()->selectedRows())
      rows.push_back(index.row());
    return rows;
  }
  // Key presses that each type one character (keyClicks cannot type Cyrillic).
  static void Type(TFSearch& dialog, const QString& key) {
    dialog.edtSearch->clear();
    for (const QChar ch : key)
      QTest::sendKeyEvent(QTest::Click, dialog.edtSearch, Qt::Key_unknown, QString(ch), {});
  }
  static void PickResult(TFSearch& dialog, int row) {
    const QModelIndex index = dialog.lvSearch->model()->index(row, 0);
    QTest::mouseClick(dialog.lvSearch->viewport(), Qt::LeftButton, {},
                      dialog.lvSearch->visualRect(index).center());
  }

  // The row whose track the sound device has open once the queued open ran; -1 when none.
  int PlayingRow() const {
    (void)QTest::qWaitFor([] { return Mp3FileThread && Mp3FileThread->FDeviceID != 0; }, 5000);
    if (!Mp3FileThread || Mp3FileThread->FDeviceID == 0) return -1;
    return form->TrackList()->RowOf(Mp3FileThread->Mp3.get());
  }
  int RowTitled(const QString& title) const {
    for (int row = 0; row < Rows(); ++row)
      if (form->TrackList()->Record(row)->Mp3Name() == title) return row;
    return -1;
  }
  // The row chosen is the only one selected, the one played, and the one Next starts from.
  void ExpectPlayedRow(int row) {
    EXPECT_EQ(SelectedRows(form->lvMain), std::vector<int>{row});
    EXPECT_EQ(CurrMp3, form->TrackList()->Record(row));
    EXPECT_EQ(PlayingRow(), row);
    EXPECT_EQ(form->NewID(), row);
    EXPECT_EQ(form->TrackList()->Record(row)->Mp3State(), 1);
  }
};

TEST_F(Search, CtrlSOpensTheDialogOverEveryTrackAndOkAtOncePlaysTheFirst) {
  StartWithTitles();
  ShowAndActivate();
  Select(3);
  Find(
      [&](TFSearch& dialog) {
        EXPECT_EQ(dialog.objectName(), QStringLiteral("FSearch"));
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Find"));
        EXPECT_EQ(dialog.size(), QSize(465, 389));
        EXPECT_LE((dialog.geometry().center() - form->geometry().center()).manhattanLength(), 2);
        // The key has the focus once the window system has activated the dialog.
        EXPECT_TRUE(QTest::qWaitFor([&] { return dialog.edtSearch->hasFocus(); }, 5000));
        EXPECT_EQ(Titles(dialog), kTitles);
        EXPECT_EQ(Column(dialog, TSearchResultsModel::colTime),
                  QStringLiteral("0:0:00 0:0:01 0:0:02 0:0:03 0:0:04 0:0:05 0:0:06").split(u' '));
        EXPECT_EQ(SelectedResults(dialog), std::vector<int>{0});
        QTest::mouseClick(dialog.btnSearchOK, Qt::LeftButton);
      },
      [&] { Press(form->lvMain, Qt::Key_S, Qt::ControlModifier); });
  ExpectPlayedRow(0);
  EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(Search, AKeyListsTheTitlesHoldingItInAnyCaseWithoutTimes) {
  StartWithTitles();
  const struct {
    const char* key;
    QStringList titles;
  } cases[] = {
      {"love", {kTitles[0], kTitles[2], kTitles[4]}},
      {"LoVe", {kTitles[0], kTitles[2], kTitles[4]}},
      {"любов", {kTitles[5], kTitles[6]}},
      {"ЛЮБОВ", {kTitles[5], kTitles[6]}},
      {"e d", {kTitles[0]}},
      {"help!", {kTitles[3]}},
      {"zzz", {}},
  };
  Find([&](TFSearch& dialog) {
    for (const auto& c : cases) {
      SCOPED_TRACE(c.key);
      Type(dialog, QString::fromUtf8(c.key));
      EXPECT_EQ(Titles(dialog), c.titles);
      EXPECT_EQ(Column(dialog, TSearchResultsModel::colTime), QStringList(c.titles.size(), {}));
      EXPECT_TRUE(SelectedResults(dialog).empty());
    }
    // An empty key lists every track with its time again, the first selected.
    Type(dialog, QString());
    EXPECT_EQ(Titles(dialog), kTitles);
    EXPECT_EQ(Column(dialog, TSearchResultsModel::colTime).last(), QStringLiteral("0:0:06"));
    EXPECT_EQ(SelectedResults(dialog), std::vector<int>{0});
    QTest::keyClick(&dialog, Qt::Key_Escape);
  });
}

TEST_F(Search, OkEnterAndDoubleClickChooseCancelAndEscChangeNothing) {
  StartWithTitles();
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  const struct {
    const char* name;
    const char* key;
    int pick;  // the result row clicked first, -1 for none
    std::function<void(TFSearch&)> close;
    int played;  // the cache row chosen, -1 when nothing changes
  } cases[] = {
      {"OK on a picked result", "love", 1,
       [](TFSearch& d) { QTest::mouseClick(d.btnSearchOK, Qt::LeftButton); }, 2},
      {"Enter in the results", "love", 2,
       [](TFSearch& d) { QTest::keyClick(d.lvSearch, Qt::Key_Return); }, 4},
      {"double click on a result", "ЛЮБОВ", -1,
       [](TFSearch& d) {
         const QRect rect = d.lvSearch->visualRect(d.lvSearch->model()->index(1, 0));
         // A person's double click: the first click, then the second as a double click.
         QTest::mouseClick(d.lvSearch->viewport(), Qt::LeftButton, {}, rect.center());
         QTest::mouseDClick(d.lvSearch->viewport(), Qt::LeftButton, {}, rect.center());
       },
       6},
      {"OK with no result picked", "love", -1,
       [](TFSearch& d) { QTest::mouseClick(d.btnSearchOK, Qt::LeftButton); }, -1},
      {"OK after a key that matches nothing", "zzz", -1,
       [](TFSearch& d) { QTest::mouseClick(d.btnSearchOK, Qt::LeftButton); }, -1},
      {"Cancel", "love", 0,
       [](TFSearch& d) { QTest::mouseClick(d.btnSearchCancel, Qt::LeftButton); }, -1},
      {"Esc", "love", 0, [](TFSearch& d) { QTest::keyClick(d.lvSearch, Qt::Key_Escape); }, -1},
      {"Enter in the key edit is no choice", "love", 0,
       [](TFSearch& d) {
         QTest::keyClick(d.edtSearch, Qt::Key_Return);
         EXPECT_TRUE(d.isVisible());
         QTest::keyClick(d.edtSearch, Qt::Key_Escape);
       },
       -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Select(1);
    const TMp3PlayerPtr before = CurrMp3;
    const TMp3FileThread* engine = Mp3FileThread.get();
    Find([&](TFSearch& dialog) {
      Type(dialog, QString::fromUtf8(c.key));
      if (c.pick >= 0) PickResult(dialog, c.pick);
      c.close(dialog);
      EXPECT_FALSE(dialog.isVisible());
    });
    if (c.played >= 0) {
      ExpectPlayedRow(c.played);
    } else {
      EXPECT_EQ(SelectedRows(form->lvMain), std::vector<int>{1});
      EXPECT_EQ(CurrMp3, before);
      EXPECT_EQ(Mp3FileThread.get(), engine) << "nothing new plays";
    }
  }
  EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(Search, TheChosenTrackIsPlayedFromItsOwnRowWhereverTheListPutsIt) {
  const struct {
    const char* name;
    std::function<void()> prepare;
    bool listed;
  } cases[] = {
      {"rows sorted by title", [this] { form->lvMainColumnClick(TTrackListModel::colTitle); },
       true},
      {"rows above deleted",
       [this] {
         Select(0);
         dialogs.answers.push_back(true);  // "Are you shure?"
         form->DeleteExecute();
       },
       true},
      {"several rows selected",
       [this] {
         form->lvMainColumnClick(TTrackListModel::colTitle);
         form->lvMain->selectAll();
       },
       true},
      {"the track filtered out of the list",
       [this] { form->edtSearch->setText(QStringLiteral("yesterday")); }, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    form.reset();
    StartWithTitles();
    c.prepare();
    const std::vector<int> selectedBefore = SelectedRows(form->lvMain);
    const TMp3FileThread* engine = Mp3FileThread.get();
    Find([&](TFSearch& dialog) {
      Type(dialog, QStringLiteral("help"));
      PickResult(dialog, 0);
      QTest::mouseClick(dialog.btnSearchOK, Qt::LeftButton);
    });
    if (!c.listed) {
      EXPECT_EQ(SelectedRows(form->lvMain), selectedBefore);
      EXPECT_EQ(Mp3FileThread.get(), engine) << "nothing plays";
      continue;
    }
    const int row = RowTitled(QStringLiteral("Help!.mp3"));
    ASSERT_GE(row, 0);
    ASSERT_NE(form->TrackList()->Record(row)->Mp3ID(), row) << "the case moved the row";
    ExpectPlayedRow(row);
    // Next goes on from the row that was chosen.
    form->Mp3NextExecute();
    EXPECT_EQ(PlayingRow(), (row + 1) % Rows());
  }
}

TEST_F(Search, TheDialogTakesTheLanguageChosenWhenItOpens) {
  StartWithTitles();
  ShowAndActivate();
  const struct {
    Qt::Key choose;  // in the language box
    std::vector<std::pair<const char*, const char*>> texts;
  } cases[] = {
      {Qt::Key_Down,
       {{"lblSearchKey", "Търсен текст"},
        {"lblSearchResults", "Резултати"},
        {"btnSearchOK", "OK"},
        {"btnSearchCancel", "Отказ"}}},
      {Qt::Key_Up,
       {{"lblSearchKey", "Key"},
        {"lblSearchResults", "Results"},
        {"btnSearchOK", "OK"},
        {"btnSearchCancel", "Cancel"}}},
  };
  for (const auto& c : cases) {
    form->SetActivePage(form->tsOptions);
    Press(form->cboxLng, c.choose);
    form->SetActivePage(form->tsMp3Player);
    Find([&](TFSearch& dialog) {
      for (const auto& [name, text] : c.texts) {
        QObject* component = dialog.findChild<QObject*>(QLatin1String(name));
        ASSERT_NE(component, nullptr) << name;
        const QString shown = qobject_cast<QLabel*>(component)
                                  ? qobject_cast<QLabel*>(component)->text()
                                  : qobject_cast<QPushButton*>(component)->text();
        EXPECT_EQ(shown, QString::fromUtf8(text)) << name;
      }
      EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Find"));
      QTest::mouseClick(dialog.btnSearchCancel, Qt::LeftButton);
    });
  }
  EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(Search, ALanguageFileThatCannotBeReadIsReportedAndTheDialogStillServes) {
  StartWithTitles();
  QTemporaryDir empty;
  Mp3Session->Mp3Languages().SetSearchFolders(QStringList{empty.path()});
  form->cboxLng->setCurrentIndex(1);
  Find([&](TFSearch& dialog) {
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text,
              QStringLiteral("Cannot open file \"%1/bulgarian.lng\". No such file or directory")
                  .arg(empty.path()));
    EXPECT_EQ(dialog.lblSearchKey->text(), QStringLiteral("Key"));
    EXPECT_EQ(dialog.btnSearchCancel->text(), QStringLiteral("Cancel"));
    EXPECT_EQ(Titles(dialog), kTitles);
    QTest::keyClick(dialog.lvSearch, Qt::Key_Return);
  });
  ExpectPlayedRow(0);
}

TEST_F(Search, WithoutATrackCacheTheDialogListsNothingAndOkChoosesNothing) {
  TFSearch search;
  bool accepted = false;
  Find(
      [&](TFSearch& dialog) {
        EXPECT_EQ(dialog.lvSearch->model()->rowCount(), 0);
        Type(dialog, QStringLiteral("a"));
        EXPECT_EQ(dialog.lvSearch->model()->rowCount(), 0);
        QTest::keyClick(dialog.lvSearch, Qt::Key_Return);
      },
      [&] { accepted = search.Execute(nullptr, -1); });
  EXPECT_TRUE(accepted);
  EXPECT_EQ(search.CurrMp3(), nullptr);
}

}  // namespace
