// The interactive program's run without its dialogue: the stages of
// relief_forge_core, in the order and with the checks of relief_forge.
#include "base/console.h"
#include "control/control.h"
#include "gis/gis.h"
#include "nrutil.h"
#include "surface/surface.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// A library message ("\n\n\tThe file ... \n") as one line of this tool's.
std::string plain(const char* text)
{
    std::string t = text;
    const auto first = t.find_first_not_of(" \t\r\n");
    const auto last = t.find_last_not_of(" \t\r\n");
    return first == std::string::npos ? "" : t.substr(first, last - first + 1);
}

// Sends the stages' console lines to the progress bar for as long as it lives.
struct Console_to_progress {
    std::FILE* sink;
    std::FILE* previous;
    explicit Console_to_progress(int nb_lig)
        : sink(open_stage_sink(nb_lig)), previous(console_redirect(sink))
    {
    }
    ~Console_to_progress()
    {
        console_redirect(previous);
        if (sink) std::fclose(sink);
    }
};

} // namespace

int** new_int_grid(int nb_col, int nb_lig)
{
    int** grid = new_grid(nb_col, nb_lig);
    if (!grid) gis_fail("not enough memory for a grid of %d lines and %d columns", nb_lig, nb_col);
    return grid;
}

void check_run_values(const Program_state& s, int equid, int maille)
{
    if (equid <= 0) gis_fail("the equidistance must be a positive number, not %d", equid);
    if (maille <= 1) return;
    const int largest = largest_mesh(s.nb_lig, s.nb_col);
    if (largest < 2)
        gis_fail("a grid of %d lines and %d columns is too small to be smoothed: the smoothing "
                 "mesh must be 1 or less",
                 s.nb_lig, s.nb_col);
    if (maille > largest)
        gis_fail("the smoothing mesh must be 1 or less, or from 2 to %d for a grid of %d lines "
                 "and %d columns, not %d",
                 largest, s.nb_lig, s.nb_col, maille);
}

void build_surface(Program_state& s, int equid, int maille, int& min_al, int& max_al,
                   std::vector<double>* exact, int z_factor, int oversample)
{
    check_run_values(s, equid, maille);
    try {
        check_contours(s, equid);
    } catch (const Run_error& e) {
        throw Gis_error(plain(e.what()));
    }
    if (!s.itab1) s.itab1 = new_int_grid(s.nb_col, s.nb_lig);
    if (!s.itab2) s.itab2 = new_int_grid(s.nb_col, s.nb_lig);

    Console_to_progress console(s.nb_lig);
    scale_to_scaled(s, equid);
    progress_stage("dilation", false);
    dilation(s);
    progress_stage("gap filling", false);
    gap_filling(s);
    copy_surface(s);
    progress_done();
    if (maille > 1) {
        progress_stage("smoothing", true);
        smoothing(s, maille);
        progress_done();
    }
    if (exact) {
        // The same surface in the contours' units, without the truncation
        // of the conversion back, each output cell the mean of its
        // oversample x oversample cells.
        const double unit = static_cast<double>(equid) / 512.0 / z_factor;
        const int n = oversample, lines = s.nb_lig / n, cols = s.nb_col / n;
        exact->assign(static_cast<std::size_t>(lines) * static_cast<std::size_t>(cols), NO_DATA);
        std::vector<long long> sum(static_cast<std::size_t>(cols));
        std::vector<int> count(static_cast<std::size_t>(cols));
        std::size_t k = 0;
        for (int i = 0; i < lines; ++i) {
            std::fill(sum.begin(), sum.end(), 0);
            std::fill(count.begin(), count.end(), 0);
            for (int fi = i * n; fi < (i + 1) * n; ++fi) {
                const int* row = s.itab1[fi];
                for (int j = 0; j < cols; ++j) {
                    const auto jj = static_cast<std::size_t>(j);
                    for (int fj = j * n; fj < (j + 1) * n; ++fj)
                        if (row[fj] != NO_DATA) {
                            sum[jj] += row[fj];
                            ++count[jj];
                        }
                }
            }
            for (std::size_t j = 0; j < sum.size(); ++j, ++k)
                if (count[j] > 0) (*exact)[k] = static_cast<double>(sum[j]) / count[j] * unit;
        }
    }
    scale_back(s, equid);
    min_al = INT_MAX;
    max_al = INT_MIN;
    Min_max(&min_al, &max_al, s.itab1, s.nb_col, s.nb_lig);
}
