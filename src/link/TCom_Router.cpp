#include "TCom_Router.h"

#include "LinkSettings.h"
#include "OpeningRequest.h"
#include "PacketFramer.h"
#include "SerialPort.h"
#include "UsbPort.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <mutex>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

constexpr int kReopenEveryMs = 1000;
constexpr int kMaxReadThreshold = 255; // VMIN is one byte

} // namespace

struct TCom_Router::Impl
{
    Impl(LinkSettings& s, PacketHandler handler)
        : settings(s)
        , decodePacket(std::move(handler))
        , serialPort(&s)
        , linkWakeFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
    {
    }
    ~Impl()
    {
        if (linkWakeFd >= 0)
            ::close(linkWakeFd);
    }

    LinkTransport& port() { return settings.linkKind.load() == LinkSettings::kUsb ? static_cast<LinkTransport&>(usbPort) : serialPort; }

    // The descriptor the line is written through, or -1 (closed, or D2XX).
    int lineFd() const
    {
        return settings.linkKind.load() == LinkSettings::kUsb ? usbPort.ttyFd() : serialPort.fd();
    }

    // A request from the decoder, written on this thread. The transport's
    // write waits up to a second for a line that takes no byte, and that
    // second would stop reading, framing and decoding. The decoder asks again
    // for what it still lacks, so a request the line cannot take now, or one
    // that would queue behind another thread's write, is dropped instead.
    // A tty reports POLLOUT only with room for far more than a request
    // (a UART's buffer is kilobytes, and POLLOUT waits until fewer than 256
    // bytes are queued), so the write that follows does not wait either.
    bool sendWithoutWaiting(const uint8_t* bytes, int count)
    {
        std::unique_lock lock(linkSendMutex, std::try_to_lock);
        if (!lock.owns_lock())
            return false;
        if (const int fd = lineFd(); fd >= 0) {
            pollfd p{fd, POLLOUT, 0};
            if (::poll(&p, 1, 0) != 1 || (p.revents & (POLLOUT | POLLERR | POLLHUP | POLLNVAL)) != POLLOUT)
                return false;
        }
        return port().write(bytes, count) == count;
    }

    // Reads, frames and decodes until the device goes away or the thread is
    // told to end. The buffer and the record live on this thread's stack.
    //
    // Between reads the thread sleeps until the framer's next packet can be
    // complete: at 3840 B/s the bytes still missing cannot come sooner, so
    // waiting for them costs no latency and saves a wake-up for every few
    // bytes the line brings. Idle, with no frame in progress, it sleeps until
    // data or Terminate().
    //
    // While a frame is in progress the sleep ends after the framer's quiet
    // limit, counted from the last byte read, and a read that then finds
    // nothing proves the line quiet: the framer gives the frame up if a
    // packet lies inside it, so the frames behind a false sync come out now,
    // and otherwise keeps it and wants no time-out until bytes come. A frame
    // that outlives its limit is a false one or a paused device; the bytes
    // that came below the read threshold meanwhile arrived at times unknown
    // (and a tty may hold them back until a read), so from then on every byte
    // wakes the thread and the next quiet limit is measured from the true
    // last byte. A frame missing more bytes than a tty's threshold can count
    // (255) gets the same from the start: only long single-channel blocks
    // and false frames do.
    //
    // A short read took everything waiting, so the wait comes next rather
    // than a read that finds nothing.
    void readUntilLost(LinkTransport& port, const WorkerThread& thread)
    {
        using Clock = std::chrono::steady_clock;
        std::array<uint8_t, LinkTransport::kReadBufferSize> buffer{};
        PacketRecord record;
        Clock::time_point lastData = Clock::now();
        const auto quietForMs = [&] {
            return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - lastData).count();
        };
        bool overdue = false; // the frame in progress outlived a quiet limit
        while (!thread.Terminated()) {
            const int16_t n = port.read(buffer.data());
            if (n > 0) {
                lastData = Clock::now();
                for (size_t at = 0; at < size_t(n);) {
                    bool completed;
                    at += packetFramer.pushBytes(buffer.data() + at, size_t(n) - at, completed);
                    if (completed) {
                        deliver(record);
                        overdue = false;
                    }
                }
                // A rejected frame's bytes are rescanned; packets found in them
                // must not wait for the next read.
                while (packetFramer.next())
                    deliver(record);
                if (n == LinkTransport::kReadBufferSize || !port.shortReadEmptiesQueue())
                    continue;
            } else if (port.lost()) {
                return;
            }
            // Without a wake descriptor the flag is looked at every 10 ms.
            int timeoutMs = linkWakeFd >= 0 ? -1 : 10;
            const int quietMs = packetFramer.quietLimitMs();
            if (quietMs < 0) {
                overdue = false;
            } else {
                const int64_t quietFor = quietForMs();
                if (n <= 0 && quietFor >= quietMs) {
                    if (packetFramer.lineQuiet())
                        deliver(record);
                    while (packetFramer.next())
                        deliver(record);
                    continue;
                }
                const int left = int(std::max<int64_t>(1, quietMs - quietFor));
                timeoutMs = timeoutMs < 0 ? left : std::min(timeoutMs, left);
            }
            const int missing = packetFramer.bytesToComplete();
            port.setReadThreshold(overdue || missing > kMaxReadThreshold ? 1 : missing);
            const LinkTransport::WaitResult waited = port.waitForData(timeoutMs, linkWakeFd);
            if (waited == LinkTransport::WaitResult::Lost)
                return;
            if (waited == LinkTransport::WaitResult::Timeout && quietMs >= 0 && quietForMs() >= quietMs)
                overdue = true;
        }
    }

    void deliver(PacketRecord& record)
    {
        packetFramer.copyTo(record);
        if (decodePacket)
            decodePacket(record);
    }

    // Between attempts to open the port; Terminate() ends it at once.
    void pauseBeforeReopen() const
    {
        pollfd p{linkWakeFd, POLLIN, 0};
        while (::poll(&p, 1, kReopenEveryMs) < 0 && errno == EINTR) {
        }
    }

    LinkSettings& settings;
    PacketHandler decodePacket;
    SerialPort serialPort;
    UsbPort usbPort;
    PacketFramer packetFramer;
    // Serialises writes from this thread and the window thread, and keeps
    // them off the port while this thread closes or reopens it.
    std::mutex linkSendMutex;
    // Readable once Terminate() was called; every wait of this thread polls it.
    int linkWakeFd;
};

