// klf-export: a .KLF log as CSV, GeoJSON, GPX or KML, for spreadsheets, GIS
// tools and Google Earth. See klf-export --help.
//
// Exit status: 0 the log was whole; 2 malformed or cut off (what was whole
// is exported, and where it stopped is said), as klf-inspect reports a cut
// log; 3 usage or I/O error.

#include "CsvWriter.h"
#include "ExportOptions.h"
#include "GeoJsonWriter.h"
#include "GpxWriter.h"
#include "KmlWriter.h"
#include "ProgressBar.h"
#include "drive/DriveReader.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <sys/stat.h>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitDamaged = 2;
constexpr int kExitUsage = 3;

std::string baseName(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0)
        name.erase(dot);
    return name;
}

std::unique_ptr<ExportWriter> writerFor(const ExportOptions& o, std::FILE* out)
{
    const std::string name = o.input == "-" ? std::string("drive") : baseName(o.input);
    const int receiver = o.filter.receiver ? *o.filter.receiver : -1;
    switch (o.format) {
    case ExportOptions::Format::Csv: return std::make_unique<CsvWriter>(out);
    case ExportOptions::Format::GeoJson: return std::make_unique<GeoJsonWriter>(out);
    case ExportOptions::Format::Gpx: return std::make_unique<GpxWriter>(out, name);
    case ExportOptions::Format::Kml: return std::make_unique<KmlWriter>(out, name, receiver, o.rangeMin, o.rangeMax);
    }
    return nullptr;
}

void printSummary(const char* input, const DriveSummary& s)
{
    std::fprintf(stderr, "klf-export: %s: %llu records; fixes: %llu used, %llu skipped; samples: %llu placed, %llu not placed\n",
                 input, static_cast<unsigned long long>(s.records), static_cast<unsigned long long>(s.fixesUsed),
                 static_cast<unsigned long long>(s.fixesSkipped), static_cast<unsigned long long>(s.samplesPlaced),
                 static_cast<unsigned long long>(s.samplesNotPlaced));
    if (s.samplesAcrossTimeJump > 0)
        std::fprintf(stderr,
                     "klf-export: %s: %llu samples not placed across a time jump (fixes going back in time or "
                     "more than %lld minutes apart)\n",
                     input, static_cast<unsigned long long>(s.samplesAcrossTimeJump),
                     static_cast<long long>(DriveReader::kMaxPlacingGapMs / 60000));
    for (int r = 0; r < 2; ++r) {
        const DriveSummary::RssiRange& range = s.receivers[size_t(r)];
        if (range.samples > 0)
            std::fprintf(stderr, "klf-export: R%d: %llu placed samples, %d to %d dBm\n", r + 1,
                         static_cast<unsigned long long>(range.samples), range.lowest, range.highest);
        else
            std::fprintf(stderr, "klf-export: R%d: no placed samples\n", r + 1);
    }
}

} // namespace

int main(int argc, char** argv)
{
    ExportOptions options;
    std::string error;
    if (!ExportOptions::parse(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        std::fprintf(stderr, "klf-export: %s\n%s", error.c_str(), ExportOptions::usage().c_str());
        return kExitUsage;
    }
    if (options.help) {
        std::fputs(ExportOptions::usage().c_str(), stdout);
        return kExitOk;
    }

    std::FILE* in = options.input == "-" ? stdin : std::fopen(options.input.c_str(), "rb");
    if (!in) {
        std::fprintf(stderr, "klf-export: cannot open %s: %s\n", options.input.c_str(), std::strerror(errno));
        return kExitUsage;
    }
    struct stat st{};
    if (::fstat(fileno(in), &st) == 0 && S_ISDIR(st.st_mode)) {
        std::fprintf(stderr, "klf-export: %s is a directory\n", options.input.c_str());
        return kExitUsage;
    }
    const bool toStdout = options.output == "-";
    std::FILE* out = toStdout ? stdout : std::fopen(options.output.c_str(), "wb");
    if (!out) {
        std::fprintf(stderr, "klf-export: cannot create %s: %s\n", options.output.c_str(), std::strerror(errno));
        return kExitUsage;
    }

    const uint64_t total = S_ISREG(st.st_mode) ? uint64_t(st.st_size) : 0;
    ProgressBar bar(stderr, total, ProgressBar::wanted(stderr, total));
    DriveReader reader;
    reader.setFilter(options.filter);
    reader.setProgress([&bar](uint64_t done, uint64_t) {
        bar.update(done);
        return true;
    });

    std::unique_ptr<ExportWriter> writer = writerFor(options, out);
    const DriveSummary summary = reader.read(in, *writer);
    const bool written = writer->finish(summary);
    writer.reset();
    const bool closed = toStdout ? std::fflush(out) == 0 : std::fclose(out) == 0;
    if (in != stdin)
        std::fclose(in);
    bar.clear();

    printSummary(options.input.c_str(), summary);
    if (!written || !closed) {
        std::fprintf(stderr, "klf-export: writing %s failed: %s\n", toStdout ? "standard output" : options.output.c_str(),
                     std::strerror(errno));
        return kExitUsage;
    }
    switch (summary.status) {
    case DriveSummary::Status::Ok:
        return kExitOk;
    case DriveSummary::Status::Unreadable:
        std::fprintf(stderr, "klf-export: %s: %s\n", options.input.c_str(), summary.error.c_str());
        return kExitUsage;
    case DriveSummary::Status::Malformed:
    case DriveSummary::Status::Truncated:
    case DriveSummary::Status::Cancelled:
        std::fprintf(stderr, "klf-export: %s: stopped: %s; exported what came before\n", options.input.c_str(),
                     summary.error.c_str());
        return kExitDamaged;
    }
    return kExitDamaged;
}
