#include "KlfRecordList.h"

KlfRecordList::KlfRecordList(std::span<const uint8_t> data, HeaderMode mode)
    : m_data(data), m_walk(mode)
{
    std::span<const uint8_t> rest = data;
    Record r;
    while (m_walk.next(rest, r)) {
        if (r.isChannelInfo)
            continue;
        m_records.push_back(r);
        m_records.back().bytes = recordBytes(r); // the parser's own copy would not last
    }
    m_walk.finish();
}
