// The interface languages on the real window: the language box, the shipped language files, the
// file named on the command line, and how a language file's lines reach the components.
#include <QComboBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolButton>

#include <map>

#include "model/mp3languages.h"
#include "platform/textcodec.h"
#include "tests/audio/mp3testfiles.h"
#include "tests/support/qtprint.h"
#include "tests/ui/mainformfixture.h"
#include "ui/languageapply.h"

namespace {

using Captions = std::map<QString, QString>;

// What the component of this name shows; nullopt when the window has no such component or it
// shows no caption.
std::optional<QString> CaptionOf(QWidget* window, const QString& name) {
  QObject* object = nullptr;
  for (QObject* child : window->findChildren<QObject*>())
    if (child->objectName().compare(name, Qt::CaseInsensitive) == 0) object = child;
  if (auto* action = qobject_cast<QAction*>(object)) return action->text();
  if (auto* button = qobject_cast<QAbstractButton*>(object)) return button->text();
  if (auto* label = qobject_cast<QLabel*>(object)) return label->text();
  if (auto* group = qobject_cast<QGroupBox*>(object)) return group->title();
  if (auto* edit = qobject_cast<QLineEdit*>(object)) return edit->text();
  if (auto* page = qobject_cast<QWidget*>(object))
    for (auto* tabs : window->findChildren<QTabWidget*>())
      if (tabs->indexOf(page) >= 0) return tabs->tabText(tabs->indexOf(page));
  return std::nullopt;
}

// A shipped language file, read on its own terms: the text after a byte order mark, split at the
// first "=" of each line.
Captions ShippedFile(const char* name) {
  const QString path = QCoreApplication::applicationDirPath() + u'/' + QLatin1String(name);
  QFile file(path);
  EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
  QByteArray bytes = file.readAll();
  EXPECT_TRUE(bytes.startsWith("\xEF\xBB\xBF")) << name << " is UTF-8 with a byte order mark";
  Captions captions;
  for (const QString& line : QString::fromUtf8(bytes.mid(3)).split(u'\n', Qt::SkipEmptyParts)) {
    const qsizetype split = line.indexOf(u'=');
    EXPECT_GT(split, 0) << line.toStdString();
    EXPECT_TRUE(captions.emplace(line.left(split), line.mid(split + 1)).second)
        << name << " names " << line.left(split).toStdString() << " twice";
  }
  EXPECT_FALSE(captions.empty());
  return captions;
}

// The components of the search dialog, which is made only while Find runs.
const char* const kSearchDialogNames[] = {"lblSearchKey", "lblSearchResults", "btnSearchOK",
                                          "btnSearchCancel"};
bool IsSearchDialogName(const QString& name) {
  for (const char* dialogName : kSearchDialogNames)
    if (name == QLatin1String(dialogName)) return true;
  return false;
}

// The main menu's and the pop-up menus' entries that show `caption` (key label aside).
int MenuEntriesShowing(TMainForm* form, const QString& caption) {
  int count = 0;
  for (QMenu* menu : form->findChildren<QMenu*>())
    for (QAction* entry : menu->actions())
      if (!entry->menu() && entry->text().section(u'\t', 0, 0) == caption) ++count;
  return count;
}

class LanguageWindow : public MainFormFixture {
 protected:
  void Choose(Qt::Key key) {
    form->SetActivePage(form->tsOptions);
    Press(form->cboxLng, key);
  }
  Captions Now(const Captions& names) {
    Captions now;
    for (const auto& [name, text] : names)
      if (std::optional<QString> caption = CaptionOf(form.get(), name)) now[name] = *caption;
    return now;
  }
};

TEST_F(LanguageWindow, ChoosingBulgarianAndThenEnglishChangesAndRestoresEveryCaptionOfTheFiles) {
  Start();
  const Captions english = ShippedFile("english.lng"), bulgarian = ShippedFile("bulgarian.lng");
  Captions englishShown;
  for (const auto& [name, text] : english)
    if (!IsSearchDialogName(name)) englishShown[name] = text;
  // The settings apply the stored language at start-up: English at the first start.
  EXPECT_EQ(Now(english), englishShown);

  Choose(Qt::Key_Down);
  ASSERT_EQ(form->cboxLng->currentIndex(), 1);
  EXPECT_TRUE(dialogs.messages.empty());
  Captions expected;
  for (const auto& [name, text] : bulgarian)
    if (!IsSearchDialogName(name)) expected[name] = text;
  EXPECT_EQ(Now(bulgarian), expected);
  // A renamed command renames its transport button and every menu entry bound to it.
  const QString play = bulgarian.at(QStringLiteral("Mp3Play"));
  EXPECT_EQ(form->btnPlay->text(), play);
  EXPECT_EQ(MenuEntriesShowing(form.get(), play), 2) << "the Edit menu's and the pop-up menu's";
  EXPECT_EQ(MenuEntriesShowing(form.get(), QStringLiteral("Play")), 0);
  EXPECT_EQ(form->MainMenu->actions().at(1)->text(), bulgarian.at(QStringLiteral("AEdit")));

  Choose(Qt::Key_Up);
  ASSERT_EQ(form->cboxLng->currentIndex(), 0);
  EXPECT_EQ(Now(english), englishShown);
  EXPECT_EQ(form->btnPlay->text(), QStringLiteral("Play"));
  EXPECT_EQ(MenuEntriesShowing(form.get(), QStringLiteral("Play")), 2);
  EXPECT_EQ(MenuEntriesShowing(form.get(), play), 0);
  EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(LanguageWindow, TheShippedFilesCoverEveryCaptionTheWindowShowsAndNameOnlyComponents) {
  Start();
  const Captions english = ShippedFile("english.lng"), bulgarian = ShippedFile("bulgarian.lng");
  for (const auto& [name, text] : bulgarian) {
    EXPECT_TRUE(english.count(name)) << "English must restore " << name.toStdString();
    EXPECT_TRUE(IsSearchDialogName(name) || CaptionOf(form.get(), name))
        << name.toStdString() << " is no component";
  }
  for (const auto& [name, text] : english)
    EXPECT_TRUE(bulgarian.count(name)) << name.toStdString() << " has no Bulgarian text";
  for (const char* name : kSearchDialogNames)
    EXPECT_TRUE(bulgarian.count(QLatin1String(name))) << name;

  // Captions the window shows that no language file may change, and why.
  const std::map<QString, const char*> kept = {
      {QStringLiteral("lblProgress"), "fixed by the window's layout"},
      {QStringLiteral("spDefPath"), "shows the default folder, which the settings write"},
      {QStringLiteral("lblPercents"), "the volume"},
      {QStringLiteral("ADel"), "bound to nothing"},
  };
  QStringList shown;
  for (QObject* object : form->findChildren<QObject*>()) {
    const QString name = object->objectName();
    if (name.isEmpty() || kept.count(name) || qobject_cast<QStatusBar*>(object->parent())) continue;
    // A button bound to a command shows the command's caption.
    if (auto* button = qobject_cast<QToolButton*>(object); button && button->defaultAction())
      continue;
    const std::optional<QString> caption = CaptionOf(form.get(), name);
    if (caption && !caption->isEmpty() && !qobject_cast<QLineEdit*>(object)) shown << name;
  }
  for (const char* name :
       {"Mp3Play", "AEdit", "lblPos", "btnFont", "cboxRepeat", "GrBoxLng", "tsTAGID"})
    EXPECT_TRUE(shown.contains(QLatin1String(name))) << name;
  for (const QString& name : shown)
    EXPECT_TRUE(bulgarian.count(name)) << name.toStdString() << " is not translated";
}

TEST_F(LanguageWindow, AFileArgumentIsAppendedAtEveryChoiceAndNoLanguageIsApplied) {
  const QString track = mp3test::File("cbr");
  ASSERT_FALSE(track.isEmpty());
  const QString missing = home.filePath(QStringLiteral("gone.mp3"));
  const struct {
    QString path;
    QString size;
    QString time;  // what the duration scanner finds
  } cases[] = {
      {track, QString::number(QFileInfo(track).size() / 1000) + QStringLiteral(" KB"),
       QStringLiteral("0:0:01")},
      {missing, QStringLiteral("-1 KB"), QString()},
  };
  for (const auto& c : cases) {
    Start({c.path});
    // Selecting from code, as the settings do, runs nothing by itself.
    form->cboxLng->setCurrentIndex(1);
    QCoreApplication::processEvents();
    EXPECT_EQ(Rows(), 1) << "the settings' choice at start-up appends it once";

    Choose(Qt::Key_Up);
    Choose(Qt::Key_Down);
    ASSERT_EQ(Rows(), 3) << "one row per choice";
    EXPECT_EQ(Mp3Session->CacheCount(), 3);
    EXPECT_EQ(CurrMp3, nullptr);
    for (int row = 0; row < 3; ++row) {
      const TTrackListModel* list = form->TrackList();
      EXPECT_EQ(list->CellText(row, TTrackListModel::colNumber), QString::number(row + 1));
      EXPECT_EQ(list->CellText(row, TTrackListModel::colTitle), QFileInfo(c.path).fileName());
      EXPECT_EQ(list->CellText(row, TTrackListModel::colSize), c.size);
      EXPECT_EQ(list->Record(row)->Mp3Path(), c.path);
      EXPECT_EQ(list->Record(row)->Mp3ID(), 0);
    }
    // The texts stay the window's own, and each append started a scanner of its own.
    EXPECT_EQ(form->btnFont->text(), QStringLiteral("Set Font"));
    EXPECT_EQ(Cmd("Mp3Play")->text(), QStringLiteral("Play"));
    if (!c.time.isEmpty()) {
      EXPECT_TRUE(QTest::qWaitFor(
          [&] {
            for (int row = 0; row < 3; ++row)
              if (form->TrackList()->CellText(row, TTrackListModel::colTime) != c.time)
                return false;
            return true;
          },
          20000));
    }
    EXPECT_TRUE(dialogs.messages.empty());
    form.reset();
  }
}

TEST_F(LanguageWindow, ALanguageFileThatCannotBeOpenedIsReportedAndChangesNothing) {
  Start();
  QTemporaryDir empty;
  Mp3Session->Mp3Languages().SetSearchFolders(QStringList{empty.path()});
  Choose(Qt::Key_Down);
  const QString expected =
      QStringLiteral("Cannot open file \"%1/bulgarian.lng\". No such file or directory")
          .arg(empty.path());
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].text, expected);
  EXPECT_EQ(dialogs.messages[0].icon, TMessageIcon::Error);
  EXPECT_EQ(form->btnFont->text(), QStringLiteral("Set Font"));
  EXPECT_EQ(Cmd("Mp3Play")->text(), QStringLiteral("Play"));
  // The settings load at start-up runs the handler directly and must go on.
  EXPECT_NO_THROW(form->cboxLngChange());
  EXPECT_EQ(dialogs.messages.size(), 2u);
}

