#include "AppStyle.h"
#include "LinkStarter.h"
#include "ShowMessageBox.h"
#include "TAboutDlg.h"
#include "TCom_Form.h"
#include "TMain_Form.h"
#include "gps/GpsRecord.h"
#include "link/LinkSettings.h"
#include "platform/WorkerThread.h"
#include "protocol/MeasurementState.h"

#include <QApplication>
#include <QComboBox>

#include <exception>

int main(int argc, char** argv)
{
    // The shared record comes first: every form and thread refers to it.
    MeasurementState& state = measurementState();

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ZKT Tavrix DL"));
    AppStyle::installFontSubstitutions();

    try {
        // Its creation builds the receiver displays and starts their threads;
        // it stays hidden until a port is chosen.
        TMain_Form mainForm(state);
        mainForm.setWindowState(Qt::WindowMinimized);

        TAboutDlg about;
        mainForm.setAboutBox(&about);

        // Integration: the map range dialog (TMapRange_Form) is created here
        // and its MapClick joins mainForm.onMapClick.

        LinkStarter starter(state, gpsRecord(), linkSettings());
        starter.window = &mainForm;
        starter.statusControls = mainForm.statusControls();
        // Integration: starter.configureDecoder (logging hand-off),
        // starter.statusHooks.fileSizeKB (log file size) and
        // starter.startGpsThread (TGPS_Router) are filled here.

        TCom_Form comForm(starter, &mainForm);
        // A device path for demonstrations; it only pre-fills the choice.
        const QStringList args = QApplication::arguments();
        if (args.size() > 1)
            comForm.portChoice()->setEditText(args.at(1));
        comForm.show();

        // Integration: the log warning dialog (TLogWarningForm) is created
        // here, and the log control fills mainForm.onLogFileClick,
        // onLogModeClick and onClosing.

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
