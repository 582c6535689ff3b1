#pragma once

#include <cstdint>
#include <string>

class LinkSettings;

// What the port dialog's choice means for the link: "COM1:".."COM99:" are
// serial ports 1..99, "USB" the FTDI interface; any other text is the path of
// a serial device (a tty found on this machine, or a pseudo-terminal typed
// in). An empty choice is serial port 0, which names no device, so the open
// fails quietly as it always has.
class PortSelection
{
public:
    int16_t linkKind = 1;
    int16_t comPort = 0;
    std::string devicePath;

    static PortSelection fromText(const std::string& text);
    static int comNumber(const std::string& text);
    void apply(LinkSettings& settings) const;

    friend bool operator==(const PortSelection&, const PortSelection&) = default;
};
