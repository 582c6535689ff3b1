#include "KlfStream.h"

#include "KlfHeader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

std::string hexOffset(size_t offset)
{
    char text[48];
    std::snprintf(text, sizeof text, "offset %zu (0x%zx)", offset, offset);
    return text;
}

uint8_t xorOf(std::span<const uint8_t> bytes)
{
    uint8_t sum = 0;
    for (uint8_t b : bytes)
        sum ^= b;
    return sum;
}

} // namespace

KlfStream::KlfStream(HeaderMode mode, RecordHandler onRecord)
    : m_mode(mode)
    , m_onRecord(std::move(onRecord))
    , m_phase(mode == HeaderMode::Absent ? Phase::Records : Phase::Probe)
{
}

void KlfStream::setError(Status status, size_t offset, std::string text)
{
    if (m_status == Status::Ok) {
        m_errorOffset = offset;
        m_error = text + " at " + hexOffset(offset);
    }
    // A bad record anywhere outweighs a cut one at the end.
    if (m_status == Status::Ok || status == Status::Malformed)
        m_status = status;
    if (status == Status::Truncated)
        m_truncatedAt = offset;
}

bool KlfStream::gather(const uint8_t*& p, const uint8_t* end, size_t want)
{
    const size_t take = std::min(want - std::min(want, m_pending.size()), size_t(end - p));
    m_pending.insert(m_pending.end(), p, p + take);
    p += take;
    return m_pending.size() >= want;
}

bool KlfStream::badLength(uint16_t length)
{
    if (length != 0 && length <= kMaxLength)
        return false;
    setError(Status::Malformed, m_offset, "record length " + std::to_string(length) + " out of range");
    m_phase = Phase::Stopped;
    m_pending.clear();
    return true;
}

void KlfStream::takeRecord(std::span<const uint8_t> bytes)
{
    Record r;
    r.offset = m_offset;
    r.length = uint16_t(bytes[0] | (bytes[1] << 8));
    r.type = bytes[2];
    r.checksumOk = xorOf(bytes.subspan(2)) == 0;
    if (!r.checksumOk && m_checksumErrors++ == 0)
        setError(Status::Malformed, r.offset, "bad checksum in record of type " + std::to_string(r.type));
    const bool isChannelInfo = m_phase == Phase::FirstRecord && (r.type == 5 || r.type == 6);
    if (isChannelInfo)
        m_channelInfo = r;
    else
        ++m_recordCount;
    m_phase = Phase::Records;
    m_offset += bytes.size();
    m_end = m_offset;
    if (m_onRecord)
        m_onRecord(r, bytes, isChannelInfo);
}

void KlfStream::readHeader()
{
    m_hasHeader = true;
    const uint8_t* s = &m_pending[KlfHeader::kSerialRecordOffset];
    if (s[0] != 11 || s[1] != 0 || s[2] != KlfHeader::kSerialNumberType || xorOf({s + 2, 11}) != 0) {
        setError(Status::Malformed, KlfHeader::kSerialRecordOffset, "bad serial number record");
        m_end = KlfHeader::kSerialRecordOffset;
        m_phase = Phase::Stopped;
        return;
    }
    m_serial.assign(reinterpret_cast<const char*>(s + 3), strnlen(reinterpret_cast<const char*>(s + 3), 8));

    const uint8_t* c = &m_pending[KlfHeader::kConfigRecordOffset];
    if (c[0] != KlfHeader::kReceiverConfigLength || c[1] != 0 || c[2] != KlfHeader::kReceiverConfigType) {
        setError(Status::Malformed, KlfHeader::kConfigRecordOffset, "bad receiver configuration record");
        m_end = KlfHeader::kConfigRecordOffset;
        m_phase = Phase::Stopped;
        return;
    }
    m_receiverFlags = c[3];
    std::copy_n(c + 4, 12, m_blocks[0].begin());
    std::copy_n(c + 16, 11, m_blocks[1].begin());
    m_pending.clear();
    m_offset = m_end = KlfHeader::kFixedSize;
    m_phase = Phase::FirstRecord;
}

void KlfStream::feed(std::span<const uint8_t> bytes)
{
    const uint8_t* p = bytes.data();
    const uint8_t* const end = p + bytes.size();
    m_size += bytes.size();
    while (p < end) {
        switch (m_phase) {
        case Phase::Stopped:
            return;

        case Phase::Probe: {
            static const auto prefix = KlfHeader::identificationPrefix();
            while (p < end && m_pending.size() < prefix.size() && *p == prefix[m_pending.size()])
                m_pending.push_back(*p++);
            if (m_pending.size() == prefix.size()) {
                m_phase = Phase::Header;
            } else if (p < end) {
                if (m_mode == HeaderMode::Present) {
                    setError(Status::Malformed, 0, "no identification record");
                    m_phase = Phase::Stopped;
                    return;
                }
                // No header: what matched so far is the start of the first record.
                m_phase = Phase::Records;
            }
            break;
        }

        case Phase::Header:
            if (gather(p, end, KlfHeader::kFixedSize))
                readHeader();
            break;

        case Phase::FirstRecord:
        case Phase::Records: {
            if (m_pending.empty() && end - p >= 2) {
                // The common case: the whole record is in this feed.
                const uint16_t length = uint16_t(p[0] | (p[1] << 8));
                if (badLength(length))
                    return;
                if (size_t(end - p) >= size_t(length) + 2) {
                    takeRecord({p, size_t(length) + 2});
                    p += size_t(length) + 2;
                    break;
                }
            }
            if (!gather(p, end, 2))
                return;
            const uint16_t length = uint16_t(m_pending[0] | (m_pending[1] << 8));
            if (badLength(length))
                return;
            if (!gather(p, end, size_t(length) + 2))
                return;
            if (m_pending.size() > size_t(length) + 2) {
                // Only after a failed header probe: the surplus starts the next record.
                std::vector<uint8_t> held;
                held.swap(m_pending);
                const uint8_t* h = held.data();
                takeRecord({h, size_t(length) + 2});
                const size_t rest = held.size() - (size_t(length) + 2);
                m_size -= rest;
                feed({h + size_t(length) + 2, rest});
                break;
            }
            takeRecord(m_pending);
            m_pending.clear();
            break;
        }
        }
    }
}

void KlfStream::finish()
{
    switch (m_phase) {
    case Phase::Stopped:
        return;
    case Phase::Probe:
        if (m_size == 0 && m_mode != HeaderMode::Absent) {
            setError(Status::Malformed, 0, "empty file, no header");
        } else {
            // Every byte so far matched the identification record.
            setError(Status::Truncated, 0, "no identification record");
            m_hasHeader = true;
        }
        break;
    case Phase::Header:
        setError(Status::Truncated, m_size, "header cut short");
        m_hasHeader = true;
        break;
    case Phase::FirstRecord:
    case Phase::Records:
        if (m_pending.size() == 1) {
            setError(Status::Truncated, m_offset, "record length cut short");
        } else if (!m_pending.empty()) {
            const size_t length = size_t(m_pending[0] | (m_pending[1] << 8));
            setError(Status::Truncated, m_offset,
                     "record of length " + std::to_string(length) + " cut short (" + std::to_string(m_pending.size())
                         + " of " + std::to_string(length + 2) + " bytes)");
        }
        break;
    }
    m_pending.clear();
    m_phase = Phase::Stopped;
}
