#pragma once

#include "DeviceModel.h"
#include "FaultInjector.h"

#include <string>
#include <vector>

// The command line of tavrix-sim.
struct SimOptions
{
    DeviceConfig device;
    FaultConfig faults;
    std::string linkPath;        // symlink made to the pty slave
    std::string devicePath;      // an existing serial device instead of a pty
    std::string statsPath;
    bool flatOut = false;        // no line-rate pacing, no measurement rate
    double durationSeconds = 0;  // 0: run until told to stop
    long count = 0;              // measurement frames to send, 0: no limit
    double rate = 40.0;          // measurement frames per second
    double unplugEverySeconds = 0;
    bool control = false;        // read commands from stdin
    bool waitRequest = false;    // after each connect, stay quiet until the program sends a command
    std::string replayPath;      // play this .KLF log instead of the device model
    double replaySpeed = 1.0;    // GPS messages per second while replaying
    bool waitLogging = false;    // replay from the program's settings request when it starts logging
    bool help = false;
    bool version = false;

    static bool parse(const std::vector<std::string>& args, SimOptions& out, std::string& error);
    static std::string usage();
};
