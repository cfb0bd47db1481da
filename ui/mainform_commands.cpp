// The command table, the menus made from it, key routing, the enabling rule, page tracking and
// the minimum window size.
#include <QAbstractSpinBox>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>

#include "ui/dialogs.h"
#include "ui/mainform.h"
#include "ui/milestones.h"
#include "ui/nodetree.h"
#include "ui/tracklistmodel.h"

namespace {

using Handler = void (TMainForm::*)();

// One row per command. A null handler does nothing: menu heads, and commands whose feature has
// not been built yet.
struct CommandRow {
  const char* name;
  const char* category;
  const char* caption;
  const char* hint;
  const char* key;
  Handler handler;
};

const CommandRow kCommands[] = {
    {"Mp3Play", "Commands", "Play", "Play Song", "F1", &TMainForm::Mp3PlayExecute},
    {"Mp3Pause", "Commands", "Pause", "Pause", "F2", &TMainForm::Mp3PauseExecute},
    {"Mp3Close", "Commands", "Stop", "Stop", "F3", &TMainForm::Mp3CloseExecute},
    {"Mp3Load", "Commands", "Load Directory", "Load Directory", "", nullptr},
    {"Mp3Next", "Commands", "Next", "Next Track", "F6", &TMainForm::Mp3NextExecute},
    {"Mp3Prev", "Commands", "Prev", "Previous Track", "F7", &TMainForm::Mp3PrevExecute},
    {"PlayList", "Function", "Play List", "", "", nullptr},
    {"Search", "Function", "Find", "", "Ctrl+S", &TMainForm::SearchExecute},
    {"Delete", "Function", "Delete track", "", "Ctrl+D", &TMainForm::DeleteExecute},
    {"ALoadFile", "Commands", "Load File", "Load File ", "", &TMainForm::ALoadFileExecute},
    {"ARefresh", "Function", "Refresh", "", "F5", &TMainForm::ARefreshExecute},
    {"ALoadDir", "File", "Load Directory", "", "Ctrl+L", &TMainForm::ALoadDirExecute},
    {"AFile", "File", "File", "", "Ctrl+F", nullptr},
    {"AExit", "File", "Exit", "", "Esc", &TMainForm::AExitExecute},
    {"ADel", "Edit", "ADel", "", "Ctrl+Del", nullptr},
    {"AClearPlayList", "Edit", "Clear Play List", "", "Ctrl+C", &TMainForm::AClearPlayListExecute},
    {"AMp3Tag", "Function", "Mp3 tag", "", "Ctrl+T", &TMainForm::AMp3TagExecute},
    {"AOptions", "Function", "Options", "", "Ctrl+O", &TMainForm::AOptionsExecute},
    {"ASaveList", "Edit", "Save Play List", "", "Ctrl+G", &TMainForm::ASaveListExecute},
    {"ALoadPlayList", "Edit", "Load Play List", "", "Ctrl+H", &TMainForm::ALoadPlayListExecute},
    {"Am3u", "File", "Load m3u", "", "Ctrl+R", &TMainForm::Am3uExecute},
    {"ADeletePlayList", "Edit", "Delete", "", "Del", &TMainForm::ADeletePlayListExecute},
    {"AFillPlayList", "Edit", "Load", "", "", &TMainForm::AFillPlayListExecute},
    {"ARenamePlayList", "Edit", "Rename", "", "", &TMainForm::ARenamePlayListExecute},
    {"AEdit", "Edit", "Edit", "", "", nullptr},
    {"AView", "View", "View", "", "", nullptr},
    {"ASearch", "Search", "Search", "", "", nullptr},
    {"AHelp", "Help", "Help", "", "", nullptr},
    {"AAbout", "Help", "About", "", "", &TMainForm::AAboutExecute},
    {"APlayList", "Play List", "Play List", "", "", nullptr},
    {"AMp3Control", "Mp3 Control", "Mp3 Control", "", "", nullptr},
    {"AOther", "Other", "Other", "", "", nullptr},
    {"ADeleteNode", "Node", "Clear List", "", "", &TMainForm::ADeleteNodeExecute},
    {"AMovePlayList", "Node", "Add to mp3 play list", "", "", &TMainForm::AMovePlayListExecute},
};

const char kKeyProperty[] = "velmoKey";
const char kCategoryProperty[] = "velmoCategory";

QKeySequence KeyOf(const QAction* action) {
  return action->property(kKeyProperty).value<QKeySequence>();
}

// Editing controls keep their own editing keys (Del, Ctrl+C, ...): the toolkit asks them first
// through a shortcut-override event, and so do we.
bool FocusWantsKey(QWidget* focus, const QKeyEvent& event) {
  if (!focus) return false;
  const bool editor = qobject_cast<QLineEdit*>(focus) || qobject_cast<QTextEdit*>(focus) ||
                      qobject_cast<QPlainTextEdit*>(focus) ||
                      qobject_cast<QAbstractSpinBox*>(focus);
  if (!editor) return false;
  QKeyEvent probe(QEvent::ShortcutOverride, event.key(), event.modifiers(), event.text());
  probe.ignore();
  QCoreApplication::sendEvent(focus, &probe);
  return probe.isAccepted();
}

}  // namespace

