// The notification-area icon. With the tray option on, a close request hides the window behind
// the icon; a left press on the icon brings the window back and removes the icon, a right press
// opens the track list's menu. Where the desktop has no notification area nothing is hidden: the
// window could not be brought back.
//
// Threading: main thread only.
#include <QApplication>
#include <QCheckBox>
#include <QCursor>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QTabWidget>
#include <QTimer>

#include "ui/mainform.h"

namespace {

// The program's own icon, drawn so that no image file has to be found at run time: a blue disc
// with a white note, at the sizes notification areas and window lists ask for.
QIcon DrawnProgramIcon() {
  QIcon icon;
  for (const int size : {16, 22, 24, 32, 48, 64}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const qreal s = size;
    painter.setBrush(QColor(0x1e, 0x5a, 0xa8));
    painter.drawEllipse(QRectF(0.5, 0.5, s - 1, s - 1));
    painter.setBrush(Qt::white);
    painter.drawEllipse(QRectF(s * 0.24, s * 0.58, s * 0.28, s * 0.2));
    painter.drawRect(QRectF(s * 0.45, s * 0.22, s * 0.07, s * 0.46));
    painter.drawRect(QRectF(s * 0.45, s * 0.22, s * 0.3, s * 0.09));
    icon.addPixmap(pixmap);
  }
  return icon;
}

// How often a window hidden behind the icon checks that the notification area is still there.
constexpr int kTrayWatchMs = 1000;

}  // namespace

bool TMainForm::TrayAvailable() {
  return QSystemTrayIcon::isSystemTrayAvailable();
}

void TMainForm::CreateTrayIcon() {
  if (windowIcon().isNull()) setWindowIcon(DrawnProgramIcon());
  TrayIconData = new QSystemTrayIcon(this);
  TrayIconData->setObjectName(QStringLiteral("TrayIconData"));
  // Queued: a left press removes the icon, and the icon's own window must not go away while it
  // is still handling that press. No context menu is set, so a right press shows the menu once.
  connect(
      TrayIconData, &QSystemTrayIcon::activated, this,
      [this](QSystemTrayIcon::ActivationReason reason) { TrayMessage(reason); },
      Qt::QueuedConnection);
  FTrayWatch = new QTimer(this);
  FTrayWatch->setInterval(kTrayWatchMs);
  connect(FTrayWatch, &QTimer::timeout, this, [this] {
    if (isVisible())
      FTrayWatch->stop();
    else if (!TrayAvailable())
      ShowFromTray();
  });
  // Whether there is a notification area can change while the program runs; the note is brought
  // up to date whenever someone may read it.
  connect(pcMain, &QTabWidget::currentChanged, this, [this] { UpdateSysTrayNote(); });
  connect(cboxSysTray, &QCheckBox::toggled, this, [this] { UpdateSysTrayNote(); });
  UpdateSysTrayNote();
}

void TMainForm::AddTrayIcon() {
  TrayIconData->setIcon(windowIcon());
  TrayIconData->setToolTip(QStringLiteral("Velmo"));
  TrayIconData->show();
}

void TMainForm::HideInTray() {
  hide();
  AddTrayIcon();
  // The program goes on without a window: closing some other window (a message box) must not
  // end it, and it must not stay hidden if the notification area goes away.
  QGuiApplication::setQuitOnLastWindowClosed(false);
  FTrayWatch->start();
}

void TMainForm::TrayMessage(QSystemTrayIcon::ActivationReason reason) {
  switch (reason) {
    case QSystemTrayIcon::Trigger:
      ShowFromTray();
      TrayIconData->hide();
      break;
    case QSystemTrayIcon::Context:
      if (isVisible()) activateWindow();
      PopupMenu->popup(QCursor::pos());
      break;
    default:
      // Double-clicks, the middle button and balloon clicks do nothing.
      break;
  }
}

void TMainForm::ShowFromTray() {
  FTrayWatch->stop();
  if (isMinimized())
    showNormal();
  else
    show();
  raise();
  activateWindow();
  QGuiApplication::setQuitOnLastWindowClosed(true);
  UpdateSysTrayNote();
}

void TMainForm::UpdateSysTrayNote() {
  const bool none = !TrayAvailable();
  lblNoSysTray->setVisible(none);
  cboxSysTray->setToolTip(none ? lblNoSysTray->text() : QString());
}
