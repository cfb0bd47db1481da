// The program entry: the application object, the main window (whose creation runs the whole
// start-up), the progress dialog, then the event loop.
#include <QApplication>
#include <QTreeView>

#include <exception>

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

}  // namespace

int main(int argc, char** argv) {
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
    if (MainForm.IsSecondCopy()) return 0;
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
