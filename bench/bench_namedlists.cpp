// Named play lists at 100,000 tracks, through the window: Save Play List (the list, the registry
// and the settings into the chosen file) against a plain line write of the same bytes, and Load
// Play List (the settings read again, the tracks appended, the registry) against a plain line
// split of them.
#include <QAction>
#include <QApplication>
#include <QFile>

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
constexpr int kRuns = 5;

}  // namespace

int main(int argc, char** argv) {
  const bench::PrivateHome home;
  QApplication app(argc, argv);
  bench::FolderAnswer dialogs;
  SetDialogs(&dialogs);
  std::unique_ptr<TMainForm> form = bench::StartOnStoredList(
      home.filePath(QStringLiteral("velmo/MP3_PLAYER_PLAY_LIST.DAT")), kTracks);

  const QString saved = home.filePath(QStringLiteral("saved.lst"));
  dialogs.file = saved;
  QAction* save = form->Command(QStringLiteral("ASaveList"));
  const double saveMs = bench::MedianMs(kRuns, [&] { save->trigger(); });
  const std::vector<std::string> lines = bench::SplitLines(saved);
  const QString plain = home.filePath(QStringLiteral("plain.lst"));
  const double writeMs = bench::MedianMs(kRuns, [&] { bench::WriteLines(plain, lines); });

  QAction* load = form->Command(QStringLiteral("ALoadPlayList"));
  const double loadMs = bench::MedianMs(
      kRuns,
      [&] {
        load->trigger();
        if (form->TrackList()->rowCount() != kTracks) std::abort();
      },
      [&] {
        form->AClearPlayListExecute();
        bench::Touch(saved);
      });
  const double splitMs = bench::MedianMs(kRuns, [&] {
    if (bench::SplitLines(saved).size() != lines.size()) std::abort();
  });

  bench::Report("Save Play List, 100,000 tracks", saveMs, "line write", writeMs);
  bench::Report("Load Play List, 100,000 tracks", loadMs, "line split", splitMs);
  form.reset();
  FormProgress.reset();
  SetDialogs(nullptr);
  return 0;
}
