#include "ProgressBar.h"

#include <algorithm>
#include <cstring>
#include <unistd.h>

ProgressBar::ProgressBar(std::FILE* terminal, const char* program, uint64_t total, bool enabled)
    : m_terminal(terminal), m_program(program), m_total(total), m_enabled(enabled && total > 0)
{
}

bool ProgressBar::wanted(std::FILE* stream, uint64_t total)
{
    return total >= kMinimumBytes && ::isatty(fileno(stream));
}

void ProgressBar::update(uint64_t done)
{
    if (!m_enabled)
        return;
    const int percent = int(std::min<uint64_t>(100, done * 100 / m_total));
    if (percent == m_lastPercent)
        return;
    m_lastPercent = percent;
    char bar[kWidth + 1];
    const int filled = percent * kWidth / 100;
    for (int i = 0; i < kWidth; ++i)
        bar[i] = i < filled ? '#' : '.';
    bar[kWidth] = '\0';
    std::fprintf(m_terminal, "\r%s: [%s] %3d%%", m_program, bar, percent);
    std::fflush(m_terminal);
    m_drawn = true;
}

void ProgressBar::clear()
{
    // "NAME: [" and "] 100%" around the bar, and a little to spare.
    if (m_drawn)
        std::fprintf(m_terminal, "\r%*s\r", int(std::strlen(m_program)) + kWidth + 10, "");
    m_drawn = false;
    m_lastPercent = -1;
}
