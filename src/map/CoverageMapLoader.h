#pragma once

#include "CoverageLayer.h"

#include <QObject>
#include <QRectF>
#include <QString>
#include <QThread>

#include <atomic>
#include <memory>
#include <mutex>
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
        QRectF worldBounds;               // TileMath world coordinates of every cell
        QString error;                    // why there is no map; empty when there is one
    };

    explicit CoverageMapLoader(QObject* parent = nullptr);
    ~CoverageMapLoader() override; // stops and joins a running read

    // A read still running is stopped, and its end says nothing.
    void start(const QString& path);
    // Stops a running read and drops a result not yet taken: a newer file came.
    void cancel();
    bool running() const;
    // 0 to 1; below 0 while the map does not say how many cells it holds.
    double progress() const { return m_progress.load(); }
    Result takeResult();

signals:
    void finished();

private:
    // QThread::wait, then m_resultMutex: the read's last step is under it, so
    // everything the read did is ordered before the caller's next step for
    // thread checkers too (Qt's join is invisible to them).
    void join();

    std::unique_ptr<QThread> m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<double> m_progress{0};
    std::mutex m_resultMutex;
    Result m_result;      // under m_resultMutex
    int m_generation = 0; // of the latest start, or the cancel after it
};
