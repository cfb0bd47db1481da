#pragma once
// Moving a file to a name of the user's choice without ever destroying what is there: a plain
// rename would silently replace another file of that name.
#include <QString>

namespace platform {

// Moves `from` to `to` unless something exists at `to`; 0, or the errno of the failure (EEXIST
// when `to` is taken). Where the file system cannot rename without replacing, a hard link and an
// unlink of the old name do the same.
int moveWithoutReplacing(const QString& from, const QString& to);

}  // namespace platform
