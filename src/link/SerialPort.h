#pragma once

#include "link/LinkTransport.h"

#include <string>

#include <termios.h>

class LinkSettings;

// The serial line on a POSIX tty, 38400 8N1 raw, no flow
// control, RTS on, DTR off. The port is locked for this program alone.
class SerialPort : public LinkTransport
{
public:
    // Without settings the port can only be opened through openPath().
    explicit SerialPort(const LinkSettings* settings = nullptr);
    ~SerialPort() override;
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens the typed device path of the settings, else the "COMn:" device.
    bool open() override;
    bool openPath(const std::string& path);
    void close() override;
    bool isOpen() const override { return m_fd >= 0; }

    int16_t read(uint8_t* buffer) override;
    uint16_t write(const uint8_t* data, int n) override;
    WaitResult waitForData(int timeoutMs, int wakeFd = -1) override;
    // Sets VMIN (1 to 255): poll() then reports the line readable only once
    // that many bytes are in, so the link thread wakes once per frame.
    void setReadThreshold(int bytes) override;
    int readThreshold() const { return m_vmin; }
    bool lost() const override { return m_lost; }
    bool shortReadEmptiesQueue() const override { return true; }

    std::string deviceName() const override { return m_path; }
    std::string failureReason() const override;

    // Readable for poll() while open, else -1.
    int fd() const { return m_fd; }
    int port() const { return m_port; }

    // "COMn:" -> /dev/ttyS<n-1>.
    static std::string comDevicePath(int port);
    static std::string comName(int port);
    // Why opening path was refused, with the dialout hint when that group
    // owns the device.
    static std::string permissionDeniedText(const std::string& path);

private:
    const LinkSettings* m_settings;
    std::string m_path;
    int m_port = 0;      // COM number copied from the settings at open, 0 for a path
    int m_fd = -1;
    int m_openErrno = 0; // why the last open failed
    bool m_lost = false;
    int m_vmin = 1;       // VMIN in force on m_fd
    termios m_termios{};  // the settings in force on m_fd
};
