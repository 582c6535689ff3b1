#pragma once

#include <QImage>
#include <QObject>
#include <QString>

// A base map. `tile` never waits for a slow source: it answers from what it
// already has, asks for the rest and announces each tile when it comes. A
// tile it cannot get stays null and the map draws its grid there.
class TileSource : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    virtual QImage tile(int zoom, int x, int y) = 0;
    virtual QString attribution() const = 0;
    virtual int maxZoom() const { return 19; }
    // Tiles wanted earlier but no longer on screen need not be fetched.
    virtual void forgetPending() {}

signals:
    void tileReady(int zoom, int x, int y);
};
