#pragma once

#include <cstdint>
#include <vector>

// How many bars the current update has placed in each pixel column of the
// plot, so that bars at the same x stay visible side by side: the second one
// is moved 5 pixels right, every further one 5 pixels left.
//
// The table covers exactly the plot's columns; a shifted bar that lands
// beyond them is still drawn (clipped by the bitmap) but not counted.
class BarColumns
{
public:
    static constexpr int kShift = 5;     // pixels
    static constexpr int kMinColumns = 2048;

    void resize(int plotWidth);
    void clear();
    // Returns the column to draw a bar at, given the column of its x value.
    int place(int column);
    int16_t useOf(int column) const;

private:
    std::vector<int16_t> m_use = std::vector<int16_t>(kMinColumns, 0);
};
