#pragma once

#include <cstdint>

// Where a history's columns fall in a plot of a given width, with no widget.
// Where columns are wider than a pixel, a pixel shows the column under its
// centre; where there are more columns than pixels, a pixel stands for every
// column it overlaps and shows the strongest, so a narrow carrier never
// falls between two pixels.
class WaterfallGeometry
{
public:
    static constexpr int kRowHeight = 1; // px per report, as a waterfall draws its lines
    // A clock time on the axis every this many rows, on row numbers that are
    // multiples of it, so the labels move with their rows.
    static constexpr int kRowsPerTimeLabel = 32;
    // The history window's plots share these, so traces and waterfall columns line up.
    static constexpr int kAxisWidth = 64;   // px, left of the plot: dBm and clock times
    static constexpr int kRightMargin = 10; // px

    WaterfallGeometry(int plotWidth, int columns);

    int plotWidth() const { return m_width; }
    int columns() const { return m_columns; }

    // Where a column's middle falls, in pixels from the plot's left.
    double centre(int column) const;
    // The columns pixel x stands for: first .. last.
    int firstColumnAt(int x) const;
    int lastColumnAt(int x) const;
    // The column under x, or -1 outside the plot.
    int columnAt(int x) const;

    // Label every this many columns so that labels stay labelWidth apart.
    int labelStride(int labelWidth) const;

    // A single channel is drawn as wide as one of the ten scan channels, at
    // the left: a strip, not a wall of one colour.
    static int singleStripWidth(int plotWidth) { return plotWidth > 10 ? plotWidth / 10 : plotWidth; }

    static bool hasTimeLabel(uint64_t row) { return row % kRowsPerTimeLabel == 0; }

private:
    int m_width;
    int m_columns;
};
