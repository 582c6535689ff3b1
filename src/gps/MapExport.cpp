#include "MapExport.h"

#include "protocol/TGPS.h"
#include "platform/Broadcast.h"

#include <cmath>

MapExport::MapExport(std::string blockName, std::shared_ptr<Broadcast> broadcast)
    : m_blockName(std::move(blockName))
    , m_broadcast(std::move(broadcast))
{
    SharedMemory::clearLeftover(m_blockName, MapBlock::kSize);
}

MapExport::~MapExport()
{
    if (isMapped()) {
        m_memory.reset();
        SharedMemory::unlink(m_blockName);
    }
}

std::shared_ptr<Broadcast> MapExport::defaultBroadcast()
{
    return std::make_shared<Broadcast>(QString::fromLatin1(kBusPath),
                                       QString::fromLatin1(kBusInterface),
                                       QString::fromLatin1(kSignal));
}

bool MapExport::SendMapData(const TGPS& gps, const std::string& serialNumber)
{
    // Written this way so that NaN fails too.
    if (!(std::abs(gps.Latitude) <= 90.0 && std::abs(gps.Longitude) <= 180.0))
        return false;
    if (!m_memory || !m_memory->isMapped()) {
        auto memory = std::make_unique<SharedMemory>(m_blockName, MapBlock::kSize);
        if (!memory->open()) {
            if (memory->ownedByOther() && !m_refusalTold) {
                m_refusalTold = true;
                if (onRefused)
                    onRefused("Map Block " + m_blockName + " Belongs To Another User, No Map Points Sent!!!");
            }
            return false;
        }
        m_memory = std::move(memory);
        m_mapped.store(true);
        ++m_mappingsCreated;
    }

    MapBlock::Point point;
    point.latitude = gps.Latitude;
    point.longitude = gps.Longitude;
    point.rssi = m_mapRssi.load();
    point.rangeMin = m_rangeMin.load();
    point.rangeMax = m_rangeMax.load();
    point.serial = serialNumber;
    MapBlock::write(m_memory->data(), point);

    if (m_broadcast)
        m_broadcast->send();
    return true;
}

void MapExport::SetMapRSSI(int receiver, int16_t value)
{
    if (receiver == m_mapReceiver.load())
        m_mapRssi.store(value);
}

void MapExport::setRange(int16_t minimum, int16_t maximum)
{
    m_rangeMin.store(minimum);
    m_rangeMax.store(maximum);
}

bool MapExport::isMapped() const
{
    return m_mapped.load();
}
