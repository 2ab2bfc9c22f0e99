// Factorial in extended precision, the ground of the binomial coefficients.
#include "surface/surface.h"

long double Fact(int n)
{
    if (n == 0) return 1.0L;
    if (n < 0) return 0.0L;
    long double l = 1.0L;
    for (int i = 2; i <= n; ++i) l = static_cast<long double>(i) * l;
    return l;
}
