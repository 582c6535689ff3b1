#include "HistorySection.h"

#include <algorithm>

void HistorySection::clearHolds()
{
    const std::size_t n = columns.size();
    maxHold.assign(n, INT8_MIN);
    minHold.assign(n, INT8_MAX);
    sum.assign(n, 0);
    count.assign(n, 0);
}
