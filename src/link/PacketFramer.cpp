#include "PacketFramer.h"

#include <algorithm>
#include <cstring>

// The framer sees the stream one byte at a time because transport reads
// split packets anywhere: one read may end mid-header, the next may carry
// the end of one packet and two more. All state lives in the members, so a
// packet may span any number of reads.
//
// Error policy, as gpsd's lexer has it: a sync byte may be noise, and then
// the frame it seemed to start swallows real frames. So whenever a frame is
// rejected, the sync byte alone is discarded and every byte after it is fed
// again, the length bytes included; a valid frame inside is still found.
// Each rejection moves the hunt on by at least the false sync byte, so the
// rescan always ends. There is no escaping: 0xAA inside a valid body is
// plain data. A frame is rejected
//   - at its high length byte, for L outside 1..2047 (taken as signed);
//   - at its type byte, for L longer than that type can be (the codec's
//     FrameLengths table). A false sync usually reads the next real frame's
//     sync as its type, so 0xAA is no plausible type; known fixed-size
//     messages may be as long as their payload, single-channel blocks as long
//     as the format allows, the GPS message and types we do not know up to
//     256 bytes, so the device's unknown short messages are still passed on
//     and logged. Without the check, a corrupt length waits for up to 2047
//     bytes, and when those happen to be whole frames of one length their XOR
//     is 0 and the false frame passes as a packet, swallowing them all;
//   - at its last byte, for a body whose XOR is not 0, or whose bytes after
//     the type are nothing but whole valid frames: a corrupt length of any
//     type (the GPS message may be 256 bytes, a single block 2047) that
//     covers an even number of equal frames XORs to 0, and would log one
//     record the device never sent in place of them. A real message whose
//     payload and checksum chain exactly into frames, each with a sync byte,
//     a length its type allows and a zero XOR, is not to be expected;
//   - when the line stays quiet longer than the frame's missing bytes need at
//     38400 baud plus kQuietMarginMs (lineQuiet(), called by the link
//     thread, which owns the clock) and the bytes after its sync byte hold a
//     packet: a corrupt length no longer holds the frames behind it until
//     more bytes come. When they hold none, nothing waits behind the frame
//     and it is kept, so a device or writer that pauses mid-frame loses no
//     frame; the next quiet spell after more bytes looks again.
// Shorter frames than a type's message are passed on: the decoder leaves
// them undecoded and the log keeps them as they came.
PacketFramer::Step PacketFramer::step(uint8_t b)
{
    switch (m_state) {
    case State::WaitSync: // hunting: noise is dropped
        if (b == PacketRecord::kSync)
            m_state = State::WaitLengthLow;
        return Step::More;

    case State::WaitLengthLow: // took the sync byte
        m_length = b;
        m_state = State::WaitLengthHigh;
        return Step::More;

    case State::WaitLengthHigh: // took sync and the low length byte
        m_length = int16_t(uint16_t(m_length) | uint16_t(b << 8));
        m_count = 0;
        if (m_length <= 0 || m_length > kMaxLength) {
            ++m_droppedHeaders;
            m_state = State::WaitSync;
            return Step::Rescan;
        }
        m_checksum = 0;
        m_state = State::ReadBody;
        return Step::More;

    case State::ReadBody: // took a header and m_count body bytes
        m_body[size_t(m_count)] = b;
        ++m_count;
        m_checksum ^= b;
        if (m_count == 1 && !m_lengths.plausible(b, m_length)) {
            ++m_droppedHeaders;
            m_state = State::WaitSync;
            return Step::Rescan;
        }
        if (m_count < m_length)
            return Step::More;
        m_state = State::WaitSync;
        if (m_checksum != 0) {
            ++m_badChecksums;
            return Step::Rescan;
        }
        if (holdsOnlyFrames()) {
            ++m_droppedHeaders;
            return Step::Rescan;
        }
        return Step::Packet;
    }
    return Step::More;
}

