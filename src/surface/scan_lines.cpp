// The scan line loops for any processor, and the choice of the loops for the
// processor running.
#define SCAN_LINES_NAMESPACE scan_lines_any
#include "surface/scan_lines_body.h"

#if RF_SCAN_LINES_AVX2
const Scan_lines& scan_lines_for_avx2();
#endif

const Scan_lines& scan_lines_portable() { return scan_lines_any::kLines; }

const Scan_lines& scan_lines()
{
#if RF_SCAN_LINES_AVX2
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2) return scan_lines_for_avx2();
#endif
    return scan_lines_portable();
}
