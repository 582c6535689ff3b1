#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

// SIGTERM, SIGINT and SIGHUP (a logout, kill, Ctrl+C in the terminal) as a
// request to close: the handler only writes to a pipe, and onSignal runs on
// the thread that made this object, from its event loop, where a normal close
// can run. A second signal while closing ends the process the default way, so
// a close that hangs can still be stopped. One instance at a time.
class TerminationSignals : public QObject
{
    Q_OBJECT
public:
    explicit TerminationSignals(std::function<void()> onSignal, QObject* parent = nullptr);
    ~TerminationSignals() override; // the default handling comes back

    bool installed() const { return m_notifier != nullptr; }

private:
    void received();

    std::function<void()> m_onSignal;
    QSocketNotifier* m_notifier = nullptr;
    int m_fds[2] = {-1, -1};
};
