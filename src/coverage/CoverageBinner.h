#pragma once

#include "coverage/CoverageGrid.h"
#include "coverage/DriveCoverage.h"
#include "drive/DriveSink.h"

#include <array>
#include <optional>

// Bins one drive's placed samples into grid cells as DriveReader hands them
// over. Tens of millions of samples pass through here: the row of the last
// sample and the records of its cell are kept at hand, so most samples cost
// a comparison, a multiplication and a small table look-up.
//
// With a DOP bound, the samples between two used fixes wait in cells of
// their own until the second fix says whether both ends were precise
// enough; only then do they join the drive.
class CoverageBinner : public DriveSink
{
public:
    explicit CoverageBinner(const CoverageGrid& grid, std::optional<double> maxDop = std::nullopt);

    void fix(const DriveFix& fix) override;
    void sample(const DriveSample& sample) override;

    // Goes on from where earlier, which read the log up to an offset,
    // stopped: the samples up to this binner's first fix are judged by the
    // DOP of earlier's last, as one binner over the whole log would.
    void continueFrom(const CoverageBinner& earlier)
    {
        m_haveFix = earlier.m_haveFix;
        m_lastDop = earlier.m_lastDop;
    }
    // The drive as read so far; file name, hash and serial number are the caller's.
    DriveCoverage& drive() { return m_drive; }
    uint64_t samplesLeftOut() const { return m_leftOut; } // no frequency or DOP too high

private:
    // The records of the current cell by frequency and receiver, open
    // addressed; a slot of an older generation is empty, so moving to
    // another cell costs one increment.
    struct Slot
    {
        uint64_t tag = 0; // frequency key << 1 | receiver
        CoverageCells::Record* record = nullptr;
        uint32_t generation = 0;
    };
    // Room for a table of hundreds of channels on both receivers; a cell
    // with more than kMaxSlotsUsed looks the rest up in the map.
    static constexpr int kSlotBits = 11;
    static constexpr uint32_t kMaxSlotsUsed = (uint32_t(1) << kSlotBits) * 3 / 4;

    CoverageCells::Record& record(int64_t frequency, uint8_t receiver, int64_t timeMs);
    void locate(double latitude, double longitude);
    void forgetCell();

    const CoverageGrid& m_grid;
    std::optional<double> m_maxDop;
    DriveCoverage m_drive;
    CoverageCells m_pending; // samples since the last used fix, with a DOP bound
    CoverageCells* m_target;
    uint64_t m_pendingSamples = 0;
    uint64_t m_leftOut = 0;
    bool m_haveFix = false;
    double m_lastDop = 0;

    // The row of the last sample; a latitude strictly inside its margins is
    // in it without asking the grid.
    int32_t m_row = -1;
    double m_rowSouth = 0, m_rowNorth = 0; // degrees, shrunk by a hair
    int32_t m_rowColumns = 1;
    int64_t m_cell = -1;
    std::array<Slot, size_t(1) << kSlotBits> m_slots{};
    uint32_t m_generation = 1;
    uint32_t m_slotsUsed = 0;
};
