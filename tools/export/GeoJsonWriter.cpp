#include "GeoJsonWriter.h"

GeoJsonWriter::GeoJsonWriter(std::FILE* out)
    : ExportWriter(out)
{
    m_out << "{\"type\":\"FeatureCollection\",\"features\":[";
}

void GeoJsonWriter::sample(const DriveSample& s)
{
    if (!s.placed)
        return;
    m_out << (m_first ? "\n" : ",\n");
    m_first = false;
    m_out << "{\"type\":\"Feature\",\"geometry\":{\"type\":\"Point\",\"coordinates\":[";
    m_out.fixed(s.longitude, 7) << ',';
    m_out.fixed(s.latitude, 7) << "]},\"properties\":{\"time\":\"";
    m_out.isoTime(s.timeMs) << "\",\"latitude\":";
    m_out.fixed(s.latitude, 7) << ",\"longitude\":";
    m_out.fixed(s.longitude, 7) << ",\"receiver\":" << char('1' + s.receiver) << ",\"mode\":\"" << modeName(s.mode)
                                << "\",\"channel\":";
    if (s.channel != 0)
        m_out.integer(s.channel);
    else
        m_out << "null";
    m_out << ",\"frequency_mhz\":";
    if (s.frequencyMHz > 0)
        m_out.shortFixed(s.frequencyMHz, 6);
    else
        m_out << "null";
    m_out << ",\"rssi_dbm\":";
    m_out.integer(s.rssi) << "}}";
}

bool GeoJsonWriter::finish(const DriveSummary&)
{
    m_out << "\n]}\n";
    return m_out.flush();
}