TEST_F(LanguageWindow, AtStartUpALanguageFileThatCannotBeReadIsReportedAndTheListsStillLoad) {
  StoreList(ListText(3));
  QTemporaryDir current;
  // Found first, in the current folder, and no file to read.
  ASSERT_TRUE(QDir(current.path()).mkdir(QStringLiteral("english.lng")));
  const QString before = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(current.path()));
  Start();
  QDir::setCurrent(before);
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_TRUE(dialogs.messages[0].text.startsWith(
      QStringLiteral("Cannot open file \"%1/english.lng\". ").arg(current.path())))
      << dialogs.messages[0].text.toStdString();
  EXPECT_EQ(Rows(), 3);
  EXPECT_EQ(form->cboxLng->currentIndex(), 0);
}

TEST_F(LanguageWindow, AnEightBitFileInTheCurrentFolderIsReadInTheCodePageOfTheChosenLanguage) {
  Start();
  platform::setAnsiCodePage(platform::AnsiCodePage::Windows1252);
  QTemporaryDir current;
  // "Шрифт" in Windows-1251; the shipped file beside the program is passed over.
  WriteFile(current.filePath(QStringLiteral("bulgarian.lng")), "btnFont=\xD8\xF0\xE8\xF4\xF2\r\n");
  const QString before = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(current.path()));
  Choose(Qt::Key_Down);
  QDir::setCurrent(before);
  EXPECT_EQ(form->btnFont->text(), QStringLiteral("Шрифт"));
  EXPECT_EQ(Cmd("Mp3Play")->text(), QStringLiteral("Play")) << "only the current folder's file";
  EXPECT_EQ(platform::ansiCodePage(), platform::AnsiCodePage::Windows1251);
  Choose(Qt::Key_Up);
  EXPECT_EQ(platform::ansiCodePage(), platform::AnsiCodePage::Windows1252);
  EXPECT_EQ(form->btnFont->text(), QStringLiteral("Set Font"));
}

