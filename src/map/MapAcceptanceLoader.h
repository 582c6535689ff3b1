#pragma once

#include "coverage/AcceptanceInput.h"

#include <QFutureWatcher>
#include <QObject>
#include <QString>
#include <QThreadPool>

#include <optional>

// Reads a coverage map's histograms into acceptance tiles off the window
// thread, as klf-report reads a map: tiles of the map's cell size unless a
// size is asked for, and a size smaller than the cells refused. One read at
// a time: a read asked for while one runs comes once after it, so a burst
// of uploads to a shared map costs two reads, never a pile of them.
class MapAcceptanceLoader : public QObject
{
    Q_OBJECT
public:
    struct Result
    {
        QString source;
        AcceptanceInput input;
        double tileMetres = 0;
        QString error; // why there are no tiles; empty when there are
    };

    explicit MapAcceptanceLoader(QObject* parent = nullptr);
    ~MapAcceptanceLoader() override; // drops a running read and waits for it

    // tileMetres: asked for; none: the map's cell size. A read running for
    // another source is dropped; for the same one, it is read again after.
    void start(const QString& source, std::optional<double> tileMetres);
    // Drops a running read and its result: the map is no longer shown.
    void cancel();
    // A read runs or is waiting to.
    bool busy() const { return m_read != nullptr; }
    Result takeResult();

signals:
    // A result is ready; another read may follow at once.
    void finished();

private:
    void read();
    void launch();

    QString m_source;
    std::optional<double> m_tileMetres;
    bool m_again = false;
    Result m_result;
    QFutureWatcher<Result>* m_read = nullptr; // the running read's; a new one for each
    QThreadPool m_pool; // one thread: a dropped read ends before the next begins
};
