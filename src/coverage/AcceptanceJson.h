#pragma once

#include "coverage/AcceptanceReport.h"

#include <string>

// Every figure of a report for scripts: the question at the top, then one
// object per section. Fractions are 0..1; a figure that does not exist (the
// reliability of no tested tile, tiles needed when none would decide) is null.
class AcceptanceJson
{
public:
    static std::string text(const AcceptanceReport& report);
};
