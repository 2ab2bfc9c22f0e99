// The road of each command: one call per stage, in order.
#include "gis/gis.h"
#include "gis/grid/grid.h"
#include "gis/outputs/commit.h"
#include "gis/outputs/dem_files.h"
#include "gis/outputs/geotiff.h"
#include "gis/outputs/output_folders.h"
#include "gis/outputs/output_memory.h"
#include "gis/outputs/preview.h"
#include "gis/sources/sources.h"

#include <charconv>
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
             const std::vector<std::uint8_t>& flags, double divisor = 1)
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
    v.divisor = divisor;
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

// The shortest text that reads back as `v`: 2.5, 20, 0.1.
std::string real_text(double v)
{
    char text[32];
    const auto r = std::to_chars(text, text + sizeof text, v);
    return std::string(text, r.ptr);
}

// Which layer, attribute and factor the levels came from, on standard error.
void say_source(const Cli& cli, const Source_info& info, bool build)
{
    if (info.points_left_out > 0)
        std::fprintf(stderr,
                     "relief_forge_gis: left out %lld point feature(s) of the layer '%s', such as "
                     "a drawing's labels; take them in as spot heights with --spot-heights\n",
                     info.points_left_out, info.layer.c_str());
    if (cli.quiet) return;
    if (info.band > 0)
        std::fprintf(stderr, "relief_forge_gis: contours from band %d of %s\n", info.band,
                     cli.in.contours.c_str());
    else
        std::fprintf(
            stderr, "relief_forge_gis: contours from the layer '%s'%s, elevations from %s%s%s\n",
            info.layer.c_str(),
            info.layer_count > 1
                ? (" (one of " + std::to_string(info.layer_count) + " layers: choose with --layer)")
                      .c_str()
                : "",
            info.attribute.empty() ? "the vertices' Z" : "the attribute '", info.attribute.c_str(),
            info.attribute.empty() ? "" : "'");
    if (info.spot_heights > 0)
        std::fprintf(stderr, "relief_forge_gis: %lld spot height(s) taken in\n", info.spot_heights);
    if (info.z_factor > 1)
        std::fprintf(stderr, "relief_forge_gis: levels multiplied by %d to make them whole; %s\n",
                     info.z_factor,
                     build ? "the DEM is written back in the contours' units, as Float32"
                           : "the contour raster holds them so multiplied");
}

// The metadata items that say where the levels came from.
void source_metadata(const Source_info& info,
                     std::vector<std::pair<std::string, std::string>>& items)
{
    if (info.band > 0) items.emplace_back("RF_BAND", std::to_string(info.band));
    if (!info.layer.empty()) items.emplace_back("RF_LAYER", info.layer);
    if (!info.layer.empty())
        items.emplace_back("RF_ATTRIBUTE", info.attribute.empty() ? "Z" : info.attribute);
    items.emplace_back("RF_Z_SCALE", std::to_string(info.z_factor));
    if (info.spot_heights > 0)
        items.emplace_back("RF_SPOT_HEIGHTS", std::to_string(info.spot_heights));
}

} // namespace

void run_import(const Cli& cli)
{
    Program_state s;
    Grids grids{s};
    Georef geo;
    Staged_outputs outputs;
    prepare_output_folders(refuse_output_on_input(cli));
    Import_options in = cli.in;
    // The contour grid, GDAL's raster it is burnt on, and a 16-bit copy.
    in.bytes_per_cell = 10;
    Source_info info;
    import_contours(in, s, geo, info);
    say_source(cli, info, false);
    write_contour_files(s, geo, cli.out);
    outputs.commit();
    summary(cli, "wrote", cli.out + (s.itype == 0 ? "_c2" : "_c4") + ".{raw,txt,vrt}", s, geo);
}

