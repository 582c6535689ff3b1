#include "GpsRecord.h"

void GpsRecord::Decode(const uint8_t* message)
{
    std::lock_guard lock(m_mutex);
    m_record.Decode(message);
    ++m_decoded;
}

TGPS GpsRecord::copy() const
{
    std::lock_guard lock(m_mutex);
    return m_record;
}

TGPS GpsRecord::copy(uint64_t& decoded) const
{
    std::lock_guard lock(m_mutex);
    decoded = m_decoded;
    return m_record;
}
