#include "CsvWriter.h"

CsvWriter::CsvWriter(std::FILE* out)
    : ExportWriter(out)
{
    m_out << "time,latitude,longitude,receiver,mode,channel,frequency_mhz,rssi_dbm\n";
}

void CsvWriter::sample(const DriveSample& s)
{
    if (!s.placed)
        return;
    if (s.record != m_prefixRecord) {
        m_prefixRecord = s.record;
        char* p = m_out.formatIsoTime(m_prefix, s.timeMs);
        *p++ = ',';
        p = TextBuffer::formatFixed(p, s.latitude, 7);
        *p++ = ',';
        p = TextBuffer::formatFixed(p, s.longitude, 7);
        *p++ = ',';
        m_prefixLength = size_t(p - m_prefix);
    }
    m_out.append(m_prefix, m_prefixLength);
    m_out << char('1' + s.receiver) << ',' << modeName(s.mode) << ',';
    if (s.channel != 0)
        m_out.integer(s.channel);
    m_out << ',';
    if (s.frequencyMHz > 0)
        m_out.shortFixed(s.frequencyMHz, 6);
    m_out << ',';
    m_out.integer(s.rssi) << '\n';
}

bool CsvWriter::finish(const DriveSummary&)
{
    return m_out.flush();
}