TCom_Router::TCom_Router(LinkSettings& settings, PacketHandler decodePacket, bool createSuspended)
    : d(new Impl(settings, std::move(decodePacket)))
{
    if (!createSuspended)
        start();
}

void TCom_Router::setFrameLengths(const FrameLengths& lengths)
{
    d->packetFramer = PacketFramer(lengths);
}

TCom_Router::~TCom_Router()
{
    Terminate();
    wait();
    delete d;
}

void TCom_Router::terminateRequested()
{
    const uint64_t one = 1;
    if (d->linkWakeFd >= 0)
        (void)!::write(d->linkWakeFd, &one, sizeof one);
}

bool TCom_Router::send(PacketRecord record)
{
    // The length comes from the caller's record: refuse one that would make
    // the write run past the record.
    const int16_t length = int16_t(record.length());
    if (length < 1 || length + 3 > PacketRecord::kSize)
        return false;
    const int count = length + 3;
    if (QThread::currentThread() == this)
        return d->sendWithoutWaiting(record.bytes.data(), count);
    uint16_t written;
    {
        std::lock_guard lock(d->linkSendMutex);
        written = d->port().write(record.bytes.data(), count);
    }
    return written == count;
}

// The link is kept up for the whole run. A port that cannot be opened, or a
// device that goes away (unplugged, emulator closed), is retried once a
// second, because the user may plug the device in after choosing the port;
// the status text says what is wrong meanwhile.
//
// The idle wait polls the port itself rather than sleeping blindly: a packet
// is decoded as soon as its last byte arrives, and Terminate() wakes the
// thread through its wake descriptor, so the idle wait needs no time-out;
// only a frame in progress bounds the wait, by the framer's quiet limit.
void TCom_Router::Execute()
{
    LinkTransport& port = d->port();
    const bool usb = d->settings.linkKind.load() == LinkSettings::kUsb;
    const char* connectedText = usb ? "Connected via USB" : "Connected via COM";

    bool everConnected = false;

    while (!Terminated()) {
        bool opened;
        {
            std::lock_guard lock(d->linkSendMutex);
            opened = port.open();
        }
        if (!opened) {
            // After a loss the status keeps saying so until the link is back.
            if (!everConnected) {
                char text[256];
                std::snprintf(text, sizeof text, "Could Not Open %s: %s!!", port.deviceName().c_str(),
                              port.failureReason().c_str());
                d->settings.setStatusText(text);
            }
            d->pauseBeforeReopen();
            continue;
        }

        everConnected = true;
        d->settings.setStatusText(connectedText);
        d->settings.linkLost = false;
        d->packetFramer.reset(); // a packet cut by a loss can never complete
        send(buildFrame(kOpeningRequest, nullptr, 0));

        d->readUntilLost(port, *this);
        if (Terminated())
            break;

        {
            std::lock_guard lock(d->linkSendMutex);
            port.close();
        }
        d->settings.setStatusText("Link Lost!!");
        d->settings.linkLost = true;
        d->pauseBeforeReopen();
    }
}
