// The settings file: reading it into the window at start-up and writing the window's state back.
#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QScreen>
#include <QScrollBar>
#include <QToolButton>
#include <QWindow>

#include "platform/inifile.h"
#include "ui/gridlinedelegate.h"
#include "ui/mainform.h"
#include "ui/settingsvalues.h"
#include "ui/waitcursor.h"

namespace {

constexpr int kShownPathChars = 30;

// A long folder shows only its beginning; characters are counted whole, never split.
QString ShortenedPath(const QString& path) {
  const QList<uint> chars = path.toUcs4();
  if (chars.size() <= kShownPathChars) return path;
  return QString::fromUcs4(reinterpret_cast<const char32_t*>(chars.constData()), kShownPathChars) +
         QStringLiteral(" ...");
}

}  // namespace

QString TMainForm::SettingsFile() const {
  return FWindowsTemporaryDir + QStringLiteral("MP3_PLAYER_SETTINGS.DAT");
}

QString TMainForm::NoDefaultPathCaption() {
  return QStringLiteral("Set your default path to Mp3  directory");
}

void TMainForm::LoadSettings() {
  TWaitCursor wait;
  const platform::IniFile ini(SettingsFile());
  TMp3Settings& settings = Mp3Session->Mp3Settings();

  settings.SetLanguageType(ini.readInteger("SET_LANGUAGE", "DEFAULT_LANGUAGE", 0));
  const int language = settings.LanguageType();
  cboxLng->setCurrentIndex(language >= 0 && language < cboxLng->count() ? language : -1);
  cboxLngChange();

  settings.SetDefaultPath(ini.readString("DefPath", "Local", {}));
  if (!settings.DefaultPath().isEmpty()) {
    FDefaultPath = settings.DefaultPath();
    SetDefPathCaption(ShortenedPath(FDefaultPath));
  } else {
    SetDefPathCaption(NoDefaultPathCaption());
  }

  settings.SetCheckSysTray(ini.readInteger("SysTry", "Enable", 0));
  const std::int32_t color = ini.readInteger("MyColor", "SetColor", 0);
  SetListColor(color == 0 ? settingsvalues::kInactiveCaption : color);
  // The bar keeps itself within 0..100; its change handler applies the volume.
  ScrVolume->setValue(ini.readInteger("Volume", "CurrVolume", 0));
  if (ScrVolume->value() == 0) ScrVolume->setValue(50);
  settings.SetCheckRepeat(ini.readInteger("Repeat", "State", 0) != 0);

  const QString family = ini.readString("MyFont", "SetFont", {});
  if (!family.isEmpty()) FontDialog.Font.setFamily(family);
  settingsvalues::SetStyleBits(FontDialog.Font,
                               ini.readInteger("MyFont", "SetFontStyle", 0) & 0xFF);
  const int size = ini.readInteger("MyFont", "SetFontSize", 0);
  FontDialog.Font.setPointSize(size < 1 ? 8 : size);
  FontDialog.Color = ini.readInteger("MyFont", "SetFontColor", 0);
  cboxShowCheckList->setChecked(ini.readInteger("SetCheckPlayList", "IsPlayListCheked", 0) != 0);
  ApplyListFont();

  cboxRepeat->setChecked(settings.CheckRepeat());
  const bool tray = settings.CheckSysTray() >= 1;
  cboxSysTray->setChecked(tray);
  if (tray) AddTrayIcon();
  // A stored value below 0 leaves the box unchecked without its handler running; the close
  // request must still see the tray option off, as the box shows it.
  settings.SetCheckSysTray(tray ? 1 : 0);

  const int width = ini.readInteger("FormResize", "FormX", 0);
  const int height = ini.readInteger("FormResize", "FormY", 0);
  if (width < 1 || height < 1) {
    SetOuterGeometry(QSize(600, 570), nullptr);
  } else {
    const QPoint topLeft(ini.readInteger("FormResize", "FormLeft", 0),
                         ini.readInteger("FormResize", "FormTop", 0));
    SetOuterGeometry(QSize(width, height), &topLeft);
  }
  CboxGridView->setChecked((ini.readInteger("_SetGridLines", "GridLines_State", 0) & 0xFF) != 0);
}

void TMainForm::SaveSettings(const QString& fileName) {
  platform::IniFile ini(fileName);
  TMp3Settings& settings = Mp3Session->Mp3Settings();
  const int tray = cboxSysTray->isChecked() ? 1 : 0;
  ini.writeInteger("SysTry", "Enable", tray);
  settings.SetCheckSysTray(tray);
  ini.writeString("DefPath", "Local",
                  settings.DefaultPath().isEmpty() ? DefPathCaption() : settings.DefaultPath());
  ini.writeInteger("MyColor", "SetColor", FListColor);
  ini.writeInteger("Volume", "CurrVolume", FCurrVolume);
  ini.writeInteger("Repeat", "State", cboxRepeat->isChecked() ? 1 : 0);
  const QFont& font = FontDialog.Font;
  ini.writeString("MyFont", "SetFont", font.family());
  ini.writeInteger("MyFont", "SetFontStyle", settingsvalues::StyleBits(font));
  ini.writeInteger("MyFont", "SetFontSize",
                   font.pointSize() > 0 ? font.pointSize() : QFontInfo(font).pointSize());
  ini.writeInteger("MyFont", "SetFontColor", FontDialog.Color);
  ini.writeInteger("SetCheckPlayList", "IsPlayListCheked", cboxShowCheckList->isChecked() ? 1 : 0);
  const QRect outer = RestoredOuterRect();
  ini.writeInteger("FormResize", "FormX", outer.width());
  ini.writeInteger("FormResize", "FormY", outer.height());
  ini.writeInteger("FormResize", "FormLeft", outer.left());
  ini.writeInteger("FormResize", "FormTop", outer.top());
  ini.writeInteger("_SetGridLines", "GridLines_State", CboxGridView->isChecked() ? 1 : 0);
  ini.writeInteger("SET_LANGUAGE", "DEFAULT_LANGUAGE", cboxLng->currentIndex());
  ini.commit();
}

QMargins TMainForm::FrameMargins() const {
  return windowHandle() ? windowHandle()->frameMargins() : QMargins();
}

QRect TMainForm::RestoredOuterRect() const {
  QRect normal = normalGeometry();
  if (normal.isEmpty()) normal = geometry();
  return normal.marginsAdded(FrameMargins());
}

void TMainForm::SetOuterGeometry(QSize size, const QPoint* topLeft) {
  // No larger than the desktop, as the original window system never made a window: a stored
  // size of any magnitude must not cost a backing store of that size.
  if (const QScreen* desktop = screen()) size = size.boundedTo(desktop->virtualSize());
  const QMargins frame = FrameMargins();
  if (frame.isNull() && !isVisible())
    FPendingOuterSize = size;
  else
    FPendingOuterSize.reset();
  resize(size.shrunkBy(frame));
  // Wayland compositors place windows themselves.
  if (topLeft && !QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
    move(*topLeft);
  FormResize();
}

void TMainForm::ApplyPendingOuterSize() {
  if (!FPendingOuterSize || !isVisible()) return;
  const QMargins frame = FrameMargins();
  if (frame.isNull()) return;
  const QSize size = *FPendingOuterSize;
  FPendingOuterSize.reset();
  resize(size.shrunkBy(frame));
}

void TMainForm::moveEvent(QMoveEvent* event) {
  QMainWindow::moveEvent(event);
  ApplyPendingOuterSize();
}

void TMainForm::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  ApplyPendingOuterSize();
  FormResize();
}
