// Which kind a contour file is: vector layers or a raster band.
#include "gis/sources/sources.h"

#include <cctype>
#include <filesystem>
#include <gdal_priv.h>
#include <memory>

namespace {

struct Dataset_closer {
    void operator()(GDALDataset* d) const { GDALClose(GDALDataset::ToHandle(d)); }
};
using Dataset_ptr = std::unique_ptr<GDALDataset, Dataset_closer>;

// GDAL opens more than files: /vsizip/..., /vsicurl/..., PG:..., WFS:...
bool is_dataset_name(const std::string& name)
{
    if (name.rfind("/vsi", 0) == 0) return true;
    const std::size_t colon = name.find(':');
    if (colon == std::string::npos || colon < 2) return false;
    for (std::size_t k = 0; k < colon; ++k)
        if (!std::isalnum(static_cast<unsigned char>(name[k])) && name[k] != '_') return false;
    return true;
}

} // namespace

void import_contours(const Import_options& o, Program_state& s, Georef& geo, Source_info& info)
{
    std::error_code ec;
    if (!is_dataset_name(o.contours) && !std::filesystem::exists(o.contours, ec))
        gis_fail("cannot open %s: no such file or directory", o.contours.c_str());
    CPLErrorReset();
    Dataset_ptr ds(GDALDataset::Open(o.contours.c_str(), GDAL_OF_VECTOR | GDAL_OF_RASTER));
    if (!ds)
        gis_fail("cannot read %s: %s", o.contours.c_str(),
                 gdal_error("GDAL does not recognise its format").c_str());
    s.nomim1 = o.contours;
    if (ds->GetLayerCount() > 0)
        import_vector(o, *ds, s, geo, info);
    else if (ds->GetRasterCount() > 0)
        import_raster(o, *ds, s, geo, info);
    else
        gis_fail("%s holds neither a vector layer nor a raster band", o.contours.c_str());
}
