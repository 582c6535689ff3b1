#pragma once

#include <cstdint>
#include <cstdio>

// A one-line progress bar on standard error, drawn only on a terminal and
// only for files that take long enough to want one.
class ProgressBar
{
public:
    static constexpr uint64_t kMinimumBytes = uint64_t(16) << 20;
    static constexpr int kWidth = 40;

    ProgressBar(std::FILE* terminal, uint64_t total, bool enabled);
    void update(uint64_t done);
    // Removes the bar so the summary starts on a clean line.
    void clear();

    // Whether a bar is wanted for this stream and size.
    static bool wanted(std::FILE* stream, uint64_t total);

private:
    std::FILE* m_terminal;
    uint64_t m_total;
    bool m_enabled;
    bool m_drawn = false;
    int m_lastPercent = -1;
};