bool PacketFramer::holdsOnlyFrames() const
{
    const int end = m_length;
    int at = 1; // after the type byte
    if (end - at < 4 || m_body[1] != PacketRecord::kSync)
        return false;
    while (at < end) {
        if (end - at < 4 || m_body[size_t(at)] != PacketRecord::kSync)
            return false;
        const int length = m_body[size_t(at + 1)] | (m_body[size_t(at + 2)] << 8);
        const int first = at + 3;
        if (length > end - first || !m_lengths.plausible(m_body[size_t(first)], length))
            return false;
        uint8_t x = 0;
        for (int i = first; i < first + length; ++i)
            x ^= m_body[size_t(i)];
        if (x != 0)
            return false;
        at = first + length;
    }
    return true;
}

// After a rejection: puts the bytes of the rejected frame that followed its
// sync byte in front of the bytes still to be rescanned. consumed counts
// them from the low length byte on: 1 + m_count in step's states before a
// length, 2 + m_count once the header is whole. A rejection inside step
// leaves out its last byte, the one step was just given, which the caller
// feeds again after these.
void PacketFramer::pushBack(size_t consumed)
{
    const size_t k = consumed;
    const size_t tail = m_rescanEnd - m_rescanBegin;
    if (k + tail > m_rescan.size()) { // cannot happen, see m_rescan
        m_rescanBegin = m_rescanEnd = 0;
        return;
    }
    uint8_t* r = m_rescan.data();
    std::memmove(r + k, r + m_rescanBegin, tail);
    const uint16_t length = uint16_t(m_length);
    r[0] = uint8_t(length & 0xFF);
    if (k > 1) {
        r[1] = uint8_t(length >> 8);
        std::memcpy(r + 2, m_body.data(), k - 2);
    }
    m_rescanBegin = 0;
    m_rescanEnd = k + tail;
}

bool PacketFramer::feedRescan()
{
    while (m_rescanBegin < m_rescanEnd) {
        switch (step(m_rescan[m_rescanBegin++])) {
        case Step::More:
            break;
        case Step::Packet:
            return true;
        case Step::Rescan:
            --m_rescanBegin;
            pushBack(1 + size_t(m_count));
            break;
        }
    }
    m_rescanBegin = m_rescanEnd = 0;
    return false;
}

bool PacketFramer::pushByte(uint8_t b)
{
    m_quietSeen = false;
    if (m_rescanBegin == m_rescanEnd) {
        switch (step(b)) {
        case Step::More:
            return false;
        case Step::Packet:
            return true;
        case Step::Rescan:
            pushBack(1 + size_t(m_count));
            break;
        }
    } else if (m_rescanEnd == m_rescan.size()) {
        // Packets left in the rescanned bytes were not taken with next().
        std::memmove(m_rescan.data(), m_rescan.data() + m_rescanBegin, m_rescanEnd - m_rescanBegin);
        m_rescanEnd -= m_rescanBegin;
        m_rescanBegin = 0;
    }
    m_rescan[m_rescanEnd++] = b;
    return feedRescan();
}

bool PacketFramer::next()
{
    return m_rescanBegin != m_rescanEnd && feedRescan();
}

