#include "GpxWriter.h"

GpxWriter::GpxWriter(std::FILE* out, const std::string& name)
    : ExportWriter(out)
{
    m_out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
             "<gpx version=\"1.1\" creator=\"klf-export\" xmlns=\"http://www.topografix.com/GPX/1/1\"\n"
             "     xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"\n"
             "     xmlns:tavrix=\""
          << kNamespace
          << "\"\n"
             "     xsi:schemaLocation=\"http://www.topografix.com/GPX/1/1 http://www.topografix.com/GPX/1/1/gpx.xsd\">\n"
             "<trk><name>";
    m_out.xml(name) << "</name><trkseg>\n";
}

void GpxWriter::fix(const DriveFix& f)
{
    if (!f.used)
        return;
    m_out << "<trkpt lat=\"";
    m_out.fixed(f.latitude, 7) << "\" lon=\"";
    m_out.fixed(f.longitude, 7) << "\"><ele>";
    m_out.fixed(f.heightM, 2) << "</ele><time>";
    m_out.isoTime(f.timeMs) << "</time><fix>" << (f.status >= 7 ? "3d" : "2d") << "</fix><sat>";
    m_out.integer(f.satellites) << "</sat>";
    int receiver = 0;
    if (const auto peak = m_peaks.strongest(receiver)) {
        m_out << "<extensions><tavrix:rssi_dbm>";
        m_out.integer(*peak) << "</tavrix:rssi_dbm><tavrix:receiver>" << char('1' + receiver)
                             << "</tavrix:receiver></extensions>";
    }
    m_out << "</trkpt>\n";
    m_peaks.clear();
}

bool GpxWriter::finish(const DriveSummary&)
{
    m_out << "</trkseg></trk>\n</gpx>\n";
    return m_out.flush();
}
