// The memory of the output path: a COG is drawn in memory and its overviews
// built through GDAL's block cache; a preview is a picture drawn and copied.
#include "gis/outputs/output_memory.h"

#include "gis/gis.h"
#include "gis/grid/grid.h"

#include <algorithm>
#include <gdal.h>

namespace {

// A COG's drawn copy (4 bytes a cell) and its overviews, a third of it.
constexpr double kCog_bytes_per_cell = 4.0 * 4.0 / 3.0;
// A preview of at most 2000 pixels a side with its legend, in RGBA, drawn
// and copied for GDAL's PNG driver.
constexpr double kPreview_bytes = 2300.0 * 2000.0 * 4.0 * 2.0;
// What GDAL's drivers hold besides the cache: compression buffers, the
// overviews' work rows.
constexpr double kGdal_working_bytes = 32e6;
constexpr double kCache_min = 8e6;

} // namespace

void check_output_memory(const std::string& out, int nb_lig, int nb_col, bool cog, bool preview)
{
    const double cells = static_cast<double>(nb_lig) * static_cast<double>(nb_col);
    const double need = (cog ? cells * kCog_bytes_per_cell : 0) + (preview ? kPreview_bytes : 0) +
                        kGdal_working_bytes + kCache_min;
    const double left = machine_memory();
    if (left <= 0) return;
    if (need > left)
        gis_fail("not enough memory to write %s: it needs about %s more, and %s is left",
                 out.c_str(), bytes_text(need).c_str(), bytes_text(left).c_str());
    const double cache = std::clamp((left - need) / 2, kCache_min,
                                    std::max(kCache_min, static_cast<double>(GDALGetCacheMax64())));
    GDALSetCacheMax64(static_cast<GIntBig>(cache));
}
