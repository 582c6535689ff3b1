#include "KlfStream.h"

#include "link/ByteOrder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

// Eight bytes at a time: the drive model checks every record of a log this way.
uint8_t xorOf(std::span<const uint8_t> bytes)
{
    const uint8_t* p = bytes.data();
    const uint8_t* const end = p + bytes.size();
    uint64_t wide = 0;
    for (; end - p >= 8; p += 8) {
        uint64_t w;
        std::memcpy(&w, p, 8);
        wide ^= w;
    }
    wide ^= wide >> 32;
    wide ^= wide >> 16;
    wide ^= wide >> 8;
    uint8_t sum = uint8_t(wide);
    for (; p < end; ++p)
        sum ^= *p;
    return sum;
}

} // namespace

KlfStream::KlfStream(HeaderMode mode, RecordHandler onRecord)
    : m_mode(mode)
    , m_onRecord(std::move(onRecord))
    , m_phase(mode == HeaderMode::Absent ? Phase::Records : Phase::Probe)
{
}

std::string KlfStream::at(size_t offset)
{
    char text[56];
    std::snprintf(text, sizeof text, " at offset %zu (0x%zx)", offset, offset);
    return text;
}

void KlfStream::setError(Status status, size_t offset, std::string text)
{
    if (m_status == Status::Ok) {
        m_errorOffset = offset;
        m_error = text + at(offset);
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

void KlfStream::takeRecord(std::span<const uint8_t> bytes, Record& r)
{
    r.offset = m_offset;
    r.length = ByteOrder::getleu16(bytes.data());
    r.type = bytes[2];
    r.checksumOk = xorOf(bytes.subspan(2)) == 0;
    r.bytes = bytes;
    if (!r.checksumOk && m_checksumErrors++ == 0)
        setError(Status::Malformed, r.offset, "bad checksum in record of type " + std::to_string(r.type));
    r.isChannelInfo = m_phase == Phase::FirstRecord && (r.type == 5 || r.type == 6);
    if (r.isChannelInfo) {
        m_channelInfo = r;
        m_channelInfo->bytes = {};
    } else {
        ++m_recordCount;
    }
    m_phase = Phase::Records;
    m_offset += bytes.size();
    m_end = m_offset;
}

void KlfStream::readHeader()
{
    m_hasHeader = true;
    KlfHeader::Fault fault;
    const std::span<const uint8_t, KlfHeader::kFixedSize> fixed(m_pending.data(), KlfHeader::kFixedSize);
    const auto stored = KlfHeader::read(fixed, fault);
    m_pending.clear();
    if (!stored) {
        setError(Status::Malformed, fault.offset, fault.what);
        m_end = fault.offset;
        m_phase = Phase::Stopped;
        return;
    }
    m_header = *stored;
    m_offset = m_end = KlfHeader::kFixedSize;
    m_phase = Phase::FirstRecord;
}

void KlfStream::feed(std::span<const uint8_t> bytes)
{
    Record r;
    while (next(bytes, r))
        if (m_onRecord)
            m_onRecord(r, r.bytes, r.isChannelInfo);
}

bool KlfStream::next(std::span<const uint8_t>& in, Record& out)
{
    if (m_pendingHandedOut) {
        m_pending.clear();
        m_pendingHandedOut = false;
    }
    // The common case first: a whole record at the front of the bytes.
    if (m_phase == Phase::Records && m_pending.empty() && in.size() >= 2) {
        const size_t length = ByteOrder::getleu16(in.data());
        if (length != 0 && length <= kMaxLength && in.size() >= length + 2) {
            takeRecord(in.first(length + 2), out);
            m_size += length + 2;
            in = in.subspan(length + 2);
            return true;
        }
    }
    const uint8_t* const begin = in.data();
    const uint8_t* p = begin;
    const uint8_t* const end = p + in.size();
    bool whole = false;
    while (p < end && !whole && m_phase != Phase::Stopped) {
        switch (m_phase) {
        case Phase::Stopped:
            break;

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
                    break;
                }
                // No header: what matched so far (zeros only, so at most one
                // byte of a good length) is the start of the first record.
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
                // The common case: the whole record is in these bytes.
                const uint16_t length = ByteOrder::getleu16(p);
                if (badLength(length))
                    break;
                if (size_t(end - p) >= size_t(length) + 2) {
                    takeRecord({p, size_t(length) + 2}, out);
                    p += size_t(length) + 2;
                    whole = true;
                    break;
                }
            }
            if (!gather(p, end, 2))
                break;
            const uint16_t length = ByteOrder::getleu16(m_pending.data());
            if (badLength(length) || !gather(p, end, size_t(length) + 2))
                break;
            takeRecord(m_pending, out);
            m_pendingHandedOut = true;
            whole = true;
            break;
        }
        }
    }
    m_size += size_t(p - begin);
    in = in.subspan(size_t(p - begin));
    return whole;
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
        if (m_pendingHandedOut) {
            m_pending.clear();
            m_pendingHandedOut = false;
        }
        if (m_pending.size() == 1) {
            setError(Status::Truncated, m_offset, "record length cut short");
        } else if (!m_pending.empty()) {
            const size_t length = ByteOrder::getleu16(m_pending.data());
            setError(Status::Truncated, m_offset,
                     "record of length " + std::to_string(length) + " cut short (" + std::to_string(m_pending.size())
                         + " of " + std::to_string(length + 2) + " bytes)");
        }
        break;
    }
    m_pending.clear();
    m_phase = Phase::Stopped;
}

void KlfStream::rewindToWholeRecords()
{
    m_pending.clear();
    m_pendingHandedOut = false;
    switch (m_phase) {
    case Phase::Stopped:
        return;
    case Phase::Probe:
    case Phase::Header:
        m_phase = Phase::Probe;
        m_size = 0;
        return;
    case Phase::FirstRecord:
    case Phase::Records:
        m_size = m_offset;
        return;
    }
}
