// The header reader on arbitrary text: it reads at most six values, never
// past the text, keeps the fields it could not read, and refuses a header
// whose values run past the limit.
#include "raster/raster_files.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    int values[6] = {7, 7, 7, 7, 7, 7};
    const int n = parse_header_values(reinterpret_cast<const char*>(data), size, values);
    if (n < 0 || n > 6) std::abort();

    std::FILE* f = fmemopen(const_cast<std::uint8_t*>(data), size, "r");
    if (!f) return 0;
    Program_state s;
    s.val = 3;
    const int m = read_input_header(f, s);
    std::fclose(f);
    // Values that run past the limit refuse the whole header, fields untouched.
    if (m < 0 && (size <= kHeader_read_max || s.nb_lig != 0 || s.val != 3)) std::abort();
    if (m < 0) return 0;
    // The stream and the text give the same values, and unread fields stay.
    if (m != n) std::abort();
    const int fields[6] = {s.nb_lig, s.nb_col, s.val, s.min_al, s.max_al, s.taille_pix};
    const int untouched[6] = {0, 0, 3, 0, 0, 0};
    for (int k = 0; k < 6; ++k)
        if (fields[k] != (k < n ? values[k] : untouched[k])) std::abort();
    return 0;
}
