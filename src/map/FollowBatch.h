#pragma once

#include "MapPoint.h"
#include "coverage/CoverageMapReader.h"
#include "coverage/RssiHistogram.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

// What a followed log brought since the last batch: the route's new dots,
// the coverage cells and acceptance tiles whose readings changed (each
// whole as far as the log is read), and what happened to the file.
struct FollowBatch
{
    enum class Event {
        None,
        Waiting,  // no log at the name yet, or not one that can be read yet
        Opened,   // the log is followed from its start
        CutBack,  // a half-written last record was cut off (a continued run)
        Deleted,  // the log has no name left: waiting for the logger's next file
        Replaced, // another log is at the name: everything before is dropped
        Stopped,  // the log stopped making sense; what came before stays
    };

    struct Tile
    {
        int receiver = 1;      // 1 or 2
        int64_t frequency = 0; // CoverageCells::frequencyKey
        int64_t key = 0;       // CoverageGrid::key at the tile size
        RssiHistogram histogram;
    };
    struct ChannelNumber
    {
        int receiver = 1;
        int64_t frequency = 0;
        int channel = 0;
    };

    Event event = Event::None;
    bool restart = false; // drop everything drawn before this batch
    QString message;      // what to tell the user about the event
    QString serialNumber;
    std::vector<MapPoint> points; // one per used fix, in order
    std::vector<CoverageMapReader::Cell> cells;
    std::vector<Tile> tiles;
    std::vector<ChannelNumber> channels; // every channel's number so far
    std::optional<MapPoint> lastFix;     // the vehicle's last used fix
    uint64_t offset = 0;  // bytes taken as whole records
    uint64_t records = 0; // packet records taken
};
