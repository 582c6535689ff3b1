#include <QApplication>
#include <gtest/gtest.h>

// Every test binary gets a QApplication so that widgets, queued calls and
// the worker base behave as in the program, without a display.
int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
