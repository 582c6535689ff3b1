#pragma once

#include "coverage/CellFigures.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Counts of readings per whole dBm. Two histograms add into the histogram of
// both sets of readings, so cells merge over any number of drives and
// uploads, and every figure comes out of the sum exactly.
//
// Percentiles are by nearest rank: the p-th percentile of n readings is the
// k-th smallest, k = ceil(p * n / 100) (at least 1). The median is the 50th.
class RssiHistogram
{
public:
    static constexpr int kLowest = -128; // dBm: a reading is a signed byte
    static constexpr int kHighest = 127; // dBm
    // Readings a histogram may hold: far beyond any drive test, and where
    // sums, ranks and the mean stay exact.
    static constexpr uint64_t kMaxCount = uint64_t(1) << 53;

    void add(int dbm, uint64_t n = 1)
    {
        if (dbm >= m_low && dbm < m_low + int(m_counts.size()))
            m_counts[size_t(dbm - m_low)] += n;
        else
            widenAndAdd(dbm, n);
    }
    void add(const RssiHistogram& other);
    // Counts per dB from low up.
    void add(int low, std::span<const uint64_t> counts);

    bool empty() const { return m_counts.empty(); }
    uint64_t count() const;
    uint64_t countAt(int dbm) const;
    // The reading of nearest rank for percentile p (0 < p <= 100); 0 when empty.
    int percentile(int p) const;
    CellFigures figures() const;

    // "LOW:c,c,...": the lowest level and the counts from it up, one per dB.
    std::string text() const;
    // The same into out, which keeps its capacity from row to row.
    void text(std::string& out) const;
    // Refuses a damaged text, counts beyond kMaxCount among them.
    static bool fromText(const std::string& text, RssiHistogram& out);
    // Adds the readings a text holds, as fromText reads them; a damaged text
    // adds nothing. A map's cells add up into a tile without a histogram
    // made and dropped for each.
    bool addText(std::string_view text);
    // Counts from kLowest up to the highest level held (index 0 is kLowest).
    std::vector<uint64_t> fromLowest() const;

    bool operator==(const RssiHistogram& o) const;

private:
    void widenAndAdd(int dbm, uint64_t n);
    // Makes room for low..high at once, however far it grows at either end.
    void widen(int low, int high);

    int m_low = 0;                 // dBm of m_counts[0]
    std::vector<uint64_t> m_counts; // per dB from m_low, trimmed of zeros at both ends
};
