// The scan line loops for processors with AVX-512 (F, VL, BW and DQ).
#define SCAN_LINES_NAMESPACE scan_lines_avx512
#include "surface/scan_lines_body.h"

const Scan_lines& scan_lines_for_avx512() { return scan_lines_avx512::kLines; }
