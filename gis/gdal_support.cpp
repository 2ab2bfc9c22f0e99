// GDAL set-up, its error messages and the CRS helpers.
#include "base/failure.h"
#include "gis/gis.h"
#include "gis/outputs/commit.h"

#include <cpl_error.h>
#include <cstdarg>
#include <cstdio>
#include <gdal.h>
#include <ogr_spatialref.h>

namespace {

// Warnings are shown as they come; errors are kept, and this tool reports
// them in its own message with the object they concern.
void CPL_STDCALL on_gdal_message(CPLErr level, CPLErrorNum number, const char* message)
{
    // GDAL aborts after a fatal error: the command ends here instead, clean.
    if (level == CE_Fatal) end_at_gdal_fatal(number == CPLE_OutOfMemory, message);
    if (level == CE_Warning) std::fprintf(stderr, "relief_forge_gis: GDAL warning: %s\n", message);
}

} // namespace

void gis_fail(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    const std::string text = format_text(fmt, args);
    va_end(args);
    throw Gis_error(text);
}

void gdal_start()
{
    GDALAllRegister();
    CPLSetErrorHandler(on_gdal_message);
}

std::string gdal_error(const char* fallback)
{
    const char* m = CPLGetLastErrorMsg();
    return m && *m ? std::string(m) : std::string(fallback);
}

std::string crs_wkt(const OGRSpatialReference* srs, const std::string& what)
{
    if (!srs) return "";
    char* wkt = nullptr;
    const char* options[] = {"FORMAT=WKT2_2018", nullptr};
    CPLErrorReset();
    if (srs->exportToWkt(&wkt, options) != OGRERR_NONE || !wkt) {
        CPLFree(wkt);
        gis_fail("the CRS of %s cannot be written: %s", what.c_str(),
                 gdal_error("GDAL cannot express it as WKT").c_str());
    }
    std::string text = wkt;
    CPLFree(wkt);
    return text;
}

std::string crs_from_user(const std::string& definition)
{
    OGRSpatialReference srs;
    CPLErrorReset();
    if (srs.SetFromUserInput(definition.c_str()) != OGRERR_NONE)
        gis_fail("the CRS '%s' cannot be read: %s", definition.c_str(),
                 gdal_error("GDAL does not know it").c_str());
    return crs_wkt(&srs, "'" + definition + "'");
}

bool crs_is_geographic(const std::string& wkt)
{
    if (wkt.empty()) return false;
    OGRSpatialReference srs;
    if (srs.importFromWkt(wkt.c_str()) != OGRERR_NONE) return false;
    return srs.IsGeographic() != 0;
}

bool crs_same(const std::string& a, const std::string& b)
{
    if (a.empty() || b.empty()) return a.empty() && b.empty();
    OGRSpatialReference sa, sb;
    if (sa.importFromWkt(a.c_str()) != OGRERR_NONE || sb.importFromWkt(b.c_str()) != OGRERR_NONE)
        return false;
    return sa.IsSame(&sb) != 0;
}
