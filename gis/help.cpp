// The texts of --help and --version.
#include "gis/gis.h"

#include <gdal_version.h>

namespace {

const char* const kTool_help =
    "Usage: relief_forge_gis COMMAND [OPTION]... FILE\n"
    "Build Digital Elevation Models from GIS contour data with relief_forge's surface,\n"
    "and write them as georeferenced rasters (GeoTIFF, COG, GeoPackage, ...) that\n"
    "GIS software places on the ground.\n"
    "\n"
    "Commands:\n"
    "  import    rasterise vector contours, or convert a contour raster, into the\n"
    "              contour raster and header of the interactive program relief_forge\n"
    "  build     import and build the DEM in one command\n"
    "  export    write a DEM made by relief_forge as a georeferenced raster\n"
    "\n"
    "Options:\n"
    "  -h, --help     display this help and exit\n"
    "      --version  output version information and exit\n"
    "\n"
    "Run 'relief_forge_gis COMMAND --help' for the options of a command.\n"
    "Exit status is 0 on success and 1 on any error.\n";

#define RF_IMPORT_OPTIONS                                                                          \
    "Contours:\n"                                                                                  \
    "  -a, --attribute=NAME  attribute holding the elevation of vector contours; by\n"             \
    "                          default one named ELEV, ELEVATION, ALT, ALTITUDE, HEIGHT,\n"        \
    "                          Z, CONTOUR or LEVEL (any case), else the geometries' Z\n"           \
    "  -l, --layer=NAME      vector layer to read (default: the first); repeat it to\n"            \
    "                          burn several layers together\n"                                     \
    "      --burn=MODE       line (default): the cells of each line as GDAL draws\n"               \
    "                          it; all-touched: every cell a line touches. On real\n"              \
    "                          terrain line burning measured 1 to 25 % lower RMSE\n"               \
    "  -a_srs, --crs=SRS     CRS of the contours (EPSG:n, WKT, PROJ string), for data\n"           \
    "                          without one (DXF) or with a wrong one\n"                            \
    "      --16bit           16-bit contour raster (_c2.raw), for a raster input whose\n"          \
    "                          every pixel is an altitude from 0 to 65535\n"                       \
    "      --empty=VALUE     raster value that marks 'no contour', besides nodata\n"               \
    "      --band=N          band of a raster input (default 1)\n"                                 \
    "      --z-scale=FACTOR  multiply the levels by FACTOR, a power of ten up to\n"                \
    "                          1000000 (default: the smallest that makes them whole)\n"            \
    "  -t_srs, --t_srs=SRS   reproject vector contours to SRS before rasterising;\n"               \
    "                          -tr is then in its units (-a_srs assigns a CRS)\n"                  \
    "  -where, --where=EXPR  only the features matching the OGR attribute filter EXPR\n"           \
    "                          (such as \"Layer = 'CONTOURS'\" for a drawing)\n"                   \
    "      --spot-heights    burn point features too, as spot heights\n"                           \
    "\n"                                                                                           \
    "Vector contours (Shapefile, GeoPackage, DXF, GeoJSON, ...) are rasterised with\n"             \
    "GDAL's rasteriser, each burnt cell taking the contour's elevation; polygons\n"                \
    "give their boundaries; bands between two levels (ELEV_MIN and ELEV_MAX, as\n"                 \
    "gdal_contour -p writes them) are refused. Point features, such as a\n"                        \
    "drawing's labels, are left out and counted. A contour raster keeps its grid;\n"               \
    "its nodata pixels become empty, and one without an empty pixel is refused.\n"                 \
    "Levels within float noise of a whole number (a millionth of it) are that\n"                   \
    "number; fractional levels are multiplied by a power of ten and the DEM is\n"                  \
    "written back in their units. CONTOURS may be any name GDAL opens:\n"                          \
    "/vsizip/archive.zip/contours.shp, /vsicurl/URL, PG:\"dbname=...\".\n"

const char* const kImport_help =
    "Usage: relief_forge_gis import CONTOURS --out DIR/NAME [OPTION]...\n"
    "Turn CONTOURS into DIR/NAME_c4.raw (32-bit) or DIR/NAME_c2.raw (16-bit), the\n"
    "input header DIR/NAME_c4.txt the interactive program reads, and DIR/NAME_c4.vrt,\n"
    "a GDAL virtual raster that georeferences the raw file. Run relief_forge on\n"
    "NAME in its images folder, then 'relief_forge_gis export' on its DEM.\n"
    "\n"
    "  -o, --out=DIR/NAME    folder and base name of the files (DIR is created)\n"
    "  -tr XRES YRES         cells of XRES by YRES ground units for vector contours\n"
    "      --cell=SIZE       square cells: the same as -tr SIZE SIZE\n"
    "  -te, --extent XMIN YMIN XMAX YMAX  the grid's extent in place of the\n"
    "                          contours' (also XMIN,YMIN,XMAX,YMAX)\n"
    "  -tap, --tap           the grid's corners on whole multiples of the cell size\n"
    "      --like=RASTER     the grid (size, geotransform, CRS) of RASTER instead\n"
    "      --config KEY VALUE  set a GDAL configuration option (repeatable)\n" RF_IMPORT_OPTIONS
    "\n"
    "  -q, --quiet           no progress on standard error\n"
    "  -h, --help            display this help and exit\n"
    "\n"
    "Example:\n"
    "  relief_forge_gis import contours.gpkg --cell 25 --out ~/images/maps/hills\n";

const char* const kBuild_help =
    "Usage: relief_forge_gis build [--help] [-q] [-of FORMAT] [-co NAME=VALUE]...\n"
    "           [-ot TYPE] [-a_nodata VALUE] [-tr XRES YRES | --cell SIZE | --like RASTER]\n"
    "           [-te XMIN YMIN XMAX YMAX] [-tap] [-l LAYER]... [-a ATTRIBUTE]\n"
    "           [-where EXPR] [-a_srs SRS] [-t_srs SRS] [--oversample N|auto]\n"
    "           [-e E] [-s N] [-cutline FILE [-cl LAYER] [-cwhere EXPR]] [--clip]\n"
    "           [--preview PNG [--preview-contours]] [--config KEY VALUE]...\n"
    "           CONTOURS -o DEM\n"
    "Import CONTOURS and build their DEM with the surface of the interactive program\n"
    "relief_forge, without its dialogue; write it with the CRS and geotransform of\n"
    "the contours in any raster format GDAL writes.\n"
    "\n"
    "Output:\n"
    "  -o, --out=DEM         the DEM to write (missing folders are created)\n"
    "  -of, --format=FORMAT  a GDAL raster driver's short name (GTiff, COG, GPKG,\n"
    "                          AAIGrid, ENVI, HFA, netCDF, ...); by default the one\n"
    "                          that writes DEM's extension, GTiff for .tif or none\n"
    "  -co, --co NAME=VALUE  a creation option of the driver (repeatable); GTiff and\n"
    "                          COG get COMPRESS=DEFLATE at level 3, a PREDICTOR,\n"
    "                          256 x 256 tiles and NUM_THREADS=ALL_CPUS unless given\n"
    "  -ot, --type=TYPE      Float32 (default), Float64, Int32, UInt16, Int16, Byte,\n"
    "                          ... (see 'The values' below)\n"
    "      --float           the same as -ot Float32\n"
    "  -a_nodata, --nodata=VALUE  the value of empty cells: -99999 by default, or\n"
    "                          the type's lowest (highest when unsigned) value when\n"
    "                          it cannot hold -99999\n"
    "\n"
    "The grid:\n"
    "  -tr XRES YRES         cells of XRES by YRES ground units for vector contours,\n"
    "                          ceil(extent / size) a side from the extent's\n"
    "                          north-west corner\n"
    "      --cell=SIZE       square cells: the same as -tr SIZE SIZE\n"
    "  -te, --extent XMIN YMIN XMAX YMAX  the grid's extent in place of the\n"
    "                          contours' (also XMIN,YMIN,XMAX,YMAX)\n"
    "  -tap, --tap           target-aligned cells: the grid's corners on whole\n"
    "                          multiples of the cell size, the extent grown to them\n"
    "      --like=RASTER     the grid (size, geotransform, CRS) of RASTER instead\n"
    "      --oversample=N|auto  burn vector contours on cells N times finer in both\n"
    "                          directions (1 to 8), build the surface there and\n"
    "                          average it back to the output cells; auto (default)\n"
    "                          brings the contours about 6 fine cells apart on\n"
    "                          average, with a fine grid of at most 16.8 million\n"
    "                          cells within half the memory, and says its choice;\n"
    "                          1 with -s above 1 or a raster input\n"
    "\n"
    "The surface:\n"
    "  -e, --equidistance=E  equidistance of the contour lines in their units (2.5,\n"
    "                          10, ...); by default the greatest common step between\n"
    "                          the levels, and a warning when they do not fit E\n"
    "  -s, --smoothing=N     size of the smoothing mesh: 1 (default) or less for none,\n"
    "                          else 2 to 33 and less than each side of the grid\n"
    "\n"
    "Masks:\n"
    "  -cutline, --cutline=FILE  cells whose centre lies outside the polygons of\n"
    "                          FILE become nodata; the surface is built from every\n"
    "                          contour first, so that the cells inside the border\n"
    "                          keep what the contours beyond it say\n"
    "  -cl, --cl=LAYER       the layer of the cutline (default: the first)\n"
    "  -cwhere, --cwhere=EXPR  only the polygons matching the attribute filter EXPR\n"
    "      --clip            nodata outside the convex hull of the contour cells\n"
    "\n"
    "Pictures and the rest:\n"
    "      --preview=PNG     also write a picture of the relief: hillshade blended\n"
    "                          with a colour ramp by altitude, a legend and a scale\n"
    "                          bar; nodata cells are left transparent\n"
    "      --preview-contours  draw the input contours over the picture\n"
    "      --config KEY VALUE  set a GDAL configuration option (repeatable)\n"
    "\n" RF_IMPORT_OPTIONS "\n"
    "  -q, --quiet           no progress on standard error and no summary\n"
    "  -h, --help            display this help and exit\n"
    "\n"
    "The values:\n"
    "  The surface is worked in whole 512ths of E (scaled altitudes).\n"
    "  Float32 and Float64 hold it as it is, scaled value x E / 512, in the\n"
    "  contours' units: above and below 0 alike, the contour cells keep their\n"
    "  levels (without oversampling or smoothing).\n"
    "  Int32 (UInt16 for a 16-bit raster) with --oversample 1 is the DEM the\n"
    "  interactive program writes, to the bit: each value truncated toward 0, so\n"
    "  above 0 it lies up to E/512 + 1 below the surface, below 0 up to E/512 + 1\n"
    "  above it, and the cells between -1 and 1 all hold 0. Any other integer\n"
    "  type, or an oversampled or fractional-level run, holds the surface rounded\n"
    "  to the nearest whole unit. Values a type cannot hold, and a value equal to\n"
    "  the nodata value, are refused rather than written wrong.\n"
    "  Give the interval of the contours as E: a far larger E coarsens the steps.\n"
    "  The smoothing replaces each cell by a weighted mean of the N x N cells\n"
    "  around it: it rounds off the terraces between contours but moves the\n"
    "  contours too. On real terrain (20 m contours, 30 m cells) mesh 5 left\n"
    "  89 % of the contour cells off their level, by up to 17 m, and raised the\n"
    "  RMSE by 1 % (by 36 % on 75 m cells).\n"
    "  Without a mask every cell of the grid gets an altitude: beyond the\n"
    "  outermost contours the surface is carried on from the nearest contours,\n"
    "  which may lie far from the ground there.\n"
    "\n"
    "Examples:\n"
    "  relief_forge_gis build contours.gpkg -tr 25 25 -o dem.tif --preview dem.png\n"
    "  relief_forge_gis build contours.shp -tr 5 5 -cutline parish.gpkg -o dem.asc\n"
    "  relief_forge_gis build contours.geojson --cell 25 -ot Int32 --oversample 1 \\\n"
    "      -of COG -co COMPRESS=ZSTD -o dem_cog.tif\n";

const char* const kExport_help =
    "Usage: relief_forge_gis export [--help] [-q] [-of FORMAT] [-co NAME=VALUE]...\n"
    "           [--preview PNG [--preview-contours]] [--config KEY VALUE]...\n"
    "           DIR/NAME_m4 --to DEM\n"
    "Write the DEM that relief_forge made (DIR/NAME_m4.raw and DIR/NAME_m4.txt, or\n"
    "_m2 for 16 bits) as a georeferenced raster: Int32 with nodata -99999, or\n"
    "UInt16. Its place on the ground comes from the sidecar NAME_c4.vrt that\n"
    "'relief_forge_gis import' wrote beside the contour raster named on the\n"
    "header's input-file line.\n"
    "\n"
    "  -o, --to=DEM          the DEM to write (missing folders are created)\n"
    "  -of, --format=FORMAT  a GDAL raster driver; by default the one that writes\n"
    "                          DEM's extension (see 'build --help')\n"
    "  -co, --co NAME=VALUE  a creation option of the driver (repeatable)\n"
    "      --preview=PNG     also write a picture of the relief (see 'build --help')\n"
    "      --preview-contours  draw the input contours over the picture\n"
    "      --config KEY VALUE  set a GDAL configuration option (repeatable)\n"
    "  -q, --quiet           no progress on standard error and no summary\n"
    "  -h, --help            display this help and exit\n";

} // namespace

const char* tool_help() { return kTool_help; }

const char* command_help(Command c)
{
    switch (c) {
    case Command::import:
        return kImport_help;
    case Command::build:
        return kBuild_help;
    case Command::export_dem:
        return kExport_help;
    case Command::none:
        break;
    }
    return kTool_help;
}

std::string version_text()
{
    return std::string("relief_forge_gis 1.0 (GDAL ") + GDAL_RELEASE_NAME + ")\n";
}
