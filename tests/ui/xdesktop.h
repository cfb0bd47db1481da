#pragma once
// A private X desktop for the tests of the notification-area icon: a virtual X server of its own
// and, when asked, a real notification-area host (trayer) on it. Windows are found and watched
// through the X protocol itself, pointer and keys go in through the XTEST extension (xdotool),
// so the program under test sees the events a person would make.
//
// Every child process dies with the test process (a parent-death signal), and the destructor
// ends them, so nothing is left running however the test ends.
#include <xcb/xcb.h>

#include <QProcess>
#include <QRect>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class XDesktop {
 public:
  // Starts the server and, with `withTray`, the host; check Problem() afterwards.
  explicit XDesktop(bool withTray);
  ~XDesktop();
  XDesktop(const XDesktop&) = delete;
  XDesktop& operator=(const XDesktop&) = delete;

  // Empty, or why the desktop could not be made.
  const QString& Problem() const { return problem_; }
  // ":N", for DISPLAY.
  const QString& Display() const { return display_; }
  // The environment of a program that is to show its windows here.
  QProcessEnvironment Environment() const;

  // True while a notification-area host owns the selection of screen 0.
  bool TrayPresent();
  // Ends the host, as when the user quits the panel; false when it did not end in time.
  bool StopTray();
  // Starts the host again; Problem() says when it did not take the area.
  void StartTray();

  // The top-level windows of process `pid` that are mapped, not counting those embedded in the
  // notification area.
  std::vector<xcb_window_t> MappedWindowsOf(qint64 pid);
  // The windows embedded in the notification area that belong to process `pid`.
  std::vector<xcb_window_t> TrayIconsOf(qint64 pid);
  // The window's rectangle on the screen; empty when the window is gone.
  QRect ScreenRect(xcb_window_t window);
  // Asks the window's program to close it, as a window manager's close button does.
  void SendCloseRequest(xcb_window_t window);

  // Moves the pointer to `at` and presses and releases `button` (1 left, 3 right).
  bool Click(QPoint at, int button);
  // Presses and releases keys named as X names them ("Up", "Return", "Escape").
  bool Keys(const QStringList& names);

  // The value of the window's property `name` as the server keeps it, of whatever type; empty
  // when the window has no such property.
  QByteArray Property(xcb_window_t window, const char* name);
  xcb_atom_t Atom(const char* name);

  // Polls `done` every 10 ms, handling this process's events, until it holds or `ms` pass.
  static bool WaitFor(const std::function<bool()>& done, int ms);

 private:
  qint64 PidOf(xcb_window_t window);
  xcb_window_t TrayOwner();
  std::vector<xcb_window_t> Children(xcb_window_t window);
  bool RunTool(const QStringList& arguments);

  QString problem_;
  QString display_;
  std::unique_ptr<QProcess> server_;
  std::unique_ptr<QProcess> tray_;
  xcb_connection_t* connection_ = nullptr;
  xcb_window_t root_ = 0;
};

// The main of a test program whose windows show on a desktop of its own: the desktop is made
// before the application object, so that the application shows its windows there, and `desktop`
// points at it while the tests run.
int RunTestsOnOwnDesktop(int argc, char** argv, bool withTray, XDesktop*& desktop);
