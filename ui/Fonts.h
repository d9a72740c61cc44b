#pragma once

#include <QFont>
#include <QStringList>

namespace talviren {

// The families the window's font is taken from, first installed first; without any of them,
// the system's font.
QStringList windowFontCandidates();

// The window's font family: SimSun where installed, else a CJK font of the system, so that
// the Chinese captions render.
QString windowFontFamily();

// A font of the window's family in points (fractions allowed, as 10.5).
QFont windowFont(double points, bool bold = false);

// Twips (1440 to the inch) to pixels at 96 dpi; Qt scales pixels on high-dpi screens.
constexpr int twips(int value) {
    return (value + 7) / 15;
}

} // namespace talviren
