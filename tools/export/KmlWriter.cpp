#include "KmlWriter.h"


#include <algorithm>

namespace {

constexpr const char* kIcon = "http://maps.google.com/mapfiles/kml/shapes/shaded_dot.png";

} // namespace

bool KmlWriter::Part::open()
{
    file = std::tmpfile();
    if (file)
        text = std::make_unique<TextBuffer>(file);
    return file != nullptr;
}

bool KmlWriter::Part::copyTo(TextBuffer& out)
{
    if (!file || !text->flush())
        return false;
    std::rewind(file);
    char chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        out << std::string_view(chunk, n);
    return !std::ferror(file);
}

KmlWriter::KmlWriter(std::FILE* out, const std::string& name, int receiverChoice, int rangeMin, int rangeMax)
    : ExportWriter(out), m_name(name), m_receiverChoice(receiverChoice), m_rangeMin(rangeMin), m_rangeMax(rangeMax)
{
    m_partsOk = m_route.open();
    for (int r = 0; r < 2; ++r)
        if (m_receiverChoice < 0 || m_receiverChoice == r)
            m_partsOk = m_folders[size_t(r)].open() && m_partsOk;
}

KmlWriter::~KmlWriter()
{
    for (Part* p : {&m_route, &m_folders[0], &m_folders[1]}) {
        p->text.reset();
        if (p->file)
            std::fclose(p->file);
    }
}

void KmlWriter::sample(const DriveSample& s)
{
    m_peaks.add(s);
    if (s.placed)
        m_hasSamples[s.receiver] = true;
}

void KmlWriter::fix(const DriveFix& f)
{
    if (!f.used || !m_partsOk)
        return;
    ++m_usedFixes;
    TextBuffer& route = *m_route.text;
    route.fixed(f.longitude, 7) << ',';
    route.fixed(f.latitude, 7) << ",0\n";
    for (int r = 0; r < 2; ++r) {
        Part& part = m_folders[size_t(r)];
        if (!part.file)
            continue;
        TextBuffer& out = *part.text;
        const auto peak = m_peaks.peak(r);
        out << "<Placemark><name>";
        if (peak)
            out.integer(*peak) << " dBm";
        else
            out << "no reading";
        out << "</name><TimeStamp><when>";
        out.isoTime(f.timeMs) << "</when></TimeStamp><styleUrl>#";
        if (peak)
            out << "dbm" << (*peak < 0 ? "-" : "") << std::to_string(std::abs(std::clamp(*peak, m_rangeMin, m_rangeMax)));
        else
            out << "none";
        out << "</styleUrl>";
        if (peak) {
            out << "<ExtendedData><Data name=\"rssi_dbm\"><value>";
            out.integer(*peak) << "</value></Data></ExtendedData>";
        }
        out << "<Point><coordinates>";
        out.fixed(f.longitude, 7) << ',';
        out.fixed(f.latitude, 7) << ",0</coordinates></Point></Placemark>\n";
    }
    m_peaks.clear();
}

bool KmlWriter::finish(const DriveSummary&)
{
    m_out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
             "<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n<Document><name>";
    m_out.xml(m_name) << "</name>\n";
    // One style per dBm in the range; values outside use the nearest end.
    auto iconStyle = [&](const std::string& id, const std::string& colour) {
        m_out << "<Style id=\"" << id << "\"><IconStyle><color>" << colour
              << "</color><scale>0.6</scale><Icon><href>" << kIcon
              << "</href></Icon></IconStyle><LabelStyle><scale>0</scale></LabelStyle></Style>\n";
    };
    iconStyle("none", "ff808080");
    const RssiPalette palette(m_rangeMin, m_rangeMax);
    for (int v = m_rangeMin; v <= m_rangeMax; ++v)
        iconStyle(std::string("dbm") + (v < 0 ? "-" : "") + std::to_string(std::abs(v)),
                  colour(palette.rgb(v)));
    m_out << "<Style id=\"route\"><LineStyle><color>ff00ffff</color><width>3</width></LineStyle></Style>\n";

    bool ok = m_partsOk;
    // A line needs two points.
    if (m_usedFixes >= 2) {
        m_out << "<Folder><name>Route</name><Placemark><name>Route</name><styleUrl>#route</styleUrl>"
                 "<LineString><tessellate>1</tessellate><coordinates>\n";
        ok = m_route.copyTo(m_out) && ok;
        m_out << "</coordinates></LineString></Placemark></Folder>\n";
    }

    const bool anySamples = m_hasSamples[0] || m_hasSamples[1];
    bool wroteFolder = false;
    for (int r = 0; r < 2; ++r) {
        Part& part = m_folders[size_t(r)];
        if (!part.file)
            continue;
        if (anySamples ? !m_hasSamples[size_t(r)] : wroteFolder)
            continue;
        m_out << "<Folder><name>R" << char('1' + r) << "</name>\n";
        ok = part.copyTo(m_out) && ok;
        m_out << "</Folder>\n";
        wroteFolder = true;
    }
    m_out << "</Document>\n</kml>\n";
    return m_out.flush() && ok;
}

std::string KmlWriter::colour(RssiPalette::Rgb c)
{
    char text[9];
    std::snprintf(text, sizeof text, "ff%02x%02x%02x", c.b, c.g, c.r);
    return text;
}
