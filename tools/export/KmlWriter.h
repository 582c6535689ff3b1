#pragma once

#include "ExportWriter.h"
#include "PeakSinceFix.h"
#include "protocol/RssiPalette.h"

#include <array>
#include <cstdio>
#include <memory>
#include <string>

// KML 2.2 for Google Earth: the route as a LineString, and a folder per
// receiver with one Placemark per used fix carrying the strongest RSSI
// placed since the previous fix, styled by its value in the colour range.
// A fix with no value of that receiver is grey. A receiver with no sample
// at all gets no folder (unless no receiver has any).
//
// KML wants the folders one after the other while the fixes come in time
// order, so the route and each folder are written to unnamed temporary
// files and joined at the end: memory stays flat however long the drive.
class KmlWriter : public ExportWriter
{
public:
    KmlWriter(std::FILE* out, const std::string& name, int receiverChoice, int rangeMin, int rangeMax);
    ~KmlWriter() override;
    void fix(const DriveFix& f) override;
    void sample(const DriveSample& s) override;
    bool finish(const DriveSummary& summary) override;

    // KML's aabbggrr, opaque.
    static std::string colour(RssiPalette::Rgb c);

private:
    struct Part
    {
        std::FILE* file = nullptr;
        std::unique_ptr<TextBuffer> text;
        bool open();
        bool copyTo(TextBuffer& out);
    };

    std::string m_name;
    int m_receiverChoice; // 0, 1, or -1 for both
    int m_rangeMin;
    int m_rangeMax;
    PeakSinceFix m_peaks;
    Part m_route;
    std::array<Part, 2> m_folders;
    std::array<bool, 2> m_hasSamples{};
    bool m_partsOk = true;
    uint64_t m_usedFixes = 0;
};
