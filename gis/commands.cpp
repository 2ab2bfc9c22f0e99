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
#include "nrutil.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <gdal.h>

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

// Where and how the DEM is written, told before any work: the driver from
// -of or the extension, the type of -ot, the creation options of -co.
Dem_output output_of(const Cli& cli, const char* command)
{
    Dem_output out;
    out.path = cli.out;
    out.driver = output_driver(cli.out, cli.format, command);
    out.type = output_type(cli.type.empty() ? "Float32" : cli.type, command);
    out.creation_options = cli.creation_options;
    out.has_nodata = true;
    out.nodata = cli.nodata;
    int clamped = 0, rounded = 0;
    if (!cli.has_nodata) {
        // NO_DATA when the type holds it, else its lowest (signed) or
        // highest (unsigned) value.
        out.nodata = GDALAdjustValueToDataType(out.type, NO_DATA, &clamped, &rounded);
        if (clamped && !GDALDataTypeIsSigned(out.type))
            out.nodata = GDALAdjustValueToDataType(out.type, 1e300, &clamped, &rounded);
    } else {
        GDALAdjustValueToDataType(out.type, cli.nodata, &clamped, &rounded);
        if (clamped || rounded)
            throw Usage_error("the nodata value " + real_text(cli.nodata) + " does not fit " +
                                  GDALGetDataTypeName(out.type),
                              command);
    }
    return out;
}

// Flags of a fine grid reduced to the output's: a cell is set when any of
// its n x n fine cells is.
std::vector<std::uint8_t> coarsen(const std::vector<std::uint8_t>& fine, int lines, int cols, int n)
{
    if (n == 1 || fine.empty()) return fine;
    const auto un = static_cast<std::size_t>(n);
    const auto ucols = static_cast<std::size_t>(cols);
    const std::size_t fcols = ucols * un, flines = static_cast<std::size_t>(lines) * un;
    std::vector<std::uint8_t> out(static_cast<std::size_t>(lines) * ucols);
    for (std::size_t fi = 0; fi < flines; ++fi)
        for (std::size_t fj = 0; fj < fcols; ++fj)
            if (fine[fi * fcols + fj]) out[fi / un * ucols + fj / un] = 1;
    return out;
}

// The values the DEM holds in its type: the interactive program's whole DEM
// for an integer type without oversampling or scaled levels, else the
// surface before its truncation, rounded to the nearest whole number for
// an integer type. Refuses values the type cannot hold and values equal to
// the nodata value, which would be lost.
std::vector<double> dem_values(const Program_state& s, std::vector<double>&& exact,
                               const Dem_output& out, bool interactive)
{
    std::vector<double> v = std::move(exact);
    const bool whole = !GDALDataTypeIsFloating(out.type);
    if (interactive) {
        // 16-bit runs keep the low 16 bits of each value, as the raw DEM does.
        const bool low16 = s.itype == 0 && out.type == GDT_UInt16;
        std::size_t k = 0;
        for (int i = 0; i < s.nb_lig; ++i)
            for (int j = 0; j < s.nb_col; ++j, ++k)
                if (v[k] != NO_DATA)
                    v[k] = low16
                               ? static_cast<double>(static_cast<unsigned>(s.itab1[i][j]) & 0xFFFFu)
                               : s.itab1[i][j];
    }
    double lo = HUGE_VAL, hi = -HUGE_VAL;
    const double nodata =
        out.type == GDT_Float32 ? static_cast<double>(static_cast<float>(out.nodata)) : out.nodata;
    for (double& x : v) {
        if (x == NO_DATA) {
            x = out.nodata;
            continue;
        }
        if (whole) x = std::nearbyint(x);
        lo = std::min(lo, x);
        hi = std::max(hi, x);
        const double stored =
            out.type == GDT_Float32 ? static_cast<double>(static_cast<float>(x)) : x;
        if (out.has_nodata && stored == nodata)
            gis_fail("the DEM holds the value %s, which is its nodata value: give another "
                     "nodata value (-a_nodata)",
                     real_text(x).c_str());
    }
    int clamped_lo = 0, clamped_hi = 0, rounded = 0;
    if (lo <= hi) {
        GDALAdjustValueToDataType(out.type, lo, &clamped_lo, &rounded);
        GDALAdjustValueToDataType(out.type, hi, &clamped_hi, &rounded);
    }
    if (clamped_lo || clamped_hi)
        gis_fail("the DEM's values run from %s to %s, beyond what %s holds: choose another type "
                 "(-ot)",
                 real_text(lo).c_str(), real_text(hi).c_str(), GDALGetDataTypeName(out.type));
    return v;
}

