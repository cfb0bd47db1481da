// The options page: default folder, reset to defaults, list font and colour, repeat, tray mode
// and grid lines. The language box and the check-list box have handlers of their own.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QPushButton>
#include <QToolButton>
#include <QTreeView>

#include "ui/dialogs.h"
#include "ui/gridlinedelegate.h"
#include "ui/mainform.h"
#include "ui/settingsvalues.h"
#include "ui/tracklistmodel.h"

void TMainForm::ConnectOptions() {
  FontDialog.Font = QFont(QApplication::font().family());
  FGridLines = new TGridLineDelegate(lvMain);
  lvMain->setItemDelegate(FGridLines);
  connect(spDefPath, &QToolButton::clicked, this,
          [this] { RunGuarded(this, [this] { spDefPathClick(); }); });
  connect(btnDefaultSettings, &QPushButton::clicked, this,
          [this] { RunGuarded(this, [this] { btnDefaultSettingsClick(); }); });
  connect(btnFont, &QPushButton::clicked, this, [this] { btnFontClick(); });
  connect(btnColor, &QPushButton::clicked, this, [this] { btnColorClick(); });
  connect(cboxRepeat, &QCheckBox::toggled, this, [this] { cboxRepeatClick(); });
  connect(cboxSysTray, &QCheckBox::toggled, this, [this] { cboxSysTrayClick(); });
  connect(CboxGridView, &QCheckBox::toggled, this, [this] { CboxGridViewClick(); });
}

void TMainForm::SetDefPathCaption(const QString& text) {
  // A button would take '&' for the mark of a shortcut key.
  spDefPath->setText(QString(text).replace(QLatin1Char('&'), QLatin1String("&&")));
}

QString TMainForm::DefPathCaption() const {
  return spDefPath->text().replace(QLatin1String("&&"), QLatin1String("&"));
}

void TMainForm::spDefPathClick() {
  TMp3Settings& settings = Mp3Session->Mp3Settings();
  const QString start =
      settings.DefaultPath().isEmpty() ? DefPathCaption() : settings.DefaultPath();
  const QString chosen =
      Dialogs().SelectFolder(this, QStringLiteral("Изберете пряк път..."),
                             !start.isEmpty() && QFileInfo(start).isDir() ? start : QString());
  if (chosen.isEmpty()) return;
  SetDefPathCaption(chosen);
  settings.SetDefaultPath(chosen);
  FDefaultPath = chosen;
  SaveSettings(SettingsFile());
}

void TMainForm::btnDefaultSettingsClick() {
  if (!Dialogs().Confirm(this, QStringLiteral("Default Settings ?"))) return;
  SetDefPathCaption(cboxLng->currentIndex() == 0
                        ? QStringLiteral("Set your default path to Mp3 ...")
                        : QStringLiteral("Директория подразбиране ..."));
  cboxRepeat->setChecked(false);
  cboxSysTray->setChecked(false);
  cboxShowCheckList->setChecked(false);
  FontDialog.Font.setFamily(QStringLiteral("MS Sans Serif"));
  FontDialog.Font.setPointSize(8);
  FontDialog.Color = settingsvalues::kNoColor;
  ApplyListFont();
  SetListColor(settingsvalues::kInactiveCaption);
  SetOuterGeometry(QSize(600, 570), nullptr);
  if (QFile::exists(SettingsFile())) {
    QFile::remove(SettingsFile());
    Mp3Session->Mp3Settings().Refresh();
  }
}

void TMainForm::btnFontClick() {
  const std::optional<QFont> chosen = Dialogs().SelectFont(this, FontDialog.Font);
  if (!chosen) return;
  FontDialog.Font = *chosen;
  ApplyListFont();
}

void TMainForm::btnColorClick() {
  const std::optional<QColor> chosen = Dialogs().SelectColor(this, FColorDialogColor);
  if (!chosen) return;
  FColorDialogColor = *chosen;
  SetListColor(settingsvalues::FromQColor(*chosen));
}

void TMainForm::cboxRepeatClick() {
  // Nothing to do now: the end of a track reads the box itself.
}

void TMainForm::cboxSysTrayClick() {
  Mp3Session->Mp3Settings().SetCheckSysTray(cboxSysTray->isChecked() ? 1 : 0);
}

void TMainForm::CboxGridViewClick() {
  FGridLines->SetShown(CboxGridView->isChecked());
  lvMain->viewport()->update();
}

void TMainForm::SetListColor(std::int32_t value) {
  FListColor = value;
  QPalette palette = lvMain->palette();
  palette.setColor(QPalette::Base,
                   settingsvalues::ToQColor(value, QApplication::palette().color(QPalette::Base)));
  lvMain->setPalette(palette);
}

void TMainForm::ApplyListFont() {
  QFont shown = FontDialog.Font;
  if (!QFontDatabase::hasFamily(shown.family())) shown.setFamily(QApplication::font().family());
  lvMain->setFont(shown);
  // No colour: the palette's text colour.
  FTrackList->SetFontColor(settingsvalues::ToQColor(FontDialog.Color, QColor()));
}
