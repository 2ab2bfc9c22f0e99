// Raw rasters: names, whole-row transfers and the 16-bit conversions.
#include "control/host.h"
#include "raster/raster_files.h"

#include <bit>
#include <utility>

namespace {

// The files are little-endian; on a big-endian host every pixel is swapped
// right after a read and around a write.
constexpr bool kSwap = std::endian::native != std::endian::little;

template <typename T> void swap_row(T* row, int n)
{
    for (int j = 0; j < n; ++j) {
        auto* bytes = reinterpret_cast<unsigned char*>(&row[j]);
        for (std::size_t a = 0, b = sizeof(T) - 1; a < b; ++a, --b) std::swap(bytes[a], bytes[b]);
    }
}

template <typename T> bool read_rows(std::FILE* f, T** tab, int nb_lig, int nb_col)
{
    const auto n = static_cast<std::size_t>(nb_col);
    for (int i = 0; i < nb_lig; ++i) {
        if (std::fread(tab[i], sizeof(T), n, f) != n) return false;
        if constexpr (kSwap) swap_row(tab[i], nb_col);
    }
    return true;
}

template <typename T> bool write_rows(std::FILE* f, T** tab, int nb_lig, int nb_col)
{
    const auto n = static_cast<std::size_t>(nb_col);
    for (int i = 0; i < nb_lig; ++i) {
        if constexpr (kSwap) swap_row(tab[i], nb_col);
        const bool ok = std::fwrite(tab[i], sizeof(T), n, f) == n;
        if constexpr (kSwap) swap_row(tab[i], nb_col);
        if (!ok) return false;
    }
    return true;
}

} // namespace

const char* contour_raster_suffix(int itype) { return itype == 0 ? "_c2.raw" : "_c4.raw"; }
const char* input_header_suffix(int itype) { return itype == 0 ? "_c2.txt" : "_c4.txt"; }
const char* dem_raster_suffix(int itype) { return itype == 0 ? "_m2.raw" : "_m4.raw"; }
const char* dem_header_suffix(int itype) { return itype == 0 ? "_m2.txt" : "_m4.txt"; }
int bytes_per_pixel(int itype) { return itype == 0 ? 2 : 4; }

bool read_rows16(std::FILE* f, std::uint16_t** jtab, int nb_lig, int nb_col)
{
    return read_rows(f, jtab, nb_lig, nb_col);
}
bool read_rows32(std::FILE* f, int** itab, int nb_lig, int nb_col)
{
    return read_rows(f, itab, nb_lig, nb_col);
}
bool write_rows16(std::FILE* f, std::uint16_t** jtab, int nb_lig, int nb_col)
{
    return write_rows(f, jtab, nb_lig, nb_col);
}
bool write_rows32(std::FILE* f, int** itab, int nb_lig, int nb_col)
{
    return write_rows(f, itab, nb_lig, nb_col);
}

void widen16(std::uint16_t** jtab, int** itab, int nb_lig, int nb_col)
{
    for (int i = 0; i < nb_lig; ++i)
        for (int j = 0; j < nb_col; ++j) itab[i][j] = jtab[i][j];
}

void narrow16(int** itab, std::uint16_t** jtab, int nb_lig, int nb_col)
{
    for (int i = 0; i < nb_lig; ++i)
        for (int j = 0; j < nb_col; ++j)
            jtab[i][j] = static_cast<std::uint16_t>(static_cast<unsigned>(itab[i][j]) & 0xFFFFu);
}

long long file_size(std::FILE* f) { return host_file_size(f); }
