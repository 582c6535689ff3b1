#pragma once

#include "display/DBarGeometry.h"

#include <optional>

// Where the bar graph's five captions go. Each sits in a margin at fixed
// fractions of it; the fractions are named here, so the layout can be read
// and changed without decoding arithmetic. Integer pixels, truncated.
class CaptionLayout
{
public:
    // In the order a full repaint draws them.
    enum class Caption { Title, Value, Right, Bottom, Note };
    static constexpr int kCount = 5;

    // a/b of a length, truncated toward zero.
    struct Fraction
    {
        int num;
        int den;
        constexpr int of(int length) const { return num * length / den; }
    };
    // The title and the bottom caption erase the middle half of their margin
    // and are centred on it; their fitted height starts at half the margin.
    static constexpr Fraction kBandStart{1, 4};
    static constexpr Fraction kBandEnd{3, 4};
    static constexpr Fraction kBandMiddle{1, 2};
    // The rotated captions stand a quarter into the side margins.
    static constexpr Fraction kSideInset{1, 4};
    // The control font, which places the rotated captions: a third of the
    // left margin.
    static constexpr Fraction kControlFontHeight{1, 3};
    // The note: a third of the bottom margin high, centred at three quarters
    // of the width, 3 pixels off the bottom.
    static constexpr Fraction kNoteHeight{1, 3};
    static constexpr Fraction kNoteCentre{3, 4};
    static constexpr int kNoteLift = 3;     // pixels
    static constexpr int kValueHeight = 14; // pixels

    struct Style
    {
        int height = 0;       // cell height, pixels; the first trial of a fitted caption
        bool fitted = false;  // shrunk until it fits the plot's width
        bool bold = false;
        int escapement = 0;   // tenths of a degree, counter-clockwise
        bool blue = false;    // else black
    };

    explicit CaptionLayout(const DBarGeometry& geometry)
        : m_g(geometry)
    {
    }

    // controlFontHeight: the control font's height, pixels.
    Style style(Caption which, int controlFontHeight) const;
    // The strip erased before the caption is drawn, if any.
    std::optional<DBarGeometry::Rect> band(Caption which) const;
    // Where the text starts: an upright text's top-left corner; a rotated
    // one's corner that the text runs away from. textWidth and cellHeight
    // measured in the caption's font; fittedX the fitted start, for fitted
    // captions.
    struct Point
    {
        int x = 0;
        int y = 0;
        bool operator==(const Point&) const = default;
    };
    Point origin(Caption which, int textWidth, int cellHeight, int fittedX, int controlFontHeight) const;

    // The control font's height for the current layout.
    int controlFontHeight() const;

private:
    const DBarGeometry& m_g;
};
