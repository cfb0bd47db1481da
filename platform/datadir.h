#pragma once
#include <QString>

namespace platform {

// The per-user private persistent data folder, "$XDG_DATA_HOME/velmo/" (by default
// "~/.local/share/velmo/"), created with mode 0700 when missing. Ends with '/'.
// Returns an empty string when the folder cannot be made.
QString dataDirectory();

}  // namespace platform
