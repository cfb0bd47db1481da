// The program entry: the application object, the main window (whose creation runs the whole
// start-up), the progress dialog, then the event loop.
#include <QApplication>
#include <QElapsedTimer>
#include <QTreeView>

#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <exception>

#include "platform/instancechannel.h"
#include "platform/pathcodec.h"
#include "ui/dialogs.h"
#include "ui/formprogress.h"
#include "ui/mainform.h"
#include "ui/milestones.h"
#include "ui/programicon.h"
#include "ui/tracklistmodel.h"

namespace {

// The last line of the error handler: an error that escaped a handler is shown and the program
// keeps running.
class TVelmoApplication : public QApplication {
 public:
  using QApplication::QApplication;
  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
      ShowException(nullptr, error);
      return false;
    }
  }
};

// The running copy works in a folder of its own: a relative name must not change meaning.
QString AbsoluteCommandLineFile(const QString& file) {
  if (file.isEmpty() || file.startsWith(QLatin1Char('/'))) return file;
  char* folder = ::getcwd(nullptr, 0);
  if (!folder) return file;
  QString absolute = platform::decodePath(folder);
  std::free(folder);
  if (!absolute.endsWith(QLatin1Char('/'))) absolute += QLatin1Char('/');
  return absolute + file;
}

// The whole later start, its own start-up included, ends within about this long.
constexpr std::chrono::milliseconds kHandOffBudget{1000};
constexpr std::chrono::milliseconds kHandOffLeastWait{200};

}  // namespace

int main(int argc, char** argv) {
  QElapsedTimer started;
  started.start();
  TVelmoApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("velmo"));
  QApplication::setApplicationDisplayName(QStringLiteral("Velmo"));
  // The desktop matches the window to velmo.desktop, and every window shows the program's icon.
  QGuiApplication::setDesktopFileName(QStringLiteral("velmo"));
  QApplication::setWindowIcon(ProgramIcon());

  // The arguments' own bytes (Qt's options already taken out): a file name need not be UTF-8.
  QStringList arguments;
  for (int i = 1; i < argc; ++i) arguments << platform::decodePath(argv[i]);
  int result = 0;
  {
    TMainForm MainForm(arguments);
    if (MainForm.IsSecondCopy()) {
      // Ends as before, but its file is not lost: the running copy adds it and comes to the
      // front. A running copy that does not answer (stopped, hung) never keeps this one.
      platform::HandOffToRunningCopy(
          MainForm.DataDirectory(), AbsoluteCommandLineFile(MainForm.CommandLineFile()),
          std::max(kHandOffLeastWait,
                   kHandOffBudget - std::chrono::milliseconds(started.elapsed())));
      return 0;
    }
    if (MainForm.StartFailed()) return 1;
    if (!FormProgress) FormProgress = std::make_unique<TFormProgress>();
    FormProgress->setObjectName(QStringLiteral("FormProgress"));
    milestones::MarkAfterNextPaint(MainForm.lvMain->viewport(), "shown",
                                   [&] { return MainForm.TrackList()->rowCount(); });
    milestones::WatchEventLoop(&MainForm, 20);
    MainForm.show();
    result = QApplication::exec();
  }
  FormProgress.reset();
  return result;
}
