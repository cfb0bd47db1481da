// The program entry: the application object, the main window (whose creation runs the whole
// start-up), the progress dialog, then the event loop.
#include <QApplication>

#include <exception>

#include "ui/dialogs.h"
#include "ui/formprogress.h"
#include "ui/mainform.h"

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

  int result = 0;
  {
    TMainForm MainForm(QApplication::arguments().mid(1));
    if (MainForm.IsSecondCopy()) return 0;
    if (MainForm.StartFailed()) return 1;
    if (!FormProgress) FormProgress = std::make_unique<TFormProgress>();
    FormProgress->setObjectName(QStringLiteral("FormProgress"));
    MainForm.show();
    result = QApplication::exec();
  }
  FormProgress.reset();
  return result;
}
