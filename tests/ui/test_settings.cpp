// The settings file and the options page, through the real window offscreen on a 1920 x 1080
// desktop whose windows have a frame of 2 pixels on each side.
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QPushButton>
#include <QScrollBar>
#include <QToolButton>

#include "platform/inifile.h"
#include "tests/ui/mainformfixture.h"
#include "ui/settingsvalues.h"

namespace {

const QString kNoFolderCaption = QStringLiteral("Set your default path to Mp3  directory");

class Settings : public MainFormFixture {
 protected:
  QString SettingsFile() const { return DataDir() + QStringLiteral("MP3_PLAYER_SETTINGS.DAT"); }
  void StoreSettings(const QByteArray& text) {
    ASSERT_TRUE(QDir().mkpath(DataDir()));
    WriteFile(SettingsFile(), text);
  }
  QString Stored(const char* section, const char* key) const {
    return platform::IniFile(SettingsFile()).readString(section, key, QStringLiteral("<none>"));
  }
  QSize OuterSize() const { return form->frameGeometry().size(); }
  QColor ListBackground() const { return form->lvMain->palette().color(QPalette::Base); }
  QVariant RowColor(int row) const {
    return form->TrackList()->index(row, 1).data(Qt::ForegroundRole);
  }
  // Whether the bottom edge of the first row's title cell is drawn in the grid colour.
  bool GridLineDrawn() const {
    const QRect cell = form->lvMain->visualRect(form->TrackList()->index(0, 1));
    const QImage image = form->lvMain->viewport()->grab().toImage();
    return image.pixel(cell.center().x(), cell.bottom()) ==
           form->lvMain->palette().color(QPalette::Mid).rgb();
  }
  // A folder of its own whose name has more than 30 characters.
  QString LongFolder(const QString& name) const {
    const QString path = home.filePath(QStringLiteral("music/") + name);
    EXPECT_TRUE(QDir().mkpath(path));
    return path;
  }
  // A family the desktop has other than the default one; the default when it has no other.
  static QString OtherFamily() {
    for (const QString& family : QFontDatabase::families())
      if (family != QApplication::font().family()) return family;
    return QApplication::font().family();
  }
};

TEST_F(Settings, EveryValueComesBackAndGoesOutAgain) {
  const QString folder = LongFolder(QStringLiteral("a folder with a long name"));
  const QString family = OtherFamily();
  const QByteArray stored = QStringLiteral(
                                "[SysTry]\nEnable=1\n[DefPath]\nLocal=%1\n[MyColor]\nSetColor=255\n"
                                "[Volume]\nCurrVolume=73\n[Repeat]\nState=1\n"
                                "[MyFont]\nSetFont=%2\nSetFontStyle=3\nSetFontSize=14\n"
                                "SetFontColor=65280\n[SetCheckPlayList]\nIsPlayListCheked=1\n"
                                "[FormResize]\nFormX=1024\nFormY=768\nFormLeft=40\nFormTop=30\n"
                                "[_SetGridLines]\nGridLines_State=1\n"
                                "[SET_LANGUAGE]\nDEFAULT_LANGUAGE=1\n")
                                .arg(folder, family)
                                .toUtf8();
  StoreSettings(stored);
  StoreList(ListText(2));
  Start();
  ShowAndActivate();

  const TMp3Settings& settings = Mp3Session->Mp3Settings();
  EXPECT_TRUE(form->cboxSysTray->isChecked());
  EXPECT_EQ(settings.CheckSysTray(), 1);
  EXPECT_EQ(settings.DefaultPath(), folder);
  EXPECT_EQ(form->DefPathCaption(), folder.left(30) + QStringLiteral(" ..."));
  EXPECT_EQ(ListBackground(), QColor(255, 0, 0));
  EXPECT_EQ(form->ScrVolume->value(), 73);
  EXPECT_TRUE(form->cboxRepeat->isChecked());
  EXPECT_TRUE(settings.CheckRepeat());
  const QFont font = form->lvMain->font();
  EXPECT_EQ(font.family(), family);
  EXPECT_TRUE(font.bold() && font.italic() && !font.underline() && !font.strikeOut());
  EXPECT_EQ(font.pointSize(), 14);
  EXPECT_EQ(RowColor(0).value<QColor>(), QColor(0, 255, 0));
  EXPECT_TRUE(form->cboxShowCheckList->isChecked());
  EXPECT_TRUE(form->TrackList()->CheckMode());
  EXPECT_EQ(OuterSize(), QSize(1024, 768)) << "the frame counts once the window has one";
  EXPECT_EQ(form->frameGeometry().topLeft(), QPoint(40, 30));
  EXPECT_TRUE(form->CboxGridView->isChecked());
  EXPECT_TRUE(GridLineDrawn());
  EXPECT_EQ(form->cboxLng->currentIndex(), 1);
  EXPECT_EQ(settings.LanguageType(), 1);

  // Every control changed through the page, then the window maximised: its normal rectangle
  // is what is stored.
  form->cboxSysTray->setChecked(false);
  EXPECT_EQ(settings.CheckSysTray(), 0);
  dialogs.answers.push_back(QColor(1, 2, 3));
  form->btnColor->click();
  EXPECT_EQ(ListBackground(), QColor(1, 2, 3));
  form->ScrVolume->setValue(20);
  form->cboxRepeat->setChecked(false);
  QFont chosen(family, 11);
  chosen.setUnderline(true);
  dialogs.answers.push_back(chosen);
  form->btnFont->click();
  EXPECT_EQ(form->lvMain->font().pointSize(), 11);
  form->cboxShowCheckList->setChecked(false);
  form->CboxGridView->setChecked(false);
  EXPECT_FALSE(GridLineDrawn());
  form->cboxLng->setCurrentIndex(0);
  form->resize(QSize(900, 700) - (OuterSize() - form->size()));
  form->move(120, 90);
  QCoreApplication::processEvents();
  form->showMaximized();
  QCoreApplication::processEvents();
  ASSERT_NE(OuterSize(), QSize(900, 700));
  const QString newFolder = LongFolder(QStringLiteral("another folder"));
  dialogs.answers.push_back(newFolder);
  form->spDefPath->click();
  EXPECT_EQ(Stored("DefPath", "Local"), newFolder) << "saved at once";
  EXPECT_EQ(RunEventLoop([&] { Cmd("AExit")->trigger(); }), 0);

  const QByteArray expected = QStringLiteral(
                                  "[SysTry]\nEnable=0\n[DefPath]\nLocal=%1\n[MyColor]\n"
                                  "SetColor=197121\n[Volume]\nCurrVolume=20\n[Repeat]\nState=0\n"
                                  "[MyFont]\nSetFont=%2\nSetFontStyle=4\nSetFontSize=11\n"
                                  "SetFontColor=65280\n[SetCheckPlayList]\nIsPlayListCheked=0\n"
                                  "[FormResize]\nFormX=900\nFormY=700\nFormLeft=120\nFormTop=90\n"
                                  "[_SetGridLines]\nGridLines_State=0\n"
                                  "[SET_LANGUAGE]\nDEFAULT_LANGUAGE=0\n")
                                  .arg(newFolder, family)
                                  .toUtf8();
  EXPECT_EQ(ReadFile(SettingsFile()), expected);
}

TEST_F(Settings, StoredValuesAreReadWithTheirDefaultsAndLimits) {
  const QColor inactiveCaption = settingsvalues::InactiveCaptionColor();
  const struct Case {
    const char* what;
    QByteArray stored;  // null: no file
    QColor background;
    int fontSize;
    int styleBits;
    int volume;
    QSize outer;
    int language;
    bool tray;
    bool gridLines;
    // Written back at close.
    QByteArray color, style, size, width, height;
  } cases[] = {
      {"no file",
       {},
       inactiveCaption,
       8,
       0,
       50,
       {600, 570},
       0,
       false,
       false,
       "-16777213",
       "0",
       "8",
       "600",
       "570"},
      {"zeros and high style bits",
       "[MyColor]\nSetColor=0\n[Volume]\nCurrVolume=0\n[MyFont]\nSetFontSize=0\n"
       "SetFontStyle=7938\n[FormResize]\nFormX=0\nFormY=768\n[SET_LANGUAGE]\n"
       "DEFAULT_LANGUAGE=1\n[_SetGridLines]\nGridLines_State=257\n",
       inactiveCaption,
       8,
       2,
       50,
       {600, 570},
       1,
       false,
       true,
       "-16777213",
       "2",
       "8",
       "600",
       "570"},
      {"out of range",
       "[MyColor]\nSetColor=-16777213\n[Volume]\nCurrVolume=250\n[MyFont]\nSetFontSize=-5\n"
       "SetFontStyle=240\n[FormResize]\nFormX=800\nFormLeft=5\n[SET_LANGUAGE]\n"
       "DEFAULT_LANGUAGE=5\n[SysTry]\nEnable=-3\n[_SetGridLines]\nGridLines_State=256\n",
       inactiveCaption,
       8,
       0,
       100,
       {600, 570},
       -1,
       false,
       false,
       "-16777213",
       "0",
       "8",
       "600",
       "570"},
      {"negative volume, hexadecimal colour, all styles, tray above 1",
       "[MyColor]\nSetColor=0xFF0000\n[Volume]\nCurrVolume=-20\n[MyFont]\nSetFontSize=$10\n"
       "SetFontStyle=-1\n[FormResize]\nFormX=5000\nFormY=4000\n[SysTry]\nEnable=2\n",
       QColor(0, 0, 255),
       16,
       15,
       50,
       {1920, 1080},
       0,
       true,
       false,
       "16711680",
       "15",
       "16",
       "1920",
       "1080"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    QFile::remove(SettingsFile());
    if (!c.stored.isNull()) StoreSettings(c.stored);
    Start();
    EXPECT_EQ(ListBackground(), c.background);
    const QFont font = form->lvMain->font();
    EXPECT_EQ(font.pointSize(), c.fontSize);
    EXPECT_EQ(settingsvalues::StyleBits(font), c.styleBits);
    EXPECT_EQ(form->ScrVolume->value(), c.volume);
    EXPECT_EQ(OuterSize(), c.outer);
    EXPECT_EQ(form->cboxLng->currentIndex(), c.language);
    EXPECT_EQ(form->cboxSysTray->isChecked(), c.tray);
    EXPECT_EQ(Mp3Session->Mp3Settings().CheckSysTray(), c.tray ? 1 : 0);
    EXPECT_EQ(form->CboxGridView->isChecked(), c.gridLines);
    if (c.stored.isNull()) {
      EXPECT_EQ(form->DefPathCaption(), kNoFolderCaption);
      EXPECT_EQ(font.family(), QApplication::font().family());
    }

    // With the tray option on a close request only hides the window; Exit saves either way.
    EXPECT_EQ(RunEventLoop([&] { Cmd("AExit")->trigger(); }), 0);
    EXPECT_EQ(Stored("MyColor", "SetColor").toUtf8(), c.color);
    EXPECT_EQ(Stored("MyFont", "SetFontStyle").toUtf8(), c.style);
    EXPECT_EQ(Stored("MyFont", "SetFontSize").toUtf8(), c.size);
    EXPECT_EQ(Stored("FormResize", "FormX").toUtf8(), c.width);
    EXPECT_EQ(Stored("FormResize", "FormY").toUtf8(), c.height);
    EXPECT_EQ(Stored("Volume", "CurrVolume").toInt(), c.volume);
    EXPECT_EQ(Stored("SET_LANGUAGE", "DEFAULT_LANGUAGE").toInt(), c.language);
    EXPECT_EQ(Stored("SysTry", "Enable").toInt(), c.tray ? 1 : 0);
    if (c.stored.isNull()) {
      EXPECT_EQ(Stored("DefPath", "Local"), kNoFolderCaption);
      EXPECT_EQ(Stored("MyFont", "SetFont"), QApplication::font().family());
      EXPECT_EQ(Stored("MyFont", "SetFontColor"), QStringLiteral("0"));
    }
    form.reset();
  }
}

TEST_F(Settings, OtherSectionsAndKeysStayAsTheyWere) {
  StoreSettings(
      "; kept\n[Extra]\nfoo=bar\n[volume]\nOther=1\ncurrvolume=30\n[MyFont]\nSetFontSize=12\n"
      "Unknown=x\n");
  Start();
  EXPECT_EQ(form->ScrVolume->value(), 30) << "names match without regard to case";
  ASSERT_TRUE(RequestClose());
  const QByteArray saved = ReadFile(SettingsFile());
  EXPECT_TRUE(saved.startsWith(
      "; kept\n[Extra]\nfoo=bar\n[volume]\nOther=1\ncurrvolume=30\n[MyFont]\nSetFontSize=12\n"
      "Unknown=x\nSetFont="))
      << saved.toStdString();
  EXPECT_EQ(saved.count("[volume]") + saved.count("[Volume]"), 1);
  EXPECT_EQ(saved.count("[MyFont]"), 1);
  EXPECT_TRUE(saved.endsWith("[SET_LANGUAGE]\nDEFAULT_LANGUAGE=0\n")) << saved.toStdString();
}

TEST_F(Settings, AFailedWriteIsShownAndLeavesTheOldFileWhole) {
  StoreSettings("[Volume]\nCurrVolume=30\n");
  Start();  // makes the lock file, as any earlier run has
  form.reset();
  const QByteArray stored = ReadFile(SettingsFile());
  ReadOnlyFolder readOnly(DataDir());
  if (!readOnly.Works()) GTEST_SKIP() << "no way here to make a folder read-only";

  Start();
  ASSERT_EQ(dialogs.messages.size(), 1u) << "the start-up warning about the folder";
  const QString unable = QStringLiteral("Unable to write to ") + SettingsFile();
  form->ScrVolume->setValue(80);
  dialogs.answers.push_back(home.path());
  form->spDefPath->click();
  ASSERT_EQ(dialogs.messages.size(), 2u);
  EXPECT_EQ(dialogs.messages[1].text, unable);

  dialogs.answers.push_back(false);
  EXPECT_FALSE(RequestClose()) << "the close stops at the failed save";
  ASSERT_EQ(dialogs.messages.size(), 3u);
  EXPECT_EQ(dialogs.messages[2].text, unable);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(ReadFile(SettingsFile()), stored);
  dialogs.answers.push_back(true);
  EXPECT_TRUE(RequestClose()) << "quits without saving when asked to";
}

TEST_F(Settings, ResetToDefaults) {
  const QByteArray stored =
      "[SysTry]\nEnable=1\n[DefPath]\nLocal=/music/old\n[MyColor]\nSetColor=255\n"
      "[Volume]\nCurrVolume=73\n[Repeat]\nState=1\n[MyFont]\nSetFontStyle=1\n"
      "SetFontSize=14\nSetFontColor=65280\n[SetCheckPlayList]\nIsPlayListCheked=1\n"
      "[FormResize]\nFormX=1024\nFormY=768\nFormLeft=40\nFormTop=30\n"
      "[_SetGridLines]\nGridLines_State=1\n[SET_LANGUAGE]\nDEFAULT_LANGUAGE=1\n";
  StoreList(ListText(1));

  // No changes nothing.
  StoreSettings(stored);
  Start();
  const QString caption = form->DefPathCaption();
  dialogs.answers.push_back(false);
  form->btnDefaultSettings->click();
  EXPECT_EQ(form->DefPathCaption(), caption);
  EXPECT_TRUE(form->cboxRepeat->isChecked() && form->cboxSysTray->isChecked() &&
              form->cboxShowCheckList->isChecked());
  EXPECT_EQ(form->lvMain->font().pointSize(), 14);
  EXPECT_EQ(ListBackground(), QColor(255, 0, 0));
  EXPECT_EQ(OuterSize(), QSize(1024, 768));
  EXPECT_EQ(ReadFile(SettingsFile()), stored);
  form.reset();

  for (const bool withFile : {true, false}) {
    SCOPED_TRACE(withFile ? "with a settings file" : "without a settings file");
    StoreSettings(stored);
    Start();
    if (!withFile) QFile::remove(SettingsFile());
    const QPoint topLeft = form->frameGeometry().topLeft();
    dialogs.answers.push_back(true);
    form->btnDefaultSettings->click();

    EXPECT_EQ(form->DefPathCaption(), QStringLiteral("Директория подразбиране ..."));
    EXPECT_FALSE(form->cboxRepeat->isChecked());
    EXPECT_FALSE(form->cboxSysTray->isChecked());
    EXPECT_FALSE(form->cboxShowCheckList->isChecked());
    EXPECT_FALSE(form->TrackList()->CheckMode());
    EXPECT_EQ(form->lvMain->font().family(), QApplication::font().family())
        << "a family the desktop lacks shows as its default";
    EXPECT_EQ(form->lvMain->font().pointSize(), 8);
    EXPECT_TRUE(form->lvMain->font().bold()) << "the style stays";
    EXPECT_EQ(RowColor(0), QVariant()) << "no colour: the list's own text colour";
    EXPECT_EQ(ListBackground(), settingsvalues::InactiveCaptionColor());
    EXPECT_EQ(OuterSize(), QSize(600, 570));
    EXPECT_EQ(form->frameGeometry().topLeft(), topLeft);
    // What stays.
    EXPECT_EQ(form->cboxLng->currentIndex(), 1);
    EXPECT_TRUE(form->CboxGridView->isChecked());
    EXPECT_EQ(form->ScrVolume->value(), 73);
    EXPECT_FALSE(QFile::exists(SettingsFile()));
    const TMp3Settings& settings = Mp3Session->Mp3Settings();
    EXPECT_EQ(settings.CheckSysTray(), 0);
    EXPECT_EQ(settings.DefaultPath(), withFile ? QString() : QStringLiteral("/music/old"));
    EXPECT_EQ(settings.CheckRepeat(), !withFile);
    EXPECT_EQ(settings.LanguageType(), withFile ? 0 : 1);

    ASSERT_TRUE(RequestClose());
    EXPECT_EQ(Stored("DefPath", "Local"), withFile ? QStringLiteral("Директория подразбиране ...")
                                                   : QStringLiteral("/music/old"));
    EXPECT_EQ(Stored("MyFont", "SetFont"), QStringLiteral("MS Sans Serif"));
    EXPECT_EQ(Stored("MyFont", "SetFontSize"), QStringLiteral("8"));
    EXPECT_EQ(Stored("MyFont", "SetFontColor"), QStringLiteral("536870911"));
    EXPECT_EQ(Stored("MyColor", "SetColor"), QStringLiteral("-16777213"));
    EXPECT_EQ(Stored("FormResize", "FormX"), QStringLiteral("600"));
    EXPECT_EQ(Stored("SET_LANGUAGE", "DEFAULT_LANGUAGE"), QStringLiteral("1"));
    form.reset();
  }
}

TEST_F(Settings, DefaultFolderButton) {
  // 29 characters before a character outside the 16-bit range, which is counted whole.
  const QString base = home.filePath(QStringLiteral("m"));
  const QString stem = base + QString(29 - base.size() - 1, QLatin1Char('x')) + u'/';
  ASSERT_EQ(stem.size(), 29) << "the temporary home is too long for this test";
  const QString note = QString::fromUcs4(U"\U0001D11E");
  const QString folder = stem + note + QStringLiteral("Simon & Garfunkel");
  ASSERT_TRUE(QDir().mkpath(folder));
  StoreSettings(QStringLiteral("[DefPath]\nLocal=%1\n").arg(folder).toUtf8());
  Start();
  EXPECT_EQ(form->DefPathCaption(), stem + note + QStringLiteral(" ..."));

  // The browser opens on the stored folder; cancelling changes nothing.
  dialogs.answers.push_back(QString());
  form->spDefPath->click();
  EXPECT_EQ(dialogs.initialFolders.back(), folder);
  EXPECT_EQ(form->DefPathCaption(), stem + note + QStringLiteral(" ..."));

  // Right after choosing, the whole path shows, and Load Directory opens on it.
  dialogs.answers.push_back(folder);
  form->spDefPath->click();
  EXPECT_EQ(form->DefPathCaption(), folder);
  EXPECT_EQ(Stored("DefPath", "Local"), folder);
  dialogs.answers.push_back(QString());
  Cmd("ALoadDir")->trigger();
  EXPECT_EQ(dialogs.initialFolders.back(), folder);
  form.reset();

  // With no folder the button's text is stored, and after a restart it is no existing folder.
  QFile::remove(SettingsFile());
  Start();
  EXPECT_EQ(form->DefPathCaption(), kNoFolderCaption);
  ASSERT_TRUE(RequestClose());
  EXPECT_EQ(Stored("DefPath", "Local"), kNoFolderCaption);
  form.reset();
  Start();
  EXPECT_EQ(form->DefPathCaption(), kNoFolderCaption.left(30) + QStringLiteral(" ..."));
  dialogs.answers.push_back(QString());
  form->spDefPath->click();
  EXPECT_EQ(dialogs.initialFolders.back(), QString()) << "no preselection";
}

TEST_F(Settings, ColourDialogOpensOnTheColourLastChosenInIt) {
  StoreSettings("[MyColor]\nSetColor=255\n");
  Start();
  for (const QColor& color : {QColor(10, 20, 30), QColor(40, 50, 60)}) {
    dialogs.answers.push_back(color);
    form->btnColor->click();
    EXPECT_EQ(ListBackground(), color);
  }
  ASSERT_EQ(dialogs.initialColors.size(), 2u);
  EXPECT_EQ(dialogs.initialColors[0], QColor(Qt::black)) << "not the list's colour";
  EXPECT_EQ(dialogs.initialColors[1], QColor(10, 20, 30));
}

}  // namespace
