#pragma once

#include "drive/DriveFix.h"
#include "protocol/TGPS.h"

#include <cstdint>
#include <span>

// A log's GPS messages as fixes. The receiver's message carries only what
// changed for some fields, so one decoder reads a log's messages in order.
class FixDecoder
{
public:
    // record: the message's index among the log's packet records.
    DriveFix decode(std::span<const uint8_t> payload, uint64_t record);

private:
    TGPS m_gps;
};
