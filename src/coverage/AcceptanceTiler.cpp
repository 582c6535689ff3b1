#include "coverage/AcceptanceTiler.h"

#include "coverage/AcceptanceStatistics.h"
#include "coverage/CoverageCells.h"

#include <algorithm>
#include <cmath>

AcceptanceTiler::AcceptanceTiler(const Settings& settings, const AcceptanceArea* area)
    : m_settings(settings), m_grid(settings.tileMetres)
{
    if (!area || area->empty())
        return;
    const CoverageGrid::Bounds extent = area->bounds();
    const int32_t first = m_grid.rowOf(extent.south), last = m_grid.rowOf(extent.north);
    for (int32_t row = first; row <= last; ++row) {
        const double south = m_grid.rowSouth(row), north = m_grid.rowSouth(row + 1);
        const double centre = (south + north) / 2;
        const int32_t n = m_grid.columns(row);
        for (const AcceptanceArea::Span& span : area->spans(centre)) {
            // Columns whose centres lie in the span, found by arithmetic and
            // then checked against the very centre a tile reports.
            int32_t from = std::max(0, int32_t(std::floor((span.first + 180.0) / 360.0 * n - 0.5)) - 1);
            const int32_t to = std::min(n - 1, int32_t(std::ceil((span.second + 180.0) / 360.0 * n - 0.5)) + 1);
            for (int32_t col = from; col <= to; ++col) {
                const AcceptanceTile t = emptyTile(CoverageGrid::key({row, col}));
                if (t.longitude >= span.first && t.longitude <= span.second)
                    m_areaTiles.push_back(t);
            }
        }
    }
    std::sort(m_areaTiles.begin(), m_areaTiles.end(),
              [](const AcceptanceTile& a, const AcceptanceTile& b) { return a.key < b.key; });
    m_areaTiles.erase(std::unique(m_areaTiles.begin(), m_areaTiles.end(),
                                  [](const AcceptanceTile& a, const AcceptanceTile& b) { return a.key == b.key; }),
                      m_areaTiles.end());
}

AcceptanceTile AcceptanceTiler::emptyTile(int64_t key) const
{
    AcceptanceTile t;
    t.key = key;
    t.bounds = m_grid.bounds(CoverageGrid::cellOfKey(key));
    t.latitude = (t.bounds.south + t.bounds.north) / 2;
    t.longitude = (t.bounds.west + t.bounds.east) / 2;
    return t;
}

bool AcceptanceTiler::value(const AcceptanceInput::Tile& tile, double& dbm) const
{
    if (tile.histogram.count() < m_settings.minSamples)
        return false;
    switch (m_settings.estimator) {
    case AcceptanceReport::Estimator::Median:
        dbm = tile.histogram.percentile(50);
        return true;
    case AcceptanceReport::Estimator::P10:
        dbm = tile.histogram.percentile(10);
        return true;
    case AcceptanceReport::Estimator::Lee: {
        if (tile.localMeans.empty())
            return false;
        // Nearest rank, as the histograms' median.
        std::vector<float> means = tile.localMeans;
        const size_t k = std::max<size_t>(1, (means.size() + 1) / 2) - 1;
        std::nth_element(means.begin(), means.begin() + ptrdiff_t(k), means.end());
        dbm = means[k];
        return true;
    }
    }
    return false;
}

AcceptanceSection AcceptanceTiler::section(const AcceptanceInput::Channel& channel) const
{
    AcceptanceSection s;
    s.receiver = channel.receiver;
    s.frequencyMHz = CoverageCells::frequencyMHz(channel.frequency);
    s.channel = channel.channel;
    if (!m_areaTiles.empty()) {
        s.tiles = m_areaTiles;
    } else {
        s.tiles.reserve(channel.tiles.size());
        for (const auto& [key, tile] : channel.tiles)
            if (!tile.histogram.empty())
                s.tiles.push_back(emptyTile(key));
        std::sort(s.tiles.begin(), s.tiles.end(),
                  [](const AcceptanceTile& a, const AcceptanceTile& b) { return a.key < b.key; });
    }
    AcceptanceFigures& f = s.figures;
    for (AcceptanceTile& t : s.tiles) {
        ++f.tilesInArea;
        const auto it = channel.tiles.find(t.key);
        if (it == channel.tiles.end() || it->second.histogram.empty()) {
            t.state = AcceptanceTile::State::NotDriven;
            ++f.tilesUntested;
            ++f.tilesNotDriven;
            continue;
        }
        t.samples = it->second.histogram.count();
        double v = 0;
        if (!value(it->second, v)) {
            t.state = AcceptanceTile::State::Untested;
            ++f.tilesUntested;
            continue;
        }
        t.valueDbm = v;
        ++f.tilesTested;
        if (v >= m_settings.thresholdDbm) {
            t.state = AcceptanceTile::State::Passed;
            ++f.tilesPassed;
        } else {
            t.state = AcceptanceTile::State::Failed;
        }
    }
    AcceptanceStatistics::decide(f, m_settings.requiredReliability, m_settings.z);
    return s;
}
