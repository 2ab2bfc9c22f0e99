// Conversions between altitudes and Scaled altitudes, and the copy of the
// finished surface.
#include "control/program_state.h"
#include "surface/surface.h"

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

void scale_to_scaled(Program_state& s, int equid)
{
    for (int i = 0; i < s.nb_lig; ++i) {
        int* row = s.itab[i];
        for (int j = 0; j < s.nb_col; ++j)
            if (row[j] != NO_DATA) row[j] = to_scaled(row[j], equid);
    }
}

void scale_back(Program_state& s, int equid)
{
    for (int i = 0; i < s.nb_lig; ++i) {
        int* row = s.itab1[i];
        for (int j = 0; j < s.nb_col; ++j)
            if (row[j] != NO_DATA) row[j] = from_scaled(row[j], equid);
    }
}

void copy_surface(Program_state& s)
{
    for (int i = 0; i < s.nb_lig; ++i)
        for (int j = 0; j < s.nb_col; ++j) {
            s.itab2[i][j] = s.itab[i][j];
            s.itab1[i][j] = s.itab[i][j];
        }
}
