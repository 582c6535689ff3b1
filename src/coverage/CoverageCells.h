#pragma once

#include "coverage/RssiHistogram.h"

#include <cstdint>
#include <functional>
#include <unordered_map>
#include <vector>

// The cells of one or more drives: per grid cell, receiver and frequency,
// the histogram of the readings and when and in how many drives they came.
class CoverageCells
{
public:
    struct Key
    {
        int64_t cell = 0;       // CoverageGrid::key
        int64_t frequency = 0;  // 1/256 kHz, the receiver's own step unit
        uint8_t receiver = 0;   // 0 (R1) or 1 (R2)
        bool operator==(const Key&) const = default;
    };

    struct Record
    {
        RssiHistogram histogram;
        int64_t firstMs = 0; // UTC, ms since 1970-01-01
        int64_t lastMs = 0;
        uint32_t drives = 0;
    };

    struct KeyHash
    {
        size_t operator()(const Key& k) const
        {
            uint64_t h = uint64_t(k.cell) * 0x9E3779B97F4A7C15ull;
            h ^= (uint64_t(k.frequency) << 1 | k.receiver) * 0xC2B2AE3D27D4EB4Full;
            return size_t(h ^ (h >> 29));
        }
    };
    using Map = std::unordered_map<Key, Record, KeyHash>;

    static int64_t frequencyKey(double mhz);
    static double frequencyMHz(int64_t key);

    // The record of a key, made empty (no drives) when new. Stays where it
    // is while others are added.
    Record& at(const Key& key) { return m_map[key]; }
    // Adds other's readings; drives add up (each side counted its own).
    void add(const CoverageCells& other);
    using Entry = Map::value_type;
    // The same, taking other's histograms instead of copying them; touched,
    // when given, gets the entries that other's readings went into.
    void add(CoverageCells&& other, std::vector<const Entry*>* touched = nullptr);
    // Adds readings of the same drive: histograms and times, not drives.
    void absorb(const CoverageCells& other);

    const Map& map() const { return m_map; }
    size_t size() const { return m_map.size(); }
    uint64_t readings() const;
    void clear() { m_map.clear(); }
    bool operator==(const CoverageCells& o) const;

private:
    void merge(const CoverageCells& other, bool countDrives);

    Map m_map;
};
