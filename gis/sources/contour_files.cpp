// The files the interactive program reads, written from an imported contour
// grid: the raw raster, its input header and a georeferencing sidecar.
#include "gis/sources/sources.h"
#include "nrutil.h"
#include "raster/raster_files.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <gdal_priv.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Opens the temporary file of `f` for writing, in binary or text mode.
std::FILE* open_staged(const Staged_file& f, const char* mode)
{
    std::FILE* out = std::fopen(f.temp_path.c_str(), mode);
    if (!out) gis_fail("cannot create %s: %s", f.final_path.c_str(), std::strerror(errno));
    return out;
}

void close_staged(std::FILE* out, const Staged_file& f, bool written)
{
    const bool ok = written && std::fflush(out) == 0 && !std::ferror(out);
    const int err = errno;
    const bool closed = std::fclose(out) == 0;
    if (!ok || !closed)
        gis_fail("cannot write %s: %s", f.final_path.c_str(),
                 err ? std::strerror(err) : "write error");
}

void write_raw(Program_state& s, const std::string& path)
{
    Staged_file f(path);
    std::FILE* out = open_staged(f, "wb");
    bool ok;
    if (s.itype == 0) {
        std::uint16_t** rows = usmatrice(s.nb_col, s.nb_lig);
        if (!rows) {
            std::fclose(out);
            gis_fail("not enough memory for a 16-bit grid of %d lines and %d columns", s.nb_lig,
                     s.nb_col);
        }
        narrow16(s.itab, rows, s.nb_lig, s.nb_col);
        ok = write_rows16(out, rows, s.nb_lig, s.nb_col);
        frusmatrice(rows, s.nb_lig);
    } else {
        ok = write_rows32(out, s.itab, s.nb_lig, s.nb_col);
    }
    close_staged(out, f, ok);
    f.publish();
}

void write_header(const Program_state& s, const std::string& path)
{
    int min_in = 0, max_in = 0;
    header_range(s, min_in, max_in);
    Staged_file f(path);
    std::FILE* out = open_staged(f, "w");
    const bool ok = write_input_header_group(out, s.nb_lig, s.nb_col, s.val) &&
                    write_input_header_group(out, min_in, max_in, s.taille_pix);
    close_staged(out, f, ok);
    f.publish();
}

// A GDAL virtual raster over the raw file, which lies beside it: GDAL (and
// any GIS built on it) then opens the contour raster at its place.
void write_sidecar(const Program_state& s, const Georef& geo, const std::string& raw_path,
                   const std::string& path)
{
    Staged_file f(path);
    GDALDriver* vrt = GetGDALDriverManager()->GetDriverByName("VRT");
    const GDALDataType type = s.itype == 0 ? GDT_UInt16 : GDT_Int32;
    CPLErrorReset();
    GDALDataset* ds = vrt->Create(f.temp_path.c_str(), s.nb_col, s.nb_lig, 0, type, nullptr);
    if (!ds) gis_fail("cannot create %s: %s", path.c_str(), gdal_error("VRT error").c_str());
    const std::string raw_name = fs::path(raw_path).filename().string();
    const std::string line_offset = std::to_string(static_cast<long long>(s.nb_col) * s.val);
    const std::string pixel_offset = std::to_string(s.val);
    CPLStringList list;
    list.AddString("subclass=VRTRawRasterBand");
    list.AddString(("SourceFilename=" + raw_name).c_str());
    list.AddString("relativeToVRT=1");
    list.AddString("ImageOffset=0");
    list.AddString(("PixelOffset=" + pixel_offset).c_str());
    list.AddString(("LineOffset=" + line_offset).c_str());
    list.AddString("ByteOrder=LSB");
    bool ok = ds->AddBand(type, list.List()) == CE_None;
    ok = ok && ds->SetGeoTransform(const_cast<double*>(geo.gt)) == CE_None;
    if (ok && !geo.wkt.empty()) ok = ds->SetProjection(geo.wkt.c_str()) == CE_None;
    if (ok && s.itype != 0) ok = ds->GetRasterBand(1)->SetNoDataValue(NO_DATA) == CE_None;
    std::string why = ok ? "" : gdal_error("VRT error");
    CPLErrorReset();
    GDALClose(GDALDataset::ToHandle(ds));
    if (ok && CPLGetLastErrorType() == CE_Failure) {
        ok = false;
        why = gdal_error("write error");
    }
    if (!ok) gis_fail("cannot write %s: %s", path.c_str(), why.c_str());
    f.publish();
}

} // namespace

