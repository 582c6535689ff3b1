#pragma once

#include <QObject>
#include <QString>

#include <memory>

class LivePointFeed;
class MapView;

// The live map in tavrix-map: the logger's newest points, read from its map
// block as they come, drawn on the view in the block's colour range.
class LiveController : public QObject
{
    Q_OBJECT
public:
    LiveController(MapView* view, QString blockName, QObject* parent = nullptr);
    ~LiveController() override;

    // Clears the view and follows the block: on ZKT_MAP_UPDATE, or polling
    // when `poll` or there is no session bus.
    void start(bool poll);
    // The dots stay, no longer live.
    void stop();
    bool running() const;
    bool polling() const;
    LivePointFeed* feed() const { return m_feed.get(); }
    // The device's serial number from the newest point; empty until one came.
    QString serial() const { return m_serial; }

signals:
    void pointShown();
    // Why the block holds no usable point.
    void blockRejected(const QString& reason);

private:
    MapView* m_view;
    QString m_blockName;
    std::unique_ptr<LivePointFeed> m_feed;
    QString m_serial;
};
