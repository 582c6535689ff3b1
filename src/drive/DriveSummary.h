#pragma once

#include <array>
#include <cstdint>
#include <string>

// What one pass over a log found. Sample counts and RSSI ranges cover the
// samples the filter let through.
struct DriveSummary
{
    enum class Status { Ok, Malformed, Truncated, Unreadable, Cancelled };

    struct RssiRange
    {
        uint64_t samples = 0; // placed samples of this receiver
        int lowest = 0;       // dBm, valid when samples > 0
        int highest = 0;      // dBm
    };

    Status status = Status::Ok;
    std::string error;        // where and why the log stops making sense
    uint64_t stopOffset = 0;  // byte offset of the first problem
    uint64_t bytes = 0;       // size of the log
    uint64_t bytesRead = 0;   // bytes taken as whole records (header included)

    bool hasHeader = false;
    std::string serialNumber;
    uint8_t receiverFlags = 0; // bit 0 R1 active, bit 1 R2 active (header)

    uint64_t records = 0;        // packet records after the header
    uint64_t checksumErrors = 0; // records skipped for a bad checksum
    uint64_t fixesUsed = 0;
    uint64_t fixesSkipped = 0;   // no 2D/3D fix, impossible position or time
    uint64_t samplesPlaced = 0;
    uint64_t samplesNotPlaced = 0; // before the first or after the last used fix, or across a time jump
    // Of those not placed: between two used fixes whose times go back or lie
    // more than DriveReader::kMaxPlacingGapMs apart.
    uint64_t samplesAcrossTimeJump = 0;
    std::array<RssiRange, 2> receivers{};

    bool whole() const { return status == Status::Ok; }
};
