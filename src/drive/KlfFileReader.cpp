#include "KlfFileReader.h"

#include "log/KlfHeader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

KlfFileReader::KlfFileReader(std::FILE* file)
    : m_file(file), m_buffer(new uint8_t[kBufferSize])
{
}

size_t KlfFileReader::fill(size_t n)
{
    if (m_end - m_pos >= n || m_eof)
        return m_end - m_pos;
    // Records are at most 2049 bytes, so moving the tail to the front is cheap.
    std::memmove(m_buffer.get(), m_buffer.get() + m_pos, m_end - m_pos);
    m_end -= m_pos;
    m_pos = 0;
    while (m_end < n && !m_eof) {
        const size_t got = std::fread(m_buffer.get() + m_end, 1, kBufferSize - m_end, m_file);
        m_end += got;
        if (got == 0) {
            m_eof = true;
            if (std::ferror(m_file))
                setError(Status::Unreadable, m_offset + m_end, std::string("read error: ") + std::strerror(errno));
        }
    }
    return m_end - m_pos;
}

void KlfFileReader::setError(Status status, uint64_t offset, const std::string& text)
{
    if (m_status == Status::Ok) {
        m_errorOffset = offset;
        char where[64];
        std::snprintf(where, sizeof where, " at offset %llu (0x%llx)", static_cast<unsigned long long>(offset),
                      static_cast<unsigned long long>(offset));
        m_error = text + where;
    }
    // A bad record anywhere outweighs a cut one at the end; a failing disk outweighs both.
    if (m_status == Status::Ok || status == Status::Unreadable
        || (status == Status::Malformed && m_status == Status::Truncated))
        m_status = status;
}

bool KlfFileReader::readHeader()
{
    if (m_headerRead)
        return !m_stopped;
    m_headerRead = true;
    const auto prefix = KlfHeader::identificationPrefix();
    const size_t have = fill(KlfHeader::kFixedSize);
    const size_t probe = std::min(have, prefix.size());
    const uint8_t* p = m_buffer.get() + m_pos;
    if (probe == 0 || !std::equal(p, p + probe, prefix.begin()))
        return m_status == Status::Ok;

    m_hasHeader = true;
    if (have < KlfHeader::kFixedSize) {
        setError(Status::Truncated, have, "header cut short");
        m_stopped = true;
        return false;
    }
    const uint8_t* s = p + KlfHeader::kSerialRecordOffset;
    uint8_t sum = 0;
    for (int i = 2; i < 13; ++i)
        sum ^= s[i];
    if (s[0] != 11 || s[1] != 0 || s[2] != KlfHeader::kSerialNumberType || sum != 0) {
        setError(Status::Malformed, KlfHeader::kSerialRecordOffset, "bad serial number record");
        m_stopped = true;
        return false;
    }
    m_serial.assign(reinterpret_cast<const char*>(s + 3), strnlen(reinterpret_cast<const char*>(s + 3), 8));
    const uint8_t* c = p + KlfHeader::kConfigRecordOffset;
    if (c[0] != KlfHeader::kReceiverConfigLength || c[1] != 0 || c[2] != KlfHeader::kReceiverConfigType) {
        setError(Status::Malformed, KlfHeader::kConfigRecordOffset, "bad receiver configuration record");
        m_stopped = true;
        return false;
    }
    m_receiverFlags = c[3];
    std::copy_n(c + 4, 12, m_blocks[0].begin());
    std::copy_n(c + 16, 11, m_blocks[1].begin());
    m_pos += KlfHeader::kFixedSize;
    m_offset = KlfHeader::kFixedSize;

    // The channel information is an ordinary record that only its type tells apart.
    if (!readRecord(m_heldRecord))
        return m_status == Status::Ok;
    if (m_heldRecord.type == 5 || m_heldRecord.type == 6)
        m_channelInfo.assign(m_heldRecord.bytes.begin(), m_heldRecord.bytes.end());
    else
        m_held = true;
    return true;
}

bool KlfFileReader::readRecord(Record& out)
{
    if (m_stopped)
        return false;
    const size_t left = fill(2);
    if (left == 0) {
        m_stopped = true;
        return false;
    }
    if (left < 2) {
        setError(Status::Truncated, m_offset, "record length cut short");
        m_stopped = true;
        return false;
    }
    const uint8_t* p = m_buffer.get() + m_pos;
    out.offset = m_offset;
    out.length = uint16_t(p[0] | (p[1] << 8));
    if (out.length == 0 || out.length > kMaxLength) {
        setError(Status::Malformed, m_offset, "record length " + std::to_string(out.length) + " out of range");
        m_stopped = true;
        return false;
    }
    const size_t size = size_t(out.length) + 2;
    const size_t have = fill(size);
    if (have < size) {
        setError(Status::Truncated, m_offset,
                 "record of length " + std::to_string(out.length) + " cut short (" + std::to_string(have) + " of "
                     + std::to_string(size) + " bytes)");
        m_stopped = true;
        return false;
    }
    p = m_buffer.get() + m_pos;
    out.type = p[2];
    out.bytes = std::span<const uint8_t>(p, size);
    uint8_t sum = 0;
    for (size_t i = 2; i < size; ++i)
        sum ^= p[i];
    out.checksumOk = sum == 0;
    if (!out.checksumOk && m_checksumErrors++ == 0)
        setError(Status::Malformed, m_offset, "bad checksum in record of type " + std::to_string(out.type));
    m_pos += size;
    m_offset += size;
    return true;
}

bool KlfFileReader::next(Record& out)
{
    if (!m_headerRead && !readHeader())
        return false;
    if (m_held) {
        // Still in the buffer: nothing was read since the header.
        m_held = false;
        out = m_heldRecord;
        return true;
    }
    return readRecord(out);
}
