#pragma once

#include <QString>

#include <memory>

class GpsRecord;
class LinkSettings;
class LinkStarter;
class LogControl;
class MapExport;
class MeasurementState;
class TAboutDlg;
class TCom_Form;
class TGPS_Router;
class TLogWarningForm;
class TMain_Form;
class TMapRange_Form;
class TerminationSignals;

// The whole program, assembled: the forms in their creation order and the
// connections between the parts (map range, GPS thread and map export,
// logging hand-off and log control). main() runs it; the end-to-end tests
// build it the same way.
class Program
{
public:
    Program(MeasurementState& state, GpsRecord& gps, LinkSettings& link);
    ~Program();

    // Pre-fills the port choice (a device path for demonstrations).
    void prefillPort(const QString& text);

    TMain_Form& mainForm() { return *m_mainForm; }
    TCom_Form& comForm() { return *m_comForm; }
    TMapRange_Form& mapRangeForm() { return *m_mapRange; }
    TLogWarningForm& logWarningForm() { return *m_logWarning; }
    TAboutDlg& aboutBox() { return *m_about; }
    LogControl& logControl() { return *m_logControl; }
    MapExport& mapExport() { return *m_map; }
    LinkStarter& starter() { return *m_starter; }

private:
    void startGpsThread();

    MeasurementState& m_state;
    GpsRecord& m_gps;
    // The map export outlives the GPS thread that writes through it.
    std::unique_ptr<MapExport> m_map;
    std::unique_ptr<TMain_Form> m_mainForm;
    std::unique_ptr<TAboutDlg> m_about;
    std::unique_ptr<TMapRange_Form> m_mapRange;
    std::unique_ptr<LinkStarter> m_starter;
    std::unique_ptr<TCom_Form> m_comForm;
    std::unique_ptr<TLogWarningForm> m_logWarning;
    std::unique_ptr<LogControl> m_logControl;
    std::unique_ptr<TerminationSignals> m_signals;
};
