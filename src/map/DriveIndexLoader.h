#pragma once

#include "drive/DriveIndex.h"

#include <QObject>
#include <QString>
#include <QThread>

#include <atomic>
#include <memory>
#include <mutex>

// Builds a drive's index on a worker thread, so a long log does not freeze
// the window: it shows the progress, and the waterfall comes once the index
// is whole. The worker touches no widget; the window takes the index once
// `finished` comes.
class DriveIndexLoader : public QObject
{
    Q_OBJECT
public:
    explicit DriveIndexLoader(QObject* parent = nullptr);
    ~DriveIndexLoader() override; // cancels and joins a running build

    void start(const QString& path);
    void cancel();
    bool running() const;
    double progress() const { return m_progress.load(); } // 0 to 1
    // The index built, or null when the build was cancelled or the log could not be read.
    std::shared_ptr<const DriveIndex> takeIndex();
    // Why there is no index; empty when there is one.
    QString error() const;

signals:
    void finished();

private:
    // QThread::wait, then m_resultMutex: the build's last step is under it, so
    // everything it did is ordered before the caller's next step for thread
    // checkers too.
    void join();

    std::unique_ptr<QThread> m_thread;
    std::atomic<bool> m_cancel{false};
    std::atomic<double> m_progress{0};
    mutable std::mutex m_resultMutex;
    std::shared_ptr<const DriveIndex> m_index; // under m_resultMutex
    QString m_error;                           // under m_resultMutex
    int m_generation = 0;                      // of the latest start
};
