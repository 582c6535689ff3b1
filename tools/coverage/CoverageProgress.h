#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// A one-line progress bar over all the logs of a run, on standard error,
// drawn only on a terminal and only when the logs take long enough to want one.
class CoverageProgress
{
public:
    static constexpr uint64_t kMinimumBytes = uint64_t(16) << 20;
    static constexpr int kWidth = 40;

    CoverageProgress(std::FILE* terminal, uint64_t totalBytes);
    // done: bytes of all logs read so far.
    void update(uint64_t done);
    // Removes the bar so that a message starts on a clean line.
    void clear();

private:
    std::FILE* m_terminal;
    uint64_t m_total;
    bool m_enabled;
    bool m_drawn = false;
    int m_lastPercent = -1;
};
