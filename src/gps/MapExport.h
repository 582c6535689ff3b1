#pragma once

#include "gps/MapBlock.h"
#include "platform/SharedMemory.h"
#include "protocol/RssiPalette.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class Broadcast;
class TGPS;

// Feeds the mapping application: one map point per GPS refresh, written into
// the shared block and then announced on the session bus.
//
// The block is created at the first export, not before, and stays mapped for
// the run; it is removed when the export goes at the end of the run, as a
// named mapping disappears with its last handle on Windows. A block left by
// an earlier run is cleared when the export is made, so no reader takes the
// last run's position and serial number for this run's. When the block cannot
// be created or mapped, nothing is written or announced and the next export
// tries again; a block another user owns is never written (onRefused says so,
// once). A position that cannot be on Earth (beyond 90 degrees of latitude or
// 180 of longitude) is not exported.
//
// The settings of the map range dialog and the chosen receiver's RSSI are
// written on the window thread and read here on the GPS thread, so they are
// mirrored into atomics.
class MapExport
{
public:
    static constexpr char kBusPath[] = "/com/zkt/Tavrix";
    static constexpr char kBusInterface[] = "com.zkt.Tavrix.Map";
    static constexpr char kSignal[] = "ZKT_MAP_UPDATE";

    // blockName is injectable for tests; broadcast may be null (no announcement).
    explicit MapExport(std::string blockName = MapBlock::kName,
                       std::shared_ptr<Broadcast> broadcast = defaultBroadcast());
    ~MapExport(); // removes the block if this export mapped it
    // The same now, for an exit that destroys nothing; the exporting thread
    // must be stopped. A later export makes the block again.
    void removeBlock();
    MapExport(const MapExport&) = delete;
    MapExport& operator=(const MapExport&) = delete;

    // Writes one point from gps (a consistent copy) and announces it.
    // Returns false when the block is not available.
    bool SendMapData(const TGPS& gps, const std::string& serialNumber);

    // The receiver display's map value; kept only for the chosen receiver.
    void SetMapRSSI(int receiver, int16_t value);

    void setMapReceiver(int receiver) { m_mapReceiver.store(receiver); }
    int mapReceiver() const { return m_mapReceiver.load(); }
    void setRange(int16_t minimum, int16_t maximum);
    int16_t MapRSSI() const { return m_mapRssi.load(); }
    int16_t rangeMin() const { return m_rangeMin.load(); }
    int16_t rangeMax() const { return m_rangeMax.load(); }

    // Safe on any thread: the block is made on the exporting thread.
    bool isMapped() const;
    int mappingsCreated() const { return m_mappingsCreated.load(); }
    const std::string& blockName() const { return m_blockName; }

    static std::shared_ptr<Broadcast> defaultBroadcast();

    // Called once, from the exporting thread, with the text to show when the
    // block belongs to another user. Set before the first export.
    std::function<void(const std::string& message)> onRefused;

private:
    std::string m_blockName;
    std::shared_ptr<Broadcast> m_broadcast;
    std::unique_ptr<SharedMemory> m_memory; // null until the first export; exporting thread only
    std::atomic<bool> m_mapped{false};      // m_memory is set, for other threads
    std::atomic<int> m_mappingsCreated{0};
    bool m_refusalTold = false;

    // dBm; "no data" until the chosen receiver's display reports, never the
    // strongest possible reading.
    std::atomic<int16_t> m_mapRssi{-120};
    std::atomic<int> m_mapReceiver{0};    // 0 = R1, 1 = R2
    std::atomic<int16_t> m_rangeMin{RssiPalette::kDefaultMinimum}; // dBm
    std::atomic<int16_t> m_rangeMax{RssiPalette::kDefaultMaximum}; // dBm
};