void header_range(const Program_state& s, int& min_in, int& max_in)
{
    min_in = INT_MAX;
    max_in = INT_MIN;
    for (int i = 0; i < s.nb_lig; ++i)
        for (int j = 0; j < s.nb_col; ++j) {
            const int v = s.itab[i][j];
            if (v < min_in) min_in = v;
            if (v > max_in) max_in = v;
        }
}

std::string sidecar_name(const std::string& raster_path)
{
    const std::string raw = ".raw";
    if (raster_path.size() >= raw.size() &&
        raster_path.compare(raster_path.size() - raw.size(), raw.size(), raw) == 0)
        return raster_path.substr(0, raster_path.size() - raw.size()) + ".vrt";
    return raster_path + ".vrt";
}

void write_contour_files(Program_state& s, const Georef& geo, const std::string& base)
{
    const fs::path parent = fs::path(base).parent_path();
    std::error_code ec;
    if (!parent.empty() && !fs::exists(parent, ec)) {
        fs::create_directories(parent, ec);
        if (ec) gis_fail("cannot create the folder %s: %s", parent.c_str(), ec.message().c_str());
    }
    const std::string raw = base + contour_raster_suffix(s.itype);
    write_raw(s, raw);
    write_header(s, base + input_header_suffix(s.itype));
    write_sidecar(s, geo, raw, sidecar_name(raw));
}

void read_sidecar(const std::string& path, const Program_state& s, Georef& geo,
                  std::vector<std::uint8_t>* contours)
{
    CPLErrorReset();
    GDALDataset* ds = GDALDataset::Open(path.c_str(), GDAL_OF_RASTER);
    if (!ds) gis_fail("cannot read %s: %s", path.c_str(), gdal_error("not a raster").c_str());
    struct Closer {
        GDALDataset* ds;
        ~Closer() { GDALClose(GDALDataset::ToHandle(ds)); }
    } closer{ds};
    if (ds->GetRasterXSize() != s.nb_col || ds->GetRasterYSize() != s.nb_lig)
        gis_fail("%s describes %d lines and %d columns, but the DEM has %d lines and %d columns",
                 path.c_str(), ds->GetRasterYSize(), ds->GetRasterXSize(), s.nb_lig, s.nb_col);
    if (ds->GetGeoTransform(geo.gt) != CE_None)
        gis_fail("%s has no georeferencing (no geotransform)", path.c_str());
    geo.wkt = crs_wkt(ds->GetSpatialRef(), path);
    if (!contours) return;
    contours->assign(static_cast<std::size_t>(s.nb_lig) * static_cast<std::size_t>(s.nb_col), 0);
    std::vector<int> row(static_cast<std::size_t>(s.nb_col));
    GDALRasterBand* band = ds->GetRasterBand(1);
    for (int i = 0; i < s.nb_lig; ++i) {
        if (band->RasterIO(GF_Read, 0, i, s.nb_col, 1, row.data(), s.nb_col, 1, GDT_Int32, 0, 0,
                           nullptr) != CE_None)
            gis_fail("cannot read the contour raster of %s: %s", path.c_str(),
                     gdal_error("read error").c_str());
        for (int j = 0; j < s.nb_col; ++j)
            (*contours)[static_cast<std::size_t>(i) * static_cast<std::size_t>(s.nb_col) +
                        static_cast<std::size_t>(j)] = row[static_cast<std::size_t>(j)] != NO_DATA;
    }
}
