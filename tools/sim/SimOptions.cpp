#include "SimOptions.h"

#include "LogReplay.h"

#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>

namespace {

bool toNumber(const std::string& text, double& out)
{
    char* end = nullptr;
    out = std::strtod(text.c_str(), &end);
    return !text.empty() && end && *end == '\0' && std::isfinite(out);
}

} // namespace

std::string SimOptions::usage()
{
    return "usage: tavrix-sim [options]\n"
           "  --link PATH            make PATH a symlink to the pseudo-terminal\n"
           "  --device PATH          use an existing serial device instead of a pseudo-terminal\n"
           "  --mode single|scan|table|cycle   measurement mode (default scan)\n"
           "  --cycle-seconds S      mode switch period in cycle mode (default 20)\n"
           "  --receivers 1|2|both   active receivers (default both)\n"
           "  --gps on|off|cycle     GPS messages, clock markers, or 60 s on / 20 s off\n"
           "  --serial TEXT          serial number, up to 8 characters (default AB123456)\n"
           "  --low MHZ --high MHZ   band edges (default 851 to 860)\n"
           "  --step-khz KHZ         channel step (default 25)\n"
           "  --numbering-991        channel numbering from 991\n"
           "  --rate N               measurement frames per second (default 40; a replay's pace\n"
           "                         where its log has neither GPS messages nor clock markers)\n"
           "  --block-size N         samples per single-mode block (default 10)\n"
           "  --withhold-channel-info  never send channel information\n"
           "  --flat-out             no pacing: as fast as the line takes it\n"
           "  --duration S           stop after S seconds\n"
           "  --count N              stop after N measurement frames\n"
           "  --noise --bad-checksums RATE --bad-lengths RATE --split --unplug-every S   line faults\n"
           "  --stats FILE           summary, every second and at exit\n"
           "  --control              commands on stdin: mode single|scan|table|cycle, gps on|off|cycle,\n"
           "                         withhold on|off, step KHZ, pause, resume, unplug, quit, drain (answers\n"
           "                         \"tavrix-sim: drained N\" on stdout once all N frames are on the line),\n"
           "                         inject HEX [N] (those bytes, then N measurements, at once)\n"
           "  --wait-request         after each connect, stay quiet until the program sends a command\n"
           "  --seed N               random seed\n"
           "  --pattern              scan levels in a fixed staircase over -120 to -30 dBm, not random\n"
           "  --replay FILE.KLF      play a recorded log: its packets in order, one GPS message or clock\n"
           "                         marker a second, requests answered from the log; ends when the log does\n"
           "  --speed X              replay X times as fast, X at least 0.01 (default 1);\n"
           "                         --flat-out: as fast as the line takes it\n"
           "  --wait-logging         replay: play nothing until the program switches logging on (its\n"
           "                         second settings request since it opened the line), then play the\n"
           "                         line as recorded, the log's answers for the device's; logging the\n"
           "                         whole replay writes the same log again\n"
           "  -h, --help             print this summary and exit\n"
           "  --version              print the version and exit\n"
           "Exit status: 0 done; 1 the line or the log could not be opened, or the log held nothing\n"
           "  to play; 2 usage error.\n";
}

