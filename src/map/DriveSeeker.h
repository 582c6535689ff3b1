#pragma once

#include "drive/DriveIndex.h"

#include <QFutureWatcher>
#include <QObject>
#include <QString>
#include <QThreadPool>

#include <memory>
#include <optional>
#include <vector>

// Reads stretches of a drive's reports off the window thread, so the window
// never waits on the disk while the time slider moves. Requests coalesce: a
// slider dragged across the drive asks for many stretches, and only the
// newest one waiting is read once the read under way ends. The reads touch
// no widget; the window takes each stretch once `ready` comes.
class DriveSeeker : public QObject
{
    Q_OBJECT
public:
    struct Stretch
    {
        uint64_t from = 0; // first record
        uint64_t to = 0;   // past the last record
        bool ok = false;   // the file could be read
        std::vector<DriveReports::Report> reports;
    };

    explicit DriveSeeker(QObject* parent = nullptr);
    ~DriveSeeker() override; // waits for a read under way

    // The drive to read; a stretch of the drive before never arrives.
    void setDrive(const QString& path, std::shared_ptr<const DriveIndex> index);
    // Records from .. to - 1; replaces a request not yet begun.
    void request(uint64_t from, uint64_t to);
    // The newest stretch read, if one came since the last call.
    std::optional<Stretch> take();

signals:
    void ready();

private:
    struct Log; // the drive's file, open from one read to the next

    void readNext();
    void stretchRead();

    std::shared_ptr<const DriveIndex> m_index;
    std::shared_ptr<Log> m_log;
    std::optional<std::pair<uint64_t, uint64_t>> m_waiting; // records from, to
    std::optional<Stretch> m_result;
    QFutureWatcher<Stretch>* m_reading = nullptr; // the read under way's; a new one for each
    QThreadPool m_pool; // one thread: one read at a time, in the order asked
};
