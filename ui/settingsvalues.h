#pragma once
// How the settings file stores colours and font styles.
//
// A colour is a 32-bit value: 0x00BBGGRR is an RGB colour, 0xFF000000 plus an index is one of
// the desktop's system colours, and 0x1FFFFFFF is no colour at all.
#include <QColor>
#include <QFont>

#include <cstdint>

namespace settingsvalues {

inline constexpr std::int32_t kNoColor = 0x1FFFFFFF;
// The system colour the lists have unless the user chose another: -16777213 in the file.
inline constexpr std::int32_t kInactiveCaption = static_cast<std::int32_t>(0xFF000003u);

// What the inactive-caption system colour looked like on the desktop the file format comes from.
QColor InactiveCaptionColor();

// The colour to draw for a stored value. `none` stands for the no-colour value and for system
// colours other than the inactive caption, which this desktop has no counterpart of.
QColor ToQColor(std::int32_t value, const QColor& none);
std::int32_t FromQColor(const QColor& color);

// Style bits: 1 bold, 2 italic, 4 underline, 8 strike-out. Other bits mean nothing.
int StyleBits(const QFont& font);
void SetStyleBits(QFont& font, int bits);

}  // namespace settingsvalues
