#include "platform/TerminationSignals.h"

#include <QTest>
#include <gtest/gtest.h>

#include <csignal>
#include <unistd.h>

// Each signal reaches the callback on this thread's event loop, not in the
// handler, and the process lives on.
TEST(TerminationSignals, EachSignalBecomesACloseRequestOnTheEventLoop)
{
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        int requests = 0;
        TerminationSignals closer([&] { ++requests; });
        ASSERT_TRUE(closer.installed());
        ASSERT_EQ(::kill(::getpid(), sig), 0);
        EXPECT_EQ(requests, 0) << "ran inside the signal handler";
        ASSERT_TRUE(QTest::qWaitFor([&] { return requests > 0; }, 20000)) << "signal " << sig;
        EXPECT_EQ(requests, 1);
    }
}