// A menu entry: a command, a separator (null command), or a heading with entries of its own.
struct TMainForm::MenuEntry {
  const char* command = nullptr;
  const char* ownKey = nullptr;  // shown and matched instead of the command's key
  std::vector<MenuEntry> entries = {};
  bool isDefault = false;
};

void TMainForm::CreateCommands() {
  ActionList = new QObject(this);
  ActionList->setObjectName(QStringLiteral("ActionList"));
  for (const CommandRow& row : kCommands) {
    auto* action = new QAction(QString::fromUtf8(row.caption), ActionList);
    action->setObjectName(QLatin1String(row.name));
    action->setProperty(kCategoryProperty, QLatin1String(row.category));
    action->setProperty(kKeyProperty, QKeySequence(QLatin1String(row.key)));
    if (*row.hint) action->setToolTip(QString::fromUtf8(row.hint));
    if (row.handler) {
      const Handler handler = row.handler;
      const char* name = row.name;
      connect(action, &QAction::triggered, this, [this, handler, name] {
        milestones::Mark("command", name);
        RunGuarded(this, [&] { (this->*handler)(); });
      });
    }
  }
  const std::pair<QToolButton*, const char*> buttons[] = {
      {SpeedButton2, "AExit"}, {btnMp3Load, "ALoadDir"}, {btnPrev, "Mp3Prev"}, {btnNext, "Mp3Next"},
      {btnPlay, "Mp3Play"},    {btnPause, "Mp3Pause"},   {btnStop, "Mp3Close"}};
  for (const auto& [button, command] : buttons)
    button->setDefaultAction(Command(QLatin1String(command)));
}

QAction* TMainForm::Command(const QString& name) const {
  return ActionList->findChild<QAction*>(name, Qt::FindDirectChildrenOnly);
}

void TMainForm::CreateMenus() {
  using E = MenuEntry;
  const E sep{};
  const std::vector<E> mainMenu = {
      {"AFile",
       nullptr,
       {{"ALoadDir"}, {"ALoadFile", "Ctrl+F"}, {"Am3u"}, sep, {"AExit", nullptr, {}, true}}},
      {"AEdit",
       nullptr,
       {{"AClearPlayList"},
        {"ASaveList"},
        {"ALoadPlayList"},
        sep,
        {"Delete"},
        {"ARefresh"},
        sep,
        {"Mp3Prev"},
        {"Mp3Next"},
        {"Mp3Play"},
        sep,
        {"Mp3Pause"},
        {"Mp3Close"}}},
      {"AView", nullptr, {{"AMp3Tag"}, {"AOptions"}}},
      {"ASearch", nullptr, {{"Search"}}},
      {"AHelp", nullptr, {{"AAbout"}}},
  };
  const std::vector<E> popupMenu = {
      {"AFile", nullptr, {{"ALoadDir"}, {"ALoadFile"}, {"Am3u"}}},
      {"APlayList", nullptr, {{"AClearPlayList"}, {"ASaveList"}, {"ALoadPlayList"}}},
      {"AMp3Control",
       nullptr,
       {{"Mp3Play"}, {"Mp3Pause"}, {"Mp3Close"}, sep, {"Mp3Next"}, {"Mp3Prev"}}},
      sep,
      {"AOther", nullptr, {{"Delete", "Del"}, {"ARefresh"}, {"AMp3Tag"}}},
      {"Search", "Ctrl+F"},
      {"AOptions"},
      sep,
      {"AExit"},
  };
  for (const E& heading : mainMenu) {
    QMenu* menu = BuildMenu(new QMenu(MainMenu), heading.entries);
    QAction* head = menu->menuAction();
    QAction* command = Command(QLatin1String(heading.command));
    head->setText(command->text());
    head->setProperty(kKeyProperty, KeyOf(command));
    connect(command, &QAction::changed, head, [head, command] { head->setText(command->text()); });
    MainMenu->addMenu(menu);
  }
  BuildMenu(PopupMenu, popupMenu);
  BuildMenu(pmPlayLists, {{"AFillPlayList"}, {"ADeletePlayList"}, {"ARenamePlayList"}});
  BuildMenu(pmNode, {{"ADeleteNode"}, {"AMovePlayList"}});

  FControlMenus = {{lvMain, PopupMenu}, {lvPlayLists, pmPlayLists}, {Mp3Node, pmNode}};
  for (const auto& [control, menu] : FControlMenus) {
    QMenu* popup = menu;
    QWidget* owner = control;
    connect(owner, &QWidget::customContextMenuRequested, popup,
            [owner, popup](const QPoint& at) { popup->popup(owner->mapToGlobal(at)); });
  }
  for (QMenu* menu : findChildren<QMenu*>())
    connect(menu, &QMenu::aboutToShow, this, &TMainForm::ActionListUpdate);
}

