// The scan line loops for any processor, and the choice of the loops for the
// processor running.
#define SCAN_LINES_NAMESPACE scan_lines_any
#include "surface/scan_lines_body.h"

#if RF_SCAN_LINES_AVX2
const Scan_lines& scan_lines_for_avx2();
const Scan_lines& scan_lines_for_avx512();
#endif

const Scan_lines& scan_lines_portable() { return scan_lines_any::kLines; }

std::vector<const Scan_lines*> scan_lines_available()
{
    std::vector<const Scan_lines*> all{&scan_lines_portable()};
#if RF_SCAN_LINES_AVX2
    if (__builtin_cpu_supports("avx2")) all.push_back(&scan_lines_for_avx2());
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
        __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512dq"))
        all.push_back(&scan_lines_for_avx512());
#endif
    return all;
}

const Scan_lines& scan_lines()
{
    static const Scan_lines* const best = scan_lines_available().back();
    return *best;
}
