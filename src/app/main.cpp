#include "AppStyle.h"
#include "Program.h"
#include "ShowMessageBox.h"

#include "gps/GpsRecord.h"
#include "link/LinkSettings.h"
#include "platform/WorkerThread.h"
#include "protocol/MeasurementState.h"

#include <QApplication>

#include <exception>

int main(int argc, char** argv)
{
    // The shared record comes first: every form and thread refers to it.
    MeasurementState& state = measurementState();

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ZKT Tavrix DL"));
    AppStyle::installFontSubstitutions();

    try {
        Program program(state, gpsRecord(), linkSettings());
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
