#include "ReportRun.h"

#include "coverage/AcceptanceGpx.h"
#include "coverage/AcceptanceJson.h"
#include "coverage/AcceptanceSource.h"
#include "coverage/AcceptanceStatistics.h"
#include "coverage/AcceptanceTiler.h"
#include "coverage/AcceptanceTilesGpkg.h"
#include "drive/LogFiles.h"
#include "platform/UtcTime.h"
#include "map/ReportDocument.h"
#include "platform/ProgressBar.h"
#include "platform/ReplacingFile.h"

#include <QGuiApplication>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Failure
{
    std::FILE* err;
    int operator()(const std::string& what) const
    {
        std::fprintf(err, "klf-report: %s\n", what.c_str());
        return ReportRun::kExitBadInput;
    }
};

// A text output, held back until every output is ready.
bool prepare(ReplacingFile& file, const std::string& text, std::string& error)
{
    if (!file.open(error))
        return false;
    if (std::fwrite(text.data(), 1, text.size(), file.stream()) != text.size()) {
        error = "cannot write it";
        return false;
    }
    return true;
}

std::string percent(double fraction)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %%", fraction * 100);
    return text;
}

void printVerdict(std::FILE* out, const AcceptanceSection& s)
{
    const AcceptanceFigures& f = s.figures;
    std::fprintf(out, "%s %.4f MHz", s.receiverText().c_str(), s.frequencyMHz);
    if (s.channel)
        std::fprintf(out, " (channel %d)", s.channel);
    std::fprintf(out, ": %llu of %llu tested tiles passed", static_cast<unsigned long long>(f.tilesPassed),
                 static_cast<unsigned long long>(f.tilesTested));
    if (f.tilesTested)
        std::fprintf(out, ", %s (bounds %s to %s)", percent(f.reliability).c_str(), percent(f.lowerBound).c_str(),
                     percent(f.upperBound).c_str());
    std::fprintf(out, "; %llu of %llu in the area untested: %s", static_cast<unsigned long long>(f.tilesUntested),
                 static_cast<unsigned long long>(f.tilesInArea), AcceptanceFigures::verdictText(f.verdict));
    if (f.tilesNeeded)
        std::fprintf(out, ", about %llu more tested tiles at this rate would decide it",
                     static_cast<unsigned long long>(*f.tilesNeeded));
    std::fputc('\n', out);
}

} // namespace

