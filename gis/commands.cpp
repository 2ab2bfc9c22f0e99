// The road of each command: one call per stage, in order.
#include "gis/gis.h"
#include "gis/grid/grid.h"
#include "gis/outputs/dem_files.h"
#include "gis/outputs/geotiff.h"
#include "gis/outputs/output_folders.h"
#include "gis/outputs/preview.h"
#include "gis/sources/sources.h"

#include <cstdio>
#include <filesystem>

namespace {

// The grids of a command's state, released when the command ends.
struct Grids {
    Program_state& s;
    ~Grids() { release_grids(s); }
};

// Which pixels of the contour grid hold a contour, before the run changes it.
std::vector<std::uint8_t> contour_flags(const Program_state& s)
{
    std::vector<std::uint8_t> flags(static_cast<std::size_t>(s.nb_lig) *
                                    static_cast<std::size_t>(s.nb_col));
    std::size_t k = 0;
    for (int i = 0; i < s.nb_lig; ++i)
        for (int j = 0; j < s.nb_col; ++j) flags[k++] = s.itab[i][j] != NO_DATA;
    return flags;
}

// The preview of the DEM in itab1, with the contour flags when asked for and
// meaningful: a 16-bit contour raster has a contour in every pixel.
void preview(const Cli& cli, const Program_state& s, const Georef& geo,
             const std::vector<std::uint8_t>& flags)
{
    if (cli.preview.path.empty()) return;
    Relief_view v;
    v.dem = s.itab1;
    v.nb_lig = s.nb_lig;
    v.nb_col = s.nb_col;
    v.low16 = s.itype == 0;
    v.has_empty = s.itype != 0;
    if (cli.preview.contours && s.itype == 0)
        std::fprintf(stderr, "relief_forge_gis: warning: every pixel of a 16-bit contour raster "
                             "is a contour, so none is drawn on the preview\n");
    if (cli.preview.contours && s.itype != 0) v.contours = flags.data();
    write_preview(v, geo, cli.preview.path,
                  "relief_forge DEM " + std::filesystem::path(cli.out).filename().string());
}

void summary(const Cli& cli, const char* what, const std::string& path, const Program_state& s,
             const Georef& geo)
{
    if (cli.quiet) return;
    std::printf("%s %s: %d lines, %d columns of %g x %g%s\n", what, path.c_str(), s.nb_lig,
                s.nb_col, geo.gt[1], -geo.gt[5], geo.wkt.empty() ? ", no CRS" : "");
}

} // namespace

void run_import(const Cli& cli)
{
    Program_state s;
    Grids grids{s};
    Georef geo;
    prepare_output_folders({cli.out});
    Import_options in = cli.in;
    // The contour grid, GDAL's raster it is burnt on, and a 16-bit copy.
    in.bytes_per_cell = 10;
    import_contours(in, s, geo);
    write_contour_files(s, geo, cli.out);
    summary(cli, "wrote", cli.out + (s.itype == 0 ? "_c2" : "_c4") + ".{raw,txt,vrt}", s, geo);
}

void run_build(const Cli& cli)
{
    Program_state s;
    Grids grids{s};
    Georef geo;
    prepare_output_folders({cli.out, cli.preview.path});
    Import_options in = cli.in;
    // The run's three grids with their frontier rings, measured at 24 bytes
    // a cell, the drawn copy of a COG, the footprint and the preview's flags.
    in.bytes_per_cell =
        24 + (cli.format == "COG" ? 4 : 0) + (cli.clip ? 1 : 0) + (cli.preview.contours ? 1 : 0);
    import_contours(in, s, geo);
    const std::vector<std::uint8_t> flags =
        cli.preview.contours ? contour_flags(s) : std::vector<std::uint8_t>{};
    const std::vector<std::uint8_t> footprint =
        cli.clip ? contour_footprint(s) : std::vector<std::uint8_t>{};
    int min_al = 0, max_al = 0;
    build_surface(s, cli.equid, cli.maille, min_al, max_al);
    if (cli.clip) {
        const long long cleared = clip_to_footprint(s, footprint);
        if (!cli.quiet)
            std::fprintf(stderr,
                         "relief_forge_gis: --clip left %lld cells outside the contours' "
                         "footprint empty\n",
                         cleared);
    }
    write_geotiff(s, geo, cli.out,
                  {{"RF_CONTOURS", cli.in.contours},
                   {"RF_EQUIDISTANCE", std::to_string(cli.equid)},
                   {"RF_SMOOTHING_MESH", std::to_string(cli.maille)},
                   {"RF_PIXEL_SIZE", cell_size_text(geo.gt)}},
                  cli.format);
    preview(cli, s, geo, flags);
    summary(cli, "wrote", cli.out, s, geo);
}

void run_export(const Cli& cli)
{
    Program_state s;
    Grids grids{s};
    Georef geo;
    prepare_output_folders({cli.out, cli.preview.path});
    const Dem_header h = read_interactive_dem(cli.dem, s);
    const std::string sidecar =
        find_sidecar(s.nomim1, std::filesystem::path(cli.dem).parent_path().string());
    std::vector<std::uint8_t> flags;
    read_sidecar(sidecar, s, geo, cli.preview.contours ? &flags : nullptr);
    write_geotiff(s, geo, cli.out,
                  {{"RF_CONTOURS", h.input_path},
                   {"RF_SMOOTHING_MESH", std::to_string(h.maille)},
                   {"RF_PIXEL_SIZE", cell_size_text(geo.gt)}},
                  cli.format);
    preview(cli, s, geo, flags);
    summary(cli, "wrote", cli.out, s, geo);
}
