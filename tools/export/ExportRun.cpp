#include "ExportRun.h"

#include "CsvWriter.h"
#include "GeoJsonWriter.h"
#include "GpxWriter.h"
#include "KmlWriter.h"
#include "drive/DriveReader.h"
#include "platform/ProgressBar.h"
#include "platform/ReplacingFile.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <sys/stat.h>

namespace {

constexpr int kExitOk = DriveToolOptions::kExitOk;
constexpr int kExitMalformed = 1;
constexpr int kExitTruncated = 2;
constexpr int kExitUsage = DriveToolOptions::kExitUsage;

struct FileCloser
{
    void operator()(std::FILE* f) const { std::fclose(f); }
};

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

void printSummary(std::FILE* err, const char* input, const DriveSummary& s)
{
    std::fprintf(err, "klf-export: %s: %llu records; fixes: %llu used, %llu skipped; samples: %llu placed, %llu not placed\n",
                 input, static_cast<unsigned long long>(s.records), static_cast<unsigned long long>(s.fixesUsed),
                 static_cast<unsigned long long>(s.fixesSkipped), static_cast<unsigned long long>(s.samplesPlaced),
                 static_cast<unsigned long long>(s.samplesNotPlaced));
    if (s.samplesAcrossTimeJump > 0)
        std::fprintf(err,
                     "klf-export: %s: %llu samples not placed across a time jump (fixes going back in time or "
                     "more than %lld minutes apart)\n",
                     input, static_cast<unsigned long long>(s.samplesAcrossTimeJump),
                     static_cast<long long>(DriveReader::kMaxPlacingGapMs / 60000));
    for (int r = 0; r < 2; ++r) {
        const DriveSummary::RssiRange& range = s.receivers[size_t(r)];
        if (range.samples > 0)
            std::fprintf(err, "klf-export: R%d: %llu placed samples, %d to %d dBm\n", r + 1,
                         static_cast<unsigned long long>(range.samples), range.lowest, range.highest);
        else
            std::fprintf(err, "klf-export: R%d: no placed samples\n", r + 1);
    }
}

} // namespace

int ExportRun::run(const ExportOptions& options, std::FILE* out, std::FILE* err)
{
    // Closed on every way out: a library call, unlike a main, does not end the process.
    std::unique_ptr<std::FILE, FileCloser> opened;
    if (options.input != "-")
        opened.reset(std::fopen(options.input.c_str(), "rb"));
    std::FILE* in = options.input == "-" ? stdin : opened.get();
    if (!in) {
        std::fprintf(err, "klf-export: cannot open %s: %s\n", options.input.c_str(), std::strerror(errno));
        return kExitUsage;
    }
    struct stat st{};
    if (::fstat(fileno(in), &st) == 0 && S_ISDIR(st.st_mode)) {
        std::fprintf(err, "klf-export: %s is a directory\n", options.input.c_str());
        return kExitUsage;
    }
    const bool toStdout = options.output == "-";
    // Writing over the log being read would destroy it, through any name.
    struct stat outSt{};
    if (!toStdout && ::stat(options.output.c_str(), &outSt) == 0 && outSt.st_dev == st.st_dev
        && outSt.st_ino == st.st_ino) {
        std::fprintf(err, "klf-export: %s is the log being read (%s); choose another output\n",
                     options.output.c_str(), options.input.c_str());
        return kExitUsage;
    }
    ReplacingFile file(options.output);
    std::string problem;
    if (!toStdout && !file.open(problem)) {
        std::fprintf(err, "klf-export: %s\n", problem.c_str());
        return kExitUsage;
    }
    std::FILE* to = toStdout ? out : file.stream();

    const uint64_t total = S_ISREG(st.st_mode) ? uint64_t(st.st_size) : 0;
    ProgressBar bar(err, "klf-export", total, ProgressBar::wanted(err, total));
    DriveReader reader;
    reader.setFilter(options.filter);
    reader.setProgress([&bar](uint64_t done, uint64_t) {
        bar.update(done);
        return true;
    });

    std::unique_ptr<ExportWriter> writer = writerFor(options, to);
    DriveSummary summary = reader.read(in, *writer);
    bool written = writer->finish(summary);
    const int writeErrno = errno;
    writer.reset();
    opened.reset();
    bar.clear();
    // A log always starts with its header: no bytes at all is no log.
    if (summary.status == DriveSummary::Status::Ok && summary.bytesRead == 0 && !summary.hasHeader
        && summary.records == 0) {
        summary.status = DriveSummary::Status::Malformed;
        summary.error = "empty file, no header";
    }

    printSummary(err, options.input.c_str(), summary);
    if (toStdout) {
        if (!written || std::fflush(out) != 0) {
            std::fprintf(err, "klf-export: writing standard output failed: %s\n",
                         std::strerror(written ? errno : writeErrno));
            return kExitUsage;
        }
    } else if (!written) {
        std::fprintf(err, "klf-export: writing %s failed: %s; %s is as it was\n", options.output.c_str(),
                     std::strerror(writeErrno), options.output.c_str());
        return kExitUsage;
    } else if (!file.commit(problem)) {
        std::fprintf(err, "klf-export: %s; %s is as it was\n", problem.c_str(), options.output.c_str());
        return kExitUsage;
    }

    const uint64_t matching = summary.samplesPlaced + summary.samplesNotPlaced;
    if (matching == 0 && !options.filterText().empty())
        std::fprintf(err, "klf-export: no sample of %s matches %s; klf-inspect lists the channels and "
                             "frequencies the log holds\n",
                     options.input.c_str(), options.filterText().c_str());

    const char* name = options.input.c_str();
    if (summary.checksumErrors > 0)
        std::fprintf(err, "klf-export: %s: %llu record(s) with a bad checksum skipped, the first at offset %llu; "
                             "the records around them exported\n",
                     name, static_cast<unsigned long long>(summary.checksumErrors),
                     static_cast<unsigned long long>(summary.stopOffset));
    switch (summary.status) {
    case DriveSummary::Status::Ok:
        return kExitOk;
    case DriveSummary::Status::Unreadable:
        std::fprintf(err, "klf-export: %s: %s\n", name, summary.error.c_str());
        return kExitUsage;
    case DriveSummary::Status::Malformed:
    case DriveSummary::Status::Truncated:
    case DriveSummary::Status::Cancelled:
        break;
    }
    if (summary.checksumErrors == 0)
        std::fprintf(err, "klf-export: %s: stopped: %s; exported what came before\n", name, summary.error.c_str());
    else if (summary.bytes > summary.bytesRead)
        std::fprintf(err, "klf-export: %s: stopped at offset %llu, where the records stop making sense; "
                             "exported what came before\n",
                     name, static_cast<unsigned long long>(summary.bytesRead));
    return summary.status == DriveSummary::Status::Truncated ? kExitTruncated : kExitMalformed;
}
