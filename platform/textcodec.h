#pragma once
// The system's 8-bit code page of the original platform: text that is valid UTF-8 is read as
// UTF-8; anything else as Windows-1251 while the interface language is Bulgarian, otherwise as
// Windows-1252. Everything we write is UTF-8.
#include <QString>
#include <QStringList>

#include <string_view>

namespace platform {

enum class AnsiCodePage { Windows1252 = 1252, Windows1251 = 1251 };

// Process-wide; set by the language settings, read by every decoder.
void setAnsiCodePage(AnsiCodePage page);
AnsiCodePage ansiCodePage();

bool isValidUtf8(std::string_view bytes);
// The length of the well-formed UTF-8 character that starts at p (before end), or 0 when none
// does: overlong forms, surrogates and code points past Unicode's end are not UTF-8.
inline int utf8CharLength(const unsigned char* p, const unsigned char* end) {
  const unsigned char c = *p;
  if (c < 0x80) return 1;
  int extra;
  char32_t min, cp;
  if ((c & 0xE0) == 0xC0) {
    extra = 1, min = 0x80, cp = c & 0x1F;
  } else if ((c & 0xF0) == 0xE0) {
    extra = 2, min = 0x800, cp = c & 0x0F;
  } else if ((c & 0xF8) == 0xF0) {
    extra = 3, min = 0x10000, cp = c & 0x07;
  } else {
    return 0;
  }
  if (end - p <= extra) return 0;
  for (int i = 1; i <= extra; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (p[i] & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return extra + 1;
}
// Well-formed UTF-8 as it is: a byte order mark at the start is a character of a name or a value,
// which QString::fromUtf8 would drop.
QString decodeUtf8(std::string_view bytes);
QString decodeAnsi(std::string_view bytes, AnsiCodePage page);
// UTF-8 when valid, otherwise the current 8-bit code page.
QString decodeText(std::string_view bytes);
// A text file's lines: the encoding by its byte order mark (UTF-8, UTF-16 LE or BE), decodeText
// without one. CR LF, LF and CR each end a line; a break at the very end adds no empty line.
QStringList decodeLines(std::string_view bytes);

}  // namespace platform
