#pragma once

#include <QFont>

// The bar graph's fonts: "Arial" (Liberation Sans here) without
// antialiasing, so every text pixel has the colour asked for, and with full
// hinting, so that glyphs sit on whole pixels. Unhinted advances are
// fractional, and without antialiasing their rounding made neighbouring
// glyphs share columns ("(8" and "0000" ran together).
class GraphFonts
{
public:
    static QFont arial();
    // Sized so that ascent + descent is cellHeight pixels, as the graph's
    // layout gives heights.
    static QFont cellFont(int cellHeight, bool bold);
};