// A window of a few components of each kind, for the lines of a language file.
class LanguageTarget : public QWidget {
 public:
  LanguageTarget() {
    auto* commands = new QObject(this);
    play = new QAction(QStringLiteral("Play"), commands);
    play->setObjectName(QStringLiteral("Mp3Play"));
    auto* button = new QToolButton(this);
    button->setObjectName(QStringLiteral("btnPlay"));
    button->setDefaultAction(play);
    Make<QPushButton>("btnFont", "Set Font");
    Make<QLabel>("lblTitle", "Title");
    Make<QLineEdit>("edTitle", "");
    auto* group = new QGroupBox(QStringLiteral("Other"), this);
    group->setObjectName(QStringLiteral("GrBoxOther"));
    auto* tabs = new QTabWidget(this);
    tabs->setObjectName(QStringLiteral("pcMain"));
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("tsOptions"));
    tabs->addTab(page, QStringLiteral("Options"));
    auto* status = new QStatusBar(this);
    auto* panel = new QLabel(QStringLiteral("Time"), status);
    panel->setObjectName(QStringLiteral("StatusPanel0"));
    status->addWidget(panel);
  }
  QAction* play;

 private:
  template <class W>
  void Make(const char* name, const char* text) {
    auto* widget = new W(QString::fromUtf8(text), this);
    widget->setObjectName(QLatin1String(name));
  }
};

