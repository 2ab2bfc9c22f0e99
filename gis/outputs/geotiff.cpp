// The DEM written with a GDAL driver: the driver chosen by name or by the
// output's extension, its files written under temporary names and renamed
// together once complete.
#include "gis/outputs/geotiff.h"

#include <algorithm>
#include <cpl_string.h>
#include <filesystem>
#include <gdal_priv.h>
#include <strings.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Rasters with a side this long or longer are tiled, so that a GIS reads a
// window of them without reading whole rows.
constexpr int kTile_from = 512;
// Lines handed to GDAL at a time.
constexpr int kChunk_lines = 256;

// The strings of a GDAL string list, which is released.
std::vector<std::string> strings_of(char** list)
{
    std::vector<std::string> v;
    for (char** p = list; p && *p; ++p) v.emplace_back(*p);
    CSLDestroy(list);
    return v;
}

bool writes_files(GDALDriver* d)
{
    const char* raster = d->GetMetadataItem(GDAL_DCAP_RASTER);
    const char* create = d->GetMetadataItem(GDAL_DCAP_CREATE);
    const char* copy = d->GetMetadataItem(GDAL_DCAP_CREATECOPY);
    // MEM keeps its raster in memory; a VRT only points at other rasters.
    const std::string name = d->GetDescription();
    return raster && (create || copy) && name != "MEM" && name != "VRT";
}

std::string lower(std::string s)
{
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The names of every driver that writes files, for the error message.
std::string writable_extensions()
{
    std::string list;
    GDALDriverManager* m = GetGDALDriverManager();
    for (int k = 0; k < m->GetDriverCount(); ++k) {
        GDALDriver* d = m->GetDriver(k);
        const char* ext = d->GetMetadataItem(GDAL_DMD_EXTENSIONS);
        if (!writes_files(d) || !ext || !*ext) continue;
        for (const std::string& e : strings_of(CSLTokenizeString(ext))) {
            const std::string dotted = " ." + e;
            if ((list + " ").find(dotted + " ") == std::string::npos) list += dotted;
        }
    }
    return list;
}

// The files of the written dataset: `temp` and the sidecars its driver
// lists, plus the .aux.xml GDAL may add when the dataset closes.
std::vector<std::string> dataset_files(GDALDataset* ds, const std::string& temp)
{
    std::vector<std::string> files = {temp};
    for (const std::string& f : strings_of(ds->GetFileList()))
        if (std::find(files.begin(), files.end(), f) == files.end()) files.push_back(f);
    return files;
}

struct Closer {
    GDALDataset* ds = nullptr;
    ~Closer()
    {
        if (ds) GDALClose(GDALDataset::ToHandle(ds));
    }
};

// Closes the dataset, which flushes it, and throws when GDAL reports a
// failure.
void close_checked(Closer& closer, const std::string& path)
{
    GDALDataset* ds = closer.ds;
    closer.ds = nullptr;
    CPLErrorReset();
    GDALClose(GDALDataset::ToHandle(ds));
    if (CPLGetLastErrorType() == CE_Failure)
        gis_fail("cannot write %s: %s", path.c_str(), gdal_error("write error").c_str());
}

// Places the grid and writes its metadata and values into `ds`.
void fill_dataset(const std::vector<double>& values, const int* const* ints, int nb_lig, int nb_col,
                  const Georef& geo, const Dem_output& out,
                  const std::vector<std::pair<std::string, std::string>>& metadata, GDALDataset* ds)
{
    const char* path = out.path.c_str();
    // Some drivers (GeoPackage) take the nodata value only before the grid.
    GDALRasterBand* band = ds->GetRasterBand(1);
    CPLErrorReset();
    // A driver may report a failure yet keep the value (GeoPackage does).
    int kept = 0;
    if (out.has_nodata && band->SetNoDataValue(out.nodata) != CE_None &&
        !(band->GetNoDataValue(&kept) == out.nodata && kept)) {
        // Without nodata cells nothing is lost but the value's record.
        if (ints || std::find(values.begin(), values.end(), out.nodata) != values.end())
            gis_fail("%s cannot record the nodata value %.17g that its empty cells hold: %s", path,
                     out.nodata, gdal_error("the format refuses it").c_str());
        std::fprintf(stderr,
                     "relief_forge_gis: warning: %s does not record the nodata value; no cell "
                     "is empty\n",
                     path);
    }
    if (ds->SetGeoTransform(const_cast<double*>(geo.gt)) != CE_None)
        gis_fail("cannot write the geotransform to %s: %s", path,
                 gdal_error("the format cannot hold it").c_str());
    if (!geo.wkt.empty() && ds->SetProjection(geo.wkt.c_str()) != CE_None)
        gis_fail("the CRS cannot be written to %s: %s", path,
                 gdal_error("the format cannot hold it").c_str());
    band->SetDescription("altitude");
    for (const auto& [key, value] : metadata) ds->SetMetadataItem(key.c_str(), value.c_str());
    for (int i = 0; ints && i < nb_lig; ++i) {
        if (band->RasterIO(GF_Write, 0, i, nb_col, 1, const_cast<int*>(ints[i]), nb_col, 1,
                           GDT_Int32, 0, 0, nullptr) != CE_None)
            gis_fail("cannot write %s: %s", path, gdal_error("write error").c_str());
        if (i % kChunk_lines == 0) progress_fraction(static_cast<double>(i + 1) / nb_lig);
    }
    for (int i = 0; !ints && i < nb_lig; i += kChunk_lines) {
        const int n = std::min(kChunk_lines, nb_lig - i);
        void* rows = const_cast<double*>(values.data()) +
                     static_cast<std::size_t>(i) * static_cast<std::size_t>(nb_col);
        if (band->RasterIO(GF_Write, 0, i, nb_col, n, rows, nb_col, n, GDT_Float64, 0, 0,
                           nullptr) != CE_None)
            gis_fail("cannot write %s: %s", path, gdal_error("write error").c_str());
        progress_fraction(static_cast<double>(i + n) / nb_lig);
    }
}

// The final name of a file the driver wrote for the temporary `temp`: the
// temporary stem replaced by the final one, so that dem.rf-PID.prj becomes
// dem.prj and dem.rf-PID.tif.aux.xml dem.tif.aux.xml.
std::string final_name_of(const std::string& f, const std::string& temp,
                          const std::string& temp_stem, const std::string& final_stem,
                          const std::string& path)
{
    if (f == temp) return path;
    return final_stem + f.substr(temp_stem.size());
}

} // namespace

