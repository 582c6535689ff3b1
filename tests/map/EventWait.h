#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>

#include <functional>

// Serves the event loop until done() or the limit; false at the limit.
inline bool until(const std::function<bool()>& done, int limitMs = 10000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > limitMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
}
