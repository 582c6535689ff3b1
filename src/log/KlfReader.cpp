#include "KlfReader.h"

#include "KlfStream.h"

#include <algorithm>
#include <cstring>

KlfReader::KlfReader(std::span<const uint8_t> data, HeaderMode mode)
    : m_data(data)
{
    auto toRecord = [](const KlfStream::Record& r) { return Record{r.offset, r.length, r.type, r.checksumOk}; };
    KlfStream walk(KlfStream::HeaderMode(int(mode)),
                   [&](const KlfStream::Record& r, std::span<const uint8_t>, bool isChannelInfo) {
                       if (!isChannelInfo)
                           m_records.push_back(toRecord(r));
                   });
    walk.feed(data);
    walk.finish();
    m_status = Status(int(walk.status()));
    m_errorOffset = walk.errorOffset();
    m_error = walk.error();
    m_checksumErrors = walk.checksumErrors();
    m_end = walk.endOfRecords();
    m_truncatedAt = walk.truncatedAt();
    m_hasHeader = walk.hasHeader();
    m_serial = walk.serialNumber();
    m_receiverFlags = walk.receiverFlags();
    m_blocks = {walk.settingsBlock(0), walk.settingsBlock(1)};
    if (auto ci = walk.channelInfo())
        m_channelInfo = toRecord(*ci);
}

std::span<const uint8_t> KlfReader::recordBytes(const Record& r) const
{
    return m_data.subspan(r.offset, size_t(r.length) + 2);
}

std::span<const uint8_t> KlfReader::payload(const Record& r) const
{
    return m_data.subspan(r.offset + 3, r.length >= 2 ? size_t(r.length) - 2 : 0);
}