std::string output_driver(const std::string& path, const std::string& format,
                          const std::string& command)
{
    GDALDriverManager* m = GetGDALDriverManager();
    if (!format.empty()) {
        GDALDriver* d = m->GetDriverByName(format.c_str());
        if (!d || !d->GetMetadataItem(GDAL_DCAP_RASTER))
            throw Usage_error("unknown raster format '" + format +
                                  "': give the short name of a GDAL raster driver that writes "
                                  "files (such as GTiff, COG, GPKG, AAIGrid, ENVI)",
                              command);
        if (!writes_files(d))
            throw Usage_error("GDAL's " + format + " driver cannot write a raster file", command);
        return d->GetDescription();
    }
    const std::string ext = lower(fs::path(path).extension().string());
    if (ext.empty()) return "GTiff";
    const std::string bare = ext.substr(1);
    // GDAL's utilities take GTiff for .tif, before COG, which shares it.
    if (bare == "tif" || bare == "tiff") return "GTiff";
    for (int k = 0; k < m->GetDriverCount(); ++k) {
        GDALDriver* d = m->GetDriver(k);
        const char* exts = d->GetMetadataItem(GDAL_DMD_EXTENSIONS);
        if (!writes_files(d) || !exts) continue;
        for (const std::string& e : strings_of(CSLTokenizeString(exts)))
            if (lower(e) == bare) return d->GetDescription();
    }
    throw Usage_error("no GDAL driver writes " + ext + " files, so the format of " + path +
                          " cannot follow its name: give it with -of, or name the DEM with one "
                          "of" +
                          writable_extensions(),
                      command);
}

GDALDataType output_type(const std::string& name, const std::string& command)
{
    const GDALDataType t = GDALGetDataTypeByName(name.c_str());
    if (t == GDT_Unknown || GDALDataTypeIsComplex(t) || name == "Unknown")
        throw Usage_error("invalid output type '" + name +
                              "': Byte, Int8, UInt16, Int16, UInt32, Int32, UInt64, Int64, "
                              "Float32 or Float64",
                          command);
    return t;
}

std::vector<std::string> default_creation_options(const std::string& driver, GDALDataType type,
                                                  int nb_lig, int nb_col)
{
    const bool real = GDALDataTypeIsFloating(type);
    if (driver == "GTiff") {
        // DEFLATE's level 3 compresses a DEM about a third less than its
        // default 6, in half the time.
        std::vector<std::string> o = {"COMPRESS=DEFLATE", "ZLEVEL=3",
                                      real ? "PREDICTOR=3" : "PREDICTOR=2", "BIGTIFF=IF_SAFER",
                                      "NUM_THREADS=ALL_CPUS"};
        if (nb_col >= kTile_from || nb_lig >= kTile_from)
            o.insert(o.end(), {"TILED=YES", "BLOCKXSIZE=256", "BLOCKYSIZE=256"});
        return o;
    }
    if (driver == "COG")
        return {"COMPRESS=DEFLATE", "LEVEL=3",        "PREDICTOR=YES",      "BLOCKSIZE=256",
                "BIGTIFF=IF_SAFER", "OVERVIEWS=AUTO", "RESAMPLING=AVERAGE", "NUM_THREADS=ALL_CPUS"};
    return {};
}

