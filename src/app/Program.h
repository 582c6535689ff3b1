#pragma once

#include "platform/NamedMutex.h"

#include <QString>

#include <functional>
#include <memory>

class DeviceRecord;
class GpsRecord;
class GpsScreenView;
class StatusFieldsView;
class LinkSettings;
class LinkStarter;
class LogControl;
class MapExport;
class SampleBuffers;
class ScanHistoryControls;
class TAboutDlg;
class TCom_Form;
class TGPS_Router;
class TLogWarningForm;
class TMain_Form;
class TMapRange_Form;
class TerminationSignals;

// The whole program, assembled from the shared records main() creates: the
// forms in their creation order, the workers (the main window's receiver
// displays, the link and status threads of the link starter, the GPS thread
// here) and the connections between the parts. Each part is given what it
// reaches in the others when it is made; this is the one place that joins
// them. The end-to-end tests build it the same way.
//
// The threads keep the design's names:
//   TCom_Router   the link thread: reads the port, cuts packets, feeds the decoder (src/link)
//   TR_Router     a receiver display thread, one per receiver (src/display)
//   TGPS_Router   the GPS screen thread, which also exports the map point (src/gps)
//   TMain_Router  the status thread: status fields, device clock, GPS-loss alarm (src/app)
//   TLog_Router   the log writer (src/log)
// and so do the forms: TMain_Form the main window, TCom_Form the port
// dialog, TMapRange_Form the Map dialog, TLogWarningForm the log warning,
// TAboutDlg the about box.
class Program
{
public:
    // beep: the status thread's alarm; the desktop's beep when empty.
    Program(DeviceRecord& device, SampleBuffers& samples, GpsRecord& gps, LinkSettings& link,
            std::function<void()> beep = {});
    ~Program();

    // Pre-fills the port choice (a device path for demonstrations).
    void prefillPort(const QString& text);

    // The close for an exit() under way, with no display to draw on: the
    // flags File > Exit sets (touching no window), every worker joined, the
    // log written out and closed, and the map block and DATAMUTEX removed.
    void closeWithoutDisplay();
    // main's exit guard: that close, then a line on standard error saying
    // whether the display was lost or something else ended the program.
    void closeOnExit();

    TMain_Form& mainForm() { return *m_mainForm; }
    TCom_Form& comForm() { return *m_comForm; }
    TMapRange_Form& mapRangeForm() { return *m_mapRange; }
    TLogWarningForm& logWarningForm() { return *m_logWarning; }
    LogControl& logControl() { return *m_logControl; }
    MapExport& mapExport() { return *m_map; }
    LinkStarter& starter() { return *m_starter; }
    ScanHistoryControls& scanHistory() { return *m_scanHistory; }
    // Null until the port dialog has started it.
    TGPS_Router* gpsThread() const { return m_gpsThread; }

private:
    void startGpsThread();

    // Other programs find it by name while this one runs.
    NamedMutex m_dataMutex{"DATAMUTEX"};
    DeviceRecord& m_device;
    GpsRecord& m_gps;
    TGPS_Router* m_gpsThread = nullptr; // never freed: joined at exit like every worker
    // The map export and the GPS view outlive the GPS thread that uses them.
    std::unique_ptr<MapExport> m_map;
    std::unique_ptr<GpsScreenView> m_gpsView;
    std::unique_ptr<StatusFieldsView> m_statusView;
    std::unique_ptr<TMain_Form> m_mainForm;
    std::unique_ptr<TAboutDlg> m_about;
    std::unique_ptr<TMapRange_Form> m_mapRange;
    std::unique_ptr<LinkStarter> m_starter;
    std::unique_ptr<TCom_Form> m_comForm;
    std::unique_ptr<TLogWarningForm> m_logWarning;
    std::unique_ptr<LogControl> m_logControl;
    std::unique_ptr<TerminationSignals> m_signals;
    ScanHistoryControls* m_scanHistory = nullptr; // owned by the main form
};
