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
    m_out.isoTime(s.timeMs) << ',';
    m_out.fixed(s.latitude, 7) << ',';
    m_out.fixed(s.longitude, 7) << ',';
    m_out << char('1' + s.receiver) << ',' << modeName(s.mode) << ',';
    if (s.channel != 0)
        m_out.integer(s.channel);
    m_out << ',';
    if (s.frequencyMHz > 0)
        m_out.fixed(s.frequencyMHz, 6);
    m_out << ',';
    m_out.integer(s.rssi) << '\n';
}

bool CsvWriter::finish(const DriveSummary&)
{
    return m_out.flush();
}
