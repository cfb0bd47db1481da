#pragma once
// Directory search with the attribute bits of the original platform, derived from the entry:
// folder 0x10, ordinary file 0x20 (archive), hidden 0x2 when the name starts with a dot,
// read-only 0x1 for a file without owner write permission, reparse point 0x400 for a symbolic
// link. A link to a regular file is that file (its target's attributes and size under the link's
// name); any other link stays a reparse point and is never entered, so a scan can never loop.
// Names are paths as platform/pathcodec holds them.
#include <QString>

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace platform {

enum FileAttribute : std::uint32_t {
  faReadOnly = 0x1,
  faHidden = 0x2,
  faDirectory = 0x10,
  faArchive = 0x20,
  faReparsePoint = 0x400,
};

struct DirEntry {
  QString name;  // the entry's own name, no folder part
  std::uint32_t attributes = 0;
  std::uint64_t size = 0;  // 0 for folders and links to anything but a file
};

// Entries of `folder` whose name matches `pattern` ("*" for all, "*.mp3": the extension without
// regard to case), sorted by name compared without regard to case; "." and ".." are left out,
// and so are devices, pipes and sockets, whose opening could hang a caller. A folder that
// cannot be read (or fails while it is read) yields no entries.
std::vector<DirEntry> findFiles(const QString& folder, const QString& pattern);

// The entries of findFiles(folder, "*") that are folders, hidden ones included. An entry the
// folder's listing already types as anything else is never looked up, so the sub-folders of an
// album are found without a look-up per track.
std::vector<DirEntry> findFolders(const QString& folder);

// The device and inode of a folder (links followed): a folder met again under another path, a bind
// mount, has the same.
using FolderId = std::pair<std::uint64_t, std::uint64_t>;
std::optional<FolderId> folderId(const QString& folder);

// Joins a folder and a name with one '/'; the folder keeps a trailing separator only as "/".
QString joinPath(const QString& folder, const QString& name);

}  // namespace platform
