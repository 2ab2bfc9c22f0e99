// The DEM the interactive program wrote: its header, its raw raster, and the
// sidecar that tells where its contour raster lay.
#include "gis/outputs/dem_files.h"

#include "base/grids.h"
#include "gis/sources/sources.h"
#include "nrutil.h"
#include "raster/raster_files.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

const char* const kInput_key = "Name of the input file : ";
const char* const kMesh_key = "Size of the window smoothing : ";

bool ends_with(const std::string& s, const std::string& end)
{
    return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

std::string read_text(const std::string& path)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) gis_fail("cannot open %s: %s", path.c_str(), std::strerror(errno));
    std::string text;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) gis_fail("cannot read %s", path.c_str());
    return text;
}

} // namespace

Dem_header parse_dem_header(const std::string& text)
{
    Dem_header h;
    h.count = parse_header_values(text.data(), text.size(), h.values);
    const std::size_t at = text.find(kInput_key);
    if (at != std::string::npos) {
        const std::size_t start = at + std::strlen(kInput_key);
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string path = text.substr(start, end - start);
        // The line ends with one space (and a CR on Windows).
        while (!path.empty() && (path.back() == ' ' || path.back() == '\r')) path.pop_back();
        h.input_path = path;
    }
    const std::size_t m = text.find(kMesh_key);
    if (m != std::string::npos) {
        const std::size_t start = m + std::strlen(kMesh_key);
        int v[6];
        if (parse_header_values(text.data() + start, text.size() - start, v) >= 1) h.maille = v[0];
    }
    return h;
}

Dem_header read_interactive_dem(const std::string& base_arg, Program_state& s)
{
    std::string base = base_arg;
    if (ends_with(base, ".raw") || ends_with(base, ".txt")) base.resize(base.size() - 4);
    if (ends_with(base, "_m4"))
        s.itype = 1;
    else if (ends_with(base, "_m2"))
        s.itype = 0;
    else
        gis_fail("%s is not a DEM of relief_forge, whose names end in _m4 (32-bit) or _m2 "
                 "(16-bit)",
                 base_arg.c_str());
    s.val = bytes_per_pixel(s.itype);
    const std::string header_path = base + ".txt";
    const std::string raw_path = base + ".raw";

    const Dem_header h = parse_dem_header(read_text(header_path));
    if (h.count < 6 || h.values[0] <= 0 || h.values[1] <= 0)
        gis_fail("the header %s does not start with the six numbers of a DEM header",
                 header_path.c_str());
    if (h.values[2] != s.val)
        gis_fail("the header %s gives %d bytes per pixel, but a DEM named %s has %d",
                 header_path.c_str(), h.values[2], fs::path(base).filename().c_str(), s.val);
    if (h.input_path.empty())
        gis_fail("the header %s names no input file, so the DEM cannot be placed on the ground",
                 header_path.c_str());
    s.nb_lig = h.values[0];
    s.nb_col = h.values[1];
    s.taille_pix = h.values[5];
    s.nomim1 = h.input_path;

    std::FILE* f = std::fopen(raw_path.c_str(), "rb");
    if (!f) gis_fail("cannot open %s: %s", raw_path.c_str(), std::strerror(errno));
    const long long expected = static_cast<long long>(s.nb_lig) * s.nb_col * s.val;
    const long long actual = file_size(f);
    if (actual >= 0 && actual < expected) {
        std::fclose(f);
        gis_fail("%s holds %lld bytes: %d lines of %d pixels of %d bytes need %lld",
                 raw_path.c_str(), actual, s.nb_lig, s.nb_col, s.val, expected);
    }
    // The DEM, its 16-bit copy, the contour flags, its values and a copy
    // in memory for the drivers that only copy.
    check_grid_size(s.nb_lig, s.nb_col, 24, "");
    s.itab1 = new_int_grid(s.nb_col, s.nb_lig);
    bool ok;
    if (s.itype == 0) {
        s.jtab1 = new_grid16(s.nb_col, s.nb_lig);
        if (!s.jtab1) {
            std::fclose(f);
            gis_fail("not enough memory for a 16-bit grid of %d lines and %d columns", s.nb_lig,
                     s.nb_col);
        }
        ok = read_rows16(f, s.jtab1, s.nb_lig, s.nb_col);
        if (ok) widen16(s.jtab1, s.itab1, s.nb_lig, s.nb_col);
    } else {
        ok = read_rows32(f, s.itab1, s.nb_lig, s.nb_col);
    }
    std::fclose(f);
    if (!ok) gis_fail("cannot read %s", raw_path.c_str());
    return h;
}

std::string find_sidecar(const std::string& input_path, const std::string& dem_dir)
{
    const std::string beside_input = sidecar_name(input_path);
    std::error_code ec;
    if (fs::exists(beside_input, ec)) return beside_input;
    // Windows paths in a header are read with either separator.
    std::string name = input_path;
    const std::size_t cut = name.find_last_of("/\\");
    if (cut != std::string::npos) name = name.substr(cut + 1);
    const std::string beside_dem = (fs::path(dem_dir) / sidecar_name(name)).string();
    if (fs::exists(beside_dem, ec)) return beside_dem;
    gis_fail("no georeferencing sidecar %s for the contour raster %s (looked beside it and "
             "beside the DEM): import the contours with 'relief_forge_gis import'",
             sidecar_name(name).c_str(), input_path.c_str());
}