// Only bytes that cause no transition are taken in bulk: noise while hunting
// for a sync byte, and body bytes before the last one. Every transition still
// goes through step's switch.
size_t PacketFramer::pushBytes(const uint8_t* data, size_t n, bool& completed)
{
    completed = false;
    if (n > 0)
        m_quietSeen = false;
    size_t i = 0;
    for (;;) {
        if (m_rescanBegin != m_rescanEnd && feedRescan()) {
            completed = true;
            return i;
        }
        if (i >= n)
            return n;
        if (m_state == State::WaitSync) {
            const void* sync = std::memchr(data + i, PacketRecord::kSync, n - i);
            if (!sync)
                return n;
            i = size_t(static_cast<const uint8_t*>(sync) - data);
        } else if (m_state == State::ReadBody && m_count > 0) { // the type byte goes through step
            const size_t run = std::min(n - i, size_t(m_length - m_count - 1));
            if (run > 0) {
                const uint8_t* p = data + i;
                std::memcpy(&m_body[size_t(m_count)], p, run);
                uint64_t wide = 0;
                size_t k = 0;
                for (; k + 8 <= run; k += 8) {
                    uint64_t word;
                    std::memcpy(&word, p + k, 8);
                    wide ^= word;
                }
                uint8_t x = m_checksum;
                for (int shift = 0; shift < 64; shift += 8)
                    x ^= uint8_t(wide >> shift);
                for (; k < run; ++k)
                    x ^= p[k];
                m_checksum = x;
                m_count = int16_t(m_count + int(run));
                i += run;
                continue;
            }
        }
        switch (step(data[i])) {
        case Step::More:
            ++i;
            break;
        case Step::Packet:
            completed = true;
            return i + 1;
        case Step::Rescan:
            pushBack(1 + size_t(m_count)); // data[i] is fed again after the pushed-back bytes
            break;
        }
    }
}

int PacketFramer::bytesToComplete() const
{
    // Bytes still to be rescanned may hold a packet already: next() first.
    if (m_rescanBegin != m_rescanEnd)
        return 1;
    // The shortest frame is AA 01 00 and one body byte.
    switch (m_state) {
    case State::WaitSync: return 4;
    case State::WaitLengthLow: return 3;
    case State::WaitLengthHigh: return 2;
    case State::ReadBody: return std::max(1, m_length - m_count);
    }
    return 1;
}

int PacketFramer::quietLimitMs() const
{
    if (m_quietSeen)
        return -1;
    int missing = 0;
    switch (m_state) {
    case State::WaitSync: return -1;
    case State::WaitLengthLow: missing = 3; break; // the shortest frame's rest
    case State::WaitLengthHigh: missing = 2; break;
    case State::ReadBody: missing = m_length - m_count; break;
    }
    return (missing * 1000 + kLineBytesPerSecond - 1) / kLineBytesPerSecond + kQuietMarginMs;
}

bool PacketFramer::lineQuiet()
{
    if (m_state == State::WaitSync)
        return next();
    // Tried on a copy first: when the bytes after the sync byte hold no
    // packet, nothing waits behind the frame, and it is kept for a device
    // (or a loaded writer) that only paused mid-frame.
    PacketFramer trial(*this);
    trial.giveUp();
    if (!trial.next()) {
        m_quietSeen = true;
        return false;
    }
    *this = trial;
    ++m_abandonedFrames;
    return true;
}

void PacketFramer::giveUp()
{
    size_t consumed = 0;
    switch (m_state) {
    case State::WaitSync: return;
    case State::WaitLengthLow: consumed = 0; break;
    case State::WaitLengthHigh: consumed = 1; break;
    case State::ReadBody: consumed = 2 + size_t(m_count); break;
    }
    m_state = State::WaitSync;
    if (consumed > 0)
        pushBack(consumed);
}

void PacketFramer::copyTo(PacketRecord& record) const
{
    record.setLength(uint16_t(m_length));
    std::memcpy(&record.bytes[3], m_body.data(), size_t(m_length));
}

PacketRecord buildFrame(uint8_t type, const uint8_t* payload, int n)
{
    PacketRecord record;
    record.bytes[0] = PacketRecord::kSync;
    if (n < 0 || n + 2 > PacketFramer::kMaxLength || (n > 0 && !payload))
        return record; // L = 0
    record.setLength(uint16_t(n + 2));
    record.bytes[3] = type;
    uint8_t checksum = type;
    for (int i = 0; i < n; ++i) {
        record.bytes[size_t(4 + i)] = payload[i];
        checksum ^= payload[i];
    }
    record.bytes[size_t(4 + n)] = checksum;
    return record;
}
