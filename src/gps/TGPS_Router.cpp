#include "TGPS_Router.h"

#include "protocol/GpsRecord.h"
#include "gps/GpsView.h"
#include "gps/MapExport.h"
#include "protocol/TGPS.h"
#include "protocol/DeviceRecord.h"

TGPS_Router::TGPS_Router(GpsRecord& gps, DeviceRecord& device, GpsView* view, MapExport* map, bool createSuspended)
    : m_gps(gps)
    , m_device(device)
    , m_view(view)
    , m_map(map)
{
    if (!createSuspended)
        start();
}

TGPS_Router::~TGPS_Router()
{
    Terminate();
    wait();
}

void TGPS_Router::Execute()
{
    while (!Terminated()) {
        if (waitAny({&m_gps.gpsEvent, &m_stop}, kWaitMs) != 0)
            continue;
        if (Terminated())
            break;
        // Reset before the record is taken: a message decoded from here on
        // sets the event again and gets its own refresh and map point.
        m_gps.gpsEvent.reset();
        uint64_t decoded = 0;
        const TGPS gps = m_gps.copy(decoded);
        // Already shown and exported: the message that set the event again
        // was in the previous copy.
        if (decoded == m_shown)
            continue;
        m_shown = decoded;
        if (!Synchronize([&] { UpdateScreen(gps); }))
            break; // the program is closing
        SendMapData(gps);
    }
}

void TGPS_Router::terminateRequested()
{
    m_stop.set();
}

void TGPS_Router::UpdateScreen(const TGPS& gps)
{
    if (m_view)
        m_view->showGps(gps);
    if (screenShown)
        screenShown();
}

void TGPS_Router::SendMapData(const TGPS& gps)
{
    if (m_map)
        m_map->SendMapData(gps, m_device.serialNumberText());
}
