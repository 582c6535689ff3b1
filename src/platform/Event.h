#pragma once

#include <chrono>
#include <condition_variable>
#include <initializer_list>
#include <mutex>
#include <vector>

class AnyWaiter;

// Manual-reset event: stays signalled until reset, so wake-ups that arrive
// while the waiter is busy coalesce into one. Waits use a predicate, so a
// set() between a probe and a wait is never missed.
class Event
{
public:
    Event() = default;
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void set();
    void reset();
    bool isSet() const;
    // Returns true when the event was (or became) signalled within timeoutMs.
    bool wait(int timeoutMs);
    // The same, until a point on the steady clock: no rounding to milliseconds.
    bool waitUntil(std::chrono::steady_clock::time_point deadline);

private:
    friend int waitAny(std::initializer_list<Event*> events, int timeoutMs);
    mutable std::mutex m_mutex;
    std::condition_variable m_cond;
    bool m_signalled = false;
    std::vector<AnyWaiter*> m_anyWaiters;
};

// Waits until any of the events is signalled or timeoutMs passes. Returns the
// lowest index among the signalled events, or -1 on time-out.
int waitAny(std::initializer_list<Event*> events, int timeoutMs);
