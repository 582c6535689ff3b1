#include "Program.h"

#include "AccessibleNames.h"
#include "DisplayConnection.h"
#include "LinkStarter.h"
#include "ScanHistoryControls.h"
#include "StatusFieldsView.h"
#include "TAboutDlg.h"
#include "TCom_Form.h"
#include "TMain_Form.h"
#include "ui_TMain_Form.h"

#include "display/TR_Router.h"
#include "gps/GpsScreen.h"
#include "gps/GpsScreenView.h"
#include "gps/MapExport.h"
#include "gps/TGPS_Router.h"
#include "gps/TMapRange_Form.h"
#include "log/LogControl.h"
#include "log/LogControlView.h"
#include "log/TLogWarningForm.h"
#include "platform/TerminationSignals.h"
#include "platform/WorkerThread.h"
#include "protocol/Decoder.h"
#include "app/TMain_Router.h"
#include "link/TCom_Router.h"
#include "protocol/DeviceRecord.h"

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>

#include <cstdio>

Program::Program(DeviceRecord& device, SampleBuffers& samples, GpsRecord& gps, LinkSettings& link,
                 std::function<void()> beep)
    : m_device(device)
    , m_gps(gps)
    , m_map(std::make_unique<MapExport>())
{
    GpsScreen::substituteFonts();

    // The main window's commands and close, carried out by parts made after
    // it: none runs before the event loop does.
    TMain_Form::Hooks hooks;
    hooks.mapClick = [this] { m_mapRange->MapClick(); };
    hooks.logFileClick = [this] { m_logControl->btnLogFileClick(); };
    hooks.logModeClick = [this] { m_logControl->btnLogModeClick(); };
    // The port dialog starts the status thread on the window thread, where the timer ticks.
    hooks.tickStatus = [this] {
        if (TMain_Router* status = m_starter->statusThread())
            status->statusTickEvent.set();
    };
    hooks.terminateLink = [this] { m_starter->terminateLink(); };
    // After the receiver displays: the GPS thread, then the status thread.
    hooks.terminateWorkers = [this] {
        if (m_gpsThread)
            m_gpsThread->Terminate();
        if (TMain_Router* status = m_starter->statusThread())
            status->Terminate();
    };
    hooks.closing = [this] { m_logControl->shutdown(); };
    // The map value of each receiver display goes to the map export, which
    // keeps it only for the receiver the map range dialog selects.
    hooks.receiverDisplays.mapValue = [this](int receiver, int16_t value) { m_map->SetMapRSSI(receiver, value); };
    // The scan history's menu entries go into the form, so it comes after.
    hooks.receiverDisplays.reports = [this](int receiver, const std::vector<SampleReport>& reports,
                                            const ReceiverSettings& now) {
        if (m_scanHistory)
            m_scanHistory->addReports(receiver, reports, now);
    };

    // Its creation builds the receiver displays and starts their threads; it
    // stays hidden and minimised until a port is chosen.
    m_mainForm = std::make_unique<TMain_Form>(
        device, samples, std::move(hooks),
        QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/" TAVRIX_DOC_FROM_BIN)));
    m_mainForm->setWindowState(Qt::WindowMinimized);
    Ui::TMain_Form& ui = m_mainForm->form();
    auto* screen = new GpsScreen(ui.GPSPanel);
    screen->move(0, 0);
    GpsScreen::fitFieldFonts(m_mainForm.get());

    m_about = std::make_unique<TAboutDlg>();
    m_mainForm->setAboutBox(m_about.get());

    m_mapRange = std::make_unique<TMapRange_Form>();
    m_mapRange->attach(m_map.get());
    m_scanHistory = new ScanHistoryControls(*m_mainForm);

    // Its hooks reach the log control, made after it: none runs before the
    // port dialog starts the link.
    LinkStarter::Hooks linkHooks;
    linkHooks.configureDecoder = [this](Decoder& decoder) {
        decoder.setLoggingHandOff([this](const PacketRecord& packet) { m_logControl->handOff(packet); });
    };
    linkHooks.status.fileSizeKB = [this] { return m_logControl->fileSizeKB(); };
    linkHooks.status.beep = beep ? std::move(beep) : [] { QApplication::beep(); };
    linkHooks.startGpsThread = [this] { startGpsThread(); };
    m_statusView = std::make_unique<StatusFieldsView>(m_mainForm->statusControls());
    m_starter = std::make_unique<LinkStarter>(device, samples, gps, link, m_mainForm.get(), m_statusView.get(),
                                              std::move(linkHooks));

    m_comForm = std::make_unique<TCom_Form>(*m_starter, m_mainForm.get());
    m_comForm->show();

    m_logWarning = std::make_unique<TLogWarningForm>(device);
    m_logControl = std::make_unique<LogControl>(
        device, std::make_unique<LogControlView>(ui.LogFile, ui.btnLogMode, m_mainForm.get(), m_logWarning.get()),
        [this] {
            if (Decoder* decoder = m_starter->decoder())
                decoder->requestSettings();
        });
    m_logWarning->onConfirmed = [this] { m_logControl->resetUnloggedScans(); };

    m_map->onRefused = [this](const std::string& message) { m_mainForm->postWarning(QString::fromStdString(message)); };
    // A logout, kill or Ctrl+C closes the program as File > Exit does, so the
    // log is drained and the map block and DATAMUTEX are removed.
    m_signals = std::make_unique<TerminationSignals>([this] {
        m_mainForm->close();
        QCoreApplication::quit();
    });
    for (QWidget* form : std::initializer_list<QWidget*>{m_mainForm.get(), m_about.get(), m_mapRange.get(),
                                                         m_comForm.get(), m_logWarning.get()})
        AccessibleNames::fromHints(form);
}

// Workers are joined (WorkerThread::shutdownAll) before the forms they
// update go away.
Program::~Program() = default;

void Program::closeWithoutDisplay()
{
    m_mainForm->FormClose();
    WorkerThread::shutdownAll();
    m_map->removeBlock();
    m_dataMutex.remove();
}

void Program::closeOnExit()
{
    // Asked first: the close leaves the connection alone, but says nothing
    // once the display is gone.
    const bool displayLost = DisplayConnection::lost();
    closeWithoutDisplay();
    std::fputs(displayLost ? "tavrix-dl: the connection to the display was lost; the log is closed and the program ends\n"
                           : "tavrix-dl: exit() was called while the program ran; the log is closed and the program ends\n",
               stderr);
}

void Program::prefillPort(const QString& text)
{
    m_comForm->portChoice()->setEditText(text);
}

void Program::startGpsThread()
{
    m_gpsView = std::make_unique<GpsScreenView>(m_mainForm.get());
    m_gpsThread = new TGPS_Router(m_gps, m_device, m_gpsView.get(), m_map.get(), true);
    // On the window thread, like the status thread's alarm.
    m_gpsThread->screenShown = [this] {
        if (TMain_Router* status = m_starter->statusThread())
            status->gpsLossAlerted.store(0);
    };
    m_gpsThread->start();
}
