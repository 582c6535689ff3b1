#include "Event.h"

#include <algorithm>
#include <chrono>

// One waitAny call: the events it watches poke this when set.
class AnyWaiter
{
public:
    std::mutex mutex;
    std::condition_variable cond;
    bool poked = false;

    void poke()
    {
        {
            std::lock_guard lock(mutex);
            poked = true;
        }
        cond.notify_all();
    }
};

void Event::set()
{
    std::vector<AnyWaiter*> waiters;
    {
        std::lock_guard lock(m_mutex);
        m_signalled = true;
        waiters = m_anyWaiters;
        // Poke while holding the lock so a waiter cannot unregister and vanish
        // between our copy of the list and the poke.
        for (AnyWaiter* w : waiters)
            w->poke();
    }
    m_cond.notify_all();
}

void Event::reset()
{
    std::lock_guard lock(m_mutex);
    m_signalled = false;
}

bool Event::isSet() const
{
    std::lock_guard lock(m_mutex);
    return m_signalled;
}

bool Event::wait(int timeoutMs)
{
    std::unique_lock lock(m_mutex);
    return m_cond.wait_for(lock, std::chrono::milliseconds(std::max(timeoutMs, 0)),
                           [this] { return m_signalled; });
}

bool Event::waitUntil(std::chrono::steady_clock::time_point deadline)
{
    std::unique_lock lock(m_mutex);
    return m_cond.wait_until(lock, deadline, [this] { return m_signalled; });
}

int waitAny(std::initializer_list<Event*> events, int timeoutMs)
{
    auto firstSignalled = [&]() -> int {
        int index = 0;
        for (Event* e : events) {
            if (e->isSet())
                return index;
            ++index;
        }
        return -1;
    };

    AnyWaiter waiter;
    for (Event* e : events) {
        std::lock_guard lock(e->m_mutex);
        e->m_anyWaiters.push_back(&waiter);
    }

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    int result = firstSignalled();
    while (result < 0) {
        std::unique_lock lock(waiter.mutex);
        if (!waiter.cond.wait_until(lock, deadline, [&] { return waiter.poked; }))
            break;
        waiter.poked = false;
        lock.unlock();
        result = firstSignalled(); // may still be -1 if reset meanwhile
    }
    if (result < 0)
        result = firstSignalled();

    for (Event* e : events) {
        std::lock_guard lock(e->m_mutex);
        auto& list = e->m_anyWaiters;
        list.erase(std::remove(list.begin(), list.end(), &waiter), list.end());
    }
    return result;
}
