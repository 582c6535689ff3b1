#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>

// The device's end of the line: the master side of a pseudo-terminal whose
// slave the program opens like a serial port, or an existing serial device.
//
// A pty master cannot tell "nobody has the slave open" from a hang-up
// except through poll: POLLHUP stays raised (and reads fail with EIO) while
// no slave descriptor is open. So listening() polls, and the caller stops
// polling the descriptor itself while nobody listens, or it would spin.
class PtyPort
{
public:
    PtyPort() = default;
    ~PtyPort();
    PtyPort(const PtyPort&) = delete;
    PtyPort& operator=(const PtyPort&) = delete;

    // A new pseudo-terminal, slave raw at 38400 8N1; with a non-empty
    // linkPath that path becomes a symlink to the slave (an existing symlink
    // is replaced; any other file there is left alone and the open fails).
    bool openPty(const std::string& linkPath, std::string& error);
    bool openDevice(const std::string& path, std::string& error);
    // Pulls the plug: the far side sees a hang-up. The link symlink stays
    // until replug() points it at the new slave.
    void unplug();
    bool replug(std::string& error);
    void close();

    bool isOpen() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    const std::string& slavePath() const { return m_slavePath; }
    bool listening() const;

    // Non-blocking: bytes written, 0 when the line is full, -1 on error.
    ssize_t write(const uint8_t* data, std::size_t n);
    // Non-blocking: bytes read, 0 when nothing is waiting, -1 on error or hang-up.
    ssize_t read(uint8_t* data, std::size_t n);
    // Waits until the far side has read what was written, at most timeoutMs:
    // closing a pty master discards whatever its slave had not read yet.
    void drain(int timeoutMs);

private:
    bool pointLink(std::string& error);

    int m_fd = -1;
    bool m_pty = false;
    std::string m_slavePath;
    std::string m_linkPath;
};
