#include "platform/Event.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

TEST(Event, StaysSetUntilReset)
{
    Event e;
    EXPECT_FALSE(e.isSet());
    EXPECT_FALSE(e.wait(0));
    e.set();
    EXPECT_TRUE(e.wait(0));
    EXPECT_TRUE(e.wait(10)); // manual reset: still set
    e.reset();
    EXPECT_FALSE(e.isSet());
}

TEST(Event, WaitWakesWhenSetFromAnotherThread)
{
    Event e;
    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        e.set();
    });
    EXPECT_TRUE(e.wait(5000));
    setter.join();
}

TEST(Event, WaitTimesOutWhenNeverSet)
{
    Event e;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(e.wait(30));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
}

TEST(WaitAny, ReportsLowestSignalledIndex)
{
    Event a, b, c;
    EXPECT_EQ(waitAny({&a, &b, &c}, 0), -1);
    c.set();
    EXPECT_EQ(waitAny({&a, &b, &c}, 0), 2);
    b.set();
    EXPECT_EQ(waitAny({&a, &b, &c}, 0), 1);
    a.set();
    EXPECT_EQ(waitAny({&a, &b, &c}, 0), 0);
}

TEST(WaitAny, WakesOnLaterSetAndUnregisters)
{
    Event a, b;
    for (int round = 0; round < 50; ++round) {
        a.reset();
        b.reset();
        std::thread setter([&] { b.set(); });
        EXPECT_EQ(waitAny({&a, &b}, 5000), 1);
        setter.join();
    }
    // After the waits returned, setting must not touch a vanished waiter.
    a.set();
    b.set();
    EXPECT_EQ(waitAny({&a, &b}, 0), 0);
}
