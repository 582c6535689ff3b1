#pragma once

#include "drive/DriveIndex.h"

#include <QObject>
#include <QString>
#include <QThread>

#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

// Reads stretches of a drive's reports on a worker thread, so the window
// never waits on the disk while the time slider moves. Requests coalesce: a
// slider dragged across the drive asks for many stretches, and only the
// newest one waiting is read. The worker touches no widget; the window takes
// each stretch once `ready` comes.
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
    ~DriveSeeker() override; // stops and joins the worker

    // The drive to read; requests for another drive are dropped.
    void setDrive(const QString& path, std::shared_ptr<const DriveIndex> index);
    // Records from .. to - 1; replaces a request not yet begun.
    void request(uint64_t from, uint64_t to);
    // The newest stretch read, if one came since the last call.
    std::optional<Stretch> take();

signals:
    void ready();

private:
    struct Request
    {
        uint64_t from = 0;
        uint64_t to = 0;
        int drive = 0; // generation of setDrive
    };

    void run();

    std::unique_ptr<QThread> m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;                         // under m_mutex
    std::optional<Request> m_request;            // under m_mutex
    std::optional<Stretch> m_result;             // under m_mutex
    QString m_path;                              // under m_mutex
    std::shared_ptr<const DriveIndex> m_index;   // under m_mutex
    int m_drive = 0;                             // under m_mutex
};
