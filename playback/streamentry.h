#pragma once
// What a radio entry's file and its stream's metadata say: the address to open and the title.
// The readers of bytes take outside input and are fuzzed; the file readers wrap them.
#include <QString>

#include <optional>
#include <string>
#include <string_view>

// The address in a radio entry's file: the value of File1 of a ".pls" file, the last line of
// any other. Empty when the file cannot be read, is empty or is too large to be a play list.
QString ResolveStreamAddress(const QString& path);
QString ReadPlsAddress(const QString& path);
// The same, of a file's bytes.
QString StreamAddressOf(std::string_view bytes, bool pls);
QString PlsAddressOf(std::string_view bytes);
// The title in a metadata block ("StreamTitle='Artist - Song';..."), as bytes; nullopt when the
// block names none.
std::optional<std::string> StreamTitleOf(std::string_view meta);