// The preview of the DEM's values: an int grid of them times a power of
// ten that keeps their fractions, nodata left empty.
void preview_values(const Cli& cli, const std::vector<double>& v, int lines, int cols,
                    const Georef& geo, const std::vector<std::uint8_t>& flags, double nodata)
{
    if (cli.preview.path.empty()) return;
    double top = 1;
    for (double x : v)
        if (x != nodata) top = std::max(top, std::fabs(x));
    double divisor = 1;
    while (divisor < 1000 && top * divisor * 10 < 1e9) divisor *= 10;
    int** grid = new_int_grid(cols, lines);
    bool empty = false;
    std::size_t k = 0;
    for (int i = 0; i < lines; ++i)
        for (int j = 0; j < cols; ++j, ++k) {
            empty = empty || v[k] == nodata;
            grid[i][j] = v[k] == nodata ? NO_DATA : static_cast<int>(std::lround(v[k] * divisor));
        }
    Relief_view view;
    view.dem = grid;
    view.nb_lig = lines;
    view.nb_col = cols;
    view.has_empty = empty;
    view.divisor = divisor;
    if (cli.preview.contours && !flags.empty()) view.contours = flags.data();
    try {
        write_preview(view, geo, cli.preview.path,
                      "relief_forge DEM " + std::filesystem::path(cli.out).filename().string());
    } catch (...) {
        frigrille(grid, lines);
        throw;
    }
    frigrille(grid, lines);
}

void say_oversample(const Cli& cli, const Source_info& info)
{
    if (cli.quiet || info.oversample_why.empty()) return;
    std::fprintf(stderr, "relief_forge_gis: oversampling %d: %s\n", info.oversample,
                 info.oversample_why.c_str());
}

// The grid of a build: the contours' grid in the Program state, `n` times
// finer than the output's, placed by `geo`.
struct Build_grid {
    Source_info info;
    int n = 1;
    int lines = 0, cols = 0; // the output's
    Georef geo;              // the output's
};

// The contours burnt on the grid the surface is built on, after the memory
// it needs is counted: the run's three grids with their frontier rings (24
// bytes a cell), the contour flags and the footprint on that grid; the
// values, a driver's copy in memory, the preview and the cutline's mask on
// the output grid.
Build_grid import_for_build(const Cli& cli, const Dem_output& out, Program_state& s)
{
    Import_options in = cli.in;
    in.bytes_per_cell = 24 + (cli.preview.contours ? 1 : 0) + (cli.clip ? 1 : 0);
    // A COG is drawn whole in memory before its copy, overviews included.
    in.out_bytes_per_cell = 8 + GDALGetDataTypeSizeBytes(out.type) +
                            (out.driver == "COG" ? GDALGetDataTypeSizeBytes(out.type) * 3 / 2 : 0) +
                            (cli.preview.path.empty() ? 0 : 4) + (cli.cutline.path.empty() ? 0 : 1);
    // The smoothing's mesh counts cells of the output grid: no finer one.
    const bool smoothed = cli.maille > 1 && in.oversample == 0;
    if (smoothed) in.oversample = 1;
    Build_grid g;
    Georef fine;
    import_contours(in, s, fine, g.info);
    if (smoothed && g.info.band == 0)
        g.info.oversample_why = "the smoothing mesh (-s) counts the output's cells";
    say_source(cli, g.info, true);
    say_oversample(cli, g.info);
    g.n = g.info.oversample;
    g.lines = s.nb_lig / g.n;
    g.cols = s.nb_col / g.n;
    g.geo = fine;
    for (int k : {1, 2, 4, 5}) g.geo.gt[k] *= g.n;
    return g;
}

// The equidistance in scaled levels, said when inferred.
int build_equidistance(const Cli& cli, const Source_info& info)
{
    const int equid = run_equidistance(cli.in.equidistance, info);
    if (cli.in.equidistance <= 0 && !cli.quiet)
        std::fprintf(stderr,
                     "relief_forge_gis: equidistance %s, the greatest common step between the "
                     "levels (give another with -e)\n",
                     real_text(static_cast<double>(equid) / info.z_factor).c_str());
    return equid;
}

