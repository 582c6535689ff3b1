#include "AppStyle.h"
#include "Program.h"
#include "ShowMessageBox.h"
#include "TavrixVersion.h"

#include "protocol/GpsRecord.h"
#include "link/LinkSettings.h"
#include "platform/WorkerThread.h"
#include "protocol/DeviceRecord.h"
#include "protocol/SampleBuffers.h"

#include <QApplication>

#include <cstdio>
#include <cstring>
#include <exception>

namespace {

constexpr char kUsage[] = "usage: tavrix-dl [PORT]\n"
                          "  PORT       a device path to fill into the port dialog\n"
                          "  -h, --help print this summary and exit\n"
                          "  --version  print the version and exit\n";

// Answered before any window exists, so that they work without a display.
bool answeredInformationRequest(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return true;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("tavrix-dl %s\n", kTavrixVersion);
            return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    if (answeredInformationRequest(argc, argv))
        return 0;

    // The shared records come first and outlive every form and thread that
    // refers to them.
    DeviceRecord device;
    SampleBuffers samples;
    GpsRecord gps;
    LinkSettings link;

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ZKT Tavrix DL"));
    AppStyle::installFontSubstitutions();

    try {
        Program program(device, samples, gps, link);
        // A device path for demonstrations; it only pre-fills the choice.
        const QStringList args = QApplication::arguments();
        if (args.size() > 1)
            program.prefillPort(args.at(1));

        QApplication::exec();
        // Every worker has its flag set by now; join them while a pending
        // Synchronize can still be abandoned.
        WorkerThread::shutdownAll();
    } catch (const std::exception& e) {
        WorkerThread::shutdownAll();
        ShowMessageBox(2, "%s", e.what());
    }
    return 0;
}