bool SimOptions::parse(const std::vector<std::string>& args, SimOptions& o, std::string& error)
{
    double lowMHz = 851.0, highMHz = 860.0, stepKHz = 25.0;

    using Handler = std::function<bool(const std::string&)>;
    auto number = [&](double& target, double min) {
        return [&target, min](const std::string& v) {
            double d = 0;
            if (!toNumber(v, d) || d < min)
                return false;
            target = d;
            return true;
        };
    };
    double count = 0, blockSize = o.device.singleBlockSize, seed = o.device.seed;
    bool speedGiven = false;
    const std::map<std::string, Handler> withValue = {
        {"--link", [&](const std::string& v) { o.linkPath = v; return !v.empty(); }},
        {"--device", [&](const std::string& v) { o.devicePath = v; return !v.empty(); }},
        {"--stats", [&](const std::string& v) { o.statsPath = v; return !v.empty(); }},
        {"--serial", [&](const std::string& v) { o.device.serial = v; return v.size() <= 8; }},
        {"--mode", [&](const std::string& v) {
             o.device.cycle = v == "cycle";
             if (v == "single" || v == "cycle") o.device.mode = MeasurementMode::Single;
             else if (v == "scan") o.device.mode = MeasurementMode::Scan;
             else if (v == "table") o.device.mode = MeasurementMode::Table;
             else return false;
             return true; }},
        {"--receivers", [&](const std::string& v) {
             if (v == "1") o.device.activeFlags = 0x01;
             else if (v == "2") o.device.activeFlags = 0x02;
             else if (v == "both") o.device.activeFlags = 0x03;
             else return false;
             return true; }},
        {"--gps", [&](const std::string& v) {
             if (v == "on") o.device.gps = GpsMode::On;
             else if (v == "off") o.device.gps = GpsMode::Off;
             else if (v == "cycle") o.device.gps = GpsMode::Cycle;
             else return false;
             return true; }},
        {"--cycle-seconds", number(o.device.cycleSeconds, 0.1)},
        {"--low", number(lowMHz, 0.0)},
        {"--high", number(highMHz, 0.0)},
        {"--step-khz", number(stepKHz, 0.01)},
        {"--rate", number(o.rate, 0.01)},
        {"--block-size", number(blockSize, 0)},
        {"--duration", number(o.durationSeconds, 0.0)},
        {"--count", number(count, 1)},
        {"--bad-checksums", number(o.faults.badChecksumRate, 0.0)},
        {"--bad-lengths", number(o.faults.badLengthRate, 0.0)},
        {"--unplug-every", number(o.unplugEverySeconds, 0.5)},
        {"--seed", number(seed, 0)},
        {"--replay", [&](const std::string& v) { o.replayPath = v; return !v.empty(); }},
        {"--speed", [&](const std::string& v) {
             double d = 0;
             if (!toNumber(v, d) || d < LogReplay::kMinSpeed)
                 return false;
             o.replaySpeed = d;
             speedGiven = true;
             return true; }},
    };
    const std::map<std::string, bool*> flags = {
        {"--numbering-991", &o.device.band.numbering991},
        {"--withhold-channel-info", &o.device.withholdChannelInfo},
        {"--flat-out", &o.flatOut},
        {"--pattern", &o.device.pattern},
        {"--noise", &o.faults.noise},
        {"--split", &o.faults.split},
        {"--control", &o.control},
        {"--wait-request", &o.waitRequest},
        {"--wait-logging", &o.waitLogging},
        {"--help", &o.help},
        {"-h", &o.help},
        {"--version", &o.version},
    };

    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (auto f = flags.find(a); f != flags.end()) {
            *f->second = true;
            continue;
        }
        const auto h = withValue.find(a);
        if (h == withValue.end()) {
            error = "unknown option " + a;
            return false;
        }
        if (i + 1 >= args.size()) {
            error = a + " needs a value";
            return false;
        }
        if (!h->second(args[++i])) {
            error = "bad value for " + a + ": " + args[i];
            if (a == "--speed")
                error += " (0.01 or more)";
            return false;
        }
    }
    if (o.faults.badChecksumRate > 1 || o.faults.badLengthRate > 1) {
        error = "fault rates are chances per frame, 0 to 1";
        return false;
    }
    if (speedGiven && o.replayPath.empty()) {
        error = "--speed applies to --replay";
        return false;
    }
    if (o.waitLogging && o.replayPath.empty()) {
        error = "--wait-logging applies to --replay";
        return false;
    }
    if (!o.linkPath.empty() && !o.devicePath.empty()) {
        error = "--link and --device exclude each other";
        return false;
    }
    o.count = long(count);
    o.device.singleBlockSize = int(blockSize);
    if (o.device.singleBlockSize > 2045) {
        error = "--block-size is at most 2045";
        return false;
    }
    o.device.seed = uint32_t(seed);
    o.faults.seed = uint32_t(seed) + 7;

    const double stepRaw = std::round(stepKHz * 256.0);
    if (stepRaw < 1 || stepRaw > 65535) {
        error = "--step-khz must give a step of 1 to 65535 units of 1/256 kHz";
        return false;
    }
    const double step = stepRaw / 256.0;
    const double low = std::round(lowMHz * 1000.0 / step);
    const double high = std::round(highMHz * 1000.0 / step);
    const double maxPositions = o.device.band.numbering991 ? 1024 : 3072;
    if (high < low || high > 4294967295.0 || high - low + 1 > maxPositions) {
        error = "the band must run upward and hold at most " + std::to_string(int(maxPositions)) + " channels";
        return false;
    }
    o.device.band.stepRaw = uint16_t(stepRaw);
    o.device.band.lowEdge = uint32_t(low);
    o.device.band.highEdge = uint32_t(high);
    return true;
}
