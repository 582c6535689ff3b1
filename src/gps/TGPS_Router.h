#pragma once

#include "platform/Event.h"
#include "platform/WorkerThread.h"

#include <cstdint>
#include <functional>

class DeviceRecord;
class GpsRecord;
class GpsView;
class MapExport;
class TGPS;

// The GPS thread. It sleeps until the decoder signals a GPS
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
    // view and map may be null (nothing shown, no export); both outlive the thread.
    TGPS_Router(GpsRecord& gps, DeviceRecord& device, GpsView* view, MapExport* map, bool createSuspended = false);
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
    void terminateRequested() override;

private:
    GpsRecord& m_gps;
    DeviceRecord& m_device;
    GpsView* m_view;
    MapExport* m_map;
    uint64_t m_shown = 0; // GpsRecord's message count at the last refresh
    // Wakes the thread at once to stop, instead of at its next time-out.
    Event m_stop;
};
