// The raster reader on arbitrary bytes: a geometry from the first bytes, the
// rest as pixels. Reading never overruns, a short file is reported, and what
// is read is written back byte for byte.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "nrutil.h"
#include "raster/raster_files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 3) return 0;
    const int nb_lig = 1 + data[0] % 16;
    const int nb_col = 1 + data[1] % 16;
    const bool wide = data[2] & 1;
    const auto* pixels = data + 3;
    const std::size_t n = size - 3;
    const std::size_t need = static_cast<std::size_t>(nb_lig * nb_col) * (wide ? 4 : 2);

    std::FILE* f = fmemopen(const_cast<std::uint8_t*>(pixels), n ? n : 1, "r");
    if (!f) return 0;
    int** itab = imatrice(nb_col, nb_lig);
    unsigned short** jtab = usmatrice(nb_col, nb_lig);
    const bool ok = n > 0 && (wide ? read_rows32(f, itab, nb_lig, nb_col)
                                   : read_rows16(f, jtab, nb_lig, nb_col));
    std::fclose(f);
    if (ok != (n >= need)) std::abort();
    if (ok) {
        if (!wide) {
            widen16(jtab, itab, nb_lig, nb_col);
            narrow16(itab, jtab, nb_lig, nb_col);
        }
        char* out = nullptr;
        std::size_t out_len = 0;
        std::FILE* g = open_memstream(&out, &out_len);
        const bool written = wide ? write_rows32(g, itab, nb_lig, nb_col)
                                  : write_rows16(g, jtab, nb_lig, nb_col);
        std::fclose(g);
        if (!written || out_len != need || std::memcmp(out, pixels, need) != 0) std::abort();
        std::free(out);
    }
    frimatrice(itab, nb_lig);
    frusmatrice(jtab, nb_lig);
    return 0;
}
