#include <QCoreApplication>
#include <QTemporaryDir>
#include <QFile>
#include "bench/benchlibrary.h"
#include "bench/benchutil.h"
#include "model/mp3objects.h"
#include "platform/inifile.h"
#include <ctime>
#include <algorithm>
static double Cpu() { timespec t; clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t); return t.tv_sec*1e3 + t.tv_nsec/1e6; }
static double MedianCpu(int runs, const std::function<void()>& body, const std::function<void()>& before = {}) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) { if (before) before(); double s = Cpu(); body(); times.push_back(Cpu() - s); }
  for (double t : times) { std::fprintf(stderr, "%.0f ", t); } std::fprintf(stderr, "\n"); std::sort(times.begin(), times.end()); return times[times.size()/2];
}
int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QTemporaryDir dir;
  const QString list = dir.filePath(QStringLiteral("MP3_PLAYER_PLAY_LIST.DAT"));
  Mp3Session = std::make_unique<TMp3Session>();
  bench::FillLibraryCache(100000);
  TMp3Settings& settings = Mp3Session->Mp3Settings();
  settings.SavePlayList(list);
  std::printf("%lld bytes\n", (long long)QFile(list).size());
  const int n = argc > 1 ? atoi(argv[1]) : 20;
  std::vector<TMp3PlayerPtr> keep;
  if (argc > 2 && argv[2][0]=='y') { settings.ReadPlayList(list); double w = MedianCpu(n, [&] { keep = settings.ReadPlayList(list); }, [&] { keep.clear(); Mp3Session->SetRefresh(); CurrMp3.reset(); }); bench::Report("unchanged", w); return 0; }
  const double read = MedianCpu(n, [&] { settings.ReadPlayList(list); },
      [&] { Mp3Session->SetRefresh(); CurrMp3.reset(); bench::Touch(list); });
  if (argc > 2) { bench::Report("read changed", read); return 0; }
  const double load = MedianCpu(n, [&] { platform::IniFile ini(list); if (ini.readInteger("PlayList","Count",0) != 100000) abort(); },
      [&] { bench::Touch(list); });
  const double warm = MedianCpu(n, [&] { keep = settings.ReadPlayList(list); },
      [&] { keep.clear(); Mp3Session->SetRefresh(); CurrMp3.reset(); });
  const double split = MedianCpu(n, [&] { bench::SplitLines(list); });
  bench::Report("read changed", read, "split", split);
  bench::Report("load+parse", load, "split", split);
  bench::Report("read unchanged", warm, "split", split);
}
