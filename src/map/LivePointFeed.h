#pragma once

#include "MapPoint.h"
#include "protocol/RssiPalette.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>
#include <optional>

class MapPointReader;

// Watches the logger's map block: woken by ZKT_MAP_UPDATE on the session bus
// or, without a bus, by a 200 ms timer; reads each point whole through the
// block's write counter and hands on every new one. The block may be missing
// (no logger yet, or one that removed it at exit) or replaced by a restarted
// logger; both are normal and only change which block is read.
class LivePointFeed : public QObject
{
    Q_OBJECT
public:
    static constexpr int kPollMs = 200;

    struct Point
    {
        MapPoint point;      // colour set from the range below
        QString serial;      // the device's serial number, empty until reported
        RssiPalette palette; // the block's colour range
        uint32_t sequence = 0;
    };

    explicit LivePointFeed(QString blockName = QStringLiteral("ZKTPELLORN"), QObject* parent = nullptr);
    ~LivePointFeed() override;

    // Subscribes to the signal, or polls when `forcePoll` or there is no bus.
    void start(bool forcePoll = false);
    void stop();
    bool polling() const { return m_timer.isActive(); }
    bool running() const { return m_running; }

public slots:
    void check();

signals:
    void pointArrived(const LivePointFeed::Point& point);

private:
    bool blockReplaced();

    QString m_blockName; // with its leading '/'
    std::unique_ptr<MapPointReader> m_reader;
    unsigned long long m_inode = 0;
    QTimer m_timer;
    bool m_running = false;
    bool m_subscribed = false;
    struct Seen
    {
        uint32_t sequence;
        double latitude, longitude;
        int rssi, rangeMin, rangeMax;
        std::string serial;
        bool operator==(const Seen&) const = default;
    };
    std::optional<Seen> m_last;
};
