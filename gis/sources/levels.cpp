// The levels of the contours: which elevations relief_forge can take, the
// power of ten that makes fractional levels whole, and the equidistance
// that fits them.
#include "gis/sources/sources.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <numeric>

bool is_whole(double v)
{
    if (!std::isfinite(v)) return false;
    // A level written as 419.99999999999994, or a float32 0.1 times ten,
    // is the whole number it was meant to be.
    const double tolerance = std::min(1e-3, 1e-6 * std::max(1.0, std::fabs(v)));
    return std::fabs(v - std::nearbyint(v)) <= tolerance;
}

const char* elevation_refusal(double v)
{
    if (!std::isfinite(v)) return "is not a number";
    if (!is_whole(v)) return "is not a whole number: relief_forge works on whole altitudes";
    const double r = std::nearbyint(v);
    if (r < INT_MIN || r > INT_MAX) return "is outside the range of 32-bit altitudes";
    if (r == NO_DATA) return "is -99999, the value that marks empty pixels";
    return nullptr;
}

void keep_distinct(std::vector<double>& v)
{
    std::sort(v.begin(), v.end());
    v.erase(std::unique(v.begin(), v.end()), v.end());
}

int level_factor(const std::vector<double>& levels, double equidistance, int forced,
                 double& failing)
{
    for (int factor = forced > 0 ? forced : 1; factor <= kMax_z_factor; factor *= 10) {
        const double f = factor;
        const auto fractional = [f](double v) { return std::isfinite(v) && !is_whole(v * f); };
        const auto bad = std::find_if(levels.begin(), levels.end(), fractional);
        const bool equid_bad =
            equidistance > 0 && (fractional(equidistance) || std::nearbyint(equidistance * f) < 1);
        if (bad == levels.end() && !equid_bad) return factor;
        failing = bad != levels.end() ? *bad : equidistance;
        if (forced > 0) break;
    }
    return 0;
}

long long level_step(const std::vector<long long>& levels)
{
    if (levels.empty()) return 0;
    const long long lowest = *std::min_element(levels.begin(), levels.end());
    long long step = 0;
    for (long long v : levels) step = std::gcd(step, v - lowest);
    return step;
}

int run_equidistance(double given, const Source_info& info)
{
    const double f = info.z_factor;
    if (given <= 0) {
        if (info.step == 0)
            gis_fail("the contours have a single level, so the equidistance cannot be found "
                     "from them: give it with -e");
        if (info.step > INT_MAX)
            gis_fail("the step between the levels, %.17g, is too large for an equidistance",
                     static_cast<double>(info.step) / f);
        return static_cast<int>(info.step);
    }
    const double scaled = std::nearbyint(given * f);
    if (scaled < 1 || scaled > INT_MAX)
        gis_fail("the equidistance %.17g is outside what relief_forge can take once the levels "
                 "are multiplied by %d",
                 given, info.z_factor);
    const long long equid = static_cast<long long>(scaled);
    if (info.step != 0 && info.step % equid != 0)
        std::fprintf(stderr,
                     "relief_forge_gis: warning: the levels do not fit the equidistance %.17g: "
                     "their greatest common step is %.17g, the equidistance taken when -e is "
                     "left out\n",
                     given, static_cast<double>(info.step) / f);
    return static_cast<int>(equid);
}

void refuse_equidistance_factor(const Import_options& o)
{
    if (o.z_scale > 0)
        gis_fail("the equidistance %.17g is not whole once multiplied by --z-scale %d",
                 o.equidistance, o.z_scale);
    gis_fail("the equidistance %.17g is not made whole by a power of ten up to %d, as the levels "
             "and the equidistance must be",
             o.equidistance, kMax_z_factor);
}
