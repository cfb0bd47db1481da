#include "tests/ui/xdesktop.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QElapsedTimer>
#include <QThread>

#include <sys/prctl.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The icon goes to the X notification area of the display, never to a session bus's. With no
// address at all the bus library would try to start a bus for the display instead (and leak in
// the attempt, which fails the sanitizer build).
constexpr char kNoSessionBus[] = "unix:path=/nonexistent/velmo-tests-have-no-bus";

void DieWithParent() {
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
}

std::unique_ptr<QProcess> StartChild(const QString& program, const QStringList& arguments,
                                     const QProcessEnvironment& env) {
  auto process = std::make_unique<QProcess>();
  process->setProgram(program);
  process->setArguments(arguments);
  process->setProcessEnvironment(env);
  process->setChildProcessModifier(DieWithParent);
  process->start();
  if (!process->waitForStarted(5000)) return nullptr;
  return process;
}

void End(std::unique_ptr<QProcess>& process) {
  if (!process) return;
  if (process->state() != QProcess::NotRunning) {
    process->terminate();
    if (!process->waitForFinished(3000)) {
      process->kill();
      process->waitForFinished(3000);
    }
  }
  process.reset();
}

}  // namespace

XDesktop::XDesktop(bool withTray) {
  const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  // The server writes the number of the display it found free to this descriptor (stdout).
  server_ =
      StartChild(QStringLiteral("Xvfb"),
                 {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                  QStringLiteral("0"), QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"),
                  QStringLiteral("tcp")},
                 env);
  if (!server_) {
    problem_ = QStringLiteral("Xvfb cannot be started (is the package xvfb installed?)");
    return;
  }
  QByteArray number;
  QElapsedTimer timer;
  timer.start();
  while (!number.contains('\n') && timer.elapsed() < 10000 &&
         server_->state() == QProcess::Running) {
    server_->waitForReadyRead(100);
    number += server_->readAllStandardOutput();
  }
  if (!number.contains('\n')) {
    problem_ = QStringLiteral("Xvfb gave no display: ") +
               QString::fromLocal8Bit(server_->readAllStandardError());
    return;
  }
  display_ = QLatin1Char(':') + QString::fromLatin1(number.trimmed());
  connection_ = xcb_connect(display_.toLatin1().constData(), nullptr);
  if (xcb_connection_has_error(connection_)) {
    problem_ = QStringLiteral("cannot connect to the display ") + display_;
    return;
  }
  root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
  if (withTray) StartTray();
}

void XDesktop::StartTray() {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("DISPLAY"), display_);
  tray_ =
      StartChild(QStringLiteral("trayer"),
                 {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"),
                  QStringLiteral("right"), QStringLiteral("--widthtype"), QStringLiteral("pixel"),
                  QStringLiteral("--width"), QStringLiteral("160"), QStringLiteral("--heighttype"),
                  QStringLiteral("pixel"), QStringLiteral("--height"), QStringLiteral("32")},
                 env);
  if (!tray_) {
    problem_ = QStringLiteral("trayer cannot be started (is the package trayer installed?)");
    return;
  }
  if (!WaitFor([this] { return TrayPresent(); }, 10000))
    problem_ = QStringLiteral("trayer did not take the notification area: ") +
               QString::fromLocal8Bit(tray_->readAllStandardError());
}

XDesktop::~XDesktop() {
  End(tray_);
  if (connection_) xcb_disconnect(connection_);
  End(server_);
}

QProcessEnvironment XDesktop::Environment() const {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("DISPLAY"), display_);
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
  env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QString::fromLatin1(kNoSessionBus));
  env.remove(QStringLiteral("WAYLAND_DISPLAY"));
  return env;
}

xcb_atom_t XDesktop::Atom(const char* name) {
  xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
      connection_,
      xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(std::strlen(name)), name),
      nullptr);
  const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
  std::free(reply);
  return atom;
}

QByteArray XDesktop::Property(xcb_window_t window, const char* name) {
  if (!connection_) return {};
  // Large enough for a window icon of several sizes; the length is counted in 32-bit units.
  constexpr std::uint32_t kMaxUnits = 1u << 20;
  xcb_get_property_reply_t* reply = xcb_get_property_reply(
      connection_,
      xcb_get_property(connection_, 0, window, Atom(name), XCB_GET_PROPERTY_TYPE_ANY, 0, kMaxUnits),
      nullptr);
  QByteArray value;
  if (reply)
    value = QByteArray(static_cast<const char*>(xcb_get_property_value(reply)),
                       xcb_get_property_value_length(reply));
  std::free(reply);
  return value;
}

xcb_window_t XDesktop::TrayOwner() {
  if (!connection_) return 0;
  xcb_get_selection_owner_reply_t* reply = xcb_get_selection_owner_reply(
      connection_, xcb_get_selection_owner(connection_, Atom("_NET_SYSTEM_TRAY_S0")), nullptr);
  const xcb_window_t owner = reply ? reply->owner : 0;
  std::free(reply);
  return owner;
}

bool XDesktop::TrayPresent() {
  return TrayOwner() != 0;
}

bool XDesktop::StopTray() {
  End(tray_);
  return WaitFor([this] { return !TrayPresent(); }, 5000);
}

