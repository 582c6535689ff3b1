#include "coverage/CoverageBinner.h"

#include <algorithm>
#include <cmath>

namespace {
// About a tenth of a millimetre: nearer a row's edge the grid decides.
constexpr double kEdgeMargin = 1e-9; // degrees
}

CoverageBinner::CoverageBinner(const CoverageGrid& grid, std::optional<double> maxDop)
    : m_grid(grid), m_maxDop(maxDop), m_target(maxDop ? &m_pending : &m_drive.cells)
{
}

void CoverageBinner::forgetCell()
{
    m_cell = -1;
    m_slotsUsed = 0;
    if (++m_generation == 0) {
        m_slots.fill(Slot{});
        m_generation = 1;
    }
}

CoverageCells::Record& CoverageBinner::record(int64_t frequency, uint8_t receiver, int64_t timeMs)
{
    const uint64_t tag = uint64_t(frequency) << 1 | receiver;
    constexpr size_t mask = (size_t(1) << kSlotBits) - 1;
    for (size_t i = size_t((tag * 0x9E3779B97F4A7C15ull) >> (64 - kSlotBits));; i = (i + 1) & mask) {
        Slot& slot = m_slots[i];
        if (slot.generation == m_generation) {
            if (slot.tag == tag)
                return *slot.record;
            continue;
        }
        CoverageCells::Record& r = m_target->at({m_cell, frequency, receiver});
        if (r.drives == 0) {
            r.drives = 1;
            r.firstMs = r.lastMs = timeMs;
        }
        if (m_slotsUsed < kMaxSlotsUsed) {
            slot = Slot{tag, &r, m_generation};
            ++m_slotsUsed;
        }
        return r;
    }
}

void CoverageBinner::fix(const DriveFix& fix)
{
    if (!fix.used)
        return;
    if (m_drive.route.empty() || fix.timeMs < m_drive.firstMs)
        m_drive.firstMs = fix.timeMs;
    if (m_drive.route.empty() || fix.timeMs > m_drive.lastMs)
        m_drive.lastMs = fix.timeMs;
    m_drive.route.push_back({fix.latitude, fix.longitude});
    ++m_drive.fixesUsed;
    if (m_maxDop) {
        // The samples waiting arrived between the previous used fix and this one.
        if (m_haveFix && m_lastDop <= *m_maxDop && fix.dop <= *m_maxDop) {
            m_drive.cells.absorb(m_pending);
            m_drive.samplesBinned += m_pendingSamples;
        } else {
            m_leftOut += m_pendingSamples;
        }
        m_pending.clear();
        m_pendingSamples = 0;
        forgetCell();
    }
    m_haveFix = true;
    m_lastDop = fix.dop;
}

void CoverageBinner::locate(double latitude, double longitude)
{
    if (!(latitude > m_rowSouth && latitude < m_rowNorth)) {
        m_row = m_grid.rowOf(latitude);
        m_rowSouth = m_grid.rowSouth(m_row) + kEdgeMargin;
        m_rowNorth = m_grid.rowSouth(m_row + 1) - kEdgeMargin;
        m_rowColumns = m_grid.columns(m_row);
        // A latitude this near an edge: the grid's own answer, every time.
        if (!(latitude > m_rowSouth && latitude < m_rowNorth))
            m_rowSouth = m_rowNorth = 0;
    }
    double x = (longitude + 180.0) / 360.0;
    x -= std::floor(x);
    const int32_t column = std::min(m_rowColumns - 1, int32_t(x * m_rowColumns));
    const int64_t cell = CoverageGrid::key({m_row, column});
    if (cell != m_cell) {
        forgetCell();
        m_cell = cell;
    }
}

void CoverageBinner::sample(const DriveSample& s)
{
    if (!s.placed)
        return;
    ++m_drive.samplesPlaced;
    if (s.frequencyMHz <= 0) {
        ++m_leftOut;
        return;
    }
    locate(s.latitude, s.longitude);
    CoverageCells::Record& r = record(CoverageCells::frequencyKey(s.frequencyMHz), s.receiver, s.timeMs);
    r.histogram.add(s.rssi);
    r.firstMs = std::min(r.firstMs, s.timeMs);
    r.lastMs = std::max(r.lastMs, s.timeMs);
    if (m_maxDop)
        ++m_pendingSamples;
    else
        ++m_drive.samplesBinned;
}
