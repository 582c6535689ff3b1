#include "SharedMapWatcher.h"

#include "coverage/PgCoverageStore.h"
#include "coverage/PgNotifyListener.h"

#include <QSocketNotifier>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <utility>

SharedMapWatcher::SharedMapWatcher(QObject* parent)
    : QObject(parent), m_retry(new QTimer(this))
{
    m_pool.setMaxThreadCount(1);
    m_retry->setSingleShot(true);
    connect(m_retry, &QTimer::timeout, this, &SharedMapWatcher::attempt);
}

SharedMapWatcher::~SharedMapWatcher()
{
    stop();
    m_pool.waitForDone();
}

void SharedMapWatcher::start(const QString& source)
{
    stop();
    m_source = source;
    m_delayMs = kFirstRetryMs;
    m_missed = false;
    attempt();
}

void SharedMapWatcher::stop()
{
    m_retry->stop();
    if (m_attempt) {
        // Its end, still to come, reaches nobody; the listener it makes is dropped with it.
        m_attempt->disconnect(this);
        std::exchange(m_attempt, nullptr)->deleteLater();
    }
    if (m_notifier) {
        // stop() may come from a slot of our own signals, inside the notifier's.
        m_notifier->setEnabled(false);
        std::exchange(m_notifier, nullptr)->deleteLater();
    }
    m_listener.reset();
    m_source.clear();
}

bool SharedMapWatcher::listening() const
{
    return m_listener && m_listener->connected();
}

int SharedMapWatcher::retryMs() const
{
    return m_retry->isActive() ? m_retry->interval() : 0;
}

void SharedMapWatcher::attempt()
{
    m_attempt = new QFutureWatcher<Attempt>(this);
    connect(m_attempt, &QFutureWatcher<Attempt>::finished, this, &SharedMapWatcher::attempted);
    m_attempt->setFuture(QtConcurrent::run(&m_pool, [source = m_source.toStdString()] {
        Attempt a;
        a.listener = std::make_shared<PgNotifyListener>(source, PgCoverageStore::kNotifyChannel);
        std::string why;
        if (!a.listener->connect(why)) {
            a.listener.reset();
            a.error = QString::fromStdString(why);
        }
        return a;
    }));
}

void SharedMapWatcher::attempted()
{
    QFutureWatcher<Attempt>* done = std::exchange(m_attempt, nullptr);
    done->deleteLater();
    Attempt a = done->result();
    if (!a.listener) {
        dropped(a.error);
        return;
    }
    m_listener = std::move(a.listener);
    m_notifier = new QSocketNotifier(m_listener->socket(), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SharedMapWatcher::readable);
    m_delayMs = kFirstRetryMs;
    if (std::exchange(m_missed, false))
        emit reconnected();
    else
        emit connected();
}

void SharedMapWatcher::readable()
{
    std::vector<std::string> payloads;
    std::string why;
    const bool up = m_listener->take(payloads, why);
    if (!up) {
        // libpq has closed the socket: the notifier must go before the event loop polls again.
        m_notifier->setEnabled(false);
        std::exchange(m_notifier, nullptr)->deleteLater();
        m_listener.reset();
    }
    if (!payloads.empty())
        emit changed();
    if (!up && !m_source.isEmpty()) // not stopped by a slot of `changed`
        dropped(QString::fromStdString(why));
}

void SharedMapWatcher::dropped(const QString& why)
{
    const int wait = m_delayMs;
    m_delayMs = std::min(m_delayMs * 2, kLongestRetryMs);
    m_retry->start(wait);
    m_missed = true;
    emit lost(why, wait);
}
