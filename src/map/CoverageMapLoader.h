#pragma once

#include "BackgroundRun.h"
#include "CoverageLayer.h"

#include <QObject>
#include <QRectF>
#include <QString>
#include <vector>

// Reads a coverage map on a worker thread, so a map of hundreds of thousands
// of cells does not freeze the window: the window shows the progress and
// takes the layer, filtered and ready to draw, once `finished` comes. The
// worker touches no widget.
class CoverageMapLoader : public QObject
{
    Q_OBJECT
public:
    struct Result
    {
        QString path;
        CoverageLayer layer;              // every cell, on the layer's first choices
        std::vector<double> frequencies;  // MHz, ascending
        QRectF worldBounds;               // TileMath world coordinates of every cell, across ±180° when narrower
        std::size_t beyondBaseMap = 0;    // cells wholly beyond 85.05° N or S, where the base map ends
        QString error;                    // why there is no map; empty when there is one
    };

    explicit CoverageMapLoader(QObject* parent = nullptr);
    ~CoverageMapLoader() override; // stops and joins a running read

    // A read still running is stopped, and its end says nothing.
    void start(const QString& path);
    // Stops a running read and drops a result not yet taken: a newer file came.
    void cancel();
    bool running() const { return m_run.running(); }
    // 0 to 1; below 0 while the map does not say how many cells it holds.
    double progress() const { return m_run.progress(); }
    Result takeResult();

    // Why the map at path could not be read, from the reader's reason, with
    // what to do when a klf-coverage run cut off while adding to it left its
    // journal beside it.
    static QString failureText(const QString& path, const QString& why);

signals:
    void finished();

private:
    Result m_result; // under m_run.resultMutex()
    BackgroundRun m_run; // after what the read writes: joined before it goes
};
