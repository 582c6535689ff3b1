#pragma once

#include "drive/DriveIndex.h"

#include <QFutureWatcher>
#include <QObject>
#include <QString>
#include <QThreadPool>

#include <memory>

// Builds a drive's index off the window thread, so a long log does not
// freeze the window: it shows the progress, and the waterfall comes once the
// index is whole. The build touches no widget and nothing of the loader; its
// index comes back through its future.
class DriveIndexLoader : public QObject
{
    Q_OBJECT
public:
    explicit DriveIndexLoader(QObject* parent = nullptr);
    ~DriveIndexLoader() override; // cancels and waits for a running build

    // A build still running is cancelled and says nothing.
    void start(const QString& path);
    // Cancels a running build; it says nothing.
    void cancel();
    bool running() const { return m_build != nullptr; }
    double progress() const { return m_progress; } // 0 to 1
    // The index built, or null when the log could not be read.
    std::shared_ptr<const DriveIndex> takeIndex() { return std::move(m_index); }
    // Why there is no index; empty when there is one.
    QString error() const { return m_error; }

signals:
    void progressChanged(double done); // 0 to 1
    void finished();

private:
    struct Built
    {
        std::shared_ptr<const DriveIndex> index;
        QString error;
    };

    void built();

    std::shared_ptr<const DriveIndex> m_index;
    QString m_error;
    double m_progress = 0;
    QFutureWatcher<Built>* m_build = nullptr; // the running build's; a new one for each
    QThreadPool m_pool; // one thread: waits for a cancelled build before it goes
};
