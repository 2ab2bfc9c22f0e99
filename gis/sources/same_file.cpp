// An output that is an input: refused before anything is read, as writing
// it would replace the data the command reads with its own result.
#include "gis/sources/sources.h"
#include "raster/raster_files.h"

#include <filesystem>

namespace fs = std::filesystem;

namespace {

struct Named_file {
    std::string path;
    std::string role; // "the input", "--out", ...
};

// The local file a name stands for: an archive read through /vsizip/ (and
// the like) is the archive itself.
std::string local_file(const std::string& name)
{
    if (name.rfind("/vsi", 0) != 0) return name;
    const std::size_t slash = name.find('/', 1);
    if (slash == std::string::npos) return name;
    // The longest leading part of the rest that is a file: the archive.
    fs::path rest = name.substr(slash);
    std::error_code ec;
    for (fs::path p = rest; !p.empty() && p != p.root_path(); p = p.parent_path())
        if (fs::is_regular_file(p, ec)) return p.string();
    return name;
}

bool same_file(const std::string& a, const std::string& b)
{
    std::error_code ec;
    const fs::path pa = local_file(a), pb = local_file(b);
    if (fs::exists(pa, ec) && fs::exists(pb, ec)) return fs::equivalent(pa, pb, ec);
    return fs::weakly_canonical(pa, ec) == fs::weakly_canonical(pb, ec);
}

} // namespace

void refuse_output_on_input(const Cli& cli)
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

    for (std::size_t k = 0; k < outputs.size(); ++k) {
        for (const Named_file& in : inputs)
            if (same_file(outputs[k].path, in.path))
                gis_fail("the output %s (%s) is %s: it would be overwritten; choose another "
                         "name",
                         outputs[k].path.c_str(), outputs[k].role.c_str(), in.role.c_str());
        for (std::size_t m = 0; m < k; ++m)
            if (same_file(outputs[k].path, outputs[m].path))
                gis_fail("%s and %s name the same file %s: choose two names",
                         outputs[m].role.c_str(), outputs[k].role.c_str(), outputs[k].path.c_str());
    }
}
