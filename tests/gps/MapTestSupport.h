#pragma once

#include <unistd.h>

#include <atomic>
#include <string>

// A block name no other test or run uses, so tests may run in parallel.
inline std::string uniqueBlockName(const char* what)
{
    static std::atomic<int> counter{0};
    return "/tavrix-test-" + std::string(what) + "-" + std::to_string(getpid()) + "-"
        + std::to_string(counter.fetch_add(1));
}
