#pragma once

#include <cstdint>
#include <string>

// What the link thread needs of a transport, so that one loop runs over the
// serial port and the USB device alike. Results follow the device link's
// sentinel convention: open false, read -1, write 65535; nothing is shown
// to the user here.
class LinkTransport
{
public:
    static constexpr int kReadBufferSize = 4096;
    static constexpr uint16_t kWriteFailed = 0xFFFF;

    enum class WaitResult { Data, Timeout, Lost };

    virtual ~LinkTransport() = default;

    virtual bool open() = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

    // Reads only what is waiting into buffer (kReadBufferSize bytes); the
    // count read, or -1 when nothing was read. Never blocks.
    virtual int16_t read(uint8_t* buffer) = 0;
    // Writes n bytes; the count written, or kWriteFailed.
    virtual uint16_t write(const uint8_t* data, int n) = 0;

    // The idle wait after an empty read: returns early when data arrives, the
    // device goes away or wakeFd (if not -1) becomes readable; timeoutMs -1
    // waits without limit. Timeout means no read is worth it yet (the time
    // ran out or wakeFd fired); Data means a read is worth it.
    virtual WaitResult waitForData(int timeoutMs, int wakeFd = -1) = 0;
    // A read is not worth waking for until this many bytes are in (the
    // packet framer's lower bound); transports that cannot wait for a count
    // ignore it.
    virtual void setReadThreshold(int bytes) { (void)bytes; }
    // True when a read that returned fewer than kReadBufferSize bytes took
    // everything that was waiting, so that the next step may be the wait
    // rather than another read.
    virtual bool shortReadEmptiesQueue() const { return false; }
    // Set when a read or wait saw the device go away; cleared by close().
    virtual bool lost() const = 0;

    // For the status text after a failed open: the device tried ("/dev/ttyS0",
    // "USB") and why it failed ("Permission Denied").
    virtual std::string deviceName() const = 0;
    virtual std::string failureReason() const = 0;
};