QMenu* TMainForm::BuildMenu(QMenu* menu, const std::vector<MenuEntry>& entries) {
  for (const MenuEntry& entry : entries) {
    if (!entry.command) {
      menu->addSeparator();
      continue;
    }
    QAction* command = Command(QLatin1String(entry.command));
    const QKeySequence key =
        entry.ownKey ? QKeySequence(QLatin1String(entry.ownKey)) : KeyOf(command);
    QAction* item;
    if (!entry.entries.empty()) {
      QMenu* sub = BuildMenu(new QMenu(menu), entry.entries);
      item = sub->menuAction();
      menu->addMenu(sub);
    } else {
      item = menu->addAction(QString());
      connect(item, &QAction::triggered, command, &QAction::trigger);
    }
    item->setProperty(kKeyProperty, key);
    // The entry shows the command's caption, key label and enabled state, and follows them.
    auto sync = [item, command, key, heading = !entry.entries.empty()] {
      QString text = command->text();
      if (!heading && !key.isEmpty())
        text += QLatin1Char('\t') + key.toString(QKeySequence::NativeText);
      item->setText(text);
      if (!heading) item->setEnabled(command->isEnabled());
    };
    sync();
    connect(command, &QAction::changed, item, sync);
    if (entry.isDefault) menu->setDefaultAction(item);
  }
  return menu;
}

bool TMainForm::OfferKeyToMenu(const QList<QAction*>& entries, const QKeySequence& key) {
  for (QAction* entry : entries) {
    if (entry->isSeparator()) continue;
    if (KeyOf(entry) == key) {
      if (entry->isEnabled() && !entry->menu()) entry->trigger();
      return true;
    }
    if (QMenu* sub = entry->menu(); sub && OfferKeyToMenu(sub->actions(), key)) return true;
  }
  return false;
}

