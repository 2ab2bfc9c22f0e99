// The DEM written as a GeoTIFF.
#pragma once

#include "gis/gis.h"

#include <string>
#include <utility>
#include <vector>

// Writes itab1 as a GeoTIFF: Int32 with nodata NO_DATA for 32-bit runs,
// UInt16 with the low 16 bits of each value for 16-bit runs (as the
// interactive program writes its DEM), the CRS and geotransform of `geo`,
// DEFLATE-compressed, tiled when large, with the metadata items given;
// `format` "COG" writes a cloud-optimised GeoTIFF with overviews instead.
// Appears under `path` only once complete. Throws Gis_error.
// With `values` (nb_lig * nb_col, line by line), a Float32 GeoTIFF of them
// is written instead, with nodata NO_DATA.
void write_geotiff(Program_state& s, const Georef& geo, const std::string& path,
                   const std::vector<std::pair<std::string, std::string>>& metadata,
                   const std::vector<float>* values = nullptr, const std::string& format = "GTiff");
