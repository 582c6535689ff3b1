#include "AppStyle.h"
#include "Program.h"
#include "ProgramExit.h"
#include "StartFolder.h"
#include "ShowMessageBox.h"
#include "TavrixVersion.h"

#include "protocol/GpsRecord.h"
#include "link/LinkSettings.h"
#include "log/LogControl.h"
#include "platform/ExitGuard.h"
#include "platform/WorkerThread.h"
#include "protocol/DeviceRecord.h"
#include "protocol/SampleBuffers.h"

#include <QApplication>
#include <QDir>
#include <QSettings>

#include <cstdio>
#include <cstring>

namespace {

constexpr char kUsage[] = "usage: tavrix-dl [PORT]\n"
                          "  PORT       a device path to fill into the port dialog\n"
                          "  -h, --help print this summary and exit\n"
                          "  --version  print the version and exit\n"
                          "exit status: 0 the main window was closed, 1 the display went away or exit() was called\n"
                          "(the log was closed first), 2 usage error, 3 an error stopped the program\n";
constexpr int kExitUsage = ProgramExit::kUsage;

// Answered before any window exists, so that they work without a display:
// an exit status, or -1 to go on and open the window.
int answeredCommandLine(int argc, char** argv)
{
    int ports = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("tavrix-dl %s\n", kTavrixVersion);
            return 0;
        }
    }
    for (int i = 1; i < argc; ++i) {
        // Qt's own options (-platform, -style ...) stay Qt's.
        const bool qtOption = std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "-style") == 0
                              || std::strcmp(argv[i], "-display") == 0 || std::strcmp(argv[i], "-qwindowgeometry") == 0;
        if (qtOption && i + 1 < argc) {
            ++i;
            continue;
        }
        if (argv[i][0] == '-' && argv[i][1] != '\0') {
            std::fprintf(stderr, "tavrix-dl: unknown option %s\n%s", argv[i], kUsage);
            return kExitUsage;
        }
        if (++ports > 1) {
            std::fprintf(stderr, "tavrix-dl: one port at a time: %s\n%s", argv[i], kUsage);
            return kExitUsage;
        }
    }
    return -1;
}

} // namespace

int main(int argc, char** argv)
{
    if (const int status = answeredCommandLine(argc, argv); status >= 0)
        return status;

    // The shared records come first and outlive every form and thread that
    // refers to them.
    DeviceRecord device;
    SampleBuffers samples;
    GpsRecord gps;
    LinkSettings link;

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ZKT Tavrix DL"));
    AppStyle::installFontSubstitutions();

    // A log named without a folder is made in the current folder: make it one
    // the user can write to and would look in.
    QSettings settings(QStringLiteral("ZKT"), QStringLiteral("Tavrix DL"));
    const QString startedIn = QDir::currentPath();
    const QString start = StartFolder::choose(startedIn,
                                              settings.value(QLatin1String(StartFolder::kSettingsKey)).toString(),
                                              QDir::homePath());
    if (start != QDir::currentPath() && !QDir::setCurrent(start))
        std::fprintf(stderr, "tavrix-dl: cannot work in %s\n", qPrintable(start));

    return ProgramExit::run(
        [&] {
            Program program(device, samples, gps, link);
            // A device path for demonstrations; it only pre-fills the choice.
            const QStringList args = QApplication::arguments();
            // A relative device path means the folder the user started it in.
            if (args.size() > 1)
                program.prefillPort(args.at(1).contains(QLatin1Char('/'))
                                        ? QDir(startedIn).absoluteFilePath(args.at(1))
                                        : args.at(1));
            program.logControl().onFolderChosen = [&settings](const QString& folder) {
                settings.setValue(QLatin1String(StartFolder::kSettingsKey), folder);
            };

            // Qt ends the process with exit() when the display connection breaks.
            const ExitGuard exiting([&program] { program.closeOnExit(); });
            try {
                QApplication::exec();
            } catch (...) {
                // The GPS thread writes to the map export on its own: every
                // worker stops before the parts they use go with program.
                WorkerThread::shutdownAll();
                throw;
            }
            // Every worker has its flag set by now; join them while a pending
            // Synchronize can still be abandoned.
            WorkerThread::shutdownAll();
        },
        [](const char* what) { ShowMessageBox(2, "%s", what); });
}
