#pragma once

#include <string>

// What the status thread sees of the main window: the status fields it
// fills. The window implements it, so the thread is tested without widgets.
// Every call is on the window thread.
class StatusView
{
public:
    virtual ~StatusView() = default;

    virtual void showFileSize(const std::string& text) = 0;
    virtual void showSerialNumber(const std::string& text) = 0;
    virtual void showLinkStatus(const std::string& text) = 0;
    // Nothing on screen is live: the GPS data hidden, the bar graphs greyed.
    virtual void showLinkLost() = 0;
    virtual void showLimits(int receiver, const std::string& minimum, const std::string& maximum,
                            const std::string& step) = 0;
    virtual void showClock(const std::string& date, const std::string& time, const std::string& marker) = 0;
    virtual void hideGps() = 0;
};
