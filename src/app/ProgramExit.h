#pragma once

#include "platform/ExitGuard.h"

#include <functional>

// How the logger's main ends: its exit statuses, and the last step that
// turns an error escaping the program into a failure status once every
// worker has stopped.
class ProgramExit
{
public:
    static constexpr int kClosed = 0; // the main window was closed
    static constexpr int kEnded = ExitGuard::kStatus; // exit() under way: the display lost, or another cause
    static constexpr int kUsage = 2;
    static constexpr int kFailed = 3; // an error ended it; report said which

    // Runs body and returns kClosed. An exception escaping it stops and
    // joins every worker, is handed to report and returns kFailed.
    static int run(const std::function<void()>& body, const std::function<void(const char* what)>& report);
};
