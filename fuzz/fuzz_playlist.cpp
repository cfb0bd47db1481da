// Feeds arbitrary bytes to the main list's reader, in memory: neither its Count nor its section
// numbers may make it read more tracks than the file's sections can stand for, every record is
// numbered by its place and carries no negative total, and the check for track headers that
// decides whether a list is kept aside never fails on any bytes.
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "fuzz/fuzzcheck.h"
#include "model/mp3objects.h"
#include "platform/inifile.h"

using fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!Mp3Session) Mp3Session = std::make_unique<TMp3Session>();
  Mp3Session->SetRefresh();
  CurrMp3.reset();
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  (void)playlistfile::HoldsTrackHeader(bytes);

  const platform::IniFile ini = platform::IniFile::fromBytes(bytes);
  const int sections = ini.sectionCount();
  const int count = TMp3Session::TrackCount(ini);
  Check(count >= 0, "negative track count");
  Check(count <= 2 * sections, "more tracks than the sections can stand for");

  const std::vector<TMp3PlayerPtr> records = Mp3Session->Mp3Settings().ReadPlayList(ini);
  Check(static_cast<int>(records.size()) == count, "records differ from the track count");
  Check(Mp3Session->CacheCount() == count, "records missing from the cache");
  for (std::size_t i = 0; i < records.size(); ++i) {
    Check(records[i]->Mp3ID() == static_cast<int>(i), "a record not numbered by its place");
    Check(records[i]->Mp3State() == 0, "a record read as playing");
    Check(records[i]->Mp3TotalTime() >= 0, "a negative total");
    Check(!records[i]->Mp3Path().contains(QChar(u'\0')), "a path with a NUL");
  }
  Check(records.empty() ? !CurrMp3 : CurrMp3 == records.back(),
        "the current track is not the last");
  return 0;
}
