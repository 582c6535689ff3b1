#include "DriveToolOptions.h"

#include <algorithm>

namespace {

bool listed(const std::vector<std::string>& names, const std::string& name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

} // namespace

bool DriveToolOptions::parseArgs(const std::vector<std::string>& args, const Own& own, std::string& error)
{
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        // "-" names standard input (or a file of that name), never an option.
        if (optionsEnded || a.size() < 2 || a[0] != '-') {
            inputs.push_back(a);
            continue;
        }
        if (a == "--") { // what follows are names, even those starting with '-'
            optionsEnded = true;
            continue;
        }
        if (a == "-h" || a == "--help") {
            help = true;
            return true;
        }
        if (a == "--version") {
            version = true;
            return true;
        }
        if (listed(own.flags, a)) {
            if (!own.take(a, nullptr, error))
                return false;
            continue;
        }
        const bool ours = listed(own.valued, a);
        if (!ours && !DriveFilter::isOption(a)) {
            error = "unknown option " + a;
            return false;
        }
        if (i + 1 >= args.size()) {
            error = a + " needs a value";
            return false;
        }
        const std::string& v = args[++i];
        std::string refusal;
        if (!(ours ? own.take(a, &v, refusal) : filter.setOption(a, v))) {
            error = refusal.empty() ? "bad value for " + a + ": " + v : refusal;
            return false;
        }
    }
    return !own.check || own.check(error);
}

bool DriveToolOptions::named(const char* nothing, std::string& error) const
{
    if (!inputs.empty())
        return true;
    error = nothing;
    return false;
}

bool DriveToolOptions::filterConsistent(std::string& error) const
{
    if (filter.frequencyMHz && filter.channel) {
        error = "--frequency and --channel exclude each other";
        return false;
    }
    return true;
}
