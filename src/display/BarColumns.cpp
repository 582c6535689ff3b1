#include "BarColumns.h"

#include <algorithm>

void BarColumns::resize(int plotWidth)
{
    // Bars sit on columns 0 .. plotWidth inclusive; the shifted ones up to
    // kShift further, which need no count of their own beyond the plot.
    const size_t n = size_t(std::max(kMinColumns, plotWidth + 1 + kShift));
    if (m_use.size() != n)
        m_use.assign(n, 0);
}

void BarColumns::clear()
{
    std::fill(m_use.begin(), m_use.end(), int16_t(0));
}

int BarColumns::place(int column)
{
    if (column < 0 || size_t(column) >= m_use.size())
        return column;
    int16_t& use = m_use[size_t(column)];
    if (use == 0) {
        use = 1;
        return column;
    }
    if (use == 1) {
        use = 2;
        const int moved = column + kShift;
        if (size_t(moved) < m_use.size() && m_use[size_t(moved)] < 32767)
            ++m_use[size_t(moved)];
        return moved;
    }
    return column - kShift;
}

int16_t BarColumns::useOf(int column) const
{
    return column >= 0 && size_t(column) < m_use.size() ? m_use[size_t(column)] : 0;
}
