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

const HistorySection::Checkpoint* HistorySection::checkpointFor(uint64_t n) const
{
    const auto after = std::upper_bound(checkpoints.begin(), checkpoints.end(), n,
                                        [](uint64_t row, const Checkpoint& c) { return row < c.row; });
    return after == checkpoints.begin() ? nullptr : &*std::prev(after);
}