TEST(LanguageLines, EachLineNamesOneComponentAndItsText) {
  const Captions builtIn = {{QStringLiteral("Mp3Play"), QStringLiteral("Play")},
                            {QStringLiteral("btnPlay"), QStringLiteral("Play")},
                            {QStringLiteral("btnFont"), QStringLiteral("Set Font")},
                            {QStringLiteral("lblTitle"), QStringLiteral("Title")},
                            {QStringLiteral("edTitle"), QString()},
                            {QStringLiteral("GrBoxOther"), QStringLiteral("Other")},
                            {QStringLiteral("tsOptions"), QStringLiteral("Options")},
                            {QStringLiteral("StatusPanel0"), QStringLiteral("Time")}};
  const struct {
    const char* what;
    const char* file;
    Captions changed;
  } cases[] = {
      {"a label", "lblTitle=Заглавие", {{QStringLiteral("lblTitle"), QStringLiteral("Заглавие")}}},
      {"markup", "lblTitle=<b>A</b>", {{QStringLiteral("lblTitle"), QStringLiteral("<b>A</b>")}}},
      {"the first = splits", "btnFont=a=b=", {{QStringLiteral("btnFont"), QStringLiteral("a=b=")}}},
      {"nothing is trimmed",
       "btnFont= A \t",
       {{QStringLiteral("btnFont"), QStringLiteral(" A \t")}}},
      {"an empty text", "btnFont=", {{QStringLiteral("btnFont"), QString()}}},
      {"a blank before =", "btnFont =A", {}},
      {"no =", "btnFont", {}},
      {"a leading =", "=btnFont=A", {}},
      {"blank lines", "\n\nlblTitle=A\n\n\n", {{QStringLiteral("lblTitle"), QStringLiteral("A")}}},
      {"unknown names",
       "btnNothing=A\nqt_tabwidget_tabbar=B\nlblTitle=C",
       {{QStringLiteral("lblTitle"), QStringLiteral("C")}}},
      {"names in any case",
       "BTNFONT=A\nlbltitle=B\nmp3PLAY=C",
       {{QStringLiteral("btnFont"), QStringLiteral("A")},
        {QStringLiteral("lblTitle"), QStringLiteral("B")},
        {QStringLiteral("Mp3Play"), QStringLiteral("C")},
        {QStringLiteral("btnPlay"), QStringLiteral("C")}}},
      {"the later line wins",
       "btnFont=A\nbtnFont=B",
       {{QStringLiteral("btnFont"), QStringLiteral("B")}}},
      {"CR LF",
       "btnFont=A\r\nlblTitle=B\r\n",
       {{QStringLiteral("btnFont"), QStringLiteral("A")},
        {QStringLiteral("lblTitle"), QStringLiteral("B")}}},
      {"CR",
       "btnFont=A\rlblTitle=B\r",
       {{QStringLiteral("btnFont"), QStringLiteral("A")},
        {QStringLiteral("lblTitle"), QStringLiteral("B")}}},
      {"an edit box, a group box, a page tab",
       "edTitle=E\nGrBoxOther=G\ntsOptions=T",
       {{QStringLiteral("edTitle"), QStringLiteral("E")},
        {QStringLiteral("GrBoxOther"), QStringLiteral("G")},
        {QStringLiteral("tsOptions"), QStringLiteral("T")}}},
      {"the page control and a status bar panel", "pcMain=A\nStatusPanel0=B", {}},
  };
  for (const auto& c : cases) {
    LanguageTarget target;
    TMp3Languages reader;
    const std::optional<TMp3LanguageEntries> entries = reader.GetComponentsNamesFromBytes(c.file);
    ASSERT_TRUE(entries) << c.what;
    ApplyLanguageEntries(&target, *entries);
    Captions expected = builtIn;
    for (const auto& [name, text] : c.changed) expected[name] = text;
    Captions now;
    for (const auto& [name, text] : builtIn)
      now[name] = CaptionOf(&target, name).value_or(QStringLiteral("?"));
    EXPECT_EQ(now, expected) << c.what;
    EXPECT_EQ(target.findChild<QLabel*>(QStringLiteral("lblTitle"))->textFormat() == Qt::PlainText,
              c.changed.count(QStringLiteral("lblTitle")) == 1)
        << c.what << ": a label named by the file shows its text as written";
  }
}

}  // namespace
