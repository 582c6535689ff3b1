#pragma once

#include "link/PacketRecord.h"
#include "protocol/MessageType.h"
#include "protocol/DecoderWindow.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>

class DeviceRecord;
struct SampleReport;
class GpsRecord;
class SampleBuffers;

// Turns each packet from the device into updates of the device record, the
// sample buffers and the GPS record, wakes the threads that show them, and
// sends the program's three commands.
//
// decodePacket runs on the link thread only and never waits for the window
// thread: mode presses are posted through DecoderWindow. The decoder keeps no
// state of its own; everything it learns goes into the records it is given.
//
// Sample data for receiver r are stored under the receiver's sample lock,
// whether or not its display has taken the previous ones: table and scan
// reports are per channel, so a dropped report would never reach the screen
// or the map value. The event set after storing only wakes the display.
class Decoder
{
public:
    using SendFn = std::function<bool(const PacketRecord&)>;
    using HandOffFn = std::function<void(const PacketRecord&)>;

    using enum Message::Type;
    using enum Message::Command;

    Decoder(DeviceRecord& device, SampleBuffers& samples, GpsRecord& gps, SendFn send);

    void setWindow(DecoderWindow* window);     // may be null
    void setLoggingHandOff(HandOffFn handOff); // may be empty

    // Link thread.
    void decodePacket(const PacketRecord& packet);

    // Any thread: packets fully handled (decoded and handed to the log), so
    // a caller can wait until everything the device sent has gone through.
    uint64_t packetsDecoded() const { return m_packetsDecoded.load(std::memory_order_acquire); }

    // Any thread; a failed send (no link) is ignored.
    void sendCommand(uint8_t type);
    void requestSerialNumber();
    void requestSettings();
    void requestChannelInfo();

private:
    void publish(int r, SampleReport& row);
    using Payload = std::span<const uint8_t>;

    // Each returns false when the packet is too short for its payload and so
    // was not decoded.
    bool onGpsMessage(Payload payload);
    bool onReceiverSetup(Payload payload);
    bool onSingleBlock(int r, Payload payload);
    bool onClockMarker(Payload payload);
    bool onCurrentFrequency(Payload payload);
    bool onScanChannelList(Payload payload);
    bool onScanReport(Payload payload);
    bool onTableReport(Payload payload);
    bool onSerialNumber(Payload payload);

    void storeChannelInfo(const PacketRecord& packet);
    void pressModeButton(DecoderWindow::Mode mode);

    DeviceRecord& m_device;
    SampleBuffers& m_samples;
    GpsRecord& m_gps;
    SendFn m_send;
    std::atomic<DecoderWindow*> m_window{nullptr};
    // The hand-off may be replaced from the window thread while the link
    // thread decodes; the link thread takes a reference under the lock and
    // calls it outside, because the hand-off may block on a warning box.
    std::mutex m_handOffLock;
    std::shared_ptr<const HandOffFn> m_handOff;
    std::atomic<uint64_t> m_packetsDecoded{0};
};
