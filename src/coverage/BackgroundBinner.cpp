#include "coverage/BackgroundBinner.h"

BackgroundBinner::BackgroundBinner(CoverageBinner& binner) : m_binner(binner)
{
    m_filling.samples.reserve(kBatch);
    m_binning = std::async(std::launch::async, [this] { run(); });
}

// As finish(), but what the binning threw is for finish() only.
BackgroundBinner::~BackgroundBinner()
{
    if (!m_binning.valid())
        return;
    if (!m_filling.samples.empty() || !m_filling.fixes.empty())
        handOver();
    {
        const std::lock_guard lock(m_mutex);
        m_done = true;
    }
    m_changed.notify_all();
    m_binning.wait();
}

void BackgroundBinner::fix(const DriveFix& fix)
{
    m_filling.fixes.emplace_back(m_filling.samples.size(), fix);
}

void BackgroundBinner::sample(const DriveSample& sample)
{
    if (!sample.placed)
        return;
    m_filling.samples.push_back(sample);
    if (m_filling.samples.size() == kBatch)
        handOver();
}

void BackgroundBinner::handOver()
{
    Batch next;
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_waiting.size() < kWaiting || m_stopped; });
        if (m_stopped) {
            // Nothing bins it any more: kept for filling again.
            m_filling.samples.clear();
            m_filling.fixes.clear();
            return;
        }
        m_waiting.push_back(std::move(m_filling));
        if (!m_spare.empty()) {
            next = std::move(m_spare.back());
            m_spare.pop_back();
        }
    }
    m_changed.notify_all();
    m_filling = std::move(next);
    m_filling.samples.reserve(kBatch);
}

void BackgroundBinner::finish()
{
    if (!m_binning.valid())
        return;
    if (!m_filling.samples.empty() || !m_filling.fixes.empty())
        handOver();
    {
        const std::lock_guard lock(m_mutex);
        m_done = true;
    }
    m_changed.notify_all();
    m_binning.get();
}

void BackgroundBinner::run()
{
    try {
        bin();
    } catch (...) {
        {
            const std::lock_guard lock(m_mutex);
            m_stopped = true;
        }
        m_changed.notify_all();
        throw;
    }
}

void BackgroundBinner::bin()
{
    for (;;) {
        Batch batch;
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [this] { return !m_waiting.empty() || m_done; });
            if (m_waiting.empty())
                return;
            batch = std::move(m_waiting.front());
            m_waiting.pop_front();
        }
        m_changed.notify_all();
        size_t next = 0;
        for (size_t i = 0; i < batch.samples.size(); ++i) {
            for (; next < batch.fixes.size() && batch.fixes[next].first == i; ++next)
                m_binner.fix(batch.fixes[next].second);
            m_binner.sample(batch.samples[i]);
        }
        for (; next < batch.fixes.size(); ++next)
            m_binner.fix(batch.fixes[next].second);
        batch.samples.clear();
        batch.fixes.clear();
        const std::lock_guard lock(m_mutex);
        m_spare.push_back(std::move(batch));
    }
}
