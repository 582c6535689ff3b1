#pragma once

#include "link/PacketRecord.h"
#include "platform/WorkerThread.h"

#include <atomic>
#include <functional>

class FrameLengths;
class LinkSettings;

// The link thread: opens the chosen transport, asks for the serial number,
// then reads, frames and hands every packet to the decoder on this thread.
// send() may be called from any thread.
class TCom_Router : public WorkerThread
{
    Q_OBJECT
public:
    using PacketHandler = std::function<void(const PacketRecord&)>;

    // Starts running at once unless createSuspended (then call start()).
    TCom_Router(LinkSettings& settings, PacketHandler decodePacket, bool createSuspended = false);
    ~TCom_Router() override;

    // The longest frame each type may be, from the codec; before start().
    // Unset, the framer takes every length the frame format allows.
    void setFrameLengths(const FrameLengths& lengths);

    // Writes the frame held in the record (L + 3 bytes); true when all went
    // out. On the link thread itself (the decoder's requests) it never waits:
    // a frame the line cannot take at once is dropped and false returned.
    bool send(PacketRecord record);

protected:
    void Execute() override;
    void terminateRequested() override;

private:
    struct Impl;
    Impl* d;
};
