#pragma once

#include "DriveToolOptions.h"

#include <cstdio>
#include <string>
#include <vector>

// The one main of the drive tools, as GDAL's _bin beside its _lib: the
// command line parsed into the tool's options, --help and --version
// answered, and the tool's run called with them. Nothing of any one tool's
// policy is here; the run is a library call that tests make as well.
class DriveToolMain
{
public:
    // How a command line that cannot be read is answered, after the reason:
    // with the whole usage text, or by pointing to --help.
    enum class OnBadUsage { ShowUsage, PointToHelp };

    struct Tool
    {
        const char* name;    // "klf-coverage"
        const char* version; // the package's
        OnBadUsage onBadUsage;
    };

    // Options needs static parse(args, options, error) and usage(), and
    // derives from DriveToolOptions; run writes what it makes to out (when
    // it writes to standard output at all) and what it says to err.
    template <class Options>
    static int run(const Tool& tool, int argc, char** argv, int (*run)(const Options&, std::FILE* out, std::FILE* err))
    {
        Options options;
        std::string error;
        if (!Options::parse(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
            badUsage(tool, error, Options::usage());
            return DriveToolOptions::kExitUsage;
        }
        if (options.help) {
            std::fputs(Options::usage().c_str(), stdout);
            return DriveToolOptions::kExitOk;
        }
        if (options.version) {
            std::printf("%s %s\n", tool.name, tool.version);
            return DriveToolOptions::kExitOk;
        }
        return run(options, stdout, stderr);
    }

private:
    static void badUsage(const Tool& tool, const std::string& error, const std::string& usage);
};
