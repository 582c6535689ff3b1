#include "coverage/AcceptanceJson.h"

#include "platform/TextEscape.h"

#include <cstdio>

namespace {

std::string number(double v)
{
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
}

std::string count(uint64_t v)
{
    return std::to_string(v);
}

} // namespace

std::string AcceptanceJson::text(const AcceptanceReport& r)
{
    std::string out = "{\n";
    out += "  \"threshold_dbm\": " + number(r.thresholdDbm) + ",\n";
    out += "  \"required_reliability\": " + number(r.requiredReliability) + ",\n";
    out += "  \"confidence\": " + number(r.confidence) + ",\n";
    out += "  \"z\": " + number(r.z) + ",\n";
    out += "  \"tile_m\": " + number(r.tileMetres) + ",\n";
    out += "  \"estimator\": \"" + std::string(AcceptanceReport::estimatorName(r.estimator)) + "\",\n";
    out += "  \"min_samples\": " + count(r.minSamples) + ",\n";
    out += "  \"area\": " + (r.areaGiven() ? TextEscape::json(r.areaFile) : std::string("null")) + ",\n";
    out += "  \"created_utc\": " + TextEscape::json(r.createdUtc) + ",\n";
    out += "  \"drives\": [";
    for (size_t i = 0; i < r.drives.size(); ++i) {
        const AcceptanceReport::Drive& d = r.drives[i];
        out += i ? ",\n    {" : "\n    {";
        out += "\"file\": " + TextEscape::json(d.fileName) + ", \"sha256\": " + TextEscape::json(d.sha256)
               + ", \"serial_number\": " + TextEscape::json(d.serialNumber) + ", \"first_ms\": "
               + std::to_string(d.firstMs) + ", \"last_ms\": " + std::to_string(d.lastMs)
               + ", \"distance_m\": " + number(d.distanceMetres) + ", \"samples\": " + count(d.samples) + "}";
    }
    out += r.drives.empty() ? "],\n" : "\n  ],\n";
    out += "  \"sections\": [";
    for (size_t i = 0; i < r.sections.size(); ++i) {
        const AcceptanceSection& s = r.sections[i];
        const AcceptanceFigures& f = s.figures;
        out += i ? ",\n    {" : "\n    {";
        out += "\"receiver\": " + (s.receiver ? std::to_string(s.receiver) : std::string("\"both\""));
        out += ", \"frequency_mhz\": " + number(s.frequencyMHz);
        out += ", \"channel\": " + (s.channel ? std::to_string(s.channel) : std::string("null"));
        out += ", \"tiles_in_area\": " + count(f.tilesInArea);
        out += ", \"tiles_tested\": " + count(f.tilesTested);
        out += ", \"tiles_passed\": " + count(f.tilesPassed);
        out += ", \"tiles_untested\": " + count(f.tilesUntested);
        out += ", \"tiles_not_driven\": " + count(f.tilesNotDriven);
        out += ", \"reliability\": " + (f.tilesTested ? number(f.reliability) : std::string("null"));
        out += ", \"lower_bound\": " + number(f.lowerBound);
        out += ", \"upper_bound\": " + number(f.upperBound);
        out += ", \"verdict\": \"" + std::string(AcceptanceFigures::verdictText(f.verdict)) + "\"";
        out += ", \"tiles_needed\": " + (f.tilesNeeded ? count(*f.tilesNeeded) : std::string("null")) + "}";
    }
    out += r.sections.empty() ? "]\n}\n" : "\n  ]\n}\n";
    return out;
}
