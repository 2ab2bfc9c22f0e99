// relief_forge: a Digital Elevation Model grown from a raster of contour lines.
#include "base/console.h"
#include "control/control.h"
#include "surface/surface.h"

#include <climits>

// One run, stage by stage. Any failure throws and ends the run with status 1;
// so does an interrupt, on a host that records it for the next safe point.
void run(Program_state& s)
{
    opening(s);
    const int equid = ask_equidistance();
    const int maille = ask_mesh_size(s);

    say("\n\tLecture ");
    read_contours(s);
    complete_input_header(s);
    check_contours(s, equid);

    scale_to_scaled(s, equid);
    dilation(s);
    interruption_point();
    gap_filling(s);
    copy_surface(s);
    say("\n");
    if (maille > 1) smoothing(s, maille);
    interruption_point();
    scale_back(s, equid);

    say("\n\n\tSaving the result\n\n");
    // The grid is never empty: its range starts from the int limits and is the true one.
    int min_al = INT_MAX;
    int max_al = INT_MIN;
    Min_max(&min_al, &max_al, s.itab1, s.nb_col, s.nb_lig);
    finish_dem_header(s, min_al, max_al, maille);
    write_dem(s);
    say("\n");
}

int main()
{
    // The state record lives as long as the process, as its grids do.
    static Program_state s;
    return run_guarded([] { run(s); });
}
