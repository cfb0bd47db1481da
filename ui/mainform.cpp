#include "ui/mainform.h"
#include "playback/streamopener.h"

#include <QApplication>
#include <QCloseEvent>

#include "platform/singleinstance.h"
#include "ui/dialogs.h"
#include "ui/formprogress.h"

std::unique_ptr<TFormProgress> FormProgress;

TMainForm::TMainForm(const QStringList& arguments, QWidget* parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("MainForm"));
  setWindowTitle(QStringLiteral("Velmo"));
  resize(600, 570);
  CreateComponents();
  CreateTrackList();
  CreateCommands();
  ConnectPlayControl();
  ConnectPlayLists();
  CreateMenus();
  ConnectLanguageBox();
  ConnectOptions();
  ConnectTagPage();
  CreateTrayIcon();
  connect(pcMain, &QTabWidget::currentChanged, this, [this] {
    if (!FPageFromCode) pcMainChange();
  });
  qApp->installEventFilter(this);
  ActionListUpdate();
  FormCreate(arguments);
  // Only the copy that holds the data folder answers the desktop's media controls.
  if (!FSecondCopy && !FStartFailed) RegisterMpris();
}

TMainForm::~TMainForm() {
  qApp->removeEventFilter(this);
  UnregisterMpris();
  FormDestroy();
}

void TMainForm::closeEvent(QCloseEvent* event) {
  bool CanClose = false;
  RunGuarded(this, [&] { FormCloseQuery(CanClose); });
  event->setAccepted(CanClose);
}

void TMainForm::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  ApplyPendingOuterSize();
  FormResize();
}
