// The window of the Bezier smoothing and its weights, shared by the per-pixel
// definition (InterpolePointSpline) and the smoothing stage, so that both
// round every value in the same place.
//
// Real arithmetic between two stores is carried in extended precision and
// rounded only where it is stored: the parameter and the partial weight in
// double, the weight in single. The explicit long double casts keep that plan
// on hardware whose float and double arithmetic is not extended.
#pragma once

#include "surface/surface.h"

#include <cmath>
#include <cstdint>

// First line or column of the window of degree n around the position whose
// integer part is `pos`, in a grid of `size` lines or columns: h = n / 2
// before the position and n - h after it, pushed back inside at the borders,
// in that order (a window wider than the grid starts before 0). The window
// ends at first + n.
inline int bezier_window_first(double pos, int n, int size)
{
    const int h = n >> 1;
    int first = static_cast<int>(pos - h);
    if (first < 0) first = 0;
    if (first + n >= size) first = size - 1 - n;
    return first;
}

// The Bezier parameter of position x in the window that starts at `first`:
// its offset divided by the degree, stored double.
inline double bezier_parameter(double x, int first, int n)
{
    return static_cast<double>((static_cast<long double>(x) - first) / static_cast<long double>(n));
}

// Bernstein weight of index i for the parameter t, stored single. The end
// indices are special cases so that no power of exponent 0 is taken: at t = 0
// or 1 the general case would ask for 0 to the power 0.
inline float bezier_weight(int i, int n, double t)
{
    const std::int32_t Combi = Comb(i, n);
    const double it = static_cast<double>(1.0L - static_cast<long double>(t));
    if (i == n)
        return static_cast<float>(static_cast<long double>(std::pow(t, static_cast<double>(i))) *
                                  static_cast<long double>(Combi));
    if (i == 0)
        return static_cast<float>(static_cast<long double>(std::pow(it, static_cast<double>(n))) *
                                  static_cast<long double>(Combi));
    const double w =
        static_cast<double>(static_cast<long double>(std::pow(it, static_cast<double>(n - i))) *
                            static_cast<long double>(Combi));
    return static_cast<float>(static_cast<long double>(std::pow(t, static_cast<double>(i))) *
                              static_cast<long double>(w));
}
