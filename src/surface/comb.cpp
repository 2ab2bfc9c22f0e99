// Binomial coefficient from factorials.
#include "surface/surface.h"

#include <cstdint>

// The quotient of factorials is rounded to the nearest integer by adding 0.5
// before the truncation; only its low 32 bits are kept, which are the whole
// coefficient up to n = 33.
std::int32_t Comb(int p, int n)
{
    const long double q = Fact(n) / (Fact(p) * Fact(n - p)) + 0.5L;
    return static_cast<std::int32_t>(static_cast<std::int64_t>(q));
}
