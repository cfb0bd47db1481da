// The tag page at 100,000 tracks, through the window: a click on its tab refills its list from
// the track cache and paints it. Held against a plain copy of the 100,000 record pointers and
// against the main list's own refill with the same records.
#include <QApplication>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include "bench/benchdialogs.h"
#include "bench/benchlibrary.h"
#include "bench/benchutil.h"
#include "bench/benchwindow.h"
#include "model/mp3objects.h"
#include "ui/formprogress.h"
#include "ui/mainform.h"
#include "ui/tracklistmodel.h"

namespace {

constexpr int kTracks = 100000;
constexpr int kRuns = 9;

void ClickTab(TMainForm& form, QWidget* page) {
  QTabBar* bar = form.pcMain->tabBar();
  QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(form.pcMain->indexOf(page)).center());
  QCoreApplication::processEvents();
}

}  // namespace

int main(int argc, char** argv) {
  const bench::PrivateHome home;
  QApplication app(argc, argv);
  // Nothing may wait for a person, whatever the start finds.
  bench::FolderAnswer dialogs;
  SetDialogs(&dialogs);
  std::unique_ptr<TMainForm> form = bench::StartOnStoredList(
      home.filePath(QStringLiteral("velmo/MP3_PLAYER_PLAY_LIST.DAT")), kTracks);
  const TMp3Cache& cache = *Mp3Session->CacheMp3();

  const double tabMs = bench::MedianMs(
      kRuns,
      [&] {
        ClickTab(*form, form->tsTAGID);
        if (form->TagList()->rowCount() != kTracks) std::abort();
      },
      [&] { ClickTab(*form, form->tsMp3Player); });

  std::size_t kept = 0;
  const double copyMs = bench::MedianMs(kRuns, [&] {
    const std::vector<TMp3PlayerPtr> copy = cache;
    kept += copy.size();
  });
  if (kept != static_cast<std::size_t>(kRuns) * kTracks) std::abort();

  ClickTab(*form, form->tsMp3Player);
  const double mainMs = bench::MedianMs(kRuns, [&] {
    form->TrackList()->SetRecords(cache);
    QCoreApplication::processEvents();
  });

  bench::Report("Tag page by its tab, 100,000 tracks", tabMs, "pointer copy", copyMs);
  bench::Report("Tag page by its tab, 100,000 tracks", tabMs, "main list refill", mainMs);
  form.reset();
  FormProgress.reset();
  SetDialogs(nullptr);
  return 0;
}