// What is read of the contour grid before the run changes it, and the
// cutline, each on the output grid; empty when not asked for.
struct Masks {
    std::vector<std::uint8_t> contours;  // cells holding a contour, for the preview
    std::vector<std::uint8_t> footprint; // --clip
    std::vector<std::uint8_t> cutline;   // inside the cutline's polygons
};

Masks read_masks(const Cli& cli, const Program_state& s, const Build_grid& g)
{
    Masks m;
    if (cli.preview.contours) m.contours = coarsen(contour_flags(s), g.lines, g.cols, g.n);
    if (cli.clip) m.footprint = coarsen(contour_footprint(s), g.lines, g.cols, g.n);
    if (!cli.cutline.path.empty()) m.cutline = cutline_mask(cli.cutline, g.lines, g.cols, g.geo);
    return m;
}

// Whether the DEM is the interactive program's whole DEM as it lies in
// itab1, written from there: Int32 of a 32-bit run without oversampling,
// scaled levels or a nodata value of the user's.
bool whole_dem_in_place(const Cli& cli, const Program_state& s, const Build_grid& g,
                        const Dem_output& out)
{
    return g.n == 1 && g.info.z_factor == 1 && s.itype != 0 && out.type == GDT_Int32 &&
           !cli.has_nodata;
}

// The surface on the output grid, unless the DEM is written in place: built
// on the contours' grid, each output cell the mean of its n x n cells, in
// the contours' units.
std::vector<double> averaged_surface(const Cli& cli, Program_state& s, const Build_grid& g,
                                     int equid, bool in_place)
{
    int min_al = 0, max_al = 0;
    std::vector<double> surface;
    build_surface(s, equid, cli.maille, min_al, max_al, in_place ? nullptr : &surface,
                  g.info.z_factor, g.n);
    return surface;
}

// Empties the cells outside --clip's footprint and outside the cutline: in
// the surface, or in itab1 when the DEM is written from there.
void apply_masks(const Cli& cli, const Masks& m, Program_state& s, std::vector<double>& surface)
{
    const auto clear_outside = [&](const std::vector<std::uint8_t>& inside) {
        long long cleared = 0;
        std::size_t k = 0;
        for (int i = 0; surface.empty() && i < s.nb_lig; ++i)
            for (int j = 0; j < s.nb_col; ++j, ++k)
                if (!inside[k] && s.itab1[i][j] != NO_DATA) {
                    s.itab1[i][j] = NO_DATA;
                    ++cleared;
                }
        for (k = 0; k < surface.size(); ++k)
            if (!inside[k] && surface[k] != NO_DATA) {
                surface[k] = NO_DATA;
                ++cleared;
            }
        return cleared;
    };
    if (cli.clip) {
        const long long cleared = clear_outside(m.footprint);
        if (!cli.quiet)
            std::fprintf(stderr,
                         "relief_forge_gis: --clip left %lld cells outside the contours' "
                         "footprint empty\n",
                         cleared);
    }
    if (!cli.cutline.path.empty()) {
        const long long cleared = clear_outside(m.cutline);
        if (!cli.quiet)
            std::fprintf(stderr,
                         "relief_forge_gis: %lld cells outside the cutline's polygons made "
                         "nodata\n",
                         cleared);
    }
}

