#include "CoverageProgress.h"

#include <algorithm>
#include <unistd.h>

CoverageProgress::CoverageProgress(std::FILE* terminal, uint64_t totalBytes)
    : m_terminal(terminal), m_total(totalBytes),
      m_enabled(totalBytes >= kMinimumBytes && ::isatty(fileno(terminal)))
{
}

void CoverageProgress::update(uint64_t done)
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
    std::fprintf(m_terminal, "\rklf-coverage: [%s] %3d%%", bar, percent);
    std::fflush(m_terminal);
    m_drawn = true;
}

void CoverageProgress::clear()
{
    if (m_drawn)
        std::fprintf(m_terminal, "\r%*s\r", kWidth + 22, "");
    m_drawn = false;
    m_lastPercent = -1;
}
