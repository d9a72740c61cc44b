#pragma once

#include <QFont>

namespace talviren {

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
