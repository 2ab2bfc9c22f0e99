// The DEM as a GeoTIFF: the pixels the interactive program writes, placed on
// the ground.
#include "gis/outputs/geotiff.h"
#include "nrutil.h"
#include "raster/raster_files.h"

#include <gdal_priv.h>

namespace {

// Rasters with a side this long or longer are tiled, so that a GIS reads a
// window of them without reading whole rows.
constexpr int kTile_from = 512;

} // namespace

void write_geotiff(Program_state& s, const Georef& geo, const std::string& path,
                   const std::vector<std::pair<std::string, std::string>>& metadata)
{
    Staged_file f(path);
    GDALDriver* gtiff = GetGDALDriverManager()->GetDriverByName("GTiff");
    CPLStringList options;
    options.SetNameValue("COMPRESS", "DEFLATE");
    options.SetNameValue("PREDICTOR", "2");
    options.SetNameValue("BIGTIFF", "IF_SAFER");
    if (s.nb_col >= kTile_from || s.nb_lig >= kTile_from) {
        options.SetNameValue("TILED", "YES");
        options.SetNameValue("BLOCKXSIZE", "256");
        options.SetNameValue("BLOCKYSIZE", "256");
    }
    const bool bits16 = s.itype == 0;
    CPLErrorReset();
    GDALDataset* ds = gtiff->Create(f.temp_path.c_str(), s.nb_col, s.nb_lig, 1,
                                    bits16 ? GDT_UInt16 : GDT_Int32, options.List());
    if (!ds) gis_fail("cannot create %s: %s", path.c_str(), gdal_error("GeoTIFF error").c_str());
    struct Closer {
        GDALDataset* ds;
        ~Closer()
        {
            if (ds) GDALClose(GDALDataset::ToHandle(ds));
        }
    } closer{ds};

    if (ds->SetGeoTransform(const_cast<double*>(geo.gt)) != CE_None)
        gis_fail("cannot write the geotransform to %s: %s", path.c_str(),
                 gdal_error("GeoTIFF error").c_str());
    if (!geo.wkt.empty() && ds->SetProjection(geo.wkt.c_str()) != CE_None)
        gis_fail("the CRS cannot be written to %s: %s", path.c_str(),
                 gdal_error("GeoTIFF cannot hold it").c_str());
    GDALRasterBand* band = ds->GetRasterBand(1);
    if (!bits16) band->SetNoDataValue(NO_DATA);
    band->SetDescription("altitude");
    for (const auto& [key, value] : metadata) ds->SetMetadataItem(key.c_str(), value.c_str());

    // 16-bit DEMs keep the low 16 bits of each value, as the raw DEM does.
    if (bits16) {
        if (!s.jtab1) s.jtab1 = usmatrice(s.nb_col, s.nb_lig);
        if (!s.jtab1)
            gis_fail("not enough memory for a 16-bit grid of %d lines and %d columns", s.nb_lig,
                     s.nb_col);
        narrow16(s.itab1, s.jtab1, s.nb_lig, s.nb_col);
    }
    progress_stage("GeoTIFF", true);
    for (int i = 0; i < s.nb_lig; ++i) {
        void* row = bits16 ? static_cast<void*>(s.jtab1[i]) : static_cast<void*>(s.itab1[i]);
        if (band->RasterIO(GF_Write, 0, i, s.nb_col, 1, row, s.nb_col, 1,
                           bits16 ? GDT_UInt16 : GDT_Int32, 0, 0, nullptr) != CE_None)
            gis_fail("cannot write %s: %s", path.c_str(), gdal_error("write error").c_str());
        progress_fraction(static_cast<double>(i + 1) / s.nb_lig);
    }
    closer.ds = nullptr;
    CPLErrorReset();
    GDALClose(GDALDataset::ToHandle(ds));
    progress_done();
    if (CPLGetLastErrorType() == CE_Failure)
        gis_fail("cannot write %s: %s", path.c_str(), gdal_error("write error").c_str());
    f.publish();
}
