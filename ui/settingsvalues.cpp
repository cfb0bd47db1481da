#include "ui/settingsvalues.h"

namespace settingsvalues {

namespace {
constexpr std::uint32_t kSystemColor = 0xFF000000u;
constexpr int kBold = 1, kItalic = 2, kUnderline = 4, kStrikeOut = 8;
}  // namespace

QColor InactiveCaptionColor() {
  return QColor(191, 205, 219);
}

QColor ToQColor(std::int32_t value, const QColor& none) {
  const auto bits = static_cast<std::uint32_t>(value);
  if (value == kInactiveCaption) return InactiveCaptionColor();
  if (value == kNoColor || (bits & kSystemColor) == kSystemColor) return none;
  return QColor(bits & 0xFF, (bits >> 8) & 0xFF, (bits >> 16) & 0xFF);
}

std::int32_t FromQColor(const QColor& color) {
  const QRgb rgb = color.rgb();
  return qRed(rgb) | (qGreen(rgb) << 8) | (qBlue(rgb) << 16);
}

int StyleBits(const QFont& font) {
  return (font.bold() ? kBold : 0) | (font.italic() ? kItalic : 0) |
         (font.underline() ? kUnderline : 0) | (font.strikeOut() ? kStrikeOut : 0);
}

void SetStyleBits(QFont& font, int bits) {
  font.setBold(bits & kBold);
  font.setItalic(bits & kItalic);
  font.setUnderline(bits & kUnderline);
  font.setStrikeOut(bits & kStrikeOut);
}

}  // namespace settingsvalues
