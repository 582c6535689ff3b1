#include <QCoreApplication>
#include <gtest/gtest.h>

// Widget-free tests: an event loop for queued calls and D-Bus, no GUI.
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
