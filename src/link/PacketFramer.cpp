#include "PacketFramer.h"

#include <algorithm>
#include <cstring>

// The framer sees the stream one byte at a time because transport reads
// split packets anywhere: one read may end mid-header, the next may carry
// the end of one packet and two more. All state lives in the members, so a
// packet may span any number of reads.
//
// Error policy:
//  - bytes before a sync byte are noise and are skipped;
//  - a length outside 1..2047 (taken as signed 16-bit) drops the header and
//    the hunt restarts with the byte after the length field, which is not
//    itself a sync candidate;
//  - a body whose XOR is not 0 is dropped whole; the bytes it swallowed are
//    not rescanned, even if they hold 0xAA. There is no escaping, so 0xAA
//    inside a body is plain data.
// There is no inter-byte timeout: a truncated packet is completed by
// whatever bytes follow and then fails its checksum.
bool PacketFramer::pushByte(uint8_t b)
{
    switch (m_state) {
    case State::WaitSync:
        if (b == PacketRecord::kSync)
            m_state = State::WaitLengthLow;
        return false;

    case State::WaitLengthLow:
        m_length = b;
        m_state = State::WaitLengthHigh;
        return false;

    case State::WaitLengthHigh:
        m_length = int16_t(uint16_t(m_length) | uint16_t(b << 8));
        if (m_length <= 0 || m_length > kMaxLength) {
            ++m_droppedHeaders;
            m_state = State::WaitSync;
            return false;
        }
        m_count = 0;
        m_checksum = 0;
        m_state = State::ReadBody;
        return false;

    case State::ReadBody:
        m_body[size_t(m_count)] = b;
        ++m_count;
        m_checksum ^= b;
        if (m_count < m_length)
            return false;
        m_state = State::WaitSync;
        if (m_checksum != 0) {
            ++m_badChecksums;
            return false;
        }
        return true;
    }
    return false;
}

// Only bytes that cause no transition are taken in bulk: noise while hunting
// for a sync byte, and body bytes before the last one. Every transition still
// goes through pushByte's switch.
size_t PacketFramer::pushBytes(const uint8_t* data, size_t n, bool& completed)
{
    completed = false;
    size_t i = 0;
    while (i < n) {
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
        if (pushByte(data[i++])) {
            completed = true;
            return i;
        }
    }
    return n;
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
