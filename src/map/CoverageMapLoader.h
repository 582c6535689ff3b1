#pragma once

#include "CoverageLayer.h"

#include <QFutureWatcher>
#include <QObject>
#include <QRectF>
#include <QString>
#include <QThreadPool>
#include <vector>

// Reads a coverage map off the window thread, so a map of hundreds of
// thousands of cells does not freeze the window: the window shows the
// progress and takes the layer, filtered and ready to draw, once `finished`
// comes. The read touches no widget and nothing of the loader.
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
    ~CoverageMapLoader() override; // cancels and waits for a running read

    // A read still running is stopped, and its end says nothing.
    void start(const QString& path);
    // Stops a running read and drops a result not yet taken: a newer file came.
    void cancel();
    bool running() const { return m_read != nullptr; }
    // 0 to 1; below 0 while the map does not say how many cells it holds.
    double progress() const { return m_progress; }
    Result takeResult();

    // Why the map at path could not be read, from the reader's reason, with
    // what to do when a klf-coverage run cut off while adding to it left its
    // journal beside it.
    static QString failureText(const QString& path, const QString& why);

signals:
    // As progress() says; below 0 while the number of cells is unknown.
    void progressChanged(double done);
    void finished();

private:
    void read();

    Result m_result;
    double m_progress = 0;
    QFutureWatcher<Result>* m_read = nullptr; // the running read's; a new one for each
    QThreadPool m_pool; // one thread: waits for a cancelled read before it goes
};
