#pragma once

#include "drive/DriveFilter.h"

#include <functional>
#include <string>
#include <vector>

// What the drive tools' command lines share (klf-export, klf-coverage,
// klf-report): -h/--help and --version, the samples chosen by --receiver,
// --channel and --frequency, "--" before names that start with '-', and the
// names themselves. Each tool's options derive from this and add their own,
// and the tool's run takes the whole struct, as GDAL's programs take theirs.
struct DriveToolOptions
{
    static constexpr int kExitOk = 0;
    static constexpr int kExitUsage = 3; // usage, input or I/O error, for every drive tool

    DriveFilter filter;
    std::vector<std::string> inputs; // as named: logs and folders of logs (klf-report: maps too)
    bool help = false;
    bool version = false;

    // A tool's own options, looked at before the shared ones, so that a tool
    // may read one of those its own way (klf-report's --receiver both).
    struct Own
    {
        std::vector<std::string> flags;  // taking no value
        std::vector<std::string> valued; // taking the argument after them
        // Takes a flag (value null) or an option with its value. False
        // refuses the value: with error set, or left empty for the usual
        // "bad value for OPTION: VALUE".
        std::function<bool(const std::string& option, const std::string* value, std::string& error)> take;
    };

    // Reads args into the shared fields and, through own, the tool's. Stops
    // at -h/--help or --version, which leave the rest unread; what is checked
    // across options (filterConsistent, the tool's own) comes after.
    bool parseArgs(const std::vector<std::string>& args, const Own& own, std::string& error);
    // --frequency and --channel together would choose nothing.
    bool filterConsistent(std::string& error) const;
};
