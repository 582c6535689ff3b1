#pragma once

#include <functional>

// A last orderly close for a process that calls exit() while it still runs.
// Qt's platform plugins do that from inside the event loop when the display
// connection breaks ("The X11 connection broke"): nothing on main's stack
// unwinds, static destructors run while workers still use what they free,
// and the files and named objects the program owns are left behind.
//
// While a guard is armed, exit() first runs its action on the exiting thread
// (stop and join the workers, close files, remove named objects), then ends
// the process at once with kStatus, so that no static destructor runs beside
// threads the action could not reach. Destroying the guard disarms it: a
// normal return from main exits as usual. One armed guard at a time; exit's
// handler list is process-wide, so this is too.
class ExitGuard
{
public:
    static constexpr int kStatus = 1; // what Qt's plugins pass to exit()

    explicit ExitGuard(std::function<void()> action);
    ~ExitGuard();
    ExitGuard(const ExitGuard&) = delete;
    ExitGuard& operator=(const ExitGuard&) = delete;

private:
    static void onExit();

    std::function<void()> m_action;
};
