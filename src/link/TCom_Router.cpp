#include "TCom_Router.h"

#include "LinkSettings.h"
#include "MessageType.h"
#include "PacketFramer.h"
#include "SerialPort.h"
#include "UsbPort.h"
#include "platform/Event.h"

#include <array>
#include <cstdio>
#include <mutex>

std::atomic<TCom_Router*> linkThread{nullptr};

namespace {

constexpr int kIdleWaitMs = 10;   // longest wait before Terminated is looked at again
constexpr int kReopenEveryMs = 1000;

} // namespace

struct TCom_Router::Impl
{
    Impl(LinkSettings& s, PacketHandler handler)
        : settings(s)
        , decodePacket(std::move(handler))
        , serialPort(&s)
    {
    }

    LinkTransport& port() { return settings.linkKind.load() == LinkSettings::kUsb ? static_cast<LinkTransport&>(usbPort) : serialPort; }

    // Reads, frames and decodes until the device goes away or the thread is
    // told to end. The buffer and the record live on this thread's stack.
    void readUntilLost(LinkTransport& port, const WorkerThread& thread)
    {
        std::array<uint8_t, LinkTransport::kReadBufferSize> buffer{};
        PacketRecord record;
        while (!thread.Terminated()) {
            const int16_t n = port.read(buffer.data());
            if (n < 0) {
                if (port.lost() || !waitForInput(port, thread))
                    return;
                continue;
            }
            for (size_t at = 0; at < size_t(n);) {
                bool completed;
                at += packetFramer.pushBytes(buffer.data() + at, size_t(n) - at, completed);
                if (!completed)
                    continue;
                packetFramer.copyTo(record);
                if (decodePacket)
                    decodePacket(record);
            }
        }
    }

    // Polls until something may be waiting or the thread must end; false
    // when the device went away. A time-out means nothing arrived, so there
    // is no point in reading before polling again.
    static bool waitForInput(LinkTransport& port, const WorkerThread& thread)
    {
        for (;;) {
            const LinkTransport::WaitResult result = port.waitForData(kIdleWaitMs);
            if (result != LinkTransport::WaitResult::Timeout || thread.Terminated())
                return result != LinkTransport::WaitResult::Lost;
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
    Event linkIdleEvent; // paces the reopen attempts; nothing sets it
};

TCom_Router::TCom_Router(LinkSettings& settings, PacketHandler decodePacket, bool createSuspended)
    : d(new Impl(settings, std::move(decodePacket)))
{
    if (!createSuspended)
        start();
}

TCom_Router::~TCom_Router()
{
    Terminate();
    wait();
    delete d;
}

bool TCom_Router::send(PacketRecord record)
{
    // The length comes from the caller's record: refuse one that would make
    // the write run past the record.
    const int16_t length = int16_t(record.length());
    if (length < 1 || length + 3 > PacketRecord::kSize)
        return false;
    const int count = length + 3;
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
// is decoded as soon as its last byte arrives, and the 10 ms time-out still
// bounds how long Terminated goes unnoticed.
void TCom_Router::Execute()
{
    LinkTransport& port = d->port();
    const bool usb = d->settings.linkKind.load() == LinkSettings::kUsb;
    const char* connectedText = usb ? "Connected via USB" : "Connected via COM";

    auto pauseBeforeReopen = [this] {
        for (int waited = 0; waited < kReopenEveryMs && !Terminated(); waited += kIdleWaitMs)
            d->linkIdleEvent.wait(kIdleWaitMs);
    };

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
            pauseBeforeReopen();
            continue;
        }

        everConnected = true;
        d->settings.setStatusText(connectedText);
        d->packetFramer.reset(); // a packet cut by a loss can never complete
        send(buildFrame(Message::SerialNumberRequest, nullptr, 0));

        d->readUntilLost(port, *this);
        if (Terminated())
            break;

        {
            std::lock_guard lock(d->linkSendMutex);
            port.close();
        }
        d->settings.setStatusText("Link Lost!!");
        pauseBeforeReopen();
    }
}