// The DEM in its type with its metadata, the preview and the summary.
void write_build(const Cli& cli, Program_state& s, const Build_grid& g, const Dem_output& out,
                 const Masks& m, std::vector<double>&& surface, int equid)
{
    const bool interactive =
        g.n == 1 && g.info.z_factor == 1 && out.type == (s.itype == 0 ? GDT_UInt16 : GDT_Int32);
    const bool in_place = surface.empty();
    Dem_output dem = out;
    // The interactive program's 16-bit DEM has no nodata: every value is one.
    if (s.itype == 0 && out.type == GDT_UInt16 && !cli.has_nodata &&
        std::find(surface.begin(), surface.end(), NO_DATA) == surface.end())
        dem.has_nodata = false;
    const std::vector<double> values =
        in_place ? std::vector<double>{} : dem_values(s, std::move(surface), dem, interactive);
    std::vector<std::pair<std::string, std::string>> metadata = {
        {"RF_CONTOURS", cli.in.contours},
        {"RF_EQUIDISTANCE", real_text(static_cast<double>(equid) / g.info.z_factor)},
        {"RF_SMOOTHING_MESH", std::to_string(cli.maille)},
        {"RF_PIXEL_SIZE", cell_size_text(g.geo.gt)},
        {"RF_OVERSAMPLE", std::to_string(g.n)},
        {"RF_VALUES", interactive ? "whole altitudes of the interactive program's DEM"
                      : GDALDataTypeIsFloating(out.type)
                          ? "scaled surface x equidistance / 512"
                          : "scaled surface x equidistance / 512, rounded"}};
    source_metadata(g.info, metadata);
    if (!cli.cutline.path.empty()) metadata.emplace_back("RF_CUTLINE", cli.cutline.path);
    check_output_memory(cli.out, g.lines, g.cols, dem.driver == "COG", !cli.preview.path.empty());
    write_dem(values, g.lines, g.cols, g.geo, dem, metadata, in_place ? s.itab1 : nullptr);
    if (in_place)
        preview(cli, s, g.geo, m.contours);
    else
        preview_values(cli, values, g.lines, g.cols, g.geo, m.contours,
                       dem.has_nodata ? dem.nodata : HUGE_VAL);
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
    in.oversample = 1;
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
    Staged_outputs outputs;
    prepare_output_folders(refuse_output_on_input(cli));
    const Dem_output out = output_of(cli, "build");
    const Build_grid g = import_for_build(cli, out, s);
    const int equid = build_equidistance(cli, g.info);
    const Masks masks = read_masks(cli, s, g);
    const bool in_place = whole_dem_in_place(cli, s, g, out);
    std::vector<double> surface = averaged_surface(cli, s, g, equid, in_place);
    apply_masks(cli, masks, s, surface);
    write_build(cli, s, g, out, masks, std::move(surface), equid);
    outputs.commit();
    if (!cli.quiet)
        std::printf("wrote %s: %d lines, %d columns of %g x %g%s\n", cli.out.c_str(), g.lines,
                    g.cols, g.geo.gt[1], -g.geo.gt[5], g.geo.wkt.empty() ? ", no CRS" : "");
}

void run_export(const Cli& cli)
{
    Program_state s;
    Grids grids{s};
    Georef geo;
    Staged_outputs outputs;
    prepare_output_folders(refuse_output_on_input(cli));
    Dem_output out;
    out.path = cli.out;
    out.driver = output_driver(cli.out, cli.format, "export");
    out.creation_options = cli.creation_options;
    const Dem_header h = read_interactive_dem(cli.dem, s);
    const std::string sidecar =
        find_sidecar(s.nomim1, std::filesystem::path(cli.dem).parent_path().string());
    std::vector<std::uint8_t> flags;
    read_sidecar(sidecar, s, geo, cli.preview.contours ? &flags : nullptr);
    // The DEM as the interactive program wrote it: Int32 with nodata, or the
    // low 16 bits of each value as UInt16 without.
    out.type = s.itype == 0 ? GDT_UInt16 : GDT_Int32;
    out.has_nodata = s.itype != 0;
    std::vector<double> values(static_cast<std::size_t>(s.nb_lig) *
                               static_cast<std::size_t>(s.nb_col));
    std::size_t k = 0;
    for (int i = 0; i < s.nb_lig; ++i)
        for (int j = 0; j < s.nb_col; ++j, ++k)
            values[k] = s.itype == 0
                            ? static_cast<double>(static_cast<unsigned>(s.itab1[i][j]) & 0xFFFFu)
                            : s.itab1[i][j];
    check_output_memory(cli.out, s.nb_lig, s.nb_col, out.driver == "COG",
                        !cli.preview.path.empty());
    write_dem(values, s.nb_lig, s.nb_col, geo, out,
              {{"RF_CONTOURS", h.input_path},
               {"RF_SMOOTHING_MESH", std::to_string(h.maille)},
               {"RF_PIXEL_SIZE", cell_size_text(geo.gt)}});
    preview(cli, s, geo, flags);
    outputs.commit();
    summary(cli, "wrote", cli.out, s, geo);
}