void run_build(const Cli& cli)
{
    Program_state s;
    Grids grids{s};
    Georef geo;
    Staged_outputs outputs;
    prepare_output_folders(refuse_output_on_input(cli));
    Import_options in = cli.in;
    // The run's three grids with their frontier rings, measured at 24 bytes
    // a cell, the Float32 values, the drawn copy of a COG with its overviews,
    // the footprint and the preview's flags.
    in.bytes_per_cell = 24 + (cli.float_dem ? 4 : 0) + (cli.format == "COG" ? 6 : 0) +
                        (cli.clip ? 1 : 0) + (cli.preview.contours ? 1 : 0);
    Source_info info;
    import_contours(in, s, geo, info);
    say_source(cli, info, true);
    const int equid = run_equidistance(cli.in.equidistance, info);
    const std::string equidistance = real_text(static_cast<double>(equid) / info.z_factor);
    if (cli.in.equidistance <= 0 && !cli.quiet)
        std::fprintf(stderr,
                     "relief_forge_gis: equidistance %s, the greatest common step between the "
                     "levels (give another with -e)\n",
                     equidistance.c_str());
    const std::vector<std::uint8_t> flags =
        cli.preview.contours ? contour_flags(s) : std::vector<std::uint8_t>{};
    const std::vector<std::uint8_t> footprint =
        cli.clip ? contour_footprint(s) : std::vector<std::uint8_t>{};
    int min_al = 0, max_al = 0;
    std::vector<float> values;
    build_surface(s, equid, cli.maille, min_al, max_al, cli.float_dem ? &values : nullptr,
                  info.z_factor);
    if (cli.clip) {
        const long long cleared = clip_to_footprint(s, footprint);
        for (std::size_t k = 0; k < values.size(); ++k)
            if (!footprint[k]) values[k] = static_cast<float>(NO_DATA);
        if (!cli.quiet)
            std::fprintf(stderr,
                         "relief_forge_gis: --clip left %lld cells outside the contours' "
                         "footprint empty\n",
                         cleared);
    }
    // Fractional levels: the whole DEM of the scaled levels, divided back.
    if (!cli.float_dem && info.z_factor > 1) {
        values.reserve(static_cast<std::size_t>(s.nb_lig) * static_cast<std::size_t>(s.nb_col));
        for (int i = 0; i < s.nb_lig; ++i)
            for (int j = 0; j < s.nb_col; ++j) {
                const int v = s.itab1[i][j];
                values.push_back(v == NO_DATA
                                     ? static_cast<float>(NO_DATA)
                                     : static_cast<float>(static_cast<double>(v) / info.z_factor));
            }
    }
    std::vector<std::pair<std::string, std::string>> metadata = {
        {"RF_CONTOURS", cli.in.contours},
        {"RF_EQUIDISTANCE", equidistance},
        {"RF_SMOOTHING_MESH", std::to_string(cli.maille)},
        {"RF_PIXEL_SIZE", cell_size_text(geo.gt)}};
    source_metadata(info, metadata);
    if (cli.float_dem) metadata.emplace_back("RF_VALUES", "scaled surface x equidistance / 512");
    check_output_memory(cli.out, s.nb_lig, s.nb_col, cli.format == "COG",
                        !cli.preview.path.empty());
    write_geotiff(s, geo, cli.out, metadata, values.empty() ? nullptr : &values, cli.format);
    preview(cli, s, geo, flags, info.z_factor);
    outputs.commit();
    summary(cli, "wrote", cli.out, s, geo);
}

void run_export(const Cli& cli)
{
    Program_state s;
    Grids grids{s};
    Georef geo;
    Staged_outputs outputs;
    prepare_output_folders(refuse_output_on_input(cli));
    const Dem_header h = read_interactive_dem(cli.dem, s);
    const std::string sidecar =
        find_sidecar(s.nomim1, std::filesystem::path(cli.dem).parent_path().string());
    std::vector<std::uint8_t> flags;
    read_sidecar(sidecar, s, geo, cli.preview.contours ? &flags : nullptr);
    check_output_memory(cli.out, s.nb_lig, s.nb_col, cli.format == "COG",
                        !cli.preview.path.empty());
    write_geotiff(s, geo, cli.out,
                  {{"RF_CONTOURS", h.input_path},
                   {"RF_SMOOTHING_MESH", std::to_string(h.maille)},
                   {"RF_PIXEL_SIZE", cell_size_text(geo.gt)}},
                  nullptr, cli.format);
    preview(cli, s, geo, flags);
    outputs.commit();
    summary(cli, "wrote", cli.out, s, geo);
}
