#pragma once

#include "link/FrameLengths.h"
#include "link/PacketRecord.h"

#include <array>
#include <cstddef>
#include <cstdint>

// Cuts the received byte stream into packets.
//
// Frame: AA, length L (16-bit little-endian), then L body bytes: type,
// payload, checksum; the body XORs to 0. Only the link thread feeds it.
// How it recovers from noise and false sync bytes is told in
// PacketFramer.cpp.
class PacketFramer
{
public:
    static constexpr int kBodySize = 2048;
    static constexpr int kMaxLength = kBodySize - 1; // largest L accepted
    static_assert(kMaxLength == FrameLengths::kMaxLength);

    // The device's line: 38400 baud, 10 bits a byte.
    static constexpr int kLineBytesPerSecond = 3840;
    // Added to the time a frame's missing bytes need on the line before a
    // quiet line gives the frame up, ms: covers the USB adapter's 16 ms
    // latency timer and a loaded machine's scheduling.
    static constexpr int kQuietMarginMs = 50;

    // lengths: the longest L each type may have (the codec's table); by
    // default every L the frame format allows.
    explicit PacketFramer(const FrameLengths& lengths = FrameLengths()) : m_lengths(lengths) {}

    // Each state is named for what has been consumed so far.
    enum class State : uint8_t {
        WaitSync,       // nothing of a frame yet
        WaitLengthLow,  // the sync byte
        WaitLengthHigh, // sync and the low length byte
        ReadBody,       // a valid header and `count` body bytes
    };

    // Feeds one byte; true when a packet whose body XORs to 0 is ready. The
    // packet then stays readable through length()/body()/copyTo() until the
    // next call. A rejected header or body is rescanned and may hold several
    // packets: call next() until it returns false to take the rest, or they
    // come out with the following bytes.
    bool pushByte(uint8_t b);
    // The next packet found in rescanned bytes, without new input.
    bool next();

    // Feeds bytes from data until a valid packet is ready, and returns how
    // many it took; completed says whether it stopped for a packet. A packet
    // found in rescanned bytes may come out before data's bytes are taken,
    // so the count is 0 only together with completed. Same outcome as
    // pushByte on each byte, but skips noise and copies body bytes in bulk.
    size_t pushBytes(const uint8_t* data, size_t n, bool& completed);

    // Copies the completed packet as the decoder expects it: L into bytes
    // 1-2, the L body bytes from byte 3 on. The sync byte is left alone.
    void copyTo(PacketRecord& record) const;

    int16_t length() const { return m_length; }
    const uint8_t* body() const { return m_body.data(); }
    State state() const { return m_state; }
    // The fewest further bytes that could complete a packet (a lower bound:
    // a short frame or a resync may need more), so a reader may sleep until
    // that many are in without delaying any packet.
    int bytesToComplete() const;

    // How long, in ms, the line may stay quiet after its last byte before
    // the frame in progress is given up: the time its missing bytes need on
    // the line plus kQuietMarginMs. -1 when no frame is in progress, so an
    // idle line needs no time-out, and after a quiet spell that found the
    // frame hiding no packet, until more bytes come.
    int quietLimitMs() const;
    // The line has been quiet for quietLimitMs(): when the bytes after the
    // sync byte of the frame in progress hold a packet, gives the frame up,
    // rescans them and returns true (call next() until it returns false for
    // the rest); otherwise keeps the frame and returns false.
    bool lineQuiet();

    // Back to the hunt for a sync byte, e.g. after the link was reopened and
    // a half-received packet can never be completed. Counters are kept.
    void reset()
    {
        m_state = State::WaitSync;
        m_rescanBegin = m_rescanEnd = 0;
    }

    // Diagnostics: headers rejected for their length (outright, for their
    // type, or for a body that is only whole frames), bodies with a bad XOR, frames given up on a quiet line.
    uint32_t droppedHeaders() const { return m_droppedHeaders; }
    uint32_t badChecksums() const { return m_badChecksums; }
    uint32_t abandonedFrames() const { return m_abandonedFrames; }

private:
    enum class Step : uint8_t { More, Packet, Rescan };
    Step step(uint8_t b);
    // Whether the completed body's bytes after its type are one or more
    // whole valid frames, end to end.
    bool holdsOnlyFrames() const;
    void pushBack(size_t consumed);
    void giveUp();
    bool feedRescan();

    State m_state = State::WaitSync;
    uint8_t m_checksum = 0; // running XOR of the body bytes so far
    int16_t m_length = 0;   // L of the packet being received
    int16_t m_count = 0;    // body bytes received so far
    uint32_t m_droppedHeaders = 0;
    uint32_t m_badChecksums = 0;
    uint32_t m_abandonedFrames = 0;
    bool m_quietSeen = false; // a quiet spell found the frame hiding no packet; no byte since
    FrameLengths m_lengths;
    std::array<uint8_t, kBodySize> m_body{}; // [0] type, [1..L-2] payload, [L-1] checksum
    // Bytes that followed a false sync byte, fed again before new input.
    // They are always one stretch of the stream no longer than a header and
    // a body, so this never overflows.
    std::array<uint8_t, 2 + kBodySize> m_rescan{};
    size_t m_rescanBegin = 0;
    size_t m_rescanEnd = 0;
};

// Wraps type and n payload bytes into a frame ready to send (the first
// L + 3 bytes of the record, L = n + 2). A payload the framer would not
// accept back (n < 0 or L above kMaxLength) gives a record with L = 0, which
// send() refuses.
PacketRecord buildFrame(uint8_t type, const uint8_t* payload, int n);
