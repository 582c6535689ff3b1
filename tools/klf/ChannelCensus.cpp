#include "ChannelCensus.h"

#include <cmath>
#include <cstdio>

namespace {

const char* modeName(SampleMode mode)
{
    switch (mode) {
    case SampleMode::Single: return "single";
    case SampleMode::Scan: return "scan";
    case SampleMode::Table: return "table";
    }
    return "";
}

} // namespace

void ChannelCensus::sample(const DriveSample& s)
{
    ++m_counts[{s.receiver, s.mode, s.channel, std::llround(s.frequencyMHz * 1e6)}];
}

void ChannelCensus::printText(std::ostream& out) const
{
    for (const auto& [key, count] : m_counts) {
        const auto& [receiver, mode, channel, hz] = key;
        char line[160];
        int n = std::snprintf(line, sizeof line, "  R%d %-6s", receiver + 1, modeName(mode));
        n += channel != 0 ? std::snprintf(line + n, sizeof line - size_t(n), "  channel %-5d", channel)
                          : std::snprintf(line + n, sizeof line - size_t(n), "  %-13s", "no channel");
        n += hz != 0 ? std::snprintf(line + n, sizeof line - size_t(n), "  %.4f MHz", double(hz) / 1e6)
                     : std::snprintf(line + n, sizeof line - size_t(n), "  %s", "frequency unknown");
        std::snprintf(line + n, sizeof line - size_t(n), "  %llu sample(s)", static_cast<unsigned long long>(count));
        out << line << "\n";
    }
}

void ChannelCensus::printJson(std::ostream& out) const
{
    out << "[";
    bool first = true;
    for (const auto& [key, count] : m_counts) {
        const auto& [receiver, mode, channel, hz] = key;
        char entry[200];
        std::snprintf(entry, sizeof entry,
                      "%s\n    {\"receiver\": %d, \"mode\": \"%s\", \"channel\": %d, \"frequencyMHz\": %.6f, "
                      "\"samples\": %llu}",
                      first ? "" : ",", receiver + 1, modeName(mode), channel, double(hz) / 1e6,
                      static_cast<unsigned long long>(count));
        out << entry;
        first = false;
    }
    out << (first ? "]" : "\n  ]");
}
