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
// rejected, for a length outside 1..2047 (taken as signed 16-bit) or a body
// whose XOR is not 0, the sync byte alone is discarded and every byte after
// it is fed again, the length bytes included; a valid frame inside is still
// found. Each rejection moves the hunt on by at least the false sync byte,
// so the rescan always ends. There is no escaping: 0xAA inside a valid body
// is plain data. There is no inter-byte timeout either: a truncated packet
// is completed by whatever bytes follow, fails, and is rescanned.
PacketFramer::Step PacketFramer::step(uint8_t b)
{
    switch (m_state) {
    case State::WaitSync:
        if (b == PacketRecord::kSync)
            m_state = State::WaitLengthLow;
        return Step::More;

    case State::WaitLengthLow:
        m_length = b;
        m_state = State::WaitLengthHigh;
        return Step::More;

    case State::WaitLengthHigh:
        m_length = int16_t(uint16_t(m_length) | uint16_t(b << 8));
        if (m_length <= 0 || m_length > kMaxLength) {
            ++m_droppedHeaders;
            m_count = 0;
            m_state = State::WaitSync;
            return Step::Rescan;
        }
        m_count = 0;
        m_checksum = 0;
        m_state = State::ReadBody;
        return Step::More;

    case State::ReadBody:
        m_body[size_t(m_count)] = b;
        ++m_count;
        m_checksum ^= b;
        if (m_count < m_length)
            return Step::More;
        m_state = State::WaitSync;
        if (m_checksum != 0) {
            ++m_badChecksums;
            return Step::Rescan;
        }
        return Step::Packet;
    }
    return Step::More;
}

// After a rejection: puts the bytes of the rejected frame that followed its
// sync byte, except the last one, in front of the bytes still to be
// rescanned. The last one is the byte step() was just given; the caller
// feeds it again after these.
void PacketFramer::pushBack()
{
    const size_t k = 1 + size_t(m_count); // length low, length high, body but its last byte
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
            pushBack();
            break;
        }
    }
    m_rescanBegin = m_rescanEnd = 0;
    return false;
}

bool PacketFramer::pushByte(uint8_t b)
{
    if (m_rescanBegin == m_rescanEnd) {
        switch (step(b)) {
        case Step::More:
            return false;
        case Step::Packet:
            return true;
        case Step::Rescan:
            pushBack();
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
        } else if (m_state == State::ReadBody) {
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
            pushBack(); // data[i] is fed again after the pushed-back bytes
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
