#include "platform/textcodec.h"

#include <atomic>
#include <cstdint>
#include <cstring>

namespace platform {
namespace {

std::atomic<AnsiCodePage> currentPage{AnsiCodePage::Windows1252};

// Code points of the bytes 0x80..0xFF. Bytes the code page leaves undefined map to the C1
// control of the same value, so no byte is ever lost.
constexpr char16_t kCp1252[128] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039,
    0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178, 0x00A0, 0x00A1, 0x00A2, 0x00A3,
    0x00A4, 0x00A5, 0x00A6, 0x00A7, 0x00A8, 0x00A9, 0x00AA, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00AF,
    0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00B4, 0x00B5, 0x00B6, 0x00B7, 0x00B8, 0x00B9, 0x00BA, 0x00BB,
    0x00BC, 0x00BD, 0x00BE, 0x00BF, 0x00C0, 0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5, 0x00C6, 0x00C7,
    0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x00CC, 0x00CD, 0x00CE, 0x00CF, 0x00D0, 0x00D1, 0x00D2, 0x00D3,
    0x00D4, 0x00D5, 0x00D6, 0x00D7, 0x00D8, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x00DD, 0x00DE, 0x00DF,
    0x00E0, 0x00E1, 0x00E2, 0x00E3, 0x00E4, 0x00E5, 0x00E6, 0x00E7, 0x00E8, 0x00E9, 0x00EA, 0x00EB,
    0x00EC, 0x00ED, 0x00EE, 0x00EF, 0x00F0, 0x00F1, 0x00F2, 0x00F3, 0x00F4, 0x00F5, 0x00F6, 0x00F7,
    0x00F8, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x00FD, 0x00FE, 0x00FF};

constexpr char16_t kCp1251[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039,
    0x040A, 0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408,
    0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB,
    0x0458, 0x0405, 0x0455, 0x0457,
    // 0xC0..0xFF: А..я
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, 0x0418, 0x0419, 0x041A, 0x041B,
    0x041C, 0x041D, 0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F, 0x0430, 0x0431, 0x0432, 0x0433,
    0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447, 0x0448, 0x0449, 0x044A, 0x044B,
    0x044C, 0x044D, 0x044E, 0x044F};

}  // namespace

void setAnsiCodePage(AnsiCodePage page) {
  currentPage.store(page);
}
AnsiCodePage ansiCodePage() {
  return currentPage.load();
}

namespace {

// The first byte at or after `p` that is not ASCII, or `end`.
const unsigned char* SkipAscii(const unsigned char* p, const unsigned char* end) {
  while (end - p >= 8) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    if (word & 0x8080808080808080ULL) break;
    p += 8;
  }
  while (p < end && *p < 0x80) ++p;
  return p;
}

bool ValidFrom(const unsigned char* p, const unsigned char* end) {
  while ((p = SkipAscii(p, end)) < end) {
    const int length = utf8CharLength(p, end);
    if (length == 0) return false;
    p += length;
  }
  return true;
}

}  // namespace

bool isValidUtf8(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  return ValidFrom(p, p + bytes.size());
}

QString decodeAnsi(std::string_view bytes, AnsiCodePage page) {
  const char16_t* table = page == AnsiCodePage::Windows1251 ? kCp1251 : kCp1252;
  QString text(static_cast<qsizetype>(bytes.size()), Qt::Uninitialized);
  QChar* out = text.data();
  for (const char byte : bytes) {
    const auto c = static_cast<unsigned char>(byte);
    *out++ = QChar(c < 0x80 ? char16_t(c) : table[c - 0x80]);
  }
  return text;
}

QString decodeUtf8(std::string_view bytes) {
  constexpr std::string_view kBom = "\xEF\xBB\xBF";
  if (bytes.substr(0, kBom.size()) == kBom)
    return QChar(0xFEFF) + decodeUtf8(bytes.substr(kBom.size()));
  return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

QString decodeText(std::string_view bytes) {
  const auto* begin = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* end = begin + bytes.size();
  const auto* firstHigh = SkipAscii(begin, end);
  const auto size = static_cast<qsizetype>(bytes.size());
  if (firstHigh == end) return QString::fromLatin1(bytes.data(), size);
  if (ValidFrom(firstHigh, end)) return decodeUtf8(bytes);
  return decodeAnsi(bytes, ansiCodePage());
}

QStringList decodeLines(std::string_view bytes) {
  QString text;
  const auto starts = [&](std::string_view mark) { return bytes.starts_with(mark); };
  if (starts("\xEF\xBB\xBF")) {
    text = decodeUtf8(bytes.substr(3));
  } else if (starts("\xFF\xFE") || starts("\xFE\xFF")) {
    const bool little = bytes[0] == '\xFF';
    bytes.remove_prefix(2);
    text.resize(static_cast<qsizetype>(bytes.size() / 2));  // an odd last byte is dropped
    for (qsizetype i = 0; i < text.size(); ++i) {
      const auto lo = static_cast<unsigned char>(bytes[2 * i + (little ? 0 : 1)]);
      const auto hi = static_cast<unsigned char>(bytes[2 * i + (little ? 1 : 0)]);
      text[i] = QChar(static_cast<char16_t>(hi << 8 | lo));
    }
  } else {
    text = decodeText(bytes);
  }
  QStringList lines;
  qsizetype start = 0;
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    if (c != u'\r' && c != u'\n') continue;
    lines << text.mid(start, i - start);
    if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines << text.mid(start);
  return lines;
}

}  // namespace platform
