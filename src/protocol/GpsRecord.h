#pragma once

#include "protocol/TGPS.h"
#include "platform/Event.h"

#include <mutex>

// The shared GPS record: the decoder writes it on the link thread, the GPS
// screen and the map export read it. Decode and copy exclude each other, so a
// reader never sees a half-decoded message.
class GpsRecord
{
public:
    void Decode(const uint8_t* message);
    TGPS copy() const;
    // The record and how many messages it has taken so far, in one step.
    TGPS copy(uint64_t& decoded) const;

    // Set by the decoder after each message; the GPS thread waits on it.
    Event gpsEvent;

private:
    mutable std::mutex m_mutex;
    TGPS m_record;
    uint64_t m_decoded = 0;
};
