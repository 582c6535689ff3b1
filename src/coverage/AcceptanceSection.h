#pragma once

#include "coverage/AcceptanceFigures.h"
#include "coverage/AcceptanceTile.h"

#include <string>
#include <vector>

// One channel's test: a receiver (or both pooled) and a frequency, every
// tile of the area with its state, and the figures they add up to.
struct AcceptanceSection
{
    int receiver = 1;        // 1 or 2; 0 both receivers pooled
    double frequencyMHz = 0;
    int channel = 0;         // as the receiver numbers it; 0 when not known
    std::vector<AcceptanceTile> tiles; // in the area (or driven, without one), by key
    AcceptanceFigures figures;

    std::string receiverText() const
    {
        if (receiver == 0)
            return "both";
        std::string text(1, 'R'); // GCC 12 misreads "R" + std::string as an overlapping copy
        text += std::to_string(receiver);
        return text;
    }
};
