#include "DriveToolMain.h"

void DriveToolMain::badUsage(const Tool& tool, const std::string& error, const std::string& usage)
{
    if (tool.onBadUsage == OnBadUsage::ShowUsage)
        std::fprintf(stderr, "%s: %s\n%s", tool.name, error.c_str(), usage.c_str());
    else
        std::fprintf(stderr, "%s: %s (see %s --help)\n", tool.name, error.c_str(), tool.name);
}
