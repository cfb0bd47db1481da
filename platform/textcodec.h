#pragma once
// The system's 8-bit code page of the original platform: text that is valid UTF-8 is read as
// UTF-8; anything else as Windows-1251 while the interface language is Bulgarian, otherwise as
// Windows-1252. Everything we write is UTF-8.
#include <QString>

#include <string_view>

namespace platform {

enum class AnsiCodePage { Windows1252 = 1252, Windows1251 = 1251 };

// Process-wide; set by the language settings, read by every decoder.
void setAnsiCodePage(AnsiCodePage page);
AnsiCodePage ansiCodePage();

bool isValidUtf8(std::string_view bytes);
QString decodeAnsi(std::string_view bytes, AnsiCodePage page);
// UTF-8 when valid, otherwise the current 8-bit code page.
QString decodeText(std::string_view bytes);

}  // namespace platform
