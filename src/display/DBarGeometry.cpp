#include "DBarGeometry.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace {

// Truncation toward zero, saturated so that a far-off value cannot overflow.
int toPixel(double v)
{
    if (std::isnan(v))
        return 0;
    constexpr double lo = std::numeric_limits<int>::min() / 2;
    constexpr double hi = std::numeric_limits<int>::max() / 2;
    return int(std::clamp(v, lo, hi));
}

} // namespace

void DBarGeometry::computeLayout(int left, int top, int width, int height)
{
    outerRect = {left, top, width - left, height - top};
    const int ol = outerRect.left, ot = outerRect.top, orr = outerRect.right, ob = outerRect.bottom;
    outerWidth = orr - ol;
    outerHeight = ob - ot;

    plotRect = {int(ol + outerWidth * 0.15), int(ot + outerHeight * 0.15),
                int(orr - outerWidth * 0.15), int(ob - outerHeight * 0.15)};
    const int pl = plotRect.left, pt = plotRect.top, pr = plotRect.right, pb = plotRect.bottom;
    plotWidth = pr - pl;
    plotHeight = pb - pt;
    const int pw = plotWidth, ph = plotHeight;

    recomputeXScale();
    recomputeYScale();

    bitmapRect = {0, 0, pw, ph};
    leftScaleRect = {(ol + pl) / 2, pt - ph / 20, pl - 1, pb + ph / 20};
    rightScaleRect = {pr + 1, pt - ph / 20, (orr + pr) / 2, pb + ph / 20};
    xScaleRect = {pl - pw / 10, pb + 8, pr + pw / 10, (pb + ob) / 2 + 3};
    readoutRect = {pl, pt - (pt - ot) / 4 + 1, pr, pt - 1};
    markerAboveRect = {pl - 10, pt - ph / 20, pr + 10, pt - 1};
    markerRightRect = {pr + 1, pt - 1, orr, pb + 1};
}

void DBarGeometry::recomputeXScale()
{
    xScale = plotWidth != 0 ? (xMax - xMin) / plotWidth : 1.0;
}

void DBarGeometry::recomputeYScale()
{
    yScale = plotHeight != 0 ? (yBottom - yTop) / plotHeight : 1.0;
}

int DBarGeometry::ValueToPixel(int axis, double value) const
{
    switch (axis) {
    case XAxis:
        return xScale == 0.0 ? plotRect.left : toPixel((value - xMin) / xScale + plotRect.left);
    case YAxis:
        return yScale == 0.0 ? plotRect.top : toPixel((value - yTop) / yScale + plotRect.top);
    default:
        return -1;
    }
}

double DBarGeometry::PixelToValue(int axis, int pixel) const
{
    switch (axis) {
    case XAxis: {
        if (xScale == 0.0)
            return xMin;
        const double v = xMin + (pixel - plotRect.left) * xScale;
        return v < xMin ? xMin : (v > xMax ? xMax : v);
    }
    case YAxis: {
        // Equal ends: every pixel stands for that one value.
        if (yScale == 0.0)
            return yTop;
        const double v = yTop + (pixel - plotRect.top) * yScale;
        return v > yTop ? yTop : (v < yBottom ? yBottom : v);
    }
    default:
        return -1.0;
    }
}

std::string DBarGeometry::leftScaleText(int s, int divisions) const
{
    char text[64];
    std::snprintf(text, sizeof text, "%.0f", yTop - s * (yTop - yBottom) / divisions);
    return text;
}

int DBarGeometry::barHalfWidth(int barWidthDivisor) const
{
    const double w = plotWidth / (2.0 * barWidthDivisor * (xMax + 1.0));
    // A zero divisor or an x range ending at -1 would divide by zero.
    if (!std::isfinite(w))
        return 1;
    const int hw = int16_t(int(std::clamp(w, -32768.0, 32767.0)));
    return hw == 0 ? 1 : hw;
}

DBarGeometry::FontFit DBarGeometry::fitScaleFont(const std::function<int(int)>& widthAt, int keepClear,
                                                 const std::function<int(int)>& drawnWidthAt) const
{
    FontFit fit;
    const int limit = (plotRect.left + outerRect.left) / 2;
    for (int k = 12; k <= 22; k += 2) {
        fit.height = plotHeight / k;
        fit.x = plotRect.left - widthAt(fit.height) - 4;
        if (limit <= fit.x)
            return fit;
    }
    const auto& width = drawnWidthAt ? drawnWidthAt : widthAt;
    if (fit.x >= keepClear)
        return fit;
    for (fit.height = plotHeight / 22; fit.height > kMinScaleHeight; --fit.height) {
        fit.x = plotRect.left - width(fit.height) - 4;
        if (fit.x >= keepClear)
            return fit;
    }
    fit.x = plotRect.left - width(fit.height) - 4;
    return fit;
}

DBarGeometry::FontFit DBarGeometry::fitCaption(int startHeight,
                                               const std::function<int(int)>& widthAt) const
{
    FontFit fit;
    int h = startHeight;
    for (;;) {
        fit.height = h;
        fit.x = (plotRect.left + plotRect.right) / 2 - widthAt(h) / 2;
        if (fit.x >= plotRect.left)
            break;
        --h;
        if (h < 5)
            break;
    }
    return fit;
}

// A label stands 20 pixels above its bar. The strongest bars, the ones users
// look for, leave no room there and their labels were cut at the plot's top:
// such a label goes inside the top of its bar instead, and no label leaves
// the plot sideways.
DBarGeometry::LabelSpot DBarGeometry::labelPlace(int x, int by, int w, int h, bool vertical) const
{
    const int across = vertical ? h : w; // horizontal extent
    const int along = vertical ? w : h;  // vertical extent
    if (across <= plotWidth)
        x = std::clamp(x, 0, plotWidth - across);
    int top = by - 20 - (vertical ? w : 0);
    if (top < 0)
        top = by + 2;
    if (along <= plotHeight)
        top = std::clamp(top, 0, plotHeight - along);
    return {x, vertical ? top + w : top};
}

std::optional<DBarGeometry::Range> DBarGeometry::zoomRange(Button button, int x, int y,
                                                           double zoomLow, double zoomHigh,
                                                           double zoomMinSpan) const
{
    if (x < plotRect.left || x > plotRect.right || y < plotRect.top || y > plotRect.bottom)
        return std::nullopt;
    const double span = xMax - xMin;
    const double c = PixelToValue(XAxis, x);
    Range r;
    switch (button) {
    case Button::Left:
        r = {std::max(zoomLow, c - span * 0.25), std::min(zoomHigh, c + span * 0.25)};
        break;
    case Button::Right:
        r = {std::max(zoomLow, c - span), std::min(zoomHigh, c + span)};
        break;
    case Button::Middle:
        return std::nullopt;
    }
    if (r.high - r.low < zoomMinSpan)
        return std::nullopt;
    return r;
}
