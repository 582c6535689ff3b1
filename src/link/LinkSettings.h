#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

// The link chosen in the port dialog and its status text, shared by the
// dialog, the link thread and the status display.
class LinkSettings
{
public:
    static constexpr int16_t kNone = 0;
    static constexpr int16_t kSerial = 1;
    static constexpr int16_t kUsb = 2;

    std::atomic<int16_t> linkKind{kNone};
    std::atomic<int16_t> comPort{1}; // n of "COMn:"; 0 when USB is chosen
    // The device went away after it had been connected, until it is back:
    // whatever the screen shows from before is not live.
    std::atomic<bool> linkLost{false};

    // A device path typed into the port dialog (for example a pseudo-terminal);
    // when set it is opened instead of the "COMn:" device.
    void setDevicePath(const std::string& path);
    std::string devicePath() const;

    void setStatusText(const std::string& text);
    std::string statusText() const;

private:
    mutable std::mutex m_mutex;
    std::string m_devicePath;
    std::string m_statusText;
};
