// Text headers of the contour raster and of the DEM.
#include "raster/raster_files.h"

#include <cctype>
#include <climits>

namespace {

bool is_space(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

constexpr const char* kDem_credit = "DEM built by relief_forge";

} // namespace

int parse_header_values(const char* text, std::size_t len, int out[6], std::size_t* stop)
{
    std::size_t p = 0;
    int count = 0;
    while (count < 6) {
        while (p < len && is_space(text[p])) ++p;
        bool negative = false;
        if (p < len && (text[p] == '+' || text[p] == '-')) negative = text[p++] == '-';
        if (p >= len || !is_digit(text[p])) break;
        // Accumulate as a negative number so that INT_MIN is reachable.
        long long v = 0;
        bool fits = true;
        for (; p < len && is_digit(text[p]); ++p) {
            if (fits) {
                v = v * 10 - (text[p] - '0');
                if (v < static_cast<long long>(INT_MIN)) fits = false;
            }
        }
        if (!negative) v = -v;
        if (!fits || v > INT_MAX) break;
        out[count++] = static_cast<int>(v);
    }
    if (stop) *stop = p;
    return count;
}

int read_input_header(std::FILE* f, Program_state& s)
{
    // One byte past the limit tells whether the header goes on beyond it.
    std::string text(kHeader_read_max + 1, '\0');
    const std::size_t len = std::fread(text.data(), 1, text.size(), f);
    int values[6] = {};
    std::size_t stop = 0;
    const int n = parse_header_values(text.data(), len, values, &stop);
    // Reading that ran to the end of a cut text could have cut a value.
    if (len == text.size() && stop == len) return -1;
    int* fields[6] = {&s.nb_lig, &s.nb_col, &s.val, &s.min_al, &s.max_al, &s.taille_pix};
    for (int k = 0; k < n; ++k) *fields[k] = values[k];
    return n;
}

bool write_input_header_group(std::FILE* f, int a, int b, int c)
{
    return std::fprintf(f, "%d\n%d\n%d\n", a, b, c) > 0;
}

bool write_dem_header_start(std::FILE* f, int nb_lig, int nb_col, int val)
{
    return std::fprintf(f, "%d \n%d \n%d ", nb_lig, nb_col, val) > 0;
}

bool write_dem_header_end(std::FILE* f, int min_al, int max_al, int taille_pix,
                          const std::string& input_path, int maille)
{
    return std::fprintf(f, "\n%d\n%d\n%d", min_al, max_al, taille_pix) > 0 &&
           std::fprintf(f, "\n\n\tName of the input file : %s ", input_path.c_str()) > 0 &&
           std::fprintf(f, "\n\n\tSize of the window smoothing : %d \n", maille) > 0 &&
           std::fprintf(f, "\n\n\t\t\t\t\t%s", kDem_credit) > 0;
}
