#pragma once

#include "coverage/AcceptanceInput.h"
#include "coverage/CoverageGrid.h"
#include "coverage/DriveCoverage.h"
#include "drive/DriveSink.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class CoverageBinner;
class LeeLocalMeans;

// One log's readings for an acceptance test, gathered as the drive is read:
// the placed samples binned into tiles per channel, with the channel number
// each frequency had. klf-report reads a whole log through it and commits
// once; a map following a growing log commits after each batch and learns
// which tiles changed. Fed the same samples in any pieces, input() is the
// same: histograms add, and a batch is binned as the whole log would be.
class AcceptanceProgress : public DriveSink
{
public:
    struct Touched
    {
        int receiver = 1;      // 1 or 2
        int64_t frequency = 0; // CoverageCells::frequencyKey
        int64_t tile = 0;      // CoverageGrid::key at the tile size
        bool operator==(const Touched&) const = default;
    };

    // localMeans: Lee's local means too (they are whole only after finish()).
    explicit AcceptanceProgress(double tileMetres, bool localMeans = false);
    ~AcceptanceProgress() override;

    void fix(const DriveFix& fix) override;
    void sample(const DriveSample& sample) override;

    // Moves the readings since the last commit into input(); the tiles they
    // reached, each once.
    std::vector<Touched> commit();
    // The drive is over: commits, and the local means' open stretches end.
    void finish();

    const AcceptanceInput& input() const { return m_input; }
    AcceptanceInput& input() { return m_input; }
    // The drive as far as committed: times, counts and route; the cells stay empty.
    const DriveCoverage& drive() const { return m_drive; }
    const CoverageGrid& grid() const { return m_grid; }
    // The last used fix handed over, committed or not.
    const std::optional<DriveFix>& lastFix() const { return m_lastFix; }

private:
    CoverageGrid m_grid;
    std::unique_ptr<CoverageBinner> m_binner; // of the batch since the last commit
    std::unique_ptr<LeeLocalMeans> m_lee;
    // The latest channel number of each (receiver 0/1, frequency key).
    std::map<std::pair<int, int64_t>, int> m_channels;
    AcceptanceInput m_input;
    DriveCoverage m_drive;
    std::optional<DriveFix> m_lastFix;
};
