#include "coverage/AcceptanceGpx.h"

#include "coverage/CoverageGrid.h"
#include "platform/TextEscape.h"

#include <cstdio>
#include <map>
#include <string>

std::string AcceptanceGpx::text(const AcceptanceReport& r)
{
    struct Wanted
    {
        double latitude = 0, longitude = 0;
        uint64_t samples = 0;
        std::string channels;
    };
    std::map<int64_t, Wanted> wanted; // by key: one waypoint per tile, in grid order
    for (const AcceptanceSection& s : r.sections)
        for (const AcceptanceTile& t : s.tiles) {
            if (t.tested())
                continue;
            Wanted& w = wanted[t.key];
            w.latitude = t.latitude;
            w.longitude = t.longitude;
            w.samples = std::max(w.samples, t.samples);
            char channel[64];
            std::snprintf(channel, sizeof channel, "%s%s %.4f MHz", w.channels.empty() ? "" : ", ",
                          s.receiverText().c_str(), s.frequencyMHz);
            if (w.channels.size() < 200)
                w.channels += channel;
        }
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<gpx version=\"1.1\" creator=\"klf-report\" xmlns=\"http://www.topografix.com/GPX/1/1\">\n"
                      "  <metadata><name>Tiles to drive next</name></metadata>\n";
    char line[512];
    for (const auto& [key, w] : wanted) {
        const CoverageGrid::Cell c = CoverageGrid::cellOfKey(key);
        std::snprintf(line, sizeof line,
                      "  <wpt lat=\"%.7f\" lon=\"%.7f\"><name>T%d-%d</name><desc>%llu samples; untested: %s</desc>"
                      "<sym>Flag, Red</sym></wpt>\n",
                      w.latitude, w.longitude, c.row, c.column, static_cast<unsigned long long>(w.samples),
                      TextEscape::xml(w.channels).c_str());
        out += line;
    }
    out += "</gpx>\n";
    return out;
}
