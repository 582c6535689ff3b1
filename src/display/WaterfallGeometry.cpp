#include "WaterfallGeometry.h"

#include <algorithm>

WaterfallGeometry::WaterfallGeometry(int plotWidth, int columns)
    : m_width(std::max(plotWidth, 1))
    , m_columns(std::max(columns, 1))
{
}

double WaterfallGeometry::centre(int column) const
{
    return (column + 0.5) * m_width / m_columns;
}

int WaterfallGeometry::firstColumnAt(int x) const
{
    if (m_columns < m_width)
        return int((2 * int64_t(x) + 1) * m_columns / (2 * int64_t(m_width)));
    return int(int64_t(x) * m_columns / m_width);
}

int WaterfallGeometry::lastColumnAt(int x) const
{
    if (m_columns < m_width)
        return firstColumnAt(x);
    // The last column that starts before the pixel's right edge.
    return int((int64_t(x + 1) * m_columns + m_width - 1) / m_width) - 1;
}

int WaterfallGeometry::columnAt(int x) const
{
    if (x < 0 || x >= m_width)
        return -1;
    return int((2 * int64_t(x) + 1) * m_columns / (2 * int64_t(m_width)));
}

int WaterfallGeometry::labelStride(int labelWidth) const
{
    const int64_t needed = int64_t(std::max(labelWidth, 1)) * m_columns;
    return int(std::max<int64_t>(1, (needed + m_width - 1) / m_width));
}
