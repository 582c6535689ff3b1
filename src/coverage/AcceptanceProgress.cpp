#include "coverage/AcceptanceProgress.h"

#include "coverage/CoverageBinner.h"
#include "coverage/CoverageCells.h"
#include "coverage/LeeLocalMeans.h"

#include <algorithm>

AcceptanceProgress::AcceptanceProgress(double tileMetres, bool localMeans)
    : m_grid(tileMetres), m_binner(std::make_unique<CoverageBinner>(m_grid)),
      m_lee(localMeans ? std::make_unique<LeeLocalMeans>() : nullptr)
{
}

AcceptanceProgress::~AcceptanceProgress() = default;

void AcceptanceProgress::fix(const DriveFix& f)
{
    m_binner->fix(f);
    if (f.used)
        m_lastFix = f;
}

void AcceptanceProgress::sample(const DriveSample& s)
{
    m_binner->sample(s);
    if (m_lee)
        m_lee->sample(s);
    if (s.channel > 0 && s.frequencyMHz > 0)
        m_channels[{s.receiver, CoverageCells::frequencyKey(s.frequencyMHz)}] = s.channel;
}

std::vector<AcceptanceProgress::Touched> AcceptanceProgress::commit()
{
    // A binner of its own per batch: its cells are then exactly what the
    // batch added, and without a DOP bound a binner carries nothing from one
    // sample to the next but where it looked last.
    std::unique_ptr<CoverageBinner> batch = std::exchange(m_binner, std::make_unique<CoverageBinner>(m_grid));
    const DriveCoverage& d = batch->drive();
    std::vector<Touched> touched;
    touched.reserve(d.cells.size());
    for (const auto& [key, record] : d.cells.map()) {
        m_input.channel(key.receiver + 1, key.frequency).tiles[key.cell].histogram.add(record.histogram);
        touched.push_back({key.receiver + 1, key.frequency, key.cell});
    }
    // The number a frequency had last, as one read of the whole log leaves it.
    for (auto& [key, c] : m_input.channels)
        if (const auto it = m_channels.find({c.receiver - 1, c.frequency}); it != m_channels.end())
            c.channel = it->second;

    if (!d.route.empty()) {
        m_drive.firstMs = m_drive.route.empty() ? d.firstMs : std::min(m_drive.firstMs, d.firstMs);
        m_drive.lastMs = m_drive.route.empty() ? d.lastMs : std::max(m_drive.lastMs, d.lastMs);
        m_drive.route.insert(m_drive.route.end(), d.route.begin(), d.route.end());
    }
    m_drive.fixesUsed += d.fixesUsed;
    m_drive.samplesPlaced += d.samplesPlaced;
    m_drive.samplesBinned += d.samplesBinned;
    return touched;
}

void AcceptanceProgress::finish()
{
    commit();
    if (!m_lee)
        return;
    m_lee->finish();
    for (const LeeLocalMeans::Mean& m : m_lee->takeMeans()) {
        const int64_t tile = CoverageGrid::key(m_grid.cellOf(m.latitude, m.longitude));
        m_input.channel(m.receiver + 1, m.frequency).tiles[tile].localMeans.push_back(float(m.dbm));
    }
}
