// The levels of the contours: which elevations relief_forge can take.
#include "gis/sources/sources.h"

#include <climits>
#include <cmath>

const char* elevation_refusal(double v)
{
    if (!std::isfinite(v)) return "is not a number";
    if (v != std::trunc(v)) return "is not a whole number: relief_forge works on whole altitudes";
    if (v < INT_MIN || v > INT_MAX) return "is outside the range of 32-bit altitudes";
    if (v == NO_DATA) return "is -99999, the value that marks empty pixels";
    return nullptr;
}
