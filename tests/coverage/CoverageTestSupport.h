#pragma once

#include "coverage/CoverageGrid.h"
#include "drive/DriveReader.h"
#include "drive/DriveTestLog.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <tuple>
#include <vector>

// Logs, commands and readings of results shared by the coverage tests.
namespace CoverageTest {

inline std::string tool(const char* name)
{
    const char* dir = std::getenv("TAVRIX_BIN_DIR");
    return std::string(dir ? dir : ".") + "/" + name;
}

struct Ran
{
    int status = -1;
    std::string out; // standard output and, with 2>&1 in the command, errors
};

inline Ran run(const std::string& command)
{
    Ran r;
    std::FILE* p = ::popen(command.c_str(), "r");
    if (!p)
        return r;
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, p)) > 0)
        r.out.append(chunk, n);
    const int w = ::pclose(p);
    r.status = WIFEXITED(w) ? WEXITSTATUS(w) : -1;
    return r;
}

// A drive of scan, table and single-mode records between fixes that move
// by (dLat, dLon) degrees a second; readings drawn from seed. secondEnds,
// when given, gets where each second's records end in the file.
inline DriveTestLog driveLog(unsigned seed, double lat, double lon, double dLat, double dLon, int seconds,
                             std::vector<size_t>* secondEnds = nullptr)
{
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> level(-125, -45), slot(0, 9);
    DriveTestLog log;
    log.header().scanChannelList().currentFrequency(DriveTestLog::kLowEdge + 3, DriveTestLog::kLowEdge + 4);
    for (int s = 0; s < seconds; ++s) {
        double lo = lon + dLon * s;
        lo -= 360.0 * std::floor((lo + 180.0) / 360.0);
        log.gps(std::clamp(lat + dLat * s, -89.99, 89.99), lo, s % 60);
        for (int k = 0; k < 6; ++k)
            log.scan({{k % 2, slot(random), level(random)}, {k % 2, slot(random), level(random)},
                      {k % 2, slot(random), level(random)}, {k % 2, slot(random), level(random)},
                      {k % 2, slot(random), level(random)}});
        log.table({{0, 5, level(random)}, {1, 7, level(random)}, {0, 9, level(random)}, {1, 11, level(random)}});
        log.single(s % 2, {level(random), level(random), level(random)});
        if (secondEnds)
            secondEnds->push_back(log.bytes.size());
    }
    return log;
}

inline std::string writeDrive(const std::string& path, unsigned seed, double lat, double lon, double dLat, double dLon,
                              int seconds)
{
    return driveLog(seed, lat, lon, dLat, dLon, seconds).write(path);
}

// A log written as the logger continues one: bytes [from, to) of log
// appended to the file at path.
inline void appendPart(const std::string& path, const DriveTestLog& log, size_t from, size_t to)
{
    std::FILE* f = std::fopen(path.c_str(), "ab");
    if (!f)
        return;
    std::fwrite(log.bytes.data() + from, 1, to - from, f);
    std::fclose(f);
}

using CellId = std::tuple<int, int, int, double>; // row, col, receiver 1|2, MHz

struct Figures
{
    long long count = 0;
    int minimum = 0, maximum = 0, p10 = 0, median = 0, p90 = 0;
    double mean = 0;
    int drives = 0;
    std::string histogram;
    bool operator==(const Figures&) const = default;
};

// The figures of each cell straight from the placed samples, sorted.
inline std::map<CellId, Figures> rawFigures(const std::vector<std::string>& logs, double metres)
{
    const CoverageGrid grid(metres);
    std::map<CellId, std::vector<int>> readings;
    std::map<CellId, std::set<size_t>> drives;
    for (size_t i = 0; i < logs.size(); ++i) {
        RecordingSink sink;
        DriveReader().read(logs[i], sink);
        for (const DriveSample& s : sink.samples) {
            if (!s.placed || s.frequencyMHz <= 0)
                continue;
            const CoverageGrid::Cell c = grid.cellOf(s.latitude, s.longitude);
            const CellId id{c.row, c.column, s.receiver + 1, double(std::llround(s.frequencyMHz * 256000.0)) / 256000.0};
            readings[id].push_back(s.rssi);
            drives[id].insert(i);
        }
    }
    std::map<CellId, Figures> out;
    for (auto& [id, v] : readings) {
        std::sort(v.begin(), v.end());
        auto rank = [&v](int p) { return v[std::max<size_t>(1, (size_t(p) * v.size() + 99) / 100) - 1]; };
        Figures f;
        f.count = (long long)v.size();
        f.minimum = v.front();
        f.maximum = v.back();
        f.p10 = rank(10);
        f.median = rank(50);
        f.p90 = rank(90);
        long long sum = 0;
        for (int r : v)
            sum += r;
        f.mean = double(sum) / double(v.size());
        f.drives = int(drives[id].size());
        out[id] = f;
    }
    return out;
}

inline std::vector<std::string> splitCsv(const std::string& line)
{
    std::vector<std::string> fields;
    std::string field;
    bool quoted = false;
    for (char c : line) {
        if (c == '"')
            quoted = !quoted;
        else if (c == ',' && !quoted) {
            fields.push_back(field);
            field.clear();
        } else
            field += c;
    }
    fields.push_back(field);
    return fields;
}

// A CSV row of row, col, receiver, frequency_mhz, count, min_dbm, max_dbm,
// p10_dbm, median_dbm, p90_dbm, mean_dbm, drives (at least those 12 fields).
inline CellId cellOfRow(const std::vector<std::string>& f)
{
    return {std::stoi(f[0]), std::stoi(f[1]), std::stoi(f[2]), std::stod(f[3])};
}

inline Figures figuresOfRow(const std::vector<std::string>& f)
{
    Figures g;
    g.count = std::stoll(f[4]);
    g.minimum = std::stoi(f[5]);
    g.maximum = std::stoi(f[6]);
    g.p10 = std::stoi(f[7]);
    g.median = std::stoi(f[8]);
    g.p90 = std::stoi(f[9]);
    g.mean = std::stod(f[10]);
    g.drives = std::stoi(f[11]);
    return g;
}

// The cells layer of a map as GDAL reads it (source: a file or PG:...).
inline std::map<CellId, Figures> mapFigures(const std::string& source, std::string* problem = nullptr)
{
    const Ran r = run("ogr2ogr -f CSV /vsistdout/ '" + source
                      + "' -sql 'SELECT row, col, receiver, frequency_mhz, count, min_dbm, max_dbm, p10_dbm, median_dbm,"
                        " p90_dbm, mean_dbm, drives, histogram FROM cells' 2>&1");
    std::map<CellId, Figures> out;
    std::istringstream in(r.out);
    std::string line;
    std::getline(in, line);
    if (problem && (r.status != 0 || line.rfind("row,", 0) != 0))
        *problem = r.out.substr(0, 500);
    while (std::getline(in, line)) {
        const std::vector<std::string> f = splitCsv(line);
        if (f.size() < 13)
            continue;
        Figures g = figuresOfRow(f);
        g.histogram = f[12];
        out[cellOfRow(f)] = g;
    }
    return out;
}

} // namespace CoverageTest
