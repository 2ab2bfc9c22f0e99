// The preview written as a PNG through GDAL, its range in the PNG's text.
#include "gis/outputs/preview.h"

#include <cmath>
#include <gdal_priv.h>
#include <numbers>

namespace {

// The longer side of a preview stays about this size: larger DEMs are shown
// one pixel in `step`.
constexpr int kPreview_side = 2000;

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
    const int side = std::max(v.nb_lig, v.nb_col);
    const int step = (side + kPreview_side - 1) / kPreview_side;
    Relief_view view = v;
    ground_cell_size(geo, v.nb_lig / 2.0, v.nb_col / 2.0, view.dx, view.dy);
    if (range.any)
        view.zfactor = auto_zfactor(static_cast<double>(range.max) - range.min,
                                    std::hypot(view.dx * v.nb_col, view.dy * v.nb_lig));
    const Rgba_image img = render_relief(view, step, range);

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
    const std::string range_text =
        range.any ? std::to_string(range.min) + " to " + std::to_string(range.max) : "none";
    ds->SetMetadataItem("ALTITUDE_MIN", range.any ? std::to_string(range.min).c_str() : "");
    ds->SetMetadataItem("ALTITUDE_MAX", range.any ? std::to_string(range.max).c_str() : "");
    ds->SetMetadataItem("ALTITUDE_RANGE", range_text.c_str());
    char zf[32];
    std::snprintf(zf, sizeof zf, "%.3g", view.zfactor);
    ds->SetMetadataItem("VERTICAL_EXAGGERATION", zf);
    if (step > 1) ds->SetMetadataItem("CELLS_PER_PIXEL", std::to_string(step).c_str());

    CPLStringList options;
    options.SetNameValue("WRITE_METADATA_AS_TEXT", "YES");
    options.SetNameValue("TITLE", title.c_str());
    options.SetNameValue("DESCRIPTION",
                         ("Altitudes " + range_text +
                          ": hillshade lit from the north-west blended with a colour ramp "
                          "from green (low) to white (high)")
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
