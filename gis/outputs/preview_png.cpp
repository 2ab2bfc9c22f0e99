// The preview written as a PNG through GDAL, its range in the PNG's text.
#include "gis/outputs/preview.h"

#include <cmath>
#include <gdal_priv.h>
#include <numbers>
#include <ogr_spatialref.h>

namespace {

// The longer side of a preview: larger DEMs are shown reduced, smaller ones
// enlarged, so that the picture and its legend stay readable.
constexpr int kPreview_side = 2000;
constexpr int kPreview_min_side = 400;

// The unit of the altitudes: the CRS's vertical unit, else its linear unit
// (metres for a geographic CRS, whose ground sizes are taken in metres).
std::string altitude_unit(const std::string& wkt)
{
    if (wkt.empty()) return "";
    OGRSpatialReference srs;
    if (srs.importFromWkt(wkt.c_str()) != OGRERR_NONE) return "";
    double metres = 1;
    if (srs.IsCompound() || srs.IsVertical())
        metres = srs.GetTargetLinearUnits("VERT_CS");
    else if (srs.IsProjected())
        metres = srs.GetLinearUnits();
    if (std::fabs(metres - 1) < 1e-9) return "m";
    if (std::fabs(metres - 0.3048) < 1e-5) return "ft";
    return "";
}

// The unit of the ground sizes of the cells: metres for a geographic CRS,
// whose cells are measured in metres, else the CRS's linear unit.
std::string ground_unit(const std::string& wkt)
{
    if (wkt.empty()) return "";
    if (crs_is_geographic(wkt)) return "m";
    OGRSpatialReference srs;
    if (srs.importFromWkt(wkt.c_str()) != OGRERR_NONE || !srs.IsProjected()) return "";
    const double metres = srs.GetLinearUnits();
    if (std::fabs(metres - 1) < 1e-9) return "m";
    if (std::fabs(metres - 0.3048) < 1e-5) return "ft";
    return "";
}

std::string value_text(int value, double divisor)
{
    if (divisor == 1) return std::to_string(value);
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", value / divisor);
    return text;
}

} // namespace

void ground_cell_size(const Georef& geo, double centre_line, double centre_col, double& dx,
                      double& dy)
{
    dx = std::hypot(geo.gt[1], geo.gt[4]);
    dy = std::hypot(geo.gt[2], geo.gt[5]);
    if (crs_is_geographic(geo.wkt)) {
        // Degrees to metres at the grid's centre.
        const double lat = geo.gt[3] + centre_col * geo.gt[4] + centre_line * geo.gt[5];
        dx *= 111320.0 * std::cos(lat * std::numbers::pi / 180.0);
        dy *= 110574.0;
    }
    if (!(dx > 0)) dx = 1;
    if (!(dy > 0)) dy = 1;
}

void write_preview(const Relief_view& v, const Georef& geo, const std::string& path,
                   const std::string& title)
{
    progress_stage("preview", false);
    const Altitude_range range = relief_range(v);
    Relief_view view = v;
    ground_cell_size(geo, v.nb_lig / 2.0, v.nb_col / 2.0, view.dx, view.dy);
    if (view.unit.empty()) view.unit = altitude_unit(geo.wkt);
    view.ground_unit = ground_unit(geo.wkt);
    if (range.any)
        view.zfactor = auto_zfactor((static_cast<double>(range.max) - range.min) / view.divisor,
                                    std::hypot(view.dx * v.nb_col, view.dy * v.nb_lig));
    int width = 0, height = 0;
    picture_size(view, kPreview_min_side, kPreview_side, width, height);
    const Rgba_image img = render_relief(view, width, height, range);

    GDALDriver* mem = GetGDALDriverManager()->GetDriverByName("MEM");
    GDALDataset* ds = mem->Create("", img.width, img.height, 4, GDT_Byte, nullptr);
    if (!ds) gis_fail("not enough memory for a preview of %d x %d pixels", img.width, img.height);
    struct Closer {
        GDALDataset* ds;
        ~Closer() { GDALClose(GDALDataset::ToHandle(ds)); }
    } closer{ds};
    const GDALColorInterp roles[4] = {GCI_RedBand, GCI_GreenBand, GCI_BlueBand, GCI_AlphaBand};
    for (int b = 0; b < 4; ++b) {
        GDALRasterBand* band = ds->GetRasterBand(b + 1);
        band->SetColorInterpretation(roles[b]);
        // The pixels are interleaved: band b starts at byte b, 4 bytes apart.
        if (band->RasterIO(GF_Write, 0, 0, img.width, img.height,
                           const_cast<std::uint8_t*>(img.px.data()) + b, img.width, img.height,
                           GDT_Byte, 4, static_cast<GSpacing>(img.width) * 4, nullptr) != CE_None)
            gis_fail("cannot draw the preview: %s", gdal_error("memory error").c_str());
    }
    const std::string lo = value_text(range.min, view.divisor);
    const std::string hi = value_text(range.max, view.divisor);
    const std::string range_text = range.any ? lo + " to " + hi : "none";
    ds->SetMetadataItem("ALTITUDE_MIN", range.any ? lo.c_str() : "");
    ds->SetMetadataItem("ALTITUDE_MAX", range.any ? hi.c_str() : "");
    ds->SetMetadataItem("ALTITUDE_RANGE", range_text.c_str());
    ds->SetMetadataItem("ALTITUDE_UNIT", view.unit.c_str());
    if (range.any) {
        std::string ticks;
        for (double t : round_ticks(range.min / view.divisor, range.max / view.divisor, 6)) {
            char text[32];
            std::snprintf(text, sizeof text, "%s%.10g", ticks.empty() ? "" : " ", t);
            ticks += text;
        }
        ds->SetMetadataItem("LEGEND_TICKS", ticks.c_str());
    }
    char zf[32];
    std::snprintf(zf, sizeof zf, "%.3g", view.zfactor);
    ds->SetMetadataItem("VERTICAL_EXAGGERATION", zf);
    ds->SetMetadataItem(
        "SCALE_BAR",
        scale_bar_label(scale_bar_length(v.nb_col * view.dx), view.ground_unit).c_str());
    char per[32];
    std::snprintf(per, sizeof per, "%.4g", static_cast<double>(v.nb_col) / width);
    ds->SetMetadataItem("CELLS_PER_PIXEL", per);

    CPLStringList options;
    options.SetNameValue("WRITE_METADATA_AS_TEXT", "YES");
    options.SetNameValue("TITLE", title.c_str());
    options.SetNameValue("DESCRIPTION",
                         ("Altitudes " + range_text +
                          ": hillshade lit from the north-west blended with a colour ramp "
                          "from green (low) to white (high), blue below 0")
                             .c_str());
    Staged_file f(path);
    // No .aux.xml beside the picture: everything it says is in the PNG.
    CPLSetThreadLocalConfigOption("GDAL_PAM_ENABLED", "NO");
    CPLErrorReset();
    GDALDataset* png = GetGDALDriverManager()->GetDriverByName("PNG")->CreateCopy(
        f.temp_path.c_str(), ds, FALSE, options.List(), nullptr, nullptr);
    if (png) GDALClose(GDALDataset::ToHandle(png));
    const bool ok = png && CPLGetLastErrorType() != CE_Failure;
    CPLSetThreadLocalConfigOption("GDAL_PAM_ENABLED", nullptr);
    if (!ok) gis_fail("cannot write %s: %s", path.c_str(), gdal_error("PNG error").c_str());
    f.publish();
    progress_done();
}
