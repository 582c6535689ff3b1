#pragma once

#include <QFutureWatcher>
#include <QObject>
#include <QString>
#include <QThreadPool>

#include <memory>

class PgNotifyListener;
class QSocketNotifier;
class QTimer;

// Tells when another upload has committed to a shared coverage map in
// PostgreSQL: the server's notifications, not polling. The listener's socket
// is watched on the window thread; connecting, which may wait for the
// network, runs on a thread of the watcher's own. A connection that drops is
// tried again after a growing delay, and `reconnected` says that uploads may
// have committed unseen meanwhile.
class SharedMapWatcher : public QObject
{
    Q_OBJECT
public:
    static constexpr int kFirstRetryMs = 1000;
    static constexpr int kLongestRetryMs = 30000;

    explicit SharedMapWatcher(QObject* parent = nullptr);
    ~SharedMapWatcher() override; // waits for a connection attempt running

    // Listens to source ("PG:..."), from now on and after every drop.
    void start(const QString& source);
    void stop();
    QString source() const { return m_source; }
    bool listening() const;
    // The wait before the next attempt, ms; 0 while connected or stopped.
    int retryMs() const;

signals:
    // Listening since start(), nothing missed.
    void connected();
    // Uploads committed: one signal for all the notifications read at once.
    void changed();
    // The connection dropped, or an attempt failed; another comes in retryMs.
    void lost(const QString& why, int retryMs);
    // Listening after `lost` (even when start()'s first attempt failed):
    // uploads may have committed untold meanwhile.
    void reconnected();

private:
    struct Attempt
    {
        std::shared_ptr<PgNotifyListener> listener;
        QString error;
    };

    void attempt();
    void attempted();
    void readable();
    void dropped(const QString& why);

    QString m_source;
    std::shared_ptr<PgNotifyListener> m_listener;
    QSocketNotifier* m_notifier = nullptr;
    QFutureWatcher<Attempt>* m_attempt = nullptr; // the running attempt's; a new one for each
    QTimer* m_retry;
    int m_delayMs = kFirstRetryMs;
    bool m_missed = false; // lost since start(): uploads may have gone untold
    QThreadPool m_pool; // one thread: waits for an attempt before it goes
};
