#include "ControlCommand.h"

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

namespace {

bool parseHex(const std::string& hex, std::vector<uint8_t>& out)
{
    if (hex.empty() || hex.size() % 2 != 0)
        return false;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        int value = 0;
        for (std::size_t k = i; k < i + 2; ++k) {
            const char ch = hex[k];
            const int digit = ch >= '0' && ch <= '9' ? ch - '0'
                              : ch >= 'a' && ch <= 'f' ? ch - 'a' + 10
                              : ch >= 'A' && ch <= 'F' ? ch - 'A' + 10
                                                       : -1;
            if (digit < 0)
                return false;
            value = value * 16 + digit;
        }
        out.push_back(uint8_t(value));
    }
    return true;
}

} // namespace

ControlCommand ControlCommand::parse(const std::string& line)
{
    std::istringstream in(line);
    std::string verb, arg, extra;
    in >> verb >> arg >> extra;
    ControlCommand c;
    if (verb == "inject") {
        std::string more;
        in >> more;
        int count = 0;
        if (!extra.empty()) {
            try {
                std::size_t used = 0;
                count = std::stoi(extra, &used);
                if (used != extra.size() || count < 0 || count > 10000)
                    return c;
            } catch (const std::exception&) {
                return c;
            }
        }
        if (more.empty() && parseHex(arg, c.bytes)) {
            c.kind = Inject;
            c.measurements = count;
        }
        return c;
    }
    if (!extra.empty())
        return c;
    if (verb == "mode") {
        c.kind = Mode;
        if (arg == "single") c.mode = MeasurementMode::Single;
        else if (arg == "scan") c.mode = MeasurementMode::Scan;
        else if (arg == "table") c.mode = MeasurementMode::Table;
        else if (arg == "cycle") { c.mode = MeasurementMode::Single; c.cycle = true; }
        else c.kind = Invalid;
    } else if (verb == "gps") {
        c.kind = Gps;
        if (arg == "on") c.gps = GpsMode::On;
        else if (arg == "off") c.gps = GpsMode::Off;
        else if (arg == "cycle") c.gps = GpsMode::Cycle;
        else c.kind = Invalid;
    } else if (verb == "withhold") {
        c.kind = (arg == "on" || arg == "off") ? Withhold : Invalid;
        c.on = arg == "on";
    } else if (verb == "unplug" && arg.empty()) {
        c.kind = Unplug;
    } else if ((verb == "pause" || verb == "resume") && arg.empty()) {
        c.kind = Pause;
        c.on = verb == "pause";
    } else if (verb == "drain" && arg.empty()) {
        c.kind = Drain;
    } else if (verb == "step") {
        // "step KHZ": the device's channel step changed, as the user would set it.
        char* end = nullptr;
        const double kHz = std::strtod(arg.c_str(), &end);
        const double raw = std::round(kHz * 256.0);
        if (!arg.empty() && end && *end == '\0' && raw >= 1 && raw <= 65535) {
            c.kind = Step;
            c.stepRaw = uint16_t(raw);
        }
    } else if (verb == "quit" && arg.empty()) {
        c.kind = Quit;
    }
    return c;
}
