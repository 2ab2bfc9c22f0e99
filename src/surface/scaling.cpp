// Conversions between altitudes and Scaled altitudes, and the copy of the
// finished surface.
#include "control/program_state.h"
#include "surface/parallel.h"
#include "surface/surface.h"

#include <cstddef>
#include <cstring>

// The quotient is formed in extended precision and rounded once to a 32-bit
// float before the truncation: that float step is part of the result.
int to_scaled(int v, int equid)
{
    const long double q = static_cast<long double>(v) / static_cast<long double>(equid) * 512.0L;
    const float fval = static_cast<float>(q);
    return static_cast<int>(fval);
}

int from_scaled(int v, int equid)
{
    const long double q =
        static_cast<long double>(v) * 0.001953125L * static_cast<long double>(equid);
    const float fval = static_cast<float>(q);
    return static_cast<int>(fval);
}

// Each pixel is converted on its own, so the lines are shared among the cores.
void scale_to_scaled(Program_state& s, int equid)
{
    for_line_bands(s.nb_lig, s.nb_col, [&](int first, int end) {
        for (int i = first; i < end; ++i) {
            int* row = s.itab[i];
            for (int j = 0; j < s.nb_col; ++j)
                if (row[j] != NO_DATA) row[j] = to_scaled(row[j], equid);
        }
    });
}

void scale_back(Program_state& s, int equid)
{
    for_line_bands(s.nb_lig, s.nb_col, [&](int first, int end) {
        for (int i = first; i < end; ++i) {
            int* row = s.itab1[i];
            for (int j = 0; j < s.nb_col; ++j)
                if (row[j] != NO_DATA) row[j] = from_scaled(row[j], equid);
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
