#pragma once

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

// A pseudo-terminal standing in for the device: the test holds the master,
// the code under test opens the slave like a serial port.
class Pty
{
public:
    Pty()
    {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_master >= 0 && ::grantpt(m_master) == 0 && ::unlockpt(m_master) == 0)
            m_slavePath = ::ptsname(m_master);
    }
    ~Pty() { closeMaster(); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    bool ok() const { return m_master >= 0 && !m_slavePath.empty(); }
    int master() const { return m_master; }
    const std::string& slavePath() const { return m_slavePath; }

    void closeMaster()
    {
        if (m_master >= 0)
            ::close(m_master);
        m_master = -1;
    }

    bool write(const std::vector<uint8_t>& bytes) const
    {
        return ::write(m_master, bytes.data(), bytes.size()) == ssize_t(bytes.size());
    }

    // Reads from the master until want bytes came or timeoutMs passed.
    std::vector<uint8_t> read(size_t want, int timeoutMs) const
    {
        std::vector<uint8_t> got;
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (got.size() < want) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                break;
            pollfd p{m_master, POLLIN, 0};
            if (::poll(&p, 1, int(left.count())) <= 0 || !(p.revents & POLLIN))
                continue;
            uint8_t buf[256];
            const ssize_t n = ::read(m_master, buf, std::min(sizeof buf, want - got.size()));
            if (n > 0)
                got.insert(got.end(), buf, buf + n);
        }
        return got;
    }

private:
    int m_master = -1;
    std::string m_slavePath;
};
