#pragma once

#include "protocol/SampleReport.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

// The reports of one receiver on their way from the decoder to whoever keeps
// their history. The bar graphs only need the latest level per channel; a
// history needs every report, so they queue here until the display thread
// takes them with its next update. Bounded: if nobody takes them (a window
// thread stalled for seconds), the newest are dropped and counted rather than
// memory growing without end.
class ReportJournal
{
public:
    // At 10 updates a second and some 200 reports a second, one update takes
    // about 20; this is several seconds' worth.
    static constexpr std::size_t kCapacity = 4096;

    // Link thread.
    void push(const SampleReport& report);
    // Any thread: moves every queued report into out (cleared first).
    void takeAll(std::vector<SampleReport>& out);
    // Reports dropped because the queue was full.
    uint64_t dropped() const;

private:
    mutable std::mutex m_lock;
    std::vector<SampleReport> m_queue;
    uint64_t m_dropped = 0;
};
