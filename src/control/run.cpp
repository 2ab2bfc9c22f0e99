// The driver's own stages: the processing questions, reading the contour
// raster, checking its levels and writing the DEM.
#include "base/console.h"
#include "base/grids.h"
#include "base/host.h"
#include "control/control.h"
#include "raster/raster_files.h"
#include "surface/surface.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <new>

namespace {

constexpr long double kScale_real = kScale;

// Whether altitude v scales, with equidistance equid, to a Scaled altitude
// strictly inside the dilation's minimum search start. Formed as the scaling forms it, but kept
// real so that no out-of-range value is ever converted to an int.
bool scales_inside(int v, int equid)
{
    const float fval = static_cast<float>(static_cast<long double>(v) / equid * kScale_real);
    return std::fabs(std::trunc(static_cast<long double>(fval))) < kNo_level_yet;
}

// Whether every Scaled altitude that a run can reach from levels of at most
// |v| comes back, with equidistance equid, to an int. The gap filling's
// single-precision sums can carry a filled pixel a little beyond the level
// farthest out, hence the margin.
bool comes_back_inside(int v, int equid)
{
    const float fval = static_cast<float>(static_cast<long double>(v) / equid * kScale_real);
    const long double reach = std::fabs(std::trunc(static_cast<long double>(fval)));
    const long double widest = reach + reach / 65536.0L + 16.0L;
    return static_cast<float>(widest * (1.0L / kScale_real) * equid) < 2147483648.0f;
}

// The last value from `from` below INT_MAX at which `holds` is true, by
// bisection, for a `holds` true at `from` that turns false once for all (at
// INT_MAX at the latest): the edge of the levels or equidistances that fit.
template <typename Holds> int last_where(int from, Holds holds)
{
    int lo = from;
    int hi = 2147483647;
    while (hi - lo > 1) {
        const int mid = lo + (hi - lo) / 2;
        if (holds(mid))
            lo = mid;
        else
            hi = mid;
    }
    return lo;
}

} // namespace

void fail_grid_memory(const Program_state& s, std::size_t element)
{
    const long long bytes =
        static_cast<long long>(s.nb_lig) * s.nb_col * static_cast<long long>(element);
    fail("\n\n\tNot enough memory for a grid of %d lines and %d columns (%lld bytes) \n", s.nb_lig,
         s.nb_col, bytes);
}

namespace {

std::uint16_t** allocate_grid16(const Program_state& s)
{
    std::uint16_t** grid = new_grid16(s.nb_col, s.nb_lig);
    if (!grid) fail_grid_memory(s, sizeof(std::uint16_t));
    return grid;
}

} // namespace

int ask_equidistance()
{
    for (;;) {
        const int equid = ask_number(
            "\n\tEquidistance of the contour lines (see original .dxf or .kzl files) ? ");
        if (equid > 0) return equid;
        say("\n\tThe equidistance must be a positive number \n");
    }
}

std::string mesh_size_refusal(const Program_state& s, int maille)
{
    const int largest = largest_mesh(s.nb_lig, s.nb_col);
    // 1 or less means no smoothing and is kept as typed.
    if (maille <= 1 || maille <= largest) return "";
    if (largest >= 2)
        return "\n\tThe smoothing mesh must be 1 or less, or from 2 to " + std::to_string(largest) +
               " for this image \n";
    return "\n\tThis image is too small to be smoothed : the mesh must be 1 or less \n";
}

int ask_mesh_size(const Program_state& s)
{
    for (;;) {
        const int maille =
            ask_number("\n\tSize of the smoothing mesh (1, 3, 5 or larger odd value) ? ");
        const std::string refusal = mesh_size_refusal(s, maille);
        if (refusal.empty()) return maille;
        say("%s", refusal.c_str());
    }
}

void read_contours(Program_state& s)
{
    bool ok;
    if (s.itype == 0) {
        s.jtab = allocate_grid16(s);
        s.jtab1 = allocate_grid16(s);
        ok = read_rows16(s.f1, s.jtab, s.nb_lig, s.nb_col);
        if (ok) widen16(s.jtab, s.itab, s.nb_lig, s.nb_col);
    } else {
        ok = read_rows32(s.f1, s.itab, s.nb_lig, s.nb_col);
    }
    if (!ok) fail("\n\n\tCannot read the file %s \n", s.nomim1.c_str());
}