std::vector<xcb_window_t> XDesktop::Children(xcb_window_t window) {
  std::vector<xcb_window_t> children;
  xcb_query_tree_reply_t* reply =
      xcb_query_tree_reply(connection_, xcb_query_tree(connection_, window), nullptr);
  if (!reply) return children;
  const xcb_window_t* list = xcb_query_tree_children(reply);
  children.assign(list, list + xcb_query_tree_children_length(reply));
  std::free(reply);
  return children;
}

qint64 XDesktop::PidOf(xcb_window_t window) {
  xcb_get_property_reply_t* reply = xcb_get_property_reply(
      connection_,
      xcb_get_property(connection_, 0, window, Atom("_NET_WM_PID"), XCB_ATOM_CARDINAL, 0, 1),
      nullptr);
  qint64 pid = -1;
  if (reply && xcb_get_property_value_length(reply) == 4)
    pid = *static_cast<const std::uint32_t*>(xcb_get_property_value(reply));
  std::free(reply);
  return pid;
}

std::vector<xcb_window_t> XDesktop::MappedWindowsOf(qint64 pid) {
  std::vector<xcb_window_t> windows;
  if (!connection_) return windows;
  for (const xcb_window_t window : Children(root_)) {
    xcb_get_window_attributes_reply_t* attributes = xcb_get_window_attributes_reply(
        connection_, xcb_get_window_attributes(connection_, window), nullptr);
    const bool shown = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE &&
                       !attributes->override_redirect;
    std::free(attributes);
    if (shown && PidOf(window) == pid) windows.push_back(window);
  }
  return windows;
}

std::vector<xcb_window_t> XDesktop::TrayIconsOf(qint64 pid) {
  std::vector<xcb_window_t> icons;
  if (!connection_) return icons;
  // An embedded icon has been reparented into the host: it is no longer a child of the root.
  std::vector<xcb_window_t> pending;
  for (const xcb_window_t top : Children(root_))
    for (const xcb_window_t child : Children(top)) pending.push_back(child);
  while (!pending.empty()) {
    const xcb_window_t window = pending.back();
    pending.pop_back();
    if (PidOf(window) == pid) icons.push_back(window);
    for (const xcb_window_t child : Children(window)) pending.push_back(child);
  }
  return icons;
}

QRect XDesktop::ScreenRect(xcb_window_t window) {
  xcb_get_geometry_reply_t* geometry =
      xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, window), nullptr);
  xcb_translate_coordinates_reply_t* origin = xcb_translate_coordinates_reply(
      connection_, xcb_translate_coordinates(connection_, window, root_, 0, 0), nullptr);
  QRect rect;
  if (geometry && origin)
    rect = QRect(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
  std::free(geometry);
  std::free(origin);
  return rect;
}

void XDesktop::SendCloseRequest(xcb_window_t window) {
  xcb_client_message_event_t event{};
  event.response_type = XCB_CLIENT_MESSAGE;
  event.format = 32;
  event.window = window;
  event.type = Atom("WM_PROTOCOLS");
  event.data.data32[0] = Atom("WM_DELETE_WINDOW");
  event.data.data32[1] = XCB_CURRENT_TIME;
  xcb_send_event(connection_, 0, window, XCB_EVENT_MASK_NO_EVENT,
                 reinterpret_cast<const char*>(&event));
  xcb_flush(connection_);
}

bool XDesktop::RunTool(const QStringList& arguments) {
  QProcess tool;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("DISPLAY"), display_);
  tool.setProcessEnvironment(env);
  tool.setChildProcessModifier(DieWithParent);
  tool.start(QStringLiteral("xdotool"), arguments);
  if (!tool.waitForStarted(5000)) return false;
  // The program under test may be this process: its events are handled while the tool runs.
  const bool done = WaitFor([&] { return tool.state() == QProcess::NotRunning; }, 10000);
  if (!done) {
    tool.kill();
    tool.waitForFinished(3000);
    return false;
  }
  if (tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0) return true;
  std::fprintf(stderr, "xdotool %s: %s\n", qPrintable(arguments.join(QLatin1Char(' '))),
               tool.readAllStandardError().constData());
  return false;
}

bool XDesktop::Click(QPoint at, int button) {
  // No --sync: it waits for a move that never comes when the pointer is there already.
  return RunTool({QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y()),
                  QStringLiteral("click"), QString::number(button)});
}

bool XDesktop::Keys(const QStringList& names) {
  return RunTool(
      QStringList{QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("50")} + names);
}

bool XDesktop::WaitFor(const std::function<bool()>& done, int ms) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > ms) return false;
    if (QCoreApplication::instance()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(10);
  }
  return true;
}

int RunTestsOnOwnDesktop(int argc, char** argv, bool withTray, XDesktop*& desktop) {
  XDesktop own(withTray);
  if (!own.Problem().isEmpty()) {
    std::fprintf(stderr, "%s: %s\n", argv[0], qPrintable(own.Problem()));
    return 1;
  }
  desktop = &own;
  const QProcessEnvironment env = own.Environment();
  for (const char* name : {"DISPLAY", "QT_QPA_PLATFORM"})
    qputenv(name, env.value(QLatin1String(name)).toLocal8Bit());
  qputenv("DBUS_SESSION_BUS_ADDRESS", kNoSessionBus);
  qunsetenv("WAYLAND_DISPLAY");
  int result = 0;
  {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    result = RUN_ALL_TESTS();
  }
  desktop = nullptr;
  return result;
}
