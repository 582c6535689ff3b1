#include "coverage/CoverageCells.h"

#include <algorithm>
#include <cmath>

int64_t CoverageCells::frequencyKey(double mhz)
{
    return std::llround(mhz * 256000.0);
}

double CoverageCells::frequencyMHz(int64_t key)
{
    return double(key) / 256000.0;
}

void CoverageCells::merge(const CoverageCells& other, bool countDrives)
{
    for (const auto& [key, theirs] : other.m_map) {
        Record& ours = m_map[key];
        const bool fresh = ours.histogram.empty() && ours.drives == 0;
        ours.histogram.add(theirs.histogram);
        ours.firstMs = fresh ? theirs.firstMs : std::min(ours.firstMs, theirs.firstMs);
        ours.lastMs = fresh ? theirs.lastMs : std::max(ours.lastMs, theirs.lastMs);
        ours.drives = countDrives ? ours.drives + theirs.drives : std::max(ours.drives, theirs.drives);
    }
}

void CoverageCells::add(const CoverageCells& other)
{
    merge(other, true);
}

void CoverageCells::add(CoverageCells&& other, std::vector<const Entry*>* touched)
{
    if (m_map.empty()) {
        m_map = std::move(other.m_map);
        if (touched)
            for (const Entry& entry : m_map)
                touched->push_back(&entry);
    } else {
        for (auto& [key, theirs] : other.m_map) {
            Entry& entry = *m_map.try_emplace(key).first;
            if (touched)
                touched->push_back(&entry);
            Record& ours = entry.second;
            if (ours.drives == 0 && ours.histogram.empty()) {
                ours = std::move(theirs);
                continue;
            }
            ours.histogram.add(theirs.histogram);
            ours.firstMs = std::min(ours.firstMs, theirs.firstMs);
            ours.lastMs = std::max(ours.lastMs, theirs.lastMs);
            ours.drives += theirs.drives;
        }
    }
    other.m_map.clear();
}

void CoverageCells::absorb(const CoverageCells& other)
{
    merge(other, false);
}

uint64_t CoverageCells::readings() const
{
    uint64_t n = 0;
    for (const auto& [key, r] : m_map)
        n += r.histogram.count();
    return n;
}

bool CoverageCells::operator==(const CoverageCells& o) const
{
    if (m_map.size() != o.m_map.size())
        return false;
    for (const auto& [key, r] : m_map) {
        const auto it = o.m_map.find(key);
        if (it == o.m_map.end() || !(it->second.histogram == r.histogram) || it->second.firstMs != r.firstMs
            || it->second.lastMs != r.lastMs || it->second.drives != r.drives)
            return false;
    }
    return true;
}
