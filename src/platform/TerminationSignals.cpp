#include "TerminationSignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
volatile sig_atomic_t writeEnd = -1;

void restoreDefaults()
{
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int s : kSignals)
        sigaction(s, &action, nullptr);
}

// Async-signal-safe only: write and sigaction.
void onTerminationSignal(int sig)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(sig);
    if (writeEnd >= 0)
        (void)!::write(writeEnd, &byte, 1);
    restoreDefaults();
    errno = saved;
}

} // namespace

TerminationSignals::TerminationSignals(std::function<void()> onSignal, QObject* parent)
    : QObject(parent)
    , m_onSignal(std::move(onSignal))
{
    if (::pipe2(m_fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    writeEnd = m_fds[1];
    m_notifier = new QSocketNotifier(m_fds[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignals::received);

    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int s : kSignals)
        sigaction(s, &action, nullptr);
}

TerminationSignals::~TerminationSignals()
{
    restoreDefaults();
    writeEnd = -1;
    delete m_notifier;
    for (int fd : m_fds) {
        if (fd >= 0)
            ::close(fd);
    }
}

void TerminationSignals::received()
{
    unsigned char byte;
    while (::read(m_fds[0], &byte, 1) > 0) {
    }
    if (m_onSignal)
        m_onSignal();
}
