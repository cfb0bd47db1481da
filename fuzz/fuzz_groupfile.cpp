// Feeds arbitrary bytes, in memory, to the readers of the folder groups file and of the named
// play list registry: neither a count nor a section number may make them read more entries than
// the file's sections can stand for, and the folders they read are written back and read again
// unchanged.
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "fuzz/fuzzcheck.h"
#include "model/groupfile.h"
#include "model/mp3objects.h"
#include "platform/inifile.h"

using fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const platform::IniFile ini = platform::IniFile::fromBytes(bytes);
  const int sections = ini.sectionCount();

  const std::vector<QString> folders = groupfile::ReadGroups(ini);
  Check(static_cast<int>(folders.size()) <= 2 * sections, "more groups than sections");
  const std::vector<QString> again =
      groupfile::ReadGroups(platform::IniFile::fromBytes(groupfile::GroupsText(folders)));
  Check(again == folders, "groups changed on the way through a fresh file");

  const std::vector<TMp3PlayerPtr> lists = TMp3Settings::ReadUserPlayLists(ini);
  Check(static_cast<int>(lists.size()) <= 2 * sections, "more named lists than sections");
  for (std::size_t i = 0; i < lists.size(); ++i)
    Check(lists[i] && lists[i]->Mp3ID() == static_cast<int>(i), "entries numbered out of place");
  return 0;
}