void complete_input_header(Program_state& s)
{
    if (s.flag_open == 1) {
        std::fclose(s.f1d);
        s.f1d = nullptr;
        return;
    }
    // The raw range, NO_DATA pixels included, of a grid that is never empty.
    int min_in = INT_MAX;
    int max_in = INT_MIN;
    for (int i = 0; i < s.nb_lig; ++i)
        for (int j = 0; j < s.nb_col; ++j) {
            const int v = s.itab[i][j];
            if (v < min_in) min_in = v;
            if (v > max_in) max_in = v;
        }
    if (!write_input_header_group(s.f1d, min_in, max_in, s.taille_pix))
        fail_write(Output::input_header);
    s.f1d = nullptr;
    commit_output(Output::input_header);
}

void check_contours(const Program_state& s, int equid)
{
    // The level farthest from 0 is the first to leave the scaled range.
    bool any = false;
    int extreme = 0;
    for (int i = 0; i < s.nb_lig; ++i)
        for (int j = 0; j < s.nb_col; ++j) {
            const int v = s.itab[i][j];
            if (v == NO_DATA) continue;
            if (!any || std::llabs(v) > std::llabs(extreme)) extreme = v;
            any = true;
        }
    if (!any) fail("\n\n\tThe file %s holds no contour pixel \n", s.nomim1.c_str());
    if (!comes_back_inside(extreme, equid)) {
        // The way back hardly depends on the equidistance, so no other one
        // helps: search the largest level that returns.
        const int lo = last_where(0, [&](int level) { return comes_back_inside(level, equid); });
        fail("\n\n\tThe altitude %d does not come back within the int range with the "
             "equidistance %d : the levels must lie between %d and %d \n",
             extreme, equid, -lo, lo);
    }
    if (scales_inside(extreme, equid)) return;

    // Scaling shrinks as the equidistance grows: search the smallest that fits.
    const int hi = 1 + last_where(equid, [&](int e) { return !scales_inside(extreme, e); });
    fail("\n\n\tThe altitude %d is too large for the equidistance %d : the smallest equidistance "
         "that fits is %d \n",
         extreme, equid, hi);
}

void finish_dem_header(Program_state& s, int min_al, int max_al, int maille)
{
    if (!write_dem_header_end(s.f3d, min_al, max_al, s.taille_pix, s.nomim1, maille))
        fail_write(Output::dem_header);
    s.f3d = nullptr;
    close_output(Output::dem_header);
}

void write_dem(Program_state& s)
{
    bool ok;
    if (s.itype == 0) {
        narrow16(s.itab1, s.jtab1, s.nb_lig, s.nb_col);
        ok = write_rows16(s.f3, s.jtab1, s.nb_lig, s.nb_col);
    } else {
        ok = write_rows32(s.f3, s.itab1, s.nb_lig, s.nb_col);
    }
    if (!ok) fail_write(Output::dem_raster);
    s.f3 = nullptr;
    close_output(Output::dem_raster);
    publish_dem();
    interruption_point();
}

void release_state(Program_state& s)
{
    // A created input header and the DEM files belong to the output files.
    if (s.f1) std::fclose(s.f1);
    if (s.f1d && s.flag_open == 1) std::fclose(s.f1d);
    release_grids(s);
    s = Program_state{};
}

int run_guarded(void (*body)())
{
    install_interrupt_handlers();
    std::string message;
    try {
        body();
        say_flush();
        // Standard output closed at the very end: the run cannot say so.
        interruption_point();
        return 0;
    } catch (const Run_error& e) {
        message = e.what();
    } catch (const std::bad_alloc&) {
        message = "\n\n\tNot enough memory to go on \n";
    } catch (const std::exception& e) {
        message = std::string("\n\n\tThe run stops : ") + e.what() + " \n";
    }
    discard_outputs();
    say("%s", message.c_str());
    // A closed standard output (a pipe whose reader is gone) gets the
    // message on the error output instead.
    if (console_lost()) std::fputs(message.c_str(), stderr);
    return 1;
}