bool TMainForm::RouteKey(const QKeySequence& key) {
  ActionListUpdate();
  QWidget* focus = QApplication::focusWidget();
  if (!focus || focus->window() != this) focus = this;
  for (QWidget* w = focus; w; w = w->parentWidget())
    for (const auto& [control, menu] : FControlMenus)
      if (control == w && OfferKeyToMenu(menu->actions(), key)) return true;
  if (OfferKeyToMenu(MainMenu->actions(), key)) return true;
  for (QAction* command : ActionList->findChildren<QAction*>(Qt::FindDirectChildrenOnly)) {
    if (KeyOf(command) != key) continue;
    if (!command->isEnabled()) return false;
    command->trigger();
    return true;
  }
  return false;
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::KeyPress: {
      auto* widget = qobject_cast<QWidget*>(watched);
      if (!widget || widget->window() != this) break;
      auto* keyEvent = static_cast<QKeyEvent*>(event);
      const int key = keyEvent->key();
      if (key == Qt::Key_Control || key == Qt::Key_Shift || key == Qt::Key_Alt ||
          key == Qt::Key_Meta || key == Qt::Key_unknown)
        break;
      if (FocusWantsKey(QApplication::focusWidget(), *keyEvent)) break;
      const Qt::KeyboardModifiers modifiers = keyEvent->modifiers() & ~Qt::KeypadModifier;
      if (RouteKey(QKeySequence(QKeyCombination(modifiers, Qt::Key(key))))) return true;
      if (widget == lvMain && lvMainKeyDown(keyEvent)) return true;
      break;
    }
    case QEvent::Show:
    case QEvent::Hide:
      if (watched == ProgressBar1) ScheduleActionUpdate();
      break;
    case QEvent::MouseButtonDblClick:
      // The list's double-click, also below its rows; a row's own comes from the view.
      if (watched == lvMain->viewport() &&
          !lvMain->indexAt(static_cast<QMouseEvent*>(event)->position().toPoint()).isValid())
        RunGuarded(this, [this] { lvMainDblClick(); });
      break;
    case QEvent::MouseButtonRelease:
      // A click in the list, seen once the list has handled it (a check box it ticked counts).
      if (watched == lvMain->viewport())
        QTimer::singleShot(0, this, [this] { RunGuarded(this, [this] { lvMainClick(); }); });
      break;
    default:
      break;
  }
  return QMainWindow::eventFilter(watched, event);
}

void TMainForm::ScheduleActionUpdate() {
  if (FActionUpdatePending) return;
  FActionUpdatePending = true;
  QTimer::singleShot(0, this, &TMainForm::ActionListUpdate);
}

void TMainForm::ActionListUpdate() {
  FActionUpdatePending = false;
  const bool busy = !ProgressBar1->isHidden();
  pnlSearch->setVisible(!busy);

  const bool hasRows = FTrackList->rowCount() > 0;
  const bool rowSelected = lvMain->selectionModel()->hasSelection();
  for (const char* name : {"Search", "ARefresh", "AMp3Tag"})
    Command(QLatin1String(name))->setEnabled(hasRows);
  Command(QStringLiteral("Delete"))->setEnabled(rowSelected);

  bool playEnabled = false;
  if (FEnumTabs == et_Mp3)
    playEnabled = rowSelected;
  else if (FEnumTabs == et_Node)
    playEnabled = Mp3Node->selectionModel()->hasSelection();
  for (const char* name : {"Mp3Close", "Mp3Pause", "Mp3Play", "Mp3Prev", "Mp3Next"})
    Command(QLatin1String(name))->setEnabled(playEnabled);

  Command(QStringLiteral("AClearPlayList"))->setEnabled(!busy && hasRows);
  const bool listSelected = lvPlayLists->selectionModel()->hasSelection();
  for (const char* name : {"AFillPlayList", "ADeletePlayList", "ARenamePlayList"})
    Command(QLatin1String(name))->setEnabled(listSelected);
  const bool hasNodes = FNodes->rowCount() > 0;
  for (const char* name : {"ADeleteNode", "AMovePlayList"})
    Command(QLatin1String(name))->setEnabled(hasNodes);
}

void TMainForm::pcMainChange() {
  FEnumTabs = et_None;
  QWidget* page = pcMain->currentWidget();
  const bool hasCache = Mp3Session && Mp3Session->CacheMp3();
  if (page == tsMp3Player && hasCache)
    FEnumTabs = et_Mp3;
  else if (page == tsMp3Node)
    FEnumTabs = et_Node;
  else if (page == tsOptions)
    FEnumTabs = et_Settings;
  else if (page == tsTAGID && hasCache)
    FillTagList();
  ScheduleActionUpdate();
}

void TMainForm::SetActivePage(QWidget* page) {
  FPageFromCode = true;
  pcMain->setCurrentWidget(page);
  FPageFromCode = false;
}

void TMainForm::AMp3TagExecute() {
  SetActivePage(tsTAGID);
}
void TMainForm::AOptionsExecute() {
  SetActivePage(tsOptions);
}
void TMainForm::AAboutExecute() {
  SetActivePage(tsAbout);
}

void TMainForm::FormResize() {
  // Outer size: the frame counts, as the user sees the window.
  const QSize frame = frameGeometry().size() - size();
  QSize wanted = size();
  if (frameGeometry().width() < 600) wanted.setWidth(600 - frame.width());
  if (frameGeometry().height() < 520) wanted.setHeight(520 - frame.height());
  if (wanted != size()) resize(wanted);
}
