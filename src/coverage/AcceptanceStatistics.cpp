#include "coverage/AcceptanceStatistics.h"

#include <cmath>
#include <limits>

namespace {

// Past this many more tiles no drive test would go: the verdict is taken as
// out of reach rather than searched for further.
constexpr uint64_t kMostTilesNeeded = uint64_t(1) << 40;

bool decides(double rate, double n, double required, double z)
{
    const AcceptanceStatistics::Bounds b = AcceptanceStatistics::wilson(rate, n, z);
    return b.lower >= required || b.upper < required;
}

} // namespace

double AcceptanceStatistics::normalQuantile(double p)
{
    if (!(p > 0 && p < 1))
        return p == 0 ? -std::numeric_limits<double>::infinity()
               : p == 1 ? std::numeric_limits<double>::infinity()
                        : std::numeric_limits<double>::quiet_NaN();
    // Acklam's rational approximation (relative error 1.15e-9), then one
    // Halley step on the exact distribution function, which brings it to
    // the precision of erfc.
    static constexpr double a[] = {-3.969683028665376e+01, 2.209460984245205e+02, -2.759285104469687e+02,
                                   1.383577518672690e+02,  -3.066479806614716e+01, 2.506628277459239e+00};
    static constexpr double b[] = {-5.447609879822406e+01, 1.615858368580409e+02, -1.556989798598866e+02,
                                   6.680131188771972e+01,  -1.328068155288572e+01};
    static constexpr double c[] = {-7.784894002430293e-03, -3.223964580411365e-01, -2.400758277161838e+00,
                                   -2.549732539343734e+00, 4.374664141464968e+00,  2.938163982698783e+00};
    static constexpr double d[] = {7.784695709041462e-03, 3.224671290700398e-01, 2.445134137142996e+00,
                                   3.754408661907416e+00};
    constexpr double kLow = 0.02425;
    double x;
    if (p < kLow) {
        const double q = std::sqrt(-2 * std::log(p));
        x = (((((c[0] * q + c[1]) * q + c[2]) * q + c[3]) * q + c[4]) * q + c[5])
            / ((((d[0] * q + d[1]) * q + d[2]) * q + d[3]) * q + 1);
    } else if (p <= 1 - kLow) {
        const double q = p - 0.5, r = q * q;
        x = (((((a[0] * r + a[1]) * r + a[2]) * r + a[3]) * r + a[4]) * r + a[5]) * q
            / (((((b[0] * r + b[1]) * r + b[2]) * r + b[3]) * r + b[4]) * r + 1);
    } else {
        const double q = std::sqrt(-2 * std::log(1 - p));
        x = -(((((c[0] * q + c[1]) * q + c[2]) * q + c[3]) * q + c[4]) * q + c[5])
            / ((((d[0] * q + d[1]) * q + d[2]) * q + d[3]) * q + 1);
    }
    const double e = 0.5 * std::erfc(-x / std::sqrt(2.0)) - p;
    const double u = e * std::sqrt(2 * M_PI) * std::exp(x * x / 2);
    return x - u / (1 + x * u / 2);
}

AcceptanceStatistics::Bounds AcceptanceStatistics::wilson(double rate, double n, double z)
{
    if (!(n > 0))
        return {0, 1};
    const double z2 = z * z;
    const double centre = rate + z2 / (2 * n);
    const double spread = z * std::sqrt(rate * (1 - rate) / n + z2 / (4 * n * n));
    const double scale = 1 + z2 / n;
    Bounds b{(centre - spread) / scale, (centre + spread) / scale};
    // At 0 and n passes the formula's ends are exactly 0 and 1; keep rounding
    // from moving them.
    if (rate <= 0)
        b.lower = 0;
    if (rate >= 1)
        b.upper = 1;
    return b;
}

AcceptanceStatistics::Bounds AcceptanceStatistics::wilson(uint64_t passed, uint64_t tested, double z)
{
    return tested ? wilson(double(passed) / double(tested), double(tested), z) : Bounds{};
}

void AcceptanceStatistics::decide(AcceptanceFigures& f, double required, double z)
{
    f.reliability = f.tilesTested ? double(f.tilesPassed) / double(f.tilesTested) : 0;
    const Bounds b = wilson(f.tilesPassed, f.tilesTested, z);
    f.lowerBound = b.lower;
    f.upperBound = b.upper;
    f.tilesNeeded.reset();
    if (f.tilesTested > 0 && b.lower >= required)
        f.verdict = AcceptanceFigures::Verdict::Pass;
    else if (f.tilesTested > 0 && b.upper < required)
        f.verdict = AcceptanceFigures::Verdict::Fail;
    else {
        f.verdict = AcceptanceFigures::Verdict::Inconclusive;
        if (const uint64_t more = tilesNeeded(f.reliability, f.tilesTested, required, z))
            f.tilesNeeded = more;
    }
}

uint64_t AcceptanceStatistics::tilesNeeded(double rate, uint64_t tested, double required, double z)
{
    // At the requirement's own rate the bounds close in on it from both
    // sides and never leave it.
    if (tested == 0 || rate == required)
        return 0;
    if (decides(rate, double(tested), required, z))
        return 0;
    // The bounds narrow as the sample grows at a fixed rate, so the first
    // deciding size is found by doubling, then halving.
    uint64_t low = 0, high = 1;
    while (!decides(rate, double(tested + high), required, z)) {
        low = high;
        if (high >= kMostTilesNeeded)
            return 0;
        high *= 2;
    }
    while (high - low > 1) {
        const uint64_t mid = low + (high - low) / 2;
        (decides(rate, double(tested + mid), required, z) ? high : low) = mid;
    }
    return high;
}
