#pragma once
// Shortcut files (.lnk): a bounds-checked reader of the Shell Link binary format that returns
// the stored local path of the target. Nothing in the file is trusted: every size and offset is
// checked against the bytes actually present.
#include <QByteArray>
#include <QString>

namespace platform {

// The target's local path: the link information's local base path followed by its common path
// suffix (the Unicode forms when the file has them), or failing that the relative path of the
// string data. Returns an empty string when the file is not a shortcut, is damaged, or has no
// local target. A Windows path keeps its text; only its separators become '/'.
QString readShortcutTarget(const QByteArray& bytes);
QString resolveShortcut(const QString& path);

}  // namespace platform
