#pragma once

#include "drive/DriveFilter.h"
#include "drive/DriveSink.h"
#include "drive/DriveSummary.h"
#include "drive/RoutePlacement.h"
#include "log/KlfPullReader.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

// A .KLF log read as a drive: fixes from its GPS messages and one sample per
// RSSI value of its measurement records, each sample placed on the route by
// linear interpolation, by record index, between the used fixes around it.
// One pass, front to back, in memory that does not grow with the file.
//
// A straight line stands for the drive only between fixes close in time.
// Where the fix times go back (a GPS week rollover, a receiver restarting
// with a stale date) or lie more than kMaxPlacingGap apart (a receiver off
// for a while), it would invent the times and places of the samples between,
// so those are not placed; DriveSummary counts them apart. Five minutes
// covers a tunnel or a long stop without a fix, yet not a drive resumed later.
//
// What a sample is:
//   single-mode block  one sample, the block's mean (truncated toward zero,
//                      as the program shows it) at the current frequency
//                      of the last CurrentFrequency or ScanChannelList
//   scan report        one per entry: receiver, slot, and the slot's
//                      channel from the last ScanChannelList
//   table report       one per entry: receiver and channel (index + 1)
// Frequencies come from the receiver settings in force: the header's, then
// each ReceiverSetup record's. Records with a bad checksum are skipped.
class DriveReader
{
public:
    // done and total in bytes (total 0 when not known); returning false
    // stops the read, which then reports DriveSummary::Status::Cancelled.
    using Progress = std::function<bool(uint64_t done, uint64_t total)>;
    static constexpr uint64_t kProgressStep = uint64_t(1) << 20;
    // A log reader's ending as a drive's.
    static DriveSummary::Status statusOf(KlfPullReader::Status s);
    static constexpr int64_t kMaxPlacingGapMs = RoutePlacement::kMaxGapMs;

    void setFilter(const DriveFilter& filter) { m_filter = filter; }
    const DriveFilter& filter() const { return m_filter; }
    // Called about every kProgressStep bytes and once at the end.
    void setProgress(Progress progress) { m_progress = std::move(progress); }

    DriveSummary read(const std::string& path, DriveSink& sink) const;
    // The file is read from where it stands, not closed.
    DriveSummary read(std::FILE* file, DriveSink& sink) const;

private:
    DriveFilter m_filter;
    Progress m_progress;
};
