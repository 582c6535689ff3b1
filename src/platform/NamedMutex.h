#pragma once

#include <string>

// A named, system-wide mutex (a POSIX named semaphore) that other programs can
// find by name. It is created at start and unlinked at exit; this program never
// takes it.
class NamedMutex
{
public:
    explicit NamedMutex(const std::string& name);
    ~NamedMutex();
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;

    // Closes and unlinks it now rather than at destruction (an exit that
    // destroys nothing); the destructor then does nothing more.
    void remove();

    bool valid() const { return m_handle != nullptr; }
    const std::string& name() const { return m_name; }

private:
    std::string m_name; // with the leading '/'
    void* m_handle = nullptr;
};
