#pragma once
// Whole-file atomic replacement: the content goes to a temporary file in the target's folder,
// is flushed to disk and renamed over the target, so a reader (or a crash) sees either the old
// file or the new one, never a mixture or a truncated file.
#include <QString>

#include <string_view>

namespace platform {

// Returns false (and leaves any old file whole, removing the temporary) on any failure; errno
// tells why. A new file gets mode 0600; an existing file keeps its mode.
bool writeFileAtomically(const QString& path, std::string_view content);

// Removes the temporaries that writeFileAtomically leaves when the process is killed mid-write,
// for targets in `folder`. Only while no write to that folder can be running (under the
// single-instance lock). Returns how many were removed.
int removeStaleTemporaries(const QString& folder);

// 0 when a file can be written into `folder` and replaced there; otherwise the errno of the
// failure. Leaves nothing behind.
int probeWritableFolder(const QString& folder);

}  // namespace platform
