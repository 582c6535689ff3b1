#pragma once

#include <cstdint>
#include <cstdio>

// A one-line progress bar of a command-line tool on standard error, drawn
// only on a terminal and only for inputs that take long enough to want one.
class ProgressBar
{
public:
    static constexpr uint64_t kMinimumBytes = uint64_t(16) << 20;
    static constexpr int kWidth = 40;

    ProgressBar(std::FILE* terminal, const char* program, uint64_t total, bool enabled); // total in bytes
    void update(uint64_t done);
    // Removes the bar so the summary starts on a clean line; the next update
    // draws it again.
    void clear();

    // Whether a bar is wanted for this stream and size.
    static bool wanted(std::FILE* stream, uint64_t total);

private:
    std::FILE* m_terminal;
    const char* m_program;
    uint64_t m_total;
    bool m_enabled;
    bool m_drawn = false;
    int m_lastPercent = -1;
};
