#pragma once

#include "coverage/AcceptanceArea.h"
#include "coverage/AcceptanceInput.h"
#include "coverage/AcceptanceReport.h"
#include "coverage/AcceptanceSection.h"
#include "coverage/CoverageGrid.h"

#include <vector>

// Cuts the area into tiles of the coverage grid at the tile size, then
// tests each channel's tiles: a tile belongs to the area when its centre
// does, is tested when it holds enough samples, and passes when its value
// reaches the threshold. Without an area, the driven tiles are the area.
class AcceptanceTiler
{
public:
    struct Settings
    {
        double tileMetres = 100;
        double thresholdDbm = -95;
        uint64_t minSamples = 36;
        AcceptanceReport::Estimator estimator = AcceptanceReport::Estimator::Median;
        double requiredReliability = 0.95; // 0..1
        double z = 1.2815515655446004;     // one-sided 90 %
    };

    // area: null, or one that outlives the tiler.
    AcceptanceTiler(const Settings& settings, const AcceptanceArea* area);

    // The area's tiles, without samples; empty without an area.
    const std::vector<AcceptanceTile>& areaTiles() const { return m_areaTiles; }
    AcceptanceSection section(const AcceptanceInput::Channel& channel) const;
    // The value a tile's readings give under the estimator; false when the
    // tile cannot be tested.
    bool value(const AcceptanceInput::Tile& tile, double& dbm) const;

private:
    AcceptanceTile emptyTile(int64_t key) const;

    Settings m_settings;
    CoverageGrid m_grid;
    std::vector<AcceptanceTile> m_areaTiles; // by key
};