void write_dem(const std::vector<double>& values, int nb_lig, int nb_col, const Georef& geo,
               const Dem_output& out,
               const std::vector<std::pair<std::string, std::string>>& metadata,
               const int* const* ints)
{
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName(out.driver.c_str());
    if (!driver)
        gis_fail("cannot write %s: this GDAL has no %s driver", out.path.c_str(),
                 out.driver.c_str());
    const char* types = driver->GetMetadataItem(GDAL_DMD_CREATIONDATATYPES);
    if (types &&
        CPLStringList(CSLTokenizeString(types)).FindString(GDALGetDataTypeName(out.type)) < 0)
        gis_fail("the format %s cannot hold %s values (it holds %s): choose another type (-ot) "
                 "or format (-of)",
                 out.driver.c_str(), GDALGetDataTypeName(out.type), types);

    // The tool's options first, the user's -co after them: the last wins.
    CPLStringList options;
    for (const std::string& o : default_creation_options(out.driver, out.type, nb_lig, nb_col))
        options.AddString(o.c_str());
    bool level_given = false;
    for (const std::string& o : out.creation_options) {
        char* key = nullptr;
        const char* value = CPLParseNameValue(o.c_str(), &key);
        if (key && value) options.SetNameValue(key, value);
        level_given = level_given || (key && (EQUAL(key, "ZLEVEL") || EQUAL(key, "LEVEL")));
        CPLFree(key);
    }
    // The tool's DEFLATE level goes with DEFLATE only.
    const char* compress = options.FetchNameValue("COMPRESS");
    if (!level_given && compress && !EQUAL(compress, "DEFLATE")) {
        options.SetNameValue("ZLEVEL", nullptr);
        options.SetNameValue("LEVEL", nullptr);
    }
    // A GeoPackage names its raster table after the file unless told.
    const fs::path final_path(out.path);
    const std::string stem = (final_path.parent_path() / final_path.stem()).string();
    if (out.driver == "GPKG" && !options.FetchNameValue("RASTER_TABLE"))
        options.SetNameValue("RASTER_TABLE", final_path.stem().c_str());

    // The temporary name keeps the extension, which some drivers read.
    const std::string temp_stem = stem + ".rf-" + std::to_string(getpid());
    const std::string temp = temp_stem + final_path.extension().string();
    Staged_file guard(out.path, temp);
    std::vector<std::string> files;
    progress_stage("writing", true);
    CPLErrorReset();
    Closer written;
    if (driver->GetMetadataItem(GDAL_DCAP_CREATE) && out.driver != "COG") {
        written.ds = driver->Create(temp.c_str(), nb_col, nb_lig, 1, out.type, options.List());
        if (!written.ds)
            gis_fail("cannot create %s: %s", out.path.c_str(), gdal_error("GDAL error").c_str());
        fill_dataset(values, ints, nb_lig, nb_col, geo, out, metadata, written.ds);
    } else {
        // Drivers that only copy: the DEM is drawn in memory first.
        GDALDriver* mem = GetGDALDriverManager()->GetDriverByName("MEM");
        Closer grid{mem->Create("", nb_col, nb_lig, 1, out.type, nullptr)};
        if (!grid.ds)
            gis_fail("not enough memory for a grid of %d lines and %d columns", nb_lig, nb_col);
        fill_dataset(values, ints, nb_lig, nb_col, geo, out, metadata, grid.ds);
        CPLErrorReset();
        written.ds =
            driver->CreateCopy(temp.c_str(), grid.ds, FALSE, options.List(), nullptr, nullptr);
        if (!written.ds)
            gis_fail("cannot create %s: %s", out.path.c_str(), gdal_error("GDAL error").c_str());
    }
    files = dataset_files(written.ds, temp);
    // The driver's sidecars go with the DEM: removed with it should the
    // writing fail, committed with it otherwise.
    for (const std::string& f : files)
        if (f != temp && f.rfind(temp_stem, 0) == 0)
            guard.add_companion(f, final_name_of(f, temp, temp_stem, stem, out.path));
    close_checked(written, out.path);
    // GDAL may add an .aux.xml when the dataset closes.
    std::error_code ec;
    const std::string aux = temp + ".aux.xml";
    if (fs::exists(aux, ec) && std::find(files.begin(), files.end(), aux) == files.end())
        guard.add_companion(aux, final_name_of(aux, temp, temp_stem, stem, out.path));
    progress_done();
    guard.publish();
}
