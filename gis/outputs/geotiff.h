// The DEM written as a raster file of any GDAL driver that can create one.
#pragma once

#include "gis/gis.h"

#include <gdal.h>
#include <string>
#include <utility>
#include <vector>

// Where and how the DEM is written.
struct Dem_output {
    std::string path;
    std::string driver; // a GDAL driver's short name, from output_driver()
    std::vector<std::string> creation_options;
    GDALDataType type = GDT_Float32;
    bool has_nodata = true;
    double nodata = NO_DATA;
};

// The GDAL driver that writes `path`: `format` when given (any raster
// driver that creates files, by Create or CreateCopy), else the one whose
// extensions (GDAL's DMD_EXTENSIONS) hold the path's, GTiff for .tif and
// for a path without extension. Throws a Usage_error of `command` for a
// format or an extension no driver writes.
std::string output_driver(const std::string& path, const std::string& format,
                          const std::string& command);
// The data type named by -ot (Byte, Int16, UInt16, Int32, Float32,
// Float64, ...); throws a Usage_error for any other name.
GDALDataType output_type(const std::string& name, const std::string& command);
// The creation options the tool gives a driver unless -co names them:
// DEFLATE with a predictor, tiles and every core for GTiff and COG.
std::vector<std::string> default_creation_options(const std::string& driver, GDALDataType type,
                                                  int nb_lig, int nb_col);

// Writes `values` (nb_lig * nb_col, line by line; nodata cells hold
// out.nodata) as one band of `out.type`, with the CRS and geotransform of
// `geo` and the metadata items given. Integer types receive the values as
// they are: the caller has made them whole and checked their range. Every
// file the driver writes (sidecars such as .prj, .hdr, .aux.xml) is written
// under a temporary name and appears under its final name only once all
// are complete. Throws Gis_error. With `ints` (nb_lig rows of nb_col), the
// rows of whole values are written in place of `values`.
void write_dem(const std::vector<double>& values, int nb_lig, int nb_col, const Georef& geo,
               const Dem_output& out,
               const std::vector<std::pair<std::string, std::string>>& metadata,
               const int* const* ints = nullptr);
