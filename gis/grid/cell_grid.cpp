// The grid made for vector contours on cells of --cell, and the limits every
// grid is checked against before it is allocated.
#include "gis/grid/grid.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// Cells a side for a span of `cells` cells: ceil, except that a span within
// rounding of a whole number of cells is that number (410 x 388 cells of
// extent give 410 x 388, not one more row and column); at least one.
double cells_for(double cells)
{
    const double near = std::round(cells);
    if (std::fabs(cells - near) <= 1e-9 * std::max(1.0, near)) cells = near;
    return std::max(1.0, std::ceil(cells));
}

// Lower to a whole multiple of the cell, with the same tolerance.
double snap_down(double v, double cell)
{
    const double q = v / cell, near = std::round(q);
    return std::fabs(q - near) <= 1e-9 * std::max(1.0, std::fabs(near)) ? near : std::floor(q);
}

double snap_up(double v, double cell) { return -snap_down(-v, cell); }

// "2.8 x 10^302": a number too long to read in full, as a power of ten.
std::string power_of_ten_text(double v)
{
    if (!std::isfinite(v)) return "more than 10^308";
    const int exponent = static_cast<int>(std::floor(std::log10(v)));
    const double mantissa = v / std::pow(10.0, exponent);
    char text[48];
    std::snprintf(text, sizeof text, "%.3g x 10^%d", mantissa, exponent);
    return text;
}

// A count of lines, columns or cells, in full while it stays readable.
std::string count_text(double n)
{
    if (!(n < 1e15)) return power_of_ten_text(n);
    char text[24];
    std::snprintf(text, sizeof text, "%.0f", n);
    return text;
}

} // namespace

std::string bytes_text(double bytes)
{
    // Whole units up to the exabyte; beyond any machine, a power of ten.
    static const char* const units[] = {"kB", "MB", "GB", "TB", "PB", "EB"};
    if (!(bytes < 1e21)) return power_of_ten_text(bytes) + " bytes";
    char text[32];
    double scaled = bytes / 1e3;
    std::size_t unit = 0;
    while (scaled >= 1e3 && unit + 1 < std::size(units)) {
        scaled /= 1e3;
        ++unit;
    }
    if (unit >= 2)
        std::snprintf(text, sizeof text, "%.1f %s", scaled, units[unit]);
    else
        std::snprintf(text, sizeof text, "%.0f %s", std::ceil(scaled), units[unit]);
    return text;
}

namespace {

// Bytes of address space the process maps now; 0 when unknown.
double address_space_used()
{
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    if (!f) return 0;
    unsigned long pages = 0;
    const bool read = std::fscanf(f, "%lu", &pages) == 1;
    std::fclose(f);
    return read ? static_cast<double>(pages) * static_cast<double>(sysconf(_SC_PAGE_SIZE)) : 0;
}

} // namespace

double machine_memory()
{
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page = sysconf(_SC_PAGE_SIZE);
    double bytes =
        pages > 0 && page > 0 ? static_cast<double>(pages) * static_cast<double>(page) : 0;
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        // What the limit leaves once the libraries and what is already held
        // are mapped.
        const double as = std::max(0.0, static_cast<double>(limit.rlim_cur) - address_space_used());
        bytes = bytes > 0 ? std::min(bytes, as) : as;
    }
    return bytes;
}

void check_grid_size(double lines, double cols, double bytes_per_cell, const char* hint)
{
    const double cells = lines * cols;
    const double need = cells * bytes_per_cell;
    if (!(lines <= INT_MAX && cols <= INT_MAX && cells <= INT32_MAX))
        gis_fail("a grid of %s lines and %s columns (%s cells, about %s of memory) is beyond "
                 "what relief_forge can index: at most %d lines, %d columns and %d cells in "
                 "all%s",
                 count_text(lines).c_str(), count_text(cols).c_str(), count_text(cells).c_str(),
                 bytes_text(need).c_str(), INT_MAX, INT_MAX, INT32_MAX, hint);
    const double have = machine_memory();
    if (have > 0 && need > have)
        gis_fail("a grid of %s lines and %s columns (%s cells) needs about %s of memory, more "
                 "than the %s this machine has%s",
                 count_text(lines).c_str(), count_text(cols).c_str(), count_text(cells).c_str(),
                 bytes_text(need).c_str(), bytes_text(have).c_str(), hint);
    progress_note("a grid of " + count_text(lines) + " lines and " + count_text(cols) +
                  " columns, about " + bytes_text(need) + " of memory");
}

Cell_grid grid_for_extent(double minx, double maxx, double miny, double maxy, double cell, bool tap,
                          double bytes_per_cell, double cell_y)
{
    const double cy = cell_y > 0 ? cell_y : cell;
    double x0 = minx, y1 = maxy, cols, lines;
    if (tap) {
        const double c0 = snap_down(minx, cell), c1 = snap_up(maxx, cell);
        const double l0 = snap_down(miny, cy), l1 = snap_up(maxy, cy);
        x0 = c0 * cell;
        y1 = l1 * cy;
        cols = std::max(1.0, c1 - c0);
        lines = std::max(1.0, l1 - l0);
    } else {
        cols = cells_for((maxx - minx) / cell);
        lines = cells_for((maxy - miny) / cy);
    }
    check_grid_size(lines, cols, bytes_per_cell, ": choose larger cells (--cell or -tr)");
    Cell_grid g;
    g.nb_col = static_cast<int>(cols);
    g.nb_lig = static_cast<int>(lines);
    g.gt[0] = x0;
    g.gt[1] = cell;
    g.gt[2] = 0;
    g.gt[3] = y1;
    g.gt[4] = 0;
    g.gt[5] = -cy;
    return g;
}

int header_pixel_size(double cell)
{
    const double r = std::floor(std::fabs(cell) + 0.5);
    if (r < 1) return 1;
    if (r > INT_MAX) return INT_MAX;
    return static_cast<int>(r);
}

std::string exact_number(double v)
{
    char text[32];
    const auto r = std::to_chars(text, text + sizeof text, v);
    return std::string(text, r.ptr);
}

std::string cell_size_text(const double gt[6])
{
    const double dx = std::hypot(gt[1], gt[4]), dy = std::hypot(gt[2], gt[5]);
    return dx == dy ? exact_number(dx) : exact_number(dx) + " x " + exact_number(dy);
}
