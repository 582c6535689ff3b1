#pragma once

class TGPS;

// What the GPS thread sees of the window: the GPS screen and the GPS Data
// fields it refreshes. The window implements it, so the thread is tested
// without widgets.
class GpsView
{
public:
    virtual ~GpsView() = default;

    // Window thread: shows one GPS record.
    virtual void showGps(const TGPS& gps) = 0;
};
