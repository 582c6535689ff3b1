#include "SampleQueue.h"

#include <algorithm>
#include <type_traits>

static_assert(std::is_trivially_copyable_v<DriveSample>, "samples are spilled as raw bytes");

SampleQueue::~SampleQueue()
{
    if (m_spill)
        std::fclose(m_spill);
}

void SampleQueue::spillAndPush(const DriveSample& sample)
{
    if (!m_spill && !m_spillFailed) {
        m_spill = std::tmpfile();
        m_spillFailed = m_spill == nullptr;
    }
    if (m_spill && std::fwrite(m_memory.data(), sizeof(DriveSample), m_memory.size(), m_spill) == m_memory.size())
        m_spilled += m_memory.size();
    else
        m_spillFailed = true;
    m_memory.clear();
    m_memory.push_back(sample);
}

bool SampleQueue::drainSpilled(const std::function<void(DriveSample&)>& f)
{
    bool ok = !m_spillFailed;
    if (m_spill && m_spilled > 0) {
        std::fflush(m_spill);
        std::rewind(m_spill);
        std::vector<DriveSample> chunk(std::min(m_spilled, m_limit > 0 ? m_limit : size_t(1)));
        size_t left = m_spilled;
        while (left > 0) {
            const size_t want = std::min(left, chunk.size());
            const size_t got = std::fread(chunk.data(), sizeof(DriveSample), want, m_spill);
            for (size_t i = 0; i < got; ++i)
                f(chunk[i]);
            if (got < want) {
                ok = false;
                break;
            }
            left -= got;
        }
        std::rewind(m_spill);
        // Truncating is not portable on a FILE*; the next spill overwrites from the start.
    }
    m_spilled = 0;
    m_spillFailed = false;
    return ok;
}
