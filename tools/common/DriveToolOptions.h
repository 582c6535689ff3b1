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
        // What is checked across options once all are read, in the tool's
        // order (named and filterConsistent among them); false with error set.
        std::function<bool(std::string& error)> check;
    };

    // Reads args into the shared fields and, through own, the tool's, then
    // checks them. Stops at -h/--help or --version, which leave the rest
    // unread and unchecked.
    bool parseArgs(const std::vector<std::string>& args, const Own& own, std::string& error);
    // Something was named; otherwise error is `nothing`, in the tool's words.
    bool named(const char* nothing, std::string& error) const;
    // --frequency and --channel together would choose nothing.
    bool filterConsistent(std::string& error) const;
};
