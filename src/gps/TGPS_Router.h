#pragma once

#include "platform/WorkerThread.h"

#include <QPointer>

#include <cstdint>
#include <functional>
#include <vector>

class DeviceRecord;
class GpsRecord;
class GpsScreen;
class MapExport;
class QWidget;
class TGPS;

// Unit Gps_router: the GPS thread. It sleeps until the decoder signals a GPS
// message, resets gpsEvent, takes the record, has the window thread refresh
// the GPS screen, then exports the map point on this thread. A message
// decoded during a refresh sets the event again, so the last message is
// always shown and exported; messages that arrive faster than the refreshes
// coalesce into the next one.
//
// Both steps work on one copy of the record taken under its lock, so neither
// ever sees a message the decoder is halfway through.
class TGPS_Router : public WorkerThread
{
    Q_OBJECT
public:
    // window is the root under which gbGPS, the edGPS* edits and the GPS
    // screen's labels are found by object name; call on the window thread.
    // map may be null (no export).
    TGPS_Router(GpsRecord& gps, DeviceRecord& device, QWidget* window, MapExport* map,
                bool createSuspended = false);
    ~TGPS_Router() override;

    // Window thread only.
    void UpdateScreen(const TGPS& gps);
    // This thread, after the screen was refreshed.
    void SendMapData(const TGPS& gps);

    static constexpr int kWaitMs = 1000;

    // Window thread, after each refresh (the status display's GPS-loss
    // alarm rearms); set before start.
    std::function<void()> screenShown;

protected:
    void Execute() override;

private:
    struct Target
    {
        const char* name;
        QPointer<QWidget> widget; // QLabel or QLineEdit; null when the window lacks it
    };

    GpsRecord& m_gps;
    DeviceRecord& m_device;
    MapExport* m_map;
    uint64_t m_shown = 0; // GpsRecord's message count at the last refresh
    QPointer<QWidget> m_gbGPS;
    QPointer<QWidget> m_edGPSStatus;
    QPointer<GpsScreen> m_screen;
    std::vector<Target> m_targets; // rows of GpsScreenText, by object name
};
