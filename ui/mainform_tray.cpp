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
#include <QTabWidget>
#include <QTimer>

#include "ui/mainform.h"
#include "ui/programicon.h"

namespace {

// How often a window hidden behind the icon checks that the notification area is still there.
constexpr int kTrayWatchMs = 1000;

}  // namespace

bool TMainForm::TrayAvailable() {
  return QSystemTrayIcon::isSystemTrayAvailable();
}

void TMainForm::CreateTrayIcon() {
  if (windowIcon().isNull()) setWindowIcon(ProgramIcon());
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
  ShowInFront();
  QGuiApplication::setQuitOnLastWindowClosed(true);
  UpdateSysTrayNote();
}

void TMainForm::BringToFront() {
  if (!isVisible() && TrayIconData->isVisible()) {
    // As a left press on the icon does.
    ShowFromTray();
    TrayIconData->hide();
    return;
  }
  ShowInFront();
}

void TMainForm::ShowInFront() {
  if (isMinimized())
    showNormal();
  else
    show();
  raise();
  activateWindow();
}

void TMainForm::UpdateSysTrayNote() {
  const bool none = !TrayAvailable();
  lblNoSysTray->setVisible(none);
  cboxSysTray->setToolTip(none ? lblNoSysTray->text() : QString());
}
