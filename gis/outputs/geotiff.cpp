// The DEM as a GeoTIFF: the pixels the interactive program writes, placed on
// the ground.
#include "gis/outputs/geotiff.h"

#include "base/grids.h"
#include "nrutil.h"
#include "raster/raster_files.h"

#include <gdal_priv.h>

namespace {

// Rasters with a side this long or longer are tiled, so that a GIS reads a
// window of them without reading whole rows.
constexpr int kTile_from = 512;

} // namespace

namespace {

// Places the grid and writes its metadata and pixels into `ds`.
void fill_dataset(Program_state& s, const Georef& geo, const std::string& path,
                  const std::vector<std::pair<std::string, std::string>>& metadata,
                  const std::vector<float>* values, GDALDataset* ds)
{
    const bool bits16 = s.itype == 0 && !values;
    const GDALDataType type = values ? GDT_Float32 : bits16 ? GDT_UInt16 : GDT_Int32;
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
        if (!s.jtab1) s.jtab1 = new_grid16(s.nb_col, s.nb_lig);
        if (!s.jtab1)
            gis_fail("not enough memory for a 16-bit grid of %d lines and %d columns", s.nb_lig,
                     s.nb_col);
        narrow16(s.itab1, s.jtab1, s.nb_lig, s.nb_col);
    }
    for (int i = 0; i < s.nb_lig; ++i) {
        void* row = bits16 ? static_cast<void*>(s.jtab1[i]) : static_cast<void*>(s.itab1[i]);
        if (values)
            row = const_cast<float*>(values->data()) +
                  static_cast<std::size_t>(i) * static_cast<std::size_t>(s.nb_col);
        if (band->RasterIO(GF_Write, 0, i, s.nb_col, 1, row, s.nb_col, 1, type, 0, 0, nullptr) !=
            CE_None)
            gis_fail("cannot write %s: %s", path.c_str(), gdal_error("write error").c_str());
        progress_fraction(static_cast<double>(i + 1) / s.nb_lig);
    }
}

struct Closer {
    GDALDataset* ds;
    ~Closer()
    {
        if (ds) GDALClose(GDALDataset::ToHandle(ds));
    }
};

// Closes `ds`, which flushes it, and throws when GDAL reports a failure.
void close_checked(Closer& closer, const std::string& path)
{
    GDALDataset* ds = closer.ds;
    closer.ds = nullptr;
    CPLErrorReset();
    GDALClose(GDALDataset::ToHandle(ds));
    if (CPLGetLastErrorType() == CE_Failure)
        gis_fail("cannot write %s: %s", path.c_str(), gdal_error("write error").c_str());
}

// A cloud-optimised GeoTIFF: the grid is drawn in memory, then GDAL's COG
// driver writes it tiled with its overviews (averaged, halving until they
// fit one tile) ahead of the full-resolution tiles.
void write_cog(Program_state& s, const Georef& geo, const Staged_file& f,
               const std::vector<std::pair<std::string, std::string>>& metadata,
               const std::vector<float>* values)
{
    const std::string& path = f.final_path;
    GDALDriver* cog = GetGDALDriverManager()->GetDriverByName("COG");
    if (!cog) gis_fail("cannot write %s: this GDAL has no COG driver", path.c_str());
    GDALDriver* mem = GetGDALDriverManager()->GetDriverByName("MEM");
    const GDALDataType type = values ? GDT_Float32 : s.itype == 0 ? GDT_UInt16 : GDT_Int32;
    Closer grid{mem->Create("", s.nb_col, s.nb_lig, 1, type, nullptr)};
    if (!grid.ds)
        gis_fail("not enough memory for a grid of %d lines and %d columns", s.nb_lig, s.nb_col);
    progress_stage("COG", true);
    fill_dataset(s, geo, path, metadata, values, grid.ds);
    CPLStringList options;
    options.SetNameValue("COMPRESS", "DEFLATE");
    options.SetNameValue("PREDICTOR", "YES");
    options.SetNameValue("BLOCKSIZE", "256");
    options.SetNameValue("BIGTIFF", "IF_SAFER");
    options.SetNameValue("OVERVIEWS", "AUTO");
    options.SetNameValue("RESAMPLING", "AVERAGE");
    CPLErrorReset();
    Closer out{
        cog->CreateCopy(f.temp_path.c_str(), grid.ds, FALSE, options.List(), nullptr, nullptr)};
    if (!out.ds) gis_fail("cannot create %s: %s", path.c_str(), gdal_error("COG error").c_str());
    close_checked(out, path);
    progress_done();
}

} // namespace

void write_geotiff(Program_state& s, const Georef& geo, const std::string& path,
                   const std::vector<std::pair<std::string, std::string>>& metadata,
                   const std::vector<float>* values, const std::string& format)
{
    Staged_file f(path);
    if (format == "COG") {
        write_cog(s, geo, f, metadata, values);
        f.publish();
        return;
    }
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
    if (values) options.SetNameValue("PREDICTOR", "3");
    const GDALDataType type = values ? GDT_Float32 : s.itype == 0 ? GDT_UInt16 : GDT_Int32;
    CPLErrorReset();
    Closer closer{gtiff->Create(f.temp_path.c_str(), s.nb_col, s.nb_lig, 1, type, options.List())};
    if (!closer.ds)
        gis_fail("cannot create %s: %s", path.c_str(), gdal_error("GeoTIFF error").c_str());
    progress_stage("GeoTIFF", true);
    fill_dataset(s, geo, path, metadata, values, closer.ds);
    close_checked(closer, path);
    progress_done();
    f.publish();
}
