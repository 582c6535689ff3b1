#pragma once

#include "DeviceModel.h"

#include <cstdint>
#include <string>
#include <vector>

// One line of the --control protocol on stdin.
struct ControlCommand
{
    enum Kind { Invalid, Mode, Gps, Withhold, Unplug, Quit, Pause, Drain, Inject, Step };
    Kind kind = Invalid;
    MeasurementMode mode = MeasurementMode::Scan;
    bool cycle = false;
    GpsMode gps = GpsMode::On;
    bool on = false;
    uint16_t stepRaw = 0; // 1/256 kHz
    // inject: raw bytes for the line, then this many measurements of the
    // current mode, queued in one go so no pause can fall between them.
    std::vector<uint8_t> bytes;
    int measurements = 0;

    static ControlCommand parse(const std::string& line);
};
