// Conversions between altitudes and Scaled altitudes, and the copy of the
// finished surface.
#include "base/program_state.h"
#include "surface/parallel.h"
#include "surface/surface.h"

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

// The float truncated toward zero. The check at reading keeps every value of
// a run inside the int range; outside it the result is the nearest int, never
// a conversion without a defined result.
int truncate_to_int(float fval)
{
    if (fval >= 2147483648.0f) return INT_MAX;
    if (fval < -2147483648.0f) return INT_MIN;
    return static_cast<int>(fval);
}

// A value that comes out as NO_DATA would read as an empty pixel: it is
// written one above, as the gap filling writes such a mean.
int as_surface(int v) { return v == NO_DATA ? NO_DATA + 1 : v; }

} // namespace

// The quotient of the formula is formed in extended precision and rounded
// once to a 32-bit float before the truncation: that float step is part of
// the result. Formed as a double instead it rounds to the same float but for
// an equidistance of 2^29 or more, and then only below 2^23, where the floats
// on both sides truncate to the same int. So the double serves.
int to_scaled(int v, int equid)
{
    const double q = static_cast<double>(v) / static_cast<double>(equid) * kScale;
    return truncate_to_int(static_cast<float>(q));
}

// The altitude v * (1/512) * equid in extended precision is exact: v
// times equid has at most 62 bits, and 1/512 is 2^-9. So it is the
// 64-bit integer product, rounded once to a float like the extended value,
// then scaled by 2^-9 without rounding; no extended arithmetic is needed.
int from_scaled(int v, int equid)
{
    const std::int64_t product = static_cast<std::int64_t>(v) * equid;
    return truncate_to_int(static_cast<float>(product) * (1.0f / kScale));
}

// Each pixel is converted on its own, so the lines are shared among the cores.
// A level never reads as empty: no contour vanishes.
void scale_to_scaled(Program_state& s, int equid)
{
    for_line_bands(s.nb_lig, s.nb_col, [&](int first, int end) {
        for (int i = first; i < end; ++i) {
            int* row = s.itab[i];
            for (int j = 0; j < s.nb_col; ++j)
                if (row[j] != NO_DATA) row[j] = as_surface(to_scaled(row[j], equid));
        }
    });
}

// After the gap filling every pixel is surface, a smoothed value of NO_DATA
// included: every pixel goes back, and none comes back empty.
void scale_back(Program_state& s, int equid)
{
    for_line_bands(s.nb_lig, s.nb_col, [&](int first, int end) {
        for (int i = first; i < end; ++i) {
            int* row = s.itab1[i];
            for (int j = 0; j < s.nb_col; ++j) row[j] = as_surface(from_scaled(row[j], equid));
        }
    });
}

void copy_surface(Program_state& s)
{
    const auto row_bytes = static_cast<std::size_t>(s.nb_col) * sizeof(int);
    if (row_bytes == 0) return;
    for_line_bands(s.nb_lig, s.nb_col, [&](int first, int end) {
        for (int i = first; i < end; ++i) {
            std::memcpy(s.itab2[i], s.itab[i], row_bytes);
            std::memcpy(s.itab1[i], s.itab[i], row_bytes);
        }
    });
}
