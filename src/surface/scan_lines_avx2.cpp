// The scan line loops for processors with AVX2.
#define SCAN_LINES_NAMESPACE scan_lines_avx2
#include "surface/scan_lines_body.h"

const Scan_lines& scan_lines_for_avx2() { return scan_lines_avx2::kLines; }
