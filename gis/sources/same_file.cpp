// An output that is an input: refused before anything is read, as writing
// it would replace the data the command reads with its own result.
#include "gis/sources/sources.h"
#include "raster/raster_files.h"

#include <cpl_error.h>
#include <cpl_string.h>
#include <filesystem>
#include <gdal.h>

namespace fs = std::filesystem;

namespace {

struct Named_file {
    std::string path;
    std::string role; // "the input", "--out", ...
};

// The local file a GDAL name stands for: an archive or a compressed file read
// through /vsizip/, /vsitar/, /vsigzip/ (and the like, chained or with the
// archive in braces) is the archive itself; a plain name is itself.
std::string local_file(const std::string& name)
{
    if (name.rfind("/vsi", 0) != 0) return name;
    const std::size_t slash = name.find('/', 1);
    if (slash == std::string::npos) return name;
    std::string rest = name.substr(slash + 1);
    if (!rest.empty() && rest.front() == '{') {
        const std::size_t close = rest.find('}');
        if (close != std::string::npos) return local_file(rest.substr(1, close - 1));
    }
    if (rest.rfind("/vsi", 0) == 0) return local_file(rest);
    // The longest leading part that is a file (or a folder such as an
    // archive's unpacked copy) on the disk: the archive.
    std::error_code ec;
    for (fs::path p = rest; !p.empty() && p != p.root_path(); p = p.parent_path())
        if (fs::exists(p, ec) && !fs::is_directory(p, ec)) return p.string();
    return rest;
}

fs::path canonical_name(const std::string& path)
{
    std::error_code ec;
    const fs::path p = fs::weakly_canonical(path, ec);
    return ec ? fs::absolute(path, ec).lexically_normal() : p;
}

bool same_local_file(const std::string& a, const std::string& b)
{
    std::error_code ec;
    if (fs::exists(a, ec) && fs::exists(b, ec)) return fs::equivalent(a, b, ec);
    return canonical_name(a) == canonical_name(b);
}

// Whether `path` is the folder `folder` or lies inside it.
bool inside(const std::string& path, const std::string& folder)
{
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) return false;
    const fs::path p = canonical_name(path), f = canonical_name(folder);
    auto pi = p.begin();
    for (auto fi = f.begin(); fi != f.end(); ++fi, ++pi)
        if (pi == p.end() || *pi != *fi) return false;
    return true;
}

bool same_dataset_file(const std::string& a, const std::string& b)
{
    return same_local_file(local_file(a), local_file(b));
}

// The files GDAL reads for a dataset besides the one named (a shapefile's
// .dbf, .shx and .prj, a raster's .aux.xml or world file). Only regular files
// and folders are opened: a FIFO would block.
std::vector<std::string> dataset_files(const std::string& name)
{
    std::error_code ec;
    const fs::path local = local_file(name);
    const fs::file_status st = fs::status(local, ec);
    if (ec || !(fs::is_regular_file(st) || fs::is_directory(st))) return {};
    CPLPushErrorHandler(CPLQuietErrorHandler);
    GDALDatasetH ds = GDALOpenEx(name.c_str(), GDAL_OF_VECTOR | GDAL_OF_RASTER | GDAL_OF_READONLY,
                                 nullptr, nullptr, nullptr);
    CPLPopErrorHandler();
    CPLErrorReset();
    if (!ds) return {};
    std::vector<std::string> files;
    char** list = GDALGetFileList(ds);
    for (char** f = list; f && *f; ++f) files.emplace_back(local_file(*f));
    CSLDestroy(list);
    GDALClose(ds);
    return files;
}

} // namespace

std::vector<std::string> refuse_output_on_input(const Cli& cli)
{
    std::vector<Named_file> inputs, outputs;
    if (cli.command == Command::export_dem) {
        std::string base = cli.dem;
        for (const char* end : {".raw", ".txt"})
            if (base.size() > 4 && base.compare(base.size() - 4, 4, end) == 0)
                base.resize(base.size() - 4);
        inputs.push_back({base + ".raw", "the DEM"});
        inputs.push_back({base + ".txt", "the DEM's header"});
    } else {
        inputs.push_back({cli.in.contours, "the contours"});
        if (!cli.in.like.empty()) inputs.push_back({cli.in.like, "the --like raster"});
    }
    if (cli.command == Command::import) {
        const int itype = cli.in.bits16 ? 0 : 1;
        const std::string raw = cli.out + contour_raster_suffix(itype);
        outputs.push_back({raw, "--out"});
        outputs.push_back({cli.out + input_header_suffix(itype), "--out"});
        outputs.push_back({sidecar_name(raw), "--out"});
    } else {
        outputs.push_back({cli.out, cli.command == Command::export_dem ? "--to" : "--out"});
    }
    if (!cli.preview.path.empty()) outputs.push_back({cli.preview.path, "--preview"});

    // The names themselves first, then what lies behind them: a file GDAL
    // reads with an input, a folder that is an input.
    for (std::size_t k = 0; k < outputs.size(); ++k) {
        for (const Named_file& in : inputs)
            if (same_dataset_file(outputs[k].path, in.path))
                gis_fail("the output %s (%s) is %s%s: it would be overwritten; choose another "
                         "name",
                         outputs[k].path.c_str(), outputs[k].role.c_str(),
                         local_file(in.path) == in.path ? "" : "the archive that holds ",
                         in.role.c_str());
        for (std::size_t m = 0; m < k; ++m)
            if (same_dataset_file(outputs[k].path, outputs[m].path))
                gis_fail("%s and %s name the same file %s: choose two names",
                         outputs[m].role.c_str(), outputs[k].role.c_str(), outputs[k].path.c_str());
    }
    for (const Named_file& in : inputs) {
        const std::vector<std::string> parts = dataset_files(in.path);
        for (const Named_file& out : outputs) {
            if (inside(out.path, local_file(in.path)))
                gis_fail("the output %s (%s) lies inside %s %s: choose a name outside it",
                         out.path.c_str(), out.role.c_str(), in.role.c_str(), in.path.c_str());
            for (const std::string& part : parts)
                if (same_local_file(local_file(out.path), part))
                    gis_fail("the output %s (%s) is %s, a file of %s: it would be "
                             "overwritten; choose another name",
                             out.path.c_str(), out.role.c_str(), part.c_str(), in.role.c_str());
        }
    }
    std::vector<std::string> names;
    for (const Named_file& out : outputs) names.push_back(out.path);
    return names;
}
