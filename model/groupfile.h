#pragma once
// The folder groups file: the full path of every group's folder, in the tree's order.
//
//   [0MP3_GROUP_SECTION]  MP3_GROUP_NAME=<folder of group 0>
//   ...
//   [MP3_GROUP_SECTION]   MP3_GROUP_COUNT=<n>
//
// A path that the name cannot hold exactly (bytes that are not UTF-8, a line break) has its
// bytes, percent-escaped, beside it in MP3_GROUP_NAME_BYTES, as the play list file does.
#include <QString>

#include <string>
#include <vector>

namespace platform {
class IniFile;
}

namespace groupfile {

inline constexpr char kGroupSection[] = "MP3_GROUP_SECTION";
inline constexpr char kCountKey[] = "MP3_GROUP_COUNT";
inline constexpr char kNameKey[] = "MP3_GROUP_NAME";
inline constexpr char kNameBytesKey[] = "MP3_GROUP_NAME_BYTES";

// The stored folders in order. An entry without a name repeats the previous entry's folder
// (empty for the first); a count beyond the sections really there is bounded by them.
std::vector<QString> ReadGroups(const platform::IniFile& ini);

// The whole text of a fresh group file for these folders: entries in order, the count last.
std::string GroupsText(const std::vector<QString>& folders);

}  // namespace groupfile
