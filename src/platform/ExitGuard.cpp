#include "ExitGuard.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace {
std::atomic<ExitGuard*> armed{nullptr};
}

ExitGuard::ExitGuard(std::function<void()> action)
    : m_action(std::move(action))
{
    // Handlers run in reverse order of registration, interleaved with static
    // destructors: registering here, as late as the owner can, puts the
    // action before the destructors of everything made until now.
    std::atexit(&ExitGuard::onExit);
    armed.store(this);
}

ExitGuard::~ExitGuard()
{
    ExitGuard* self = this;
    armed.compare_exchange_strong(self, nullptr);
}

void ExitGuard::onExit()
{
    ExitGuard* guard = armed.exchange(nullptr);
    if (!guard)
        return;
    if (guard->m_action)
        guard->m_action();
    std::fflush(nullptr);
    std::_Exit(kStatus);
}
