#pragma once

#include "ChannelCensus.h"
#include "log/KlfStream.h"
#include "protocol/TGPS.h"

#include <cstdint>
#include <map>
#include <optional>
#include <ostream>
#include <string>

// What klf-inspect reports about a file, gathered record by record as a
// KlfStream walks it, so that it takes the same memory for any file size.
class KlfSummary
{
public:
    struct Fix
    {
        int year = 0, month = 0, day = 0, hours = 0, minutes = 0, seconds = 0;
        double latitude = 0;  // degrees, north positive
        double longitude = 0; // degrees, east positive
    };

    // Every record but the header's channel information.
    void add(const KlfStream::Record& r, std::span<const uint8_t> bytes);

    // A GPS record's payload; nothing when it is too short for the message.
    std::optional<Fix> decodeFix(std::span<const uint8_t> payload);

    // census: the channels and frequencies of the log; null when it could
    // not be taken (standard input is read once).
    void printText(std::ostream& out, const std::string& fileName, const KlfStream& walk,
                   const ChannelCensus* census) const;
    void printJson(std::ostream& out, const std::string& fileName, const KlfStream& walk,
                   const ChannelCensus* census) const;

private:
    // The first record after the header that carries the channel list the
    // device sends when a measurement starts (current frequency or scan
    // channel list): such a log is convertible though its header has none.
    struct ChannelListRecord
    {
        uint64_t number = 0; // 1 for the first record after the header
        size_t offset = 0;   // of its length field
        int type = 0;
    };
    // "in the header (type 5, L = 10)", "in record 3 at offset 120 (type 6)"
    // or "none: not convertible ...".
    std::string channelInfoText(const KlfStream& walk) const;

    uint64_t m_records = 0;
    std::optional<ChannelListRecord> m_channelList;
    std::map<int, size_t> m_byType;
    std::optional<Fix> m_firstFix;
    std::optional<Fix> m_lastFix;
    TGPS m_gps; // reused: a record's texts are costly to build for every fix
};
