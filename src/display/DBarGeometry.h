#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>

// The arithmetic of the bar graph, kept apart from any drawing so that the
// layout, the value/pixel mapping and the zoom rule are checked without
// rendering. DBar keeps one as a member and shows it read-only.
//
// Rectangles cover left .. right - 1 and top .. bottom - 1. Every integer
// division truncates toward zero, as the layout is defined in those terms.
class DBarGeometry
{
public:
    struct Rect
    {
        int left = 0;
        int top = 0;
        int right = 0;
        int bottom = 0;
        bool contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
        bool operator==(const Rect&) const = default;
    };

    struct FontFit
    {
        int height = 0; // cell height, pixels
        int x = 0;      // left edge of the text
    };

    enum Axis { XAxis = 0, YAxis = 1 };
    static constexpr int kMinScaleHeight = 5; // pixels
    enum class Button { Left, Right, Middle };

    // Lays out every rectangle from the control's position and size and
    // recomputes both scales.
    void computeLayout(int left, int top, int width, int height);
    void recomputeXScale();
    void recomputeYScale();

    int ValueToPixel(int axis, double value) const;
    double PixelToValue(int axis, int pixel) const;

    // Text of the left scale's division s of `divisions`, top (0) to bottom.
    std::string leftScaleText(int s, int divisions) const;

    // Half width of a bar in pixels, never below 1.
    int barHalfWidth(int barWidthDivisor) const;

    // Left scale font: tries PH/12 .. PH/22 until the widest label fits
    // right of the left margin's middle. widthAt(h) measures at cell height h.
    // When even PH/22 does not fit, the labels would run over the value
    // caption: the height then goes on shrinking, down to 5 pixels, until
    // the labels start at keepClear or right of it.
    // drawnWidthAt, when given, measures the labels as drawn for that phase
    // (the designed trials measure the range ends with one decimal more).
    FontFit fitScaleFont(const std::function<int(int height)>& widthAt,
                         int keepClear = std::numeric_limits<int>::min(),
                         const std::function<int(int height)>& drawnWidthAt = {}) const;

    // Title / bottom caption: shrinks from startHeight until the text is
    // centred inside the plot's width, but never below 5 pixels.
    FontFit fitCaption(int startHeight, const std::function<int(int height)>& widthAt) const;

    // Where a bar label's text starts, in plot coordinates: a
    // horizontal label's top-left corner, a vertical one's bottom-left (it
    // runs upward). x is the centred start, by the bar's top; w x h the
    // text's extent along and across its direction.
    struct LabelSpot
    {
        int x = 0;
        int y = 0;
    };
    LabelSpot labelPlace(int x, int by, int w, int h, bool vertical) const;

    // The x range a click at (x, y) zooms to, or nothing when the click is
    // outside the plot, the middle button, or the span would fall below
    // minSpan.
    struct Range
    {
        double low = 0.0;
        double high = 0.0;
    };
    std::optional<Range> zoomRange(Button button, int x, int y, double zoomLow, double zoomHigh,
                                   double zoomMinSpan) const;

    Rect outerRect;
    Rect plotRect;
    Rect bitmapRect;
    Rect leftScaleRect;
    Rect rightScaleRect;
    Rect xScaleRect;
    Rect readoutRect;
    Rect markerAboveRect;
    Rect markerRightRect;
    int plotWidth = 0;
    int plotHeight = 0;
    int outerWidth = 0;
    int outerHeight = 0;

    double xMin = 0.0;
    double yBottom = 0.0;
    double xMax = 0.0;
    double yTop = 0.0;
    double xScale = 0.0; // x units per pixel
    double yScale = 0.0; // y units per pixel; negative when yTop > yBottom
};
