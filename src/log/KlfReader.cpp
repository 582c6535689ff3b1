#include "KlfReader.h"

#include "KlfHeader.h"

#include <algorithm>
#include <cstring>

namespace {

std::string hexOffset(size_t offset)
{
    char text[32];
    std::snprintf(text, sizeof text, "offset %zu (0x%zx)", offset, offset);
    return text;
}

} // namespace

KlfReader::KlfReader(std::span<const uint8_t> data, HeaderMode mode)
    : m_data(data)
{
    size_t offset = 0;
    const auto prefix = KlfHeader::identificationPrefix();
    // A file shorter than the prefix that matches its start is a header cut short.
    const size_t probe = std::min(data.size(), prefix.size());
    const bool looksLikeHeader = probe > 0 && std::equal(data.begin(), data.begin() + probe, prefix.begin());
    if (mode == HeaderMode::Present || (mode == HeaderMode::Detect && looksLikeHeader)) {
        if (!readHeader()) {
            m_end = m_errorOffset;
            return;
        }
        offset = KlfHeader::kFixedSize;
        if (offset < data.size()) {
            Record r;
            if (!readRecord(offset, r)) {
                m_end = offset;
                return;
            }
            if (r.type == 5 || r.type == 6)
                m_channelInfo = r;
            else
                m_records.push_back(r);
            offset += size_t(r.length) + 2;
        }
    }
    while (offset < data.size()) {
        Record r;
        if (!readRecord(offset, r))
            break;
        m_records.push_back(r);
        offset += size_t(r.length) + 2;
    }
    m_end = std::min(offset, data.size());
}

void KlfReader::setError(Status status, size_t offset, std::string text)
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

bool KlfReader::readHeader()
{
    const auto prefix = KlfHeader::identificationPrefix();
    if (m_data.size() < prefix.size() || !std::equal(prefix.begin(), prefix.end(), m_data.begin())) {
        setError(m_data.size() < prefix.size() ? Status::Truncated : Status::Malformed, 0,
                 "no identification record");
        return false;
    }
    m_hasHeader = true;
    if (m_data.size() < KlfHeader::kFixedSize) {
        setError(Status::Truncated, m_data.size(), "header cut short");
        return false;
    }
    const uint8_t* s = &m_data[KlfHeader::kSerialRecordOffset];
    uint8_t sum = 0;
    for (int i = 2; i < 13; ++i)
        sum ^= s[i];
    if (s[0] != 11 || s[1] != 0 || s[2] != KlfHeader::kSerialNumberType || sum != 0) {
        setError(Status::Malformed, KlfHeader::kSerialRecordOffset, "bad serial number record");
        return false;
    }
    m_serial.assign(reinterpret_cast<const char*>(s + 3), strnlen(reinterpret_cast<const char*>(s + 3), 8));

    const uint8_t* c = &m_data[KlfHeader::kConfigRecordOffset];
    if (c[0] != KlfHeader::kReceiverConfigLength || c[1] != 0 || c[2] != KlfHeader::kReceiverConfigType) {
        setError(Status::Malformed, KlfHeader::kConfigRecordOffset, "bad receiver configuration record");
        return false;
    }
    m_receiverFlags = c[3];
    std::copy_n(c + 4, 12, m_blocks[0].begin());
    std::copy_n(c + 16, 11, m_blocks[1].begin());
    return true;
}

bool KlfReader::readRecord(size_t offset, Record& out)
{
    const size_t left = m_data.size() - offset;
    if (left < 2) {
        setError(Status::Truncated, offset, "record length cut short");
        return false;
    }
    out.offset = offset;
    out.length = uint16_t(m_data[offset] | (m_data[offset + 1] << 8));
    if (out.length == 0 || out.length > kMaxLength) {
        setError(Status::Malformed, offset, "record length " + std::to_string(out.length) + " out of range");
        return false;
    }
    if (left < size_t(out.length) + 2) {
        setError(Status::Truncated, offset,
                 "record of length " + std::to_string(out.length) + " cut short ("
                     + std::to_string(left) + " of " + std::to_string(out.length + 2) + " bytes)");
        return false;
    }
    out.type = m_data[offset + 2];
    uint8_t sum = 0;
    for (size_t i = 0; i < out.length; ++i)
        sum ^= m_data[offset + 2 + i];
    out.checksumOk = sum == 0;
    if (!out.checksumOk) {
        if (m_checksumErrors++ == 0)
            setError(Status::Malformed, offset, "bad checksum in record of type " + std::to_string(out.type));
    }
    return true;
}

std::span<const uint8_t> KlfReader::recordBytes(const Record& r) const
{
    return m_data.subspan(r.offset, size_t(r.length) + 2);
}

std::span<const uint8_t> KlfReader::payload(const Record& r) const
{
    return m_data.subspan(r.offset + 3, r.length >= 2 ? size_t(r.length) - 2 : 0);
}
