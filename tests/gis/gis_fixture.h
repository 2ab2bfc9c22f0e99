// Small GIS files made with GDAL in a temporary folder, runs of
// relief_forge_gis and of the interactive relief_forge on them, and GDAL
// reads of what they wrote.
#pragma once

#include "support/run_program.h"

#include <cstdint>
#include <cstring>
#include <gdal_priv.h>
#include <gtest/gtest.h>
#include <ogrsf_frmts.h>
#include <string>
#include <vector>

namespace gis_test {

constexpr int ND = -99999;

// One contour: its elevation (a real, so that non-whole ones can be made)
// and its vertices; a polygon closes them into a ring.
struct Contour {
    double level;
    std::vector<std::pair<double, double>> points;
    bool polygon = false;
};

// Square rings around a summit near (500203, 4800153) in UTM zone 31N, and an
// open line at 90 below them: on 10 m cells their extent, 400 x 278 m, makes
// a grid of 28 lines and 40 columns whose north-west corner is (500000,
// 4800283).
inline std::vector<Contour> summit()
{
    auto ring = [](double level, double hx, double hy) {
        const double cx = 500203, cy = 4800153;
        return Contour{level,
                       {{cx - hx, cy - hy},
                        {cx + hx, cy - hy},
                        {cx + hx, cy + hy},
                        {cx - hx, cy + hy},
                        {cx - hx, cy - hy}}};
    };
    return {ring(100, 180, 130), ring(110, 120, 90), ring(120, 60, 45),
            Contour{90, {{500000, 4800005}, {500400, 4800005}}}};
}
constexpr double kSummit_gt[6] = {500000, 10, 0, 4800283, 0, -10};
constexpr int kSummit_lines = 28;
constexpr int kSummit_cols = 40;
constexpr const char* kUtm31 = "EPSG:32631";

struct Vector_layer {
    std::string driver = "GeoJSON";
    std::string layer = "contours";
    std::string field = "ELEV"; // empty: the elevation is the Z of the vertices
    OGRFieldType type = OFTReal;
    const char* crs = kUtm31; // nullptr: none
};

// Writes `contours` as a vector file with GDAL.
inline void write_vector(const std::string& path, const std::vector<Contour>& contours,
                         const Vector_layer& layout = {})
{
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName(layout.driver.c_str());
    ASSERT_NE(driver, nullptr) << layout.driver;
    GDALDataset* ds = driver->Create(path.c_str(), 0, 0, 0, GDT_Unknown, nullptr);
    ASSERT_NE(ds, nullptr) << path;
    OGRSpatialReference srs;
    if (layout.crs) {
        srs.SetFromUserInput(layout.crs);
        srs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    }
    const bool z = layout.field.empty();
    OGRLayer* layer = ds->CreateLayer(layout.layer.c_str(), layout.crs ? &srs : nullptr,
                                      z ? wkbLineString25D : wkbUnknown, nullptr);
    ASSERT_NE(layer, nullptr);
    if (!z) {
        OGRFieldDefn field(layout.field.c_str(), layout.type);
        ASSERT_EQ(layer->CreateField(&field), OGRERR_NONE);
    }
    for (const Contour& c : contours) {
        OGRFeature f(layer->GetLayerDefn());
        if (!z) {
            if (layout.type == OFTString)
                f.SetField(0, ("c" + std::to_string(static_cast<int>(c.level))).c_str());
            else
                f.SetField(0, c.level);
        }
        OGRLinearRing ring;
        OGRLineString line;
        for (const auto& [x, y] : c.points) {
            if (z) {
                line.addPoint(x, y, c.level);
                ring.addPoint(x, y, c.level);
            } else {
                line.addPoint(x, y);
                ring.addPoint(x, y);
            }
        }
        if (c.polygon) {
            OGRPolygon poly;
            poly.addRing(&ring);
            f.SetGeometry(&poly);
        } else {
            f.SetGeometry(&line);
        }
        ASSERT_EQ(layer->CreateFeature(&f), OGRERR_NONE);
    }
    GDALClose(GDALDataset::ToHandle(ds));
}

// Writes a one-band GeoTIFF drawn row by row; `gt` null leaves it without
// georeferencing.
inline void write_raster(const std::string& path, const std::vector<std::vector<double>>& rows,
                         GDALDataType type, const double* gt, const char* crs, const double* nodata)
{
    const int lines = static_cast<int>(rows.size());
    const int cols = static_cast<int>(rows[0].size());
    GDALDriver* gtiff = GetGDALDriverManager()->GetDriverByName("GTiff");
    GDALDataset* ds = gtiff->Create(path.c_str(), cols, lines, 1, type, nullptr);
    ASSERT_NE(ds, nullptr);
    if (gt) ds->SetGeoTransform(const_cast<double*>(gt));
    if (crs) {
        OGRSpatialReference srs;
        srs.SetFromUserInput(crs);
        ds->SetSpatialRef(&srs);
    }
    GDALRasterBand* band = ds->GetRasterBand(1);
    if (nodata) band->SetNoDataValue(*nodata);
    for (int i = 0; i < lines; ++i) {
        std::vector<double> row = rows[static_cast<std::size_t>(i)];
        ASSERT_EQ(band->RasterIO(GF_Write, 0, i, cols, 1, row.data(), cols, 1, GDT_Float64, 0, 0,
                                 nullptr),
                  CE_None);
    }
    GDALClose(GDALDataset::ToHandle(ds));
}

// What GDAL reads of a one-band raster.
struct Raster {
    bool opened = false;
    int lines = 0, cols = 0;
    GDALDataType type = GDT_Unknown;
    double gt[6] = {};
    bool has_gt = false;
    std::string wkt;
    bool has_nodata = false;
    double nodata = 0;
    std::vector<std::int32_t> pixels; // line by line
    std::string metadata(const char* key) const
    {
        for (const auto& [k, v] : items)
            if (k == key) return v;
        return "";
    }
    std::vector<std::pair<std::string, std::string>> items;
    int bands = 0;
};

inline Raster read_raster(const std::string& path)
{
    Raster r;
    GDALDataset* ds = GDALDataset::Open(path.c_str(), GDAL_OF_RASTER);
    if (!ds) return r;
    r.opened = true;
    r.lines = ds->GetRasterYSize();
    r.cols = ds->GetRasterXSize();
    r.bands = ds->GetRasterCount();
    r.has_gt = ds->GetGeoTransform(r.gt) == CE_None;
    if (const OGRSpatialReference* srs = ds->GetSpatialRef()) {
        char* wkt = nullptr;
        srs->exportToWkt(&wkt);
        r.wkt = wkt;
        CPLFree(wkt);
    }
    for (char** md = ds->GetMetadata(); md && *md; ++md) {
        const std::string item = *md;
        const auto eq = item.find('=');
        r.items.emplace_back(item.substr(0, eq), item.substr(eq + 1));
    }
    GDALRasterBand* band = ds->GetRasterBand(1);
    r.type = band->GetRasterDataType();
    int has = 0;
    r.nodata = band->GetNoDataValue(&has);
    r.has_nodata = has != 0;
    r.pixels.resize(static_cast<std::size_t>(r.lines) * static_cast<std::size_t>(r.cols));
    if (band->RasterIO(GF_Read, 0, 0, r.cols, r.lines, r.pixels.data(), r.cols, r.lines, GDT_Int32,
                       0, 0, nullptr) != CE_None)
        r.opened = false;
    GDALClose(GDALDataset::ToHandle(ds));
    return r;
}

// The pixels of a raster's first band as doubles.
inline std::vector<double> read_values(const std::string& path)
{
    std::vector<double> v;
    GDALDataset* ds = GDALDataset::Open(path.c_str(), GDAL_OF_RASTER);
    if (!ds) return v;
    const int cols = ds->GetRasterXSize(), lines = ds->GetRasterYSize();
    v.resize(static_cast<std::size_t>(cols) * static_cast<std::size_t>(lines));
    if (ds->GetRasterBand(1)->RasterIO(GF_Read, 0, 0, cols, lines, v.data(), cols, lines,
                                       GDT_Float64, 0, 0, nullptr) != CE_None)
        v.clear();
    GDALClose(GDALDataset::ToHandle(ds));
    return v;
}

// The pixels of a raw raster file: little-endian 32-bit signed or 16-bit
// unsigned integers.
inline std::vector<std::int32_t> raw_pixels(const std::string& bytes, int bytes_per_pixel)
{
    std::vector<std::int32_t> v;
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    for (std::size_t k = 0; k + static_cast<std::size_t>(bytes_per_pixel) <= bytes.size();
         k += static_cast<std::size_t>(bytes_per_pixel)) {
        if (bytes_per_pixel == 2)
            v.push_back(b[k] | b[k + 1] << 8);
        else
            v.push_back(static_cast<std::int32_t>(static_cast<std::uint32_t>(b[k]) |
                                                  static_cast<std::uint32_t>(b[k + 1]) << 8 |
                                                  static_cast<std::uint32_t>(b[k + 2]) << 16 |
                                                  static_cast<std::uint32_t>(b[k + 3]) << 24));
    }
    return v;
}

inline bool same_crs(const std::string& a, const std::string& b)
{
    OGRSpatialReference sa, sb;
    return sa.importFromWkt(a.c_str()) == OGRERR_NONE &&
           sb.importFromWkt(b.c_str()) == OGRERR_NONE && sa.IsSame(&sb);
}

inline std::string wkt_of(const char* definition)
{
    OGRSpatialReference srs;
    srs.SetFromUserInput(definition);
    char* wkt = nullptr;
    srs.exportToWkt(&wkt);
    std::string text = wkt;
    CPLFree(wkt);
    return text;
}

// A temporary folder with a home whose images/maps/ the interactive program
// reads and writes, and the runs of both programs.
class Gis : public ::testing::Test {
  protected:
    Temp_dir tmp;
    std::string home = tmp.path + "/home";
    std::string maps = home + "/images/maps/";

    static void SetUpTestSuite() { GDALAllRegister(); }

    std::string at(const std::string& name) const { return tmp.path + "/" + name; }

    Program_run gis(const std::vector<std::string>& args) const
    {
        Run_options o;
        o.home = home;
        return run_program(RF_GIS_BINARY, args, o);
    }

    // The interactive run on maps/<image>: 32-bit (type "1") or 16-bit ("0"),
    // the generic result name, then the equidistance and the mesh size.
    Program_run interactive(const std::string& image, const char* type, int equid, int maille) const
    {
        Run_options o;
        o.home = home;
        o.input = "maps\n" + image + "\n" + type + "\n0\n" + std::to_string(equid) + "\n" +
                  std::to_string(maille) + "\n";
        return run_program(RF_BINARY, {}, o);
    }
};

} // namespace gis_test
