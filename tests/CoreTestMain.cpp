#include <QCoreApplication>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace {

// Widget-free code is tested without widgets: a library that drew Qt
// Widgets in again through a link dependency would go unnoticed, so such a
// test binary refuses to run.
bool widgetsLoaded()
{
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line))
        if (line.find("libQt6Widgets") != std::string::npos)
            return true;
    return false;
}

} // namespace

// Widget-free tests: an event loop for queued calls and D-Bus, no GUI.
int main(int argc, char** argv)
{
    if (widgetsLoaded()) {
        std::fprintf(stderr, "%s: a widget-free test links Qt Widgets; link only widget-free libraries, "
                             "or mark the test WIDGETS\n", argv[0]);
        return 1;
    }
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
