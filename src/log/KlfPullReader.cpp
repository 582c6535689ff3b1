#include "KlfPullReader.h"

#include <cerrno>
#include <cstring>

KlfPullReader::KlfPullReader(std::FILE* file)
    : m_file(file), m_buffer(new uint8_t[kBufferSize])
{
}

void KlfPullReader::refill()
{
    const size_t got = std::fread(m_buffer.get(), 1, kBufferSize, m_file);
    m_unread = {m_buffer.get(), got};
    if (got > 0)
        return;
    m_eof = true;
    if (std::ferror(m_file)) {
        m_streamErredFirst = m_stream.status() != KlfStream::Status::Ok;
        m_readErrorOffset = m_stream.bytesTaken();
        m_readError = std::string("read error: ") + std::strerror(errno) + KlfStream::at(m_readErrorOffset);
    }
    // The drive model and the replay have always taken a file without a byte
    // as an empty drive, which klf-inspect calls malformed (it has no header).
    if (m_stream.bytesTaken() > 0)
        m_stream.finish();
}

bool KlfPullReader::pull(Record& out)
{
    for (;;) {
        if (m_stream.next(m_unread, out))
            return true;
        if (m_stream.stopped() || m_eof)
            return false;
        refill();
    }
}

bool KlfPullReader::readHeader()
{
    if (m_headerRead)
        return m_headerOk;
    m_headerRead = true;
    if (pull(m_heldRecord)) {
        if (m_heldRecord.isChannelInfo)
            m_channelInfo.assign(m_heldRecord.bytes.begin(), m_heldRecord.bytes.end());
        else
            m_held = true; // its bytes stay where they are until the next pull
        return true;
    }
    m_headerOk = status() == Status::Ok;
    return m_headerOk;
}

bool KlfPullReader::next(Record& out)
{
    if (!m_headerRead && !readHeader())
        return false;
    if (m_held) {
        m_held = false;
        out = m_heldRecord;
        return true;
    }
    return pull(out);
}

KlfPullReader::Status KlfPullReader::status() const
{
    // A failing disk outweighs what the bytes before it showed.
    if (!m_readError.empty())
        return Status::Unreadable;
    switch (m_stream.status()) {
    case KlfStream::Status::Ok: return Status::Ok;
    case KlfStream::Status::Malformed: return Status::Malformed;
    case KlfStream::Status::Truncated: return Status::Truncated;
    }
    return Status::Malformed;
}

const std::string& KlfPullReader::error() const
{
    return m_readError.empty() || m_streamErredFirst ? m_stream.error() : m_readError;
}

uint64_t KlfPullReader::errorOffset() const
{
    return m_readError.empty() || m_streamErredFirst ? m_stream.errorOffset() : m_readErrorOffset;
}
