#pragma once

#include "BackgroundRun.h"
#include "drive/DriveIndex.h"

#include <QObject>
#include <QString>
#include <memory>

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
    void cancel() { m_run.stop(); }
    bool running() const { return m_run.running(); }
    double progress() const { return m_run.progress(); } // 0 to 1
    // The index built, or null when the build was cancelled or the log could not be read.
    std::shared_ptr<const DriveIndex> takeIndex();
    // Why there is no index; empty when there is one.
    QString error() const;

signals:
    void finished();

private:
    std::shared_ptr<const DriveIndex> m_index; // under m_run.resultMutex()
    QString m_error;                           // under m_run.resultMutex()
    BackgroundRun m_run; // after what the build writes: joined before it goes
};
