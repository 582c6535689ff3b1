#pragma once

#include "display/ReceiverBars.h"

#include <optional>
#include <string>

// What a receiver display thread sees of the window: the buttons that choose
// what to show, and the graph that shows it. The window implements it, so the
// display thread is tested without widgets.
class ReceiverView
{
public:
    struct Options
    {
        ReceiverBars::Mode mode = ReceiverBars::Mode::Scan;
        bool showFrequency = false;
    };

    virtual ~ReceiverView() = default;

    // Any thread: the buttons as the window last set them.
    virtual Options options() const = 0;
    // Window thread: draws one update; a title only when it changed.
    virtual void draw(const ReceiverBars::Frame& frame, const std::optional<std::string>& title) = 0;
};
