#include "ReportJournal.h"

void ReportJournal::push(const SampleReport& report)
{
    std::lock_guard guard(m_lock);
    // Settings always go in: without them every later report would be
    // placed on the wrong channels.
    if (m_queue.size() >= kCapacity && report.kind != SampleReport::Kind::Settings) {
        ++m_dropped;
        return;
    }
    m_queue.push_back(report);
}

void ReportJournal::takeAll(std::vector<SampleReport>& out)
{
    out.clear();
    std::lock_guard guard(m_lock);
    // Swapping hands the queue's storage over and takes out's back, so
    // neither side allocates once both have grown to a typical batch.
    m_queue.swap(out);
}

uint64_t ReportJournal::dropped() const
{
    std::lock_guard guard(m_lock);
    return m_dropped;
}
