#pragma once

#include "DeviceModel.h"

#include <string>

// One line of the --control protocol on stdin.
struct ControlCommand
{
    enum Kind { Invalid, Mode, Gps, Withhold, Unplug, Quit, Pause, Drain, Step };
    Kind kind = Invalid;
    MeasurementMode mode = MeasurementMode::Scan;
    bool cycle = false;
    GpsMode gps = GpsMode::On;
    bool on = false;
    uint16_t stepRaw = 0; // 1/256 kHz

    static ControlCommand parse(const std::string& line);
};
