#include "ProgramExit.h"

#include "platform/WorkerThread.h"

#include <exception>

int ProgramExit::run(const std::function<void()>& body, const std::function<void(const char* what)>& report)
{
    try {
        body();
        return kClosed;
    } catch (const std::exception& e) {
        // Joined before the report: a message box runs an event loop, and
        // the records the workers use go when main returns.
        WorkerThread::shutdownAll();
        report(e.what());
    } catch (...) {
        WorkerThread::shutdownAll();
        report("an unknown error");
    }
    return kFailed;
}
