#pragma once

// Whether the window system's connection has broken. Qt's platform plugins
// end the process with exit() when it does; other things may call exit()
// too, and only this answer tells them apart.
class DisplayConnection
{
public:
    // Window thread. Asks the X11 connection itself; false where there is
    // none to ask (another platform, or no application object).
    static bool lost();
};
