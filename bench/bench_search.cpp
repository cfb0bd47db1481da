// The search dialog at 100,000 tracks, through the window: Find opened until the dialog has
// painted every track's list, against Refresh of the main list (the same rows listed and painted
// anew); and each keystroke of a key typed into the dialog and erased again, until its results
// are painted, against the main list's fast filter and a plain pass that upper-cases every name
// and looks for the same keys.
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTimer>
#include <QTreeView>

#include <algorithm>

#include "bench/benchdialogs.h"
#include "bench/benchlibrary.h"
#include "bench/benchutil.h"
#include "bench/benchwindow.h"
#include "model/mp3objects.h"
#include "ui/formprogress.h"
#include "ui/mainform.h"
#include "ui/searchdialog.h"
#include "ui/tracklistmodel.h"

namespace {

constexpr int kTracks = 100000;
constexpr int kRuns = 5;
const QString kKey = QStringLiteral("Number 4242");

// Counts the paints of the list view named `view` (of its rows' area), so a figure ends when the
// user sees the result. It watches the whole application: the dialog's list may paint before the
// dialog's code can be reached.
class PaintCounter : public QObject {
 public:
  explicit PaintCounter(const char* view) : view_(QLatin1String(view)) {
    qApp->installEventFilter(this);
  }
  int paints = 0;
  // Runs events until a paint after `before`; aborts when none comes within 5 s.
  void WaitPast(int before) const {
    QElapsedTimer limit;
    limit.start();
    while (paints <= before) {
      if (limit.elapsed() > 5000) std::abort();
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint && watched->parent() &&
        watched->parent()->objectName() == view_)
      ++paints;
    return false;
  }

 private:
  QString view_;
};

// Runs Find; `inside` acts on the dialog once it is up and closes it.
void WithDialog(TMainForm* form, const std::function<void(TFSearch*)>& inside) {
  QTimer::singleShot(0, form, [&] {
    auto* dialog = qobject_cast<TFSearch*>(QApplication::activeModalWidget());
    if (!dialog) std::abort();
    inside(dialog);
  });
  form->Command(QStringLiteral("Search"))->trigger();
}

}  // namespace

int main(int argc, char** argv) {
  const bench::PrivateHome home;
  QApplication app(argc, argv);
  // Nothing may wait for a person (a language file that cannot be read is said in a box).
  bench::FolderAnswer dialogs;
  SetDialogs(&dialogs);
  std::unique_ptr<TMainForm> form = bench::StartOnStoredList(
      home.filePath(QStringLiteral("velmo/MP3_PLAYER_PLAY_LIST.DAT")), kTracks);
  const TMp3Cache& cache = *Mp3Session->CacheMp3();

  // Open: from the command until the dialog's list is painted with every track.
  std::vector<double> opens;
  PaintCounter painted("lvSearch");
  for (int run = 0; run < kRuns; ++run) {
    QElapsedTimer timer;
    const int before = painted.paints;
    timer.start();
    WithDialog(form.get(), [&](TFSearch* dialog) {
      painted.WaitPast(before);
      opens.push_back(timer.nsecsElapsed() / 1e6);
      if (dialog->lvSearch->model()->rowCount() != kTracks) std::abort();
      dialog->reject();
    });
  }
  PaintCounter mainPainted("lvMain");
  const double refreshMs = bench::MedianMs(kRuns, [&] {
    const int before = mainPainted.paints;
    form->Command(QStringLiteral("ARefresh"))->trigger();
    mainPainted.WaitPast(before);
  });

  // Keystrokes: in each of several openings the key typed one character at a time, then erased
  // one at a time. The first keystroke of an opening also folds every title once.
  std::vector<double> firstStrokes, strokes;
  for (int run = 0; run < kRuns; ++run) {
    const int beforeOpen = painted.paints;
    WithDialog(form.get(), [&](TFSearch* dialog) {
      painted.WaitPast(beforeOpen);
      const auto stroke = [&](Qt::Key key, const QString& text) {
        const int before = painted.paints;
        QElapsedTimer timer;
        timer.start();
        QTest::sendKeyEvent(QTest::Click, dialog->edtSearch, key, text, {});
        painted.WaitPast(before);
        (dialog->edtSearch->text().size() == 1 && key != Qt::Key_Backspace ? firstStrokes : strokes)
            .push_back(timer.nsecsElapsed() / 1e6);
      };
      for (const QChar ch : kKey) stroke(Qt::Key_unknown, QString(ch));
      if (dialog->lvSearch->model()->rowCount() != 11) std::abort();
      for (qsizetype i = 0; i < kKey.size(); ++i) stroke(Qt::Key_Backspace, QString());
      if (dialog->lvSearch->model()->rowCount() != kTracks) std::abort();
      dialog->reject();
    });
  }

  // The same keys through the main list's fast filter, and as a plain pass over the names.
  std::vector<double> fastFilter, plainPass;
  for (int run = 0; run < kRuns; ++run) {
    for (qsizetype length = 1; length <= kKey.size(); ++length) {
      const QString key = kKey.left(length);
      const int before = mainPainted.paints;
      QElapsedTimer timer;
      timer.start();
      form->edtSearch->setText(key);
      mainPainted.WaitPast(before);
      fastFilter.push_back(timer.nsecsElapsed() / 1e6);

      timer.start();
      const QString upperKey = key.toUpper();
      int matches = 0;
      for (const TMp3PlayerPtr& mp3 : cache) matches += mp3->Mp3Name().toUpper().contains(upperKey);
      plainPass.push_back(timer.nsecsElapsed() / 1e6);
      if (matches == 0) std::abort();
    }
    form->edtSearch->clear();
  }

  const double strokeMs = bench::Median(strokes);
  const double plainMs = bench::Median(plainPass);
  bench::Report("Find opened, 100,000 tracks listed and painted", bench::Median(opens),
                "Refresh of the main list", refreshMs);
  bench::Report("  slowest open", *std::max_element(opens.begin(), opens.end()),
                "Refresh of the main list", refreshMs);
  bench::Report("First keystroke of an opening, median", bench::Median(firstStrokes),
                "plain upper-case pass", plainMs);
  bench::Report("  slowest first keystroke",
                *std::max_element(firstStrokes.begin(), firstStrokes.end()),
                "plain upper-case pass", plainMs);
  bench::Report("Later keystrokes (typed and erased), median", strokeMs,
                "main list's fast filter, same keys", bench::Median(fastFilter));
  bench::Report("  slowest later keystroke", *std::max_element(strokes.begin(), strokes.end()),
                "plain upper-case pass", plainMs);
  form.reset();
  FormProgress.reset();
  SetDialogs(nullptr);
  return 0;
}
