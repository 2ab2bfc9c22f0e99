// Raw rasters: names, whole-row transfers and the 16-bit conversions.
#include "base/host.h"
#include "raster/raster_files.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <utility>

namespace {

// The files are little-endian; on a big-endian host every pixel is swapped
// right after a read and around a write.
constexpr bool kSwap = std::endian::native != std::endian::little;

template <typename T> void swap_row(T* row, std::size_t n)
{
    for (std::size_t j = 0; j < n; ++j) {
        auto* bytes = reinterpret_cast<unsigned char*>(&row[j]);
        for (std::size_t a = 0, b = sizeof(T) - 1; a < b; ++a, --b) std::swap(bytes[a], bytes[b]);
    }
}

// Rows that lie side by side in memory (the rows of one grid block) move in
// one transfer of at most this many bytes: a few system calls for a whole
// grid instead of one or two per row, and no copy through the stream's buffer.
constexpr std::size_t kTransfer_max = std::size_t{8} << 20;

// How many rows from line i on lie side by side in memory and fit one
// transfer; at least one.
template <typename T> int rows_together(T** tab, int i, int nb_lig, std::size_t n)
{
    const std::size_t most = std::max<std::size_t>(1, kTransfer_max / (n * sizeof(T)));
    int k = 1;
    while (i + k < nb_lig && static_cast<std::size_t>(k) < most && tab[i + k] == tab[i + k - 1] + n)
        ++k;
    return k;
}

// The read itself takes a grid's fresh pages: touching them first, from the
// process, measured no faster, with large pages or without, on a machine in use.
template <typename T> bool read_rows(std::FILE* f, T** tab, int nb_lig, int nb_col)
{
    const auto n = static_cast<std::size_t>(nb_col);
    for (int i = 0; i < nb_lig;) {
        const int k = rows_together(tab, i, nb_lig, n);
        const std::size_t count = n * static_cast<std::size_t>(k);
        if (std::fread(tab[i], sizeof(T), count, f) != count) return false;
        if constexpr (kSwap) swap_row(tab[i], count);
        i += k;
    }
    return true;
}

template <typename T> bool write_rows(std::FILE* f, T** tab, int nb_lig, int nb_col)
{
    const auto n = static_cast<std::size_t>(nb_col);
    for (int i = 0; i < nb_lig;) {
        const int k = rows_together(tab, i, nb_lig, n);
        const std::size_t count = n * static_cast<std::size_t>(k);
        if constexpr (kSwap) swap_row(tab[i], count);
        const bool ok = std::fwrite(tab[i], sizeof(T), count, f) == count;
        if constexpr (kSwap) swap_row(tab[i], count);
        if (!ok) return false;
        i += k;
    }
    return true;
}

} // namespace

const char* contour_raster_suffix(int itype) { return itype == 0 ? "_c2.raw" : "_c4.raw"; }
const char* input_header_suffix(int itype) { return itype == 0 ? "_c2.txt" : "_c4.txt"; }
const char* dem_raster_suffix(int itype) { return itype == 0 ? "_m2.raw" : "_m4.raw"; }
const char* dem_header_suffix(int itype) { return itype == 0 ? "_m2.txt" : "_m4.txt"; }
int bytes_per_pixel(int itype) { return itype == 0 ? 2 : 4; }

bool has_control_character(std::string_view name)
{
    for (const char c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
    return false;
}

bool is_file_name(std::string_view name)
{
    return name != "." && name != ".." && name.find_first_of(host_path_separators()) == name.npos;
}

bool stays_below(std::string_view folder)
{
    for (;;) {
        const std::size_t end = folder.find_first_of(host_path_separators());
        if (folder.substr(0, end) == "..") return false;
        if (end == folder.npos) return true;
        folder.remove_prefix(end + 1);
    }
}

bool same_file(const std::string& a, const std::string& b)
{
    return a == b || host_same_file(a, b);
}

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

Input_open open_input_file(const std::string& path, const char* mode, std::FILE*& f)
{
    return host_open_input(path, mode, f);
}

long long file_size(std::FILE* f) { return host_file_size(f); }
