#pragma once
// File system paths in memory. A path is a QString in which the bytes that form valid UTF-8 are
// their characters and every other byte is held as the lone surrogate U+DC00 + byte. Valid UTF-8
// never decodes to a lone surrogate, so every byte sequence the system hands us comes back
// unchanged: a track named in Latin-1 or cp1251 bytes can be found, played and stored.
//
// Every look-up of a track's file goes through encodePath; every name from the system through
// decodePath.
#include <QByteArray>
#include <QString>
#include <QStringView>

#include <optional>
#include <string_view>

namespace platform {

QString decodePath(std::string_view bytes);
// The system bytes of a path from decodePath. A lone surrogate that decodePath cannot have made
// (outside U+DC80..U+DCFF) becomes U+FFFD.
QByteArray encodePath(QStringView path);

// Whether the path is text the play list stores as it is: valid UTF-8 without line breaks.
bool isPlainPath(QStringView path);

// The file name as the list shows it: a name that is not UTF-8 read in the ANSI code page, line
// breaks as blanks.
QString displayName(const QString& fileName);

// A path's bytes as printable ASCII: every byte outside '!'..'~', and '%', '"' and '\'', as %XX.
QString escapePathBytes(QStringView path);
// The path back from escapePathBytes' text; nothing when the text is not such a text.
std::optional<QString> unescapePathBytes(std::string_view text);

// The file system's answer for a path, links followed.
bool isFile(const QString& path);  // a regular file
bool isFolder(const QString& path);
bool pathExists(const QString& path);

}  // namespace platform