int ReportRun::run(const ReportOptions& o, std::FILE* out, std::FILE* err)
{
    const Failure fail{err};
    const bool lee = o.estimator == AcceptanceReport::Estimator::Lee;

    std::vector<std::string> maps, inputs;
    for (const std::string& s : o.inputs)
        (AcceptanceSource::isMap(s) ? maps : inputs).push_back(s);
    if (lee && !maps.empty())
        return fail("--estimator lee needs logs: " + maps.front()
                    + " is a coverage map, which keeps no order of the samples along the route");
    if (o.filter.channel && !maps.empty())
        return fail("--channel needs logs: " + maps.front()
                    + " is a coverage map, which knows frequencies, not channel numbers; choose --frequency");
    std::vector<std::string> logs;
    std::string error;
    if (!LogFiles::collect(inputs, logs, error,
                           [err](const std::string& folder) { std::fprintf(err, "klf-report: %s: no .KLF files\n", folder.c_str()); }))
        return fail(error);
    if (maps.empty() && logs.empty())
        return fail("no log and no map to report on");

    // The tile size: asked for, or the coarsest map's cells, or 100 m.
    double tileMetres = o.tileMetres.value_or(0);
    for (const std::string& m : maps) {
        double cell = 0;
        if (!AcceptanceSource::mapCellMetres(m, cell, error))
            return fail(m + ": " + error);
        if (!o.tileMetres)
            tileMetres = std::max(tileMetres, cell);
    }
    if (tileMetres <= 0)
        tileMetres = 100;

    AcceptanceReport report;
    report.thresholdDbm = *o.threshold;
    report.requiredReliability = o.reliability / 100;
    report.confidence = o.confidence / 100;
    report.tileMetres = tileMetres;
    report.estimator = o.estimator;
    report.minSamples = o.minSamples;
    report.z = AcceptanceStatistics::normalQuantile(report.confidence);
    report.sources = o.inputs;
    report.createdUtc = UtcTime::iso8601(std::chrono::duration_cast<std::chrono::milliseconds>(
                                             std::chrono::system_clock::now().time_since_epoch())
                                             .count());
    if (!o.area.empty()) {
        if (!report.area.read(o.area, error))
            return fail(o.area + ": " + error);
        report.areaFile = o.area;
    }

    AcceptanceSource source(tileMetres, o.filter, lee);
    for (const std::string& m : maps)
        if (!source.addMap(m, error))
            return fail(m + ": " + error);
    uint64_t total = 0, done = 0;
    for (const std::string& log : logs) {
        std::error_code ec;
        total += uint64_t(fs::file_size(log, ec));
    }
    ProgressBar bar(err, "klf-report", total, ProgressBar::wanted(err, total));
    for (const std::string& log : logs) {
        source.setProgress([&bar, done](uint64_t d, uint64_t) {
            bar.update(done + d);
            return true;
        });
        DriveSummary summary;
        const bool read = source.addLog(log, summary, error);
        bar.clear();
        if (!read)
            return fail(log + ": " + error);
        if (!summary.whole())
            std::fprintf(err, "klf-report: %s: stopped: %s; what came before is used\n", log.c_str(),
                         summary.error.c_str());
        std::error_code ec;
        done += uint64_t(fs::file_size(log, ec));
    }
    if (o.poolReceivers)
        source.input().poolReceivers();

    const AcceptanceTiler::Settings settings = o.tilerSettings(tileMetres);
    const AcceptanceTiler tiler(settings, report.areaGiven() ? &report.area : nullptr);
    if (report.areaGiven() && tiler.areaTiles().empty()) {
        char text[200];
        std::snprintf(text, sizeof text, "the area holds no %g m tile: no tile's centre lies inside it", tileMetres);
        return fail(o.area + ": " + text);
    }
    for (const auto& [key, channel] : source.input().channels) {
        AcceptanceSection s = tiler.section(channel);
        // A channel never driven in the area has nothing to say about it.
        if (s.figures.tilesInArea > s.figures.tilesNotDriven)
            report.sections.push_back(std::move(s));
    }
    if (report.sections.empty()) {
        if (source.input().channels.empty())
            return fail(o.filter.receiver || o.filter.frequencyMHz || o.filter.channel
                            ? "no placed sample matches the receiver, channel or frequency chosen: nothing to test"
                            : "no sample was placed on the route in any source: nothing to test");
        return fail(o.area + ": the area misses every driven tile: is it the right area, and are its coordinates"
                             " in the system its file says?");
    }
    report.drives = std::move(source.drives());

    // Everything is ready before anything replaces an existing file.
    ReplacingFile json(o.json), gpx(o.next);
    if (!o.json.empty() && !prepare(json, AcceptanceJson::text(report), error))
        return fail(o.json + ": " + error);
    if (!o.next.empty() && !prepare(gpx, AcceptanceGpx::text(report), error))
        return fail(o.next + ": " + error);
    std::unique_ptr<AcceptanceTilesGpkg> tiles;
    if (!o.tilesOut.empty()) {
        tiles = std::make_unique<AcceptanceTilesGpkg>(o.tilesOut);
        if (!tiles->write(report, error))
            return fail(o.tilesOut + ": " + error);
    }
    if (!o.output.empty()) {
        // The pictures are drawn off screen, so no display is needed; Qt
        // starts only now, once the input has been found good.
        static int qtArgc = 1;
        static char qtName[] = "klf-report";
        static char* qtArgv[] = {qtName, nullptr};
        std::unique_ptr<QGuiApplication> app;
        if (!QGuiApplication::instance()) {
            if (!std::getenv("QT_QPA_PLATFORM"))
                setenv("QT_QPA_PLATFORM", "offscreen", 1);
            app = std::make_unique<QGuiApplication>(qtArgc, qtArgv);
        }
        ReportDocument::BaseMap base;
        base.mbtiles = o.mbtiles;
        base.grid = o.grid;
        if (!ReportDocument::write(report, o.output, base, error))
            return fail(o.output + ": " + error);
    }
    if (!o.json.empty() && !json.commit(error))
        return fail(o.json + ": " + error);
    if (!o.next.empty() && !gpx.commit(error))
        return fail(o.next + ": " + error);
    if (tiles && !tiles->commit(error))
        return fail(o.tilesOut + ": " + error);

    if (!report.areaGiven())
        std::fprintf(out, "No area given: the area is the %g m tiles that were driven; the report claims nothing"
                          " about undriven ground.\n", tileMetres);
    for (const AcceptanceSection& s : report.sections)
        printVerdict(out, s);
    return kExitOk;
}
